#include "platform/x11/X11Selection.h"

#include <poll.h>

#include <cstring>

#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Workspace.h"

// Xlib last: its macros must not reach the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace platform {

namespace {

Error selectionError(const std::string& text, SelectionReadError code = SelectionReadError::noData) {
    const char* name = "noData";
    switch (code) {
        case SelectionReadError::noOwner: name = "noOwner"; break;
        case SelectionReadError::refused: name = "refused"; break;
        case SelectionReadError::noData: name = "noData"; break;
        case SelectionReadError::timedOut: name = "timedOut"; break;
    }
    return Error::make(kSelectionErrorDomain, static_cast<int>(code), name, text);
}

// Reads and deletes the reply property; none when it is missing or comes in pieces.
Result<std::string> takeReply(X11Connection& c, Window window, Atom property, const std::string& target) {
    X11ErrorTrap trap(c);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    int status = XGetWindowProperty(c.display(), window, property, 0, 1 << 24, True, AnyPropertyType, &type,
                                    &format, &count, &after, &data);
    if (status != Success || trap.check() || type == 0) {
        if (data) XFree(data);
        return fail(selectionError("the selection's owner sent no data"));
    }
    std::string out;
    if (type == c.atom("INCR")) {
        if (data) XFree(data);
        return fail(selectionError("the selection is too large to read at once"));
    }
    if (target == "TARGETS" && format == 32) {
        const auto* atoms = reinterpret_cast<const Atom*>(data);
        for (unsigned long i = 0; i < count; ++i) {
            if (!out.empty()) out += '\n';
            out += c.atomName(atoms[i]);
        }
    } else if (format == 8) {
        out.assign(reinterpret_cast<const char*>(data), count);
    } else {
        if (data) XFree(data);
        return fail(selectionError("the selection's owner sent data of another format"));
    }
    if (data) XFree(data);
    return out;
}

}  // namespace

std::uint64_t selectionOwnerWindow(const std::string& displayName, const std::string& selection) {
    auto c = X11Connection::forThisThread(displayName);
    if (!c) return 0;
    Atom atom = (*c)->atom(selection);
    if (atom == 0) return 0;
    return XGetSelectionOwner((*c)->display(), atom);
}

Result<std::string> readSelection(const std::string& displayName, const std::string& selection,
                                  const std::string& target, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // A connection of its own: the reply comes as an event, and no other
    // user of a shared connection may take it (or have theirs taken).
    auto opened = X11Connection::open(displayName);
    if (!opened) return fail(opened.error());
    X11Connection& c = **opened;
    Display* d = c.display();
    Atom selectionAtom = c.atom(selection);
    if (XGetSelectionOwner(d, selectionAtom) == None)
        return fail(selectionError(selection + " has no owner", SelectionReadError::noOwner));
    Window window = XCreateSimpleWindow(d, c.rootWindow(), 0, 0, 1, 1, 0, 0, 0);
    Atom property = c.atom("PARLOWEN_SELECTION");
    XConvertSelection(d, selectionAtom, c.atom(target), property, window, CurrentTime);
    XFlush(d);
    while (!c.broken()) {
        while (XPending(d) > 0) {
            XEvent ev;
            XNextEvent(d, &ev);
            if (ev.type != SelectionNotify || ev.xselection.requestor != window) continue;
            if (ev.xselection.property == None)
                return fail(selectionError("the owner of " + selection + " has no " + target, SelectionReadError::refused));
            return takeReply(c, window, property, target);
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                 std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{ConnectionNumber(d), POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(left.count()));
    }
    if (c.broken()) return fail(x11Error(X11ErrorCode::connectionLost, "the X connection was lost"));
    return fail(selectionError("the owner of " + selection + " did not answer in time", SelectionReadError::timedOut));
}

X11PrimarySelection::X11PrimarySelection(Environment env) : env_(std::move(env)) {}

std::optional<pid_t> X11PrimarySelection::ownerProcess() {
    const std::uint64_t owner = selectionOwnerWindow(env_.value("DISPLAY"), "PRIMARY");
    if (owner == 0) return std::nullopt;
    return X11Workspace(env_).windowProcess(owner);
}

std::optional<std::string> X11PrimarySelection::text(std::chrono::milliseconds timeout) {
    auto r = readSelection(env_.value("DISPLAY"), "PRIMARY", "UTF8_STRING", timeout);
    if (!r || r->empty()) return std::nullopt;
    return std::move(*r);
}

}  // namespace platform
