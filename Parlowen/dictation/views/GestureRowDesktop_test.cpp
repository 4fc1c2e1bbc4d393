// The desktop test comes next.
