#include "platform/x11/X11Workspace.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

#include "platform/log/Log.h"
#include "platform/x11/ProcessInfo.h"
#include "platform/x11/X11Connection.h"

// Xlib last: its macros must not reach the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>

namespace platform {

namespace {

const Logger& workspaceLog() {
    static const Logger log("com.kelvatrum.Parlowen", "workspace");
    return log;
}

// A window's attributes; none when it is gone.
std::optional<XWindowAttributes> attributesOf(X11Connection& c, Window w) {
    X11ErrorTrap trap(c);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(c.display(), w, &attributes) || trap.check()) return std::nullopt;
    return attributes;
}

bool windowExists(X11Connection& c, Window w) { return w != 0 && attributesOf(c, w); }

Window parentOf(X11Connection& c, Window w) {
    X11ErrorTrap trap(c);
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    Status ok = XQueryTree(c.display(), w, &root, &parent, &children, &count);
    if (children) XFree(children);
    if (!ok || trap.check()) return 0;
    return parent;
}

bool isClientWindow(X11Connection& c, Window w) {
    return !c.longsProperty(w, "WM_STATE").empty() || c.longProperty(w, "_NET_WM_PID").has_value();
}

// The application window that holds `w`: the nearest ancestor (or `w`) that
// a window manager would call a client, else the child of the root.
Window clientWindowOf(X11Connection& c, Window w) {
    Window top = 0;
    for (Window cur = w; cur != 0 && cur != c.rootWindow(); cur = parentOf(c, cur)) {
        if (isClientWindow(c, cur)) return cur;
        top = cur;
    }
    return top;
}

// Whether the window manager (if any) acts on _NET_ACTIVE_WINDOW requests.
bool managerSupports(X11Connection& c, const char* atomName) {
    Atom wanted = c.existingAtom(atomName);
    if (wanted == 0) return false;
    auto supported = c.longsProperty(c.rootWindow(), "_NET_SUPPORTED");
    return std::find(supported.begin(), supported.end(), wanted) != supported.end();
}

}  // namespace

X11Workspace::X11Workspace(Environment env, UrlOpener openUrl) : env_(std::move(env)), openUrl_(std::move(openUrl)) {}

X11Connection* X11Workspace::connection() {
    auto c = X11Connection::forThisThread(env_);
    if (!c) {
        workspaceLog().debug("no X connection: {}", c.error().description);
        return nullptr;
    }
    return *c;
}

std::uint64_t X11Workspace::activeWindow() {
    X11Connection* c = connection();
    if (!c) return 0;
    if (managerSupports(*c, "_NET_ACTIVE_WINDOW")) {
        auto active = c->longProperty(c->rootWindow(), "_NET_ACTIVE_WINDOW");
        if (active && (*active == 0 || windowExists(*c, *active))) return *active;
    }
    // No window manager: the window with the keyboard focus.
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(c->display(), &focus, &revert);
    if (focus == PointerRoot || focus == None || c->broken()) return 0;
    return clientWindowOf(*c, focus);
}

