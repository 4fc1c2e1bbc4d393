// Gives the precompiled-header target a translation unit of its own.
