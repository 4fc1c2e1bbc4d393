#include "platform/x11/X11Connection.h"

#include <poll.h>
#include <signal.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <mutex>

#include "platform/log/Log.h"

// Xlib last: its macros must not reach the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace platform {

namespace {

const Logger& x11Log() {
    static const Logger log("com.kelvatrum.Parlowen", "x11");
    return log;
}

std::atomic<std::uint64_t> untrappedErrors{0};

// The innermost trap of this thread (traps nest through outer_).
thread_local X11ErrorTrap* innermostTrap = nullptr;

std::string latin1ToUtf8(const unsigned char* data, std::size_t size) {
    std::string out;
    out.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        unsigned char c = data[i];
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

}  // namespace

Error x11Error(X11ErrorCode code, std::string description) {
    const char* name = "protocolError";
    switch (code) {
        case X11ErrorCode::noDisplay: name = "noDisplay"; break;
        case X11ErrorCode::cannotOpen: name = "cannotOpen"; break;
        case X11ErrorCode::connectionLost: name = "connectionLost"; break;
        case X11ErrorCode::protocolError: name = "protocolError"; break;
    }
    return Error::make("X11", static_cast<int>(code), name, std::move(description));
}

// The handlers reach the traps' private state through this friend.
struct X11ErrorRouting {
    static int onError(Display* display, XErrorEvent* event) {
        X11ErrorInfo info;
        info.errorCode = event->error_code;
        info.requestCode = event->request_code;
        info.minorCode = event->minor_code;
        info.resourceId = event->resourceid;
        char text[128] = {};
        XGetErrorText(display, event->error_code, text, sizeof text);
        info.text = text;
        for (X11ErrorTrap* trap = innermostTrap; trap; trap = trap->outer_) {
            if (trap->connection_.display() != display) continue;
            if (!trap->first_) trap->first_ = std::move(info);
            return 0;
        }
        ++untrappedErrors;
        x11Log().error("unexpected X error {} ({}) request={}.{} resource=0x{:x}", info.text, info.errorCode,
                       info.requestCode, info.minorCode, info.resourceId);
        return 0;
    }

    static int onIOError(Display*) {
        // The exit handler below marks the connection; nothing ends the process.
        return 0;
    }

    static void onIOErrorExit(Display*, void* userData) {
        auto* broken = static_cast<std::atomic<bool>*>(userData);
        if (broken->exchange(true)) return;
        x11Log().error("X connection lost");
    }
};

namespace detail {

void installX11ErrorHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        XSetErrorHandler(&X11ErrorRouting::onError);
        XSetIOErrorHandler(&X11ErrorRouting::onIOError);
        // Xlib writes to the server's socket; once the server has gone, the
        // write would raise SIGPIPE and end the process before the I/O error
        // handler could report it. Left alone when someone chose a handler.
        struct sigaction current {};
        if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            std::signal(SIGPIPE, SIG_IGN);
    });
}

std::uint64_t untrappedX11Errors() { return untrappedErrors.load(); }

}  // namespace detail

// ------------------------------------------------------------ X11Connection

Result<std::unique_ptr<X11Connection>> X11Connection::open(const std::string& displayName) {
    if (displayName.empty()) return fail(x11Error(X11ErrorCode::noDisplay, "no X display (DISPLAY is not set)"));
    detail::installX11ErrorHandlers();
    Display* d = XOpenDisplay(displayName.c_str());
    if (!d) return fail(x11Error(X11ErrorCode::cannotOpen, "cannot open X display " + displayName));
    return std::unique_ptr<X11Connection>(new X11Connection(d, displayName));
}

Result<X11Connection*> X11Connection::forThisThread(const std::string& displayName) {
    thread_local std::map<std::string, std::unique_ptr<X11Connection>> connections;
    auto it = connections.find(displayName);
    // A server that has gone shows as a readable (or hung-up) socket before
    // any request fails: check that first, so no caller gets a dead connection.
    if (it != connections.end() && it->second->checkAlive()) return it->second.get();
    auto opened = open(displayName);
    if (!opened) return fail(opened.error());
    auto& slot = connections[displayName];
    slot = std::move(*opened);
    return slot.get();
}

Result<X11Connection*> X11Connection::forThisThread(const Environment& env) {
    return forThisThread(env.value("DISPLAY"));
}

X11Connection::X11Connection(_XDisplay* display, std::string name) : display_(display), name_(std::move(name)) {
    root_ = DefaultRootWindow(display_);
    XSetIOErrorExitHandler(display_, &X11ErrorRouting::onIOErrorExit, &broken_);
}

X11Connection::~X11Connection() { XCloseDisplay(display_); }

XAtomId X11Connection::atom(std::string_view name) { return intern(name, false); }

XAtomId X11Connection::existingAtom(std::string_view name) { return intern(name, true); }