std::optional<pid_t> X11Workspace::windowProcess(std::uint64_t window) {
    X11Connection* c = connection();
    if (!c || window == 0) return std::nullopt;
    if (auto pid = c->longProperty(window, "_NET_WM_PID"); pid && *pid > 0) return static_cast<pid_t>(*pid);
    // Windows of programs that do not set _NET_WM_PID: ask the server who
    // owns the window's client connection.
    if (!c->hasExtension("X-Resource")) return std::nullopt;
    X11ErrorTrap trap(*c);
    XResClientIdSpec spec{static_cast<XID>(window), XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* ids = nullptr;
    std::optional<pid_t> result;
    if (XResQueryClientIds(c->display(), 1, &spec, &count, &ids) == Success && !trap.check()) {
        for (long i = 0; i < count && !result; ++i) {
            pid_t pid = XResGetClientPid(&ids[i]);
            if (pid > 0) result = pid;
        }
    }
    if (ids) XResClientIdsDestroy(count, ids);
    return result;
}

std::uint64_t X11Workspace::windowOfProcess(X11Connection& c, pid_t pid) {
    std::vector<unsigned long> candidates = c.longsProperty(c.rootWindow(), "_NET_CLIENT_LIST");
    if (candidates.empty()) {
        // No window manager list: the root's children and their children.
        X11ErrorTrap trap(c);
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (XQueryTree(c.display(), c.rootWindow(), &root, &parent, &children, &count)) {
            for (unsigned i = 0; i < count; ++i) {
                candidates.push_back(children[i]);
                Window* grand = nullptr;
                unsigned grandCount = 0;
                if (XQueryTree(c.display(), children[i], &root, &parent, &grand, &grandCount)) {
                    candidates.insert(candidates.end(), grand, grand + grandCount);
                    if (grand) XFree(grand);
                }
            }
        }
        if (children) XFree(children);
        trap.check();
    }
    std::uint64_t active = activeWindow();
    std::uint64_t found = 0;
    for (unsigned long w : candidates) {
        auto owner = c.longProperty(w, "_NET_WM_PID");
        if (!owner || static_cast<pid_t>(*owner) != pid) continue;
        if (w == active) return w;
        if (!found)
            if (auto attributes = attributesOf(c, w); attributes && attributes->map_state == IsViewable) found = w;
    }
    return found;
}

const DesktopEntries& X11Workspace::desktopEntries() {
    // Rescanned when one of the folders changes (an application was installed).
    std::string stamp;
    for (const auto& folder : DesktopEntries::applicationFolders(env_)) {
        std::error_code ec;
        auto t = std::filesystem::last_write_time(folder, ec);
        stamp += ec ? "-" : std::to_string(t.time_since_epoch().count());
        stamp += ';';
    }
    std::lock_guard lock(entriesMutex_);
    if (!entries_ || stamp != entriesStamp_) {
        entries_ = std::make_shared<const DesktopEntries>(DesktopEntries::scan(env_));
        entriesStamp_ = stamp;
    }
    return *entries_;
}

RunningApplication X11Workspace::describe(X11Connection* c, pid_t pid, std::uint64_t window) {
    RunningApplication app;
    app.processIdentifier = pid;
    app.window = window;
    app.executablePath = processExecutablePath(pid);
    app.isChromiumClass = isChromiumClassProgram(app.executablePath.value_or(""), processMappedFiles(pid));
    WindowIdentity identity;
    if (c && window) {
        identity.gtkApplicationId = c->textProperty(window, "_GTK_APPLICATION_ID");
        auto wmClass = c->stringListProperty(window, "WM_CLASS");
        if (wmClass.size() > 0) identity.wmClassInstance = wmClass[0];
        if (wmClass.size() > 1) identity.wmClassName = wmClass[1];
    }
    const DesktopEntries& entries = desktopEntries();
    app.bundleIdentifier = window ? bundleIdentifier(identity, entries) : std::nullopt;
    app.isTerminal = window && isTerminalWindowClass(identity);
    const DesktopEntry* entry = app.bundleIdentifier ? entries.byId(*app.bundleIdentifier) : nullptr;
    if (entry && !entry->name.empty()) app.localizedName = entry->name;
    else if (!identity.wmClassName.empty()) app.localizedName = identity.wmClassName;
    else app.localizedName = processName(pid);
    return app;
}

std::optional<RunningApplication> X11Workspace::frontmostApplication() {
    X11Connection* c = connection();
    if (!c) return std::nullopt;
    std::uint64_t window = activeWindow();
    if (window == 0) return std::nullopt;
    auto pid = windowProcess(window);
    if (!pid || !processIsAlive(*pid)) return std::nullopt;
    return describe(c, *pid, window);
}

std::optional<RunningApplication> X11Workspace::runningApplication(pid_t pid) {
    if (!processIsAlive(pid)) return std::nullopt;
    X11Connection* c = connection();
    std::uint64_t window = c ? windowOfProcess(*c, pid) : 0;
    return describe(c, pid, window);
}

bool X11Workspace::activate(pid_t pid) {
    if (!processIsAlive(pid)) return false;
    X11Connection* c = connection();
    if (!c) return false;
    Window window = windowOfProcess(*c, pid);
    if (window == 0) {
        workspaceLog().debug("activate: no window of pid={}", pid);
        return false;
    }
    Display* d = c->display();
    X11ErrorTrap trap(*c);
    if (managerSupports(*c, "_NET_ACTIVE_WINDOW")) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = c->atom("_NET_ACTIVE_WINDOW");
        event.xclient.format = 32;
        // Source 2 (a pager): the user asked for it, so no focus-stealing
        // prevention applies — the activation ignores the other applications.
        event.xclient.data.l[0] = 2;
        event.xclient.data.l[1] = CurrentTime;
        event.xclient.data.l[2] = static_cast<long>(activeWindow());
        XSendEvent(d, c->rootWindow(), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    } else {
        XMapRaised(d, window);
        XSetInputFocus(d, window, RevertToParent, CurrentTime);
    }
    if (auto error = trap.check()) {
        workspaceLog().debug("activate: X error {} for pid={}", error->text, pid);
        return false;
    }
    return true;
}

bool X11Workspace::openURL(const std::string& url) {
    if (!openUrl_) {
        workspaceLog().error("openURL: nothing opens URLs here");
        return false;
    }
    return openUrl_(url);
}

}  // namespace platform
