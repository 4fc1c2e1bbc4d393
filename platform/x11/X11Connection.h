#pragma once

// The X11 core that the workspace, the event tap and synthetic keys share:
// one connection per thread, one process-wide error trap, an atom cache and
// property readers. Xlib stays out of this header (its macros Status, None,
// Bool and True clash with ours); sources that call Xlib include it after
// every other header.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/Environment.h"
#include "platform/runtime/Error.h"

struct _XDisplay;  // Xlib's Display

namespace platform {

using XWindowId = unsigned long;
using XAtomId = unsigned long;

// An X protocol error as the server reported it.
struct X11ErrorInfo {
    int errorCode = 0;     // BadWindow = 3, BadAtom = 5, BadValue = 2, ...
    int requestCode = 0;   // the major opcode of the failed request
    int minorCode = 0;
    unsigned long resourceId = 0;
    std::string text;      // Xlib's name of the error code
};

// Error codes of the "X11" domain.
enum class X11ErrorCode { noDisplay = 1, cannotOpen = 2, connectionLost = 3, protocolError = 4 };
Error x11Error(X11ErrorCode code, std::string description);

class X11Connection {
public:
    // Opens a connection of its own (for a thread that needs two, such as an
    // XRecord data connection beside a control one). An empty name fails.
    static Result<std::unique_ptr<X11Connection>> open(const std::string& displayName);

    // This thread's connection to `displayName`, opened on first use and
    // closed when the thread ends. Xlib connections must not be shared
    // between threads, so every X11 user goes through here. A connection
    // whose server has gone is replaced by a fresh one on the next call,
    // before any request is made on it.
    static Result<X11Connection*> forThisThread(const std::string& displayName);
    // The same for the display that `env` names in DISPLAY.
    static Result<X11Connection*> forThisThread(const Environment& env);

    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    _XDisplay* display() const { return display_; }
    const std::string& displayName() const { return name_; }
    XWindowId rootWindow() const { return root_; }
    // True once the connection to the server broke (the server ended or the
    // socket failed). Xlib would end the process there; we mark it instead,
    // and every later request on it is answered as empty.
    bool broken() const { return broken_.load(); }
    // Looks, without blocking, whether the server is still there (a closed
    // socket marks the connection broken). False once broken.
    bool checkAlive();

    // Atoms, interned once per connection and cached. 0 when broken.
    XAtomId atom(std::string_view name);
    // An atom that is only looked up, never created: 0 when the server has no such atom.
    XAtomId existingAtom(std::string_view name);
    std::string atomName(XAtomId atom);

    // Property readers; each answers empty when the window has no such
    // property, it has another type or format, or the window is gone.
    // 32-bit items (CARDINAL, WINDOW, ATOM, ...), whatever the type.
    std::vector<unsigned long> longsProperty(XWindowId window, std::string_view property);
    std::optional<unsigned long> longProperty(XWindowId window, std::string_view property);
    // UTF8_STRING or STRING (Latin-1, converted to UTF-8) text.
    std::optional<std::string> textProperty(XWindowId window, std::string_view property);
    // A list of NUL-separated strings (WM_CLASS: instance, then class).
    std::vector<std::string> stringListProperty(XWindowId window, std::string_view property);

    bool hasExtension(const char* name);
    void flush();
    // Waits until the server has handled every request sent so far.
    void sync();

private:
    X11Connection(_XDisplay* display, std::string name);
    XAtomId intern(std::string_view name, bool onlyIfExists);
    std::optional<std::vector<unsigned char>> rawProperty(XWindowId window, XAtomId property, int wantFormat,
                                                          XAtomId* typeOut);

    _XDisplay* display_;
    std::string name_;
    XWindowId root_ = 0;
    std::map<std::string, XAtomId, std::less<>> atoms_;
    // Set by Xlib's I/O-error exit handler, which gets its address.
    std::atomic<bool> broken_{false};
};

// Catches the protocol errors of the requests made on one connection, on
// this thread, while it lives. Xlib has a single process-wide error handler
// (whose default ends the process); the core installs it once and routes
// each error to the innermost trap of the thread that made the request. An
// error with no trap around it is logged and otherwise ignored.
//
//   X11ErrorTrap trap(conn);
//   XGetWindowAttributes(...);
//   if (auto e = trap.check()) ...;  // BadWindow: the window is gone
class X11ErrorTrap {
public:
    explicit X11ErrorTrap(X11Connection& connection);
    ~X11ErrorTrap();
    X11ErrorTrap(const X11ErrorTrap&) = delete;
    X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

    // Waits for the server to handle every request so far and returns the
    // first error caught since the trap began (or since the last check).
    std::optional<X11ErrorInfo> check();
    // Errors caught so far, without waiting for the server.
    std::optional<X11ErrorInfo> caught() const { return first_; }

private:
    friend struct X11ErrorRouting;
    X11Connection& connection_;
    X11ErrorTrap* outer_;
    std::optional<X11ErrorInfo> first_;
};

namespace detail {
// Installs the process-wide Xlib error and I/O-error handlers (once).
void installX11ErrorHandlers();
// Errors that arrived with no trap around them, counted for tests.
std::uint64_t untrappedX11Errors();
}  // namespace detail

}  // namespace platform