XAtomId X11Connection::intern(std::string_view name, bool onlyIfExists) {
    auto it = atoms_.find(name);
    if (it != atoms_.end()) return it->second;
    if (broken()) return 0;
    std::string key(name);
    Atom a = XInternAtom(display_, key.c_str(), onlyIfExists ? True : False);
    if (a != 0 && !broken()) atoms_.emplace(std::move(key), a);
    return a;
}

std::string X11Connection::atomName(XAtomId a) {
    if (a == 0 || broken()) return {};
    X11ErrorTrap trap(*this);
    char* name = XGetAtomName(display_, a);
    std::string out = name ? name : "";
    if (name) XFree(name);
    return out;
}

std::optional<std::vector<unsigned char>> X11Connection::rawProperty(XWindowId window, XAtomId property,
                                                                      int wantFormat, XAtomId* typeOut) {
    if (window == 0 || property == 0 || broken()) return std::nullopt;
    X11ErrorTrap trap(*this);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    // Up to 1 MB of 32-bit items: more than any property we read.
    int status = XGetWindowProperty(display_, window, property, 0, 262144, False, AnyPropertyType, &type, &format,
                                    &count, &after, &data);
    std::optional<std::vector<unsigned char>> out;
    if (status == Success && !trap.caught() && type != 0 && format == wantFormat && data) {
        // Xlib hands 32-bit items as longs.
        std::size_t itemSize = format == 32 ? sizeof(long) : static_cast<std::size_t>(format / 8);
        out.emplace(data, data + count * itemSize);
        if (typeOut) *typeOut = type;
    }
    if (data) XFree(data);
    return out;
}

std::vector<unsigned long> X11Connection::longsProperty(XWindowId window, std::string_view property) {
    auto raw = rawProperty(window, existingAtom(property), 32, nullptr);
    std::vector<unsigned long> out;
    if (!raw) return out;
    out.resize(raw->size() / sizeof(unsigned long));
    std::memcpy(out.data(), raw->data(), out.size() * sizeof(unsigned long));
    return out;
}

std::optional<unsigned long> X11Connection::longProperty(XWindowId window, std::string_view property) {
    auto values = longsProperty(window, property);
    if (values.empty()) return std::nullopt;
    return values.front();
}

std::optional<std::string> X11Connection::textProperty(XWindowId window, std::string_view property) {
    XAtomId type = 0;
    auto raw = rawProperty(window, existingAtom(property), 8, &type);
    if (!raw) return std::nullopt;
    std::size_t end = 0;
    while (end < raw->size() && (*raw)[end] != 0) ++end;  // a trailing NUL is not text
    if (type == XA_STRING) return latin1ToUtf8(raw->data(), end);
    if (type == atom("UTF8_STRING")) return std::string(reinterpret_cast<const char*>(raw->data()), end);
    return std::nullopt;
}

std::vector<std::string> X11Connection::stringListProperty(XWindowId window, std::string_view property) {
    XAtomId type = 0;
    auto raw = rawProperty(window, existingAtom(property), 8, &type);
    std::vector<std::string> out;
    if (!raw) return out;
    bool latin1 = type == XA_STRING;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= raw->size(); ++i) {
        if (i == raw->size() || (*raw)[i] == 0) {
            if (i > start || i < raw->size()) {
                const unsigned char* p = raw->data() + start;
                out.push_back(latin1 ? latin1ToUtf8(p, i - start)
                                     : std::string(reinterpret_cast<const char*>(p), i - start));
            }
            start = i + 1;
        }
    }
    return out;
}

bool X11Connection::hasExtension(const char* name) {
    if (broken()) return false;
    int opcode = 0, event = 0, error = 0;
    return XQueryExtension(display_, name, &opcode, &event, &error);
}

bool X11Connection::checkAlive() {
    if (broken()) return false;
    pollfd p{ConnectionNumber(display_), POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return true;
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
        if (!broken_.exchange(true)) x11Log().error("X connection lost");
        return false;
    }
    // Something to read: events, or the end of the stream, which Xlib
    // reports through the I/O error handler (marking the connection broken).
    XEventsQueued(display_, QueuedAfterReading);
    return !broken();
}

void X11Connection::flush() {
    if (!broken()) XFlush(display_);
}

void X11Connection::sync() {
    if (!broken()) XSync(display_, False);
}

// ------------------------------------------------------------- X11ErrorTrap

X11ErrorTrap::X11ErrorTrap(X11Connection& connection) : connection_(connection), outer_(innermostTrap) {
    detail::installX11ErrorHandlers();
    // Errors of requests made before the trap belong to whoever made them.
    connection_.sync();
    first_.reset();
    innermostTrap = this;
}

X11ErrorTrap::~X11ErrorTrap() {
    // Errors of this trap's requests must land here, not in an outer trap.
    connection_.sync();
    innermostTrap = outer_;
}

std::optional<X11ErrorInfo> X11ErrorTrap::check() {
    connection_.sync();
    return std::exchange(first_, std::nullopt);
}

}  // namespace platform
