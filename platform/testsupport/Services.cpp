#include "platform/testsupport/Services.h"

#include <fcntl.h>
#include <signal.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <system_error>

#include "platform/testsupport/TempHome.h"
#include "platform/testsupport/X11Probe.h"

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

// Variables that point at a desktop session. Inherited from outside they
// would lead clients to the developer's real desktop, so they are dropped
// from fixture environments unless a fixture exported them.
constexpr const char* kSessionVariables[] = {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                                             "PULSE_SERVER", "AT_SPI_BUS_ADDRESS"};
// What exportToProcess() sets: client libraries read these.
constexpr const char* kExportedVariables[] = {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "PULSE_SERVER",
                                              "XDG_RUNTIME_DIR"};

std::mutex g_exportMutex;
std::map<std::string, std::string> g_exported;  // values set by fixtures, currently in the process environment

std::string seconds(std::chrono::milliseconds d) {
    return std::to_string(d.count() / 1000) + "." + std::to_string(d.count() % 1000 / 100) + " s";
}

platform::Environment clientBaseEnvironment() {
    auto vars = platform::Environment::fromProcess().all();
    std::lock_guard lock(g_exportMutex);
    for (const char* name : kSessionVariables) {
        auto it = vars.find(name);
        if (it == vars.end()) continue;
        auto exported = g_exported.find(name);
        if (exported == g_exported.end() || exported->second != it->second) vars.erase(it);
    }
    return platform::Environment(std::move(vars));
}

// One line a daemon writes to a descriptor it was given (display number,
// bus address). Empty if it exits, closes it or takes too long.
std::optional<std::string> readLine(int fd, const Process& daemon, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::string buffer;
    for (;;) {
        if (auto nl = buffer.find('\n'); nl != std::string::npos) return buffer.substr(0, nl);
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd fds[2] = {{fd, POLLIN, 0}, {daemon.pidfd(), POLLIN, 0}};
        int r = ::poll(fds, 2, static_cast<int>(left.count()));
        if (r < 0 && errno != EINTR) return std::nullopt;
        if (r <= 0) continue;
        if (fds[0].revents) {
            char chunk[256];
            ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n > 0) {
                buffer.append(chunk, static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            return std::nullopt;
        }
        if (fds[1].revents) return std::nullopt;
    }
}

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) == 0) {
            read = fds[0];
            write = fds[1];
        }
    }
    ~Pipe() {
        closeWrite();
        if (read >= 0) ::close(read);
    }
    void closeWrite() {
        if (write >= 0) ::close(write);
        write = -1;
    }
    bool ok() const { return read >= 0; }
};

bool acceptsConnections(const std::filesystem::path& socketPath) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// The string in a `dbus-send --print-reply` answer of one string.
std::string replyString(const std::string& reply) {
    auto start = reply.find("string \"");
    if (start == std::string::npos) return {};
    start += 8;
    auto end = reply.find('"', start);
    return end == std::string::npos ? std::string() : reply.substr(start, end - start);
}

std::atomic<int> g_sandboxCounter{0};
std::atomic<int> g_spawnCounter{0};

}  // namespace

bool servicesRequired(const platform::Environment& env) {
    auto value = env.value("PARLOWEN_REQUIRE_SERVICES");
    return !value.empty() && value != "0" && value != "false" && value != "no";
}

bool servicesRequired() { return servicesRequired(platform::Environment::fromProcess()); }

std::string serviceFailureMessage(const platform::Error& error, bool required) {
    if (required) return "service required (PARLOWEN_REQUIRE_SERVICES) but unavailable: " + error.description;
    return "service unavailable: " + error.description;
}

// ---------------------------------------------------------------- Sandbox

Sandbox::Sandbox(const std::string& name) {
    isolateHome();
    // Short names: socket paths below this folder must fit in sun_path.
    root_ = processTempRoot() / (name + "-" + std::to_string(g_sandboxCounter++));
    std::filesystem::remove_all(root_);
    for (const auto& dir : {home() / ".config", home() / ".local/share", home() / ".cache", runtimeDir()})
        std::filesystem::create_directories(dir);
    std::filesystem::permissions(home(), std::filesystem::perms::owner_all);
    std::filesystem::permissions(runtimeDir(), std::filesystem::perms::owner_all);
}

Sandbox::~Sandbox() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

std::map<std::string, std::string> Sandbox::variables() const {
    return {{"HOME", home().string()},
            {"XDG_RUNTIME_DIR", runtimeDir().string()},
            {"XDG_CONFIG_HOME", (home() / ".config").string()},
            {"XDG_DATA_HOME", (home() / ".local/share").string()},
            {"XDG_CACHE_HOME", (home() / ".cache").string()}};
}

// ---------------------------------------------------------- ServiceFixture

ServiceFixture::ServiceFixture(std::string name, std::vector<ServiceFixture*> dependencies)
    : name_(std::move(name)), dependencies_(std::move(dependencies)) {
    sandbox_ = dependencies_.empty() ? std::make_shared<Sandbox>(name_) : dependencies_.front()->sandbox_;
}

ServiceFixture::~ServiceFixture() {
    restoreExports();
    stopOwn();
    while (!owned_.empty()) owned_.pop_back();
}

void ServiceFixture::own(std::unique_ptr<ServiceFixture> dependency) { owned_.push_back(std::move(dependency)); }

platform::Status ServiceFixture::start() {
    if (running()) return platform::ok();
    stopOwn();  // something died: start this fixture's part afresh
    for (auto* dependency : dependencies_) {
        if (!dependency->running()) {
            if (auto status = dependency->start(); !status) return status;
        }
    }
    if (auto status = startService(); !status) {
        stopOwn();
        return status;
    }
    started_ = true;
    return platform::ok();
}

void ServiceFixture::stop() {
    stopOwn();
    for (auto it = owned_.rbegin(); it != owned_.rend(); ++it) (*it)->stop();
}

void ServiceFixture::stopOwn() {
    for (auto it = daemons_.rbegin(); it != daemons_.rend(); ++it) (*it)->stop();
    daemons_.clear();
    for (pid_t pid : adopted_) {
        if (processGone(pid)) continue;
        ::kill(pid, SIGTERM);
        if (!waitUntil([pid] { return processGone(pid); }, std::chrono::milliseconds(2000))) ::kill(pid, SIGKILL);
    }
    adopted_.clear();
    variables_.clear();
    started_ = false;
    serviceStopped();
}

bool ServiceFixture::running() const {
    if (!started_) return false;
    for (const auto& daemon : daemons_)
        if (!daemon->running()) return false;
    for (const auto* dependency : dependencies_)
        if (!dependency->running()) return false;
    return true;
}

std::map<std::string, std::string> ServiceFixture::variables() const {
    std::map<std::string, std::string> all;
    for (const auto* dependency : dependencies_)
        for (auto& [k, v] : dependency->variables()) all[k] = v;
    for (const auto& [k, v] : variables_) all[k] = v;
    return all;
}

platform::Environment ServiceFixture::environment() const {
    auto vars = clientBaseEnvironment().all();
    for (auto& [k, v] : sandbox_->variables()) vars[k] = v;
    for (auto& [k, v] : variables()) vars[k] = v;
    return platform::Environment(std::move(vars));
}

void ServiceFixture::exportToProcess() {
    auto vars = sandbox_->variables();
    for (auto& [k, v] : variables()) vars[k] = v;
    auto current = platform::Environment::fromProcess();
    std::lock_guard lock(g_exportMutex);
    for (const char* name : kExportedVariables) {
        auto it = vars.find(name);
        if (it == vars.end()) continue;
        bool saved = std::any_of(saved_.begin(), saved_.end(), [&](const Saved& s) { return s.name == name; });
        if (!saved) {
            auto trusted = g_exported.find(name);
            saved_.push_back({name, current.get(name),
                              trusted == g_exported.end() ? std::nullopt : std::optional(trusted->second)});
        }
        ::setenv(name, it->second.c_str(), 1);
        g_exported[name] = it->second;
    }
}

void ServiceFixture::restoreExports() {
    std::lock_guard lock(g_exportMutex);
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->value) ::setenv(it->name.c_str(), it->value->c_str(), 1);
        else ::unsetenv(it->name.c_str());
        if (it->trusted) g_exported[it->name] = *it->trusted;
        else g_exported.erase(it->name);
    }
    saved_.clear();
}

RunResult ServiceFixture::run(const std::vector<std::string>& argv, const RunOptions& options) const {
    return runProcess(argv, environment(), options);
}

platform::Result<Process> ServiceFixture::spawn(const std::vector<std::string>& argv, SpawnOptions options) const {
    if (options.outputFile.empty() && !argv.empty()) {
        options.outputFile = sandbox_->root() / (std::filesystem::path(argv[0]).filename().string() + "-" +
                                                 std::to_string(g_spawnCounter++) + ".out");
    }
    return Process::spawn(argv, environment(), std::move(options));
}

std::vector<pid_t> ServiceFixture::pids() const {
    std::vector<pid_t> all;
    for (const auto* dependency : dependencies_)
        for (pid_t pid : dependency->pids())
            if (std::find(all.begin(), all.end(), pid) == all.end()) all.push_back(pid);
    for (const auto& daemon : daemons_)
        if (daemon->running()) all.push_back(daemon->pid());
    for (pid_t pid : adopted_)
        if (!processGone(pid)) all.push_back(pid);
    return all;
}

platform::Result<Process*> ServiceFixture::launch(const std::vector<std::string>& argv,
                                                  const platform::Environment& env, SpawnOptions options) {
    if (options.outputFile.empty())
        options.outputFile = sandbox_->root() / (std::filesystem::path(argv.at(0)).filename().string() + ".log");
    auto process = Process::spawn(argv, env, std::move(options));
    if (!process) return platform::fail(unavailable("cannot start " + argv[0] + ": " + process.error().description));
    daemons_.push_back(std::make_unique<Process>(std::move(*process)));
    return daemons_.back().get();
}

platform::Error ServiceFixture::unavailable(const std::string& what, const Process* daemon) const {
    std::string description = name_ + ": " + what;
    if (daemon) {
        // A daemon that closed its pipe is usually exiting: let it finish so
        // the message can say how it ended.
        daemon->waitForExit(std::chrono::milliseconds(200));
        if (auto status = daemon->exitStatus()) {
            description += status->signal ? " (" + daemon->name() + " killed by signal " +
                                                std::to_string(status->signal) + ")"
                                          : " (" + daemon->name() + " exited with code " +
                                                std::to_string(status->code) + ")";
        } else {
            description += " (no answer within " + seconds(kServiceStartTimeout) + ")";
        }
        auto log = daemon->output();
        while (!log.empty() && (log.back() == '\n' || log.back() == ' ')) log.pop_back();
        if (log.size() > 1500) log = "..." + log.substr(log.size() - 1500);
        if (!log.empty()) description += "; its log: " + log;
    }
    return platform::Error::make("testsupport", 1, "serviceUnavailable", description);
}

// ------------------------------------------------------------- XvfbDisplay

XvfbDisplay::XvfbDisplay() : ServiceFixture("xvfb", {}) {}

platform::Status XvfbDisplay::startService() {
    Pipe pipe;
    if (!pipe.ok()) return platform::fail(unavailable("cannot create a pipe"));
    SpawnOptions options;
    options.extraFds = {pipe.write};
    const std::string screen = std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x" + std::to_string(kDepth);
    // -noreset: the server would otherwise reset (dropping root properties
    // such as AT_SPI_BUS) whenever its last client disconnects.
    auto xvfb = launch({"Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"},
                       environment(), std::move(options));
    pipe.closeWrite();
    if (!xvfb) return platform::fail(xvfb.error());
    auto line = readLine(pipe.read, **xvfb, kServiceStartTimeout);
    int number = -1;
    if (line) std::from_chars(line->data(), line->data() + line->size(), number);
    if (number < 0)
        return platform::fail(unavailable("Xvfb reported no display", *xvfb));
    number_ = number;
    displayName_ = ":" + std::to_string(number);
    setVariable("DISPLAY", displayName_);
    // Qt helper programs must show on this display, not on the offscreen
    // platform the Qt test main chooses.
    setVariable("QT_QPA_PLATFORM", "xcb");
    return platform::ok();
}

void XvfbDisplay::serviceStopped() {
    displayName_.clear();
    number_ = -1;
}

// ------------------------------------------------------------- DbusSession

DbusSession::DbusSession() : ServiceFixture("dbus", {}) {}

DbusSession::DbusSession(XvfbDisplay& display) : ServiceFixture("dbus", {&display}) {}

platform::Status DbusSession::startService() {
    const auto socket = sandbox().runtimeDir() / "bus";
    std::error_code ec;
    std::filesystem::remove(socket, ec);  // left by a bus that was killed
    Pipe pipe;
    if (!pipe.ok()) return platform::fail(unavailable("cannot create a pipe"));
    SpawnOptions options;
    options.extraFds = {pipe.write};
    auto daemon = launch({"dbus-daemon", "--session", "--nofork", "--print-address=3",
                          "--address=unix:path=" + socket.string()},
                         environment(), std::move(options));
    pipe.closeWrite();
    if (!daemon) return platform::fail(daemon.error());
    auto line = readLine(pipe.read, **daemon, kServiceStartTimeout);
    if (!line || line->empty())
        return platform::fail(
            unavailable("dbus-daemon gave no address", *daemon));
    address_ = *line;
    setVariable("DBUS_SESSION_BUS_ADDRESS", address_);
    return platform::ok();
}

void DbusSession::serviceStopped() { address_.clear(); }

bool DbusSession::hasOwner(const std::string& busName) const {
    if (address_.empty()) return false;
    RunOptions options;
    options.timeout = std::chrono::milliseconds(2000);
    // NameHasOwner asks the bus itself, so it never activates `busName`.
    auto reply = runProcess({"dbus-send", "--bus=" + address_, "--print-reply", "--dest=org.freedesktop.DBus",
                             "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:" + busName},
                            environment(), options);
    return reply.ok() && reply.out.find("boolean true") != std::string::npos;
}

// -------------------------------------------------------- PulseAudioServer

PulseAudioServer::PulseAudioServer() : ServiceFixture("pulse", {}) {}

std::filesystem::path PulseAudioServer::socketPath() const { return sandbox().runtimeDir() / "pulse" / "native"; }

std::filesystem::path PulseAudioServer::configPath() const { return sandbox().root() / "ci.pa"; }

platform::Status PulseAudioServer::startService() {
    {
        std::ofstream script(configPath(), std::ios::trunc);
        script << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socketPath().string() << "\n"
               << "load-module module-null-sink sink_name=" << kSinkName
               << " sink_properties=\"device.description=CI_Null_Sink device.bus=usb "
                  "device.form_factor=headset\"\n"
               << "load-module module-null-source source_name=" << kSourceName << "\n"
               << "set-default-sink " << kSinkName << "\n"
               << "set-default-source " << kSinkName << ".monitor\n";
        if (!script.flush()) return platform::fail(unavailable("cannot write " + configPath().string()));
    }
    std::error_code ec;
    std::filesystem::remove(socketPath(), ec);
    // No display and no session bus: the server must neither autolaunch a
    // bus through X11 nor register on someone else's.
    auto env = environment().without("DISPLAY").without("DBUS_SESSION_BUS_ADDRESS");
    auto server = launch({"pulseaudio", "-n", "-F", configPath().string(), "--daemonize=no", "--exit-idle-time=-1"},
                         env);
    if (!server) return platform::fail(server.error());
    // The startup script runs before the server serves anyone, so a client
    // that connects once the socket listens sees the sink and source.
    const auto socket = socketPath();
    Process* daemon = *server;
    waitUntil([&] { return !daemon->running() || acceptsConnections(socket); }, kServiceStartTimeout);
    if (!daemon->running() || !acceptsConnections(socket))
        return platform::fail(unavailable("pulseaudio did not listen on " + socket.string(), daemon));
    setVariable("PULSE_SERVER", serverPath());
    return platform::ok();
}

// ---------------------------------------------------------- KeyringService

KeyringService::KeyringService() : KeyringService(std::make_unique<DbusSession>()) {}

KeyringService::KeyringService(std::unique_ptr<DbusSession> bus) : KeyringService(*bus) { own(std::move(bus)); }

KeyringService::KeyringService(DbusSession& bus) : ServiceFixture("keyring", {&bus}), bus_(&bus) {}

platform::Status KeyringService::startService() {
    SpawnOptions options;
    // --unlock reads the login keyring's password from standard input; it
    // creates that keyring on first use. --foreground keeps the daemon our child.
    options.input = std::string(kPassword);
    auto keyring = launch({"gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"},
                          environment(), std::move(options));
    if (!keyring) return platform::fail(keyring.error());
    Process* daemon = *keyring;
    bool ready = waitUntil([&] { return !daemon->running() || bus_->hasOwner("org.freedesktop.secrets"); },
                           kServiceStartTimeout);
    if (!ready || !daemon->running())
        return platform::fail(unavailable("gnome-keyring-daemon did not serve org.freedesktop.secrets", daemon));
    return platform::ok();
}

// ---------------------------------------------------------------- AtspiBus

namespace {
// The processes whose parent is `parent` (from /proc/<pid>/stat).
std::vector<pid_t> childrenOf(pid_t parent) {
    std::vector<pid_t> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(entry.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // "pid (comm) state ppid ...": the command may hold spaces and parentheses.
        const auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 1));
        std::string state;
        pid_t ppid = 0;
        if (rest >> state >> ppid && ppid == parent) found.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return found;
}
}  // namespace

struct AtspiBus::Owned {
    std::unique_ptr<XvfbDisplay> display;
    std::unique_ptr<DbusSession> bus;
};

AtspiBus::AtspiBus() : AtspiBus([] {
                           Owned owned;
                           owned.display = std::make_unique<XvfbDisplay>();
                           owned.bus = std::make_unique<DbusSession>(*owned.display);
                           return owned;
                       }()) {}

AtspiBus::AtspiBus(Owned owned) : AtspiBus(*owned.display, *owned.bus) {
    own(std::move(owned.display));
    own(std::move(owned.bus));
}

// The bus first: the launcher runs in the session's HOME and runtime folder.
AtspiBus::AtspiBus(XvfbDisplay& display, DbusSession& bus)
    : ServiceFixture("atspi", {&bus, &display}), display_(&display), bus_(&bus) {}

platform::Status AtspiBus::startService() {
    std::string launcher;
    for (const char* candidate : {"/usr/libexec/at-spi-bus-launcher", "/usr/lib/at-spi2-core/at-spi-bus-launcher"}) {
        if (::access(candidate, X_OK) == 0) {
            launcher = candidate;
            break;
        }
    }
    if (launcher.empty()) return platform::fail(unavailable("at-spi-bus-launcher is not installed"));
    // The launcher starts the accessibility bus's dbus-daemon as its own
    // child and ends it on SIGTERM; SIGKILL (the usual death signal) would
    // leave that daemon behind whenever the test dies.
    auto started = launch({launcher, "--launch-immediately"}, environment(), SpawnOptions{.deathSignal = SIGTERM});
    if (!started) return platform::fail(started.error());
    Process* daemon = *started;
    // Wait for the launcher to own the name before asking it anything:
    // asking earlier would make the bus activate a second launcher.
    bool owned = waitUntil([&] { return !daemon->running() || bus_->hasOwner("org.a11y.Bus"); },
                           kServiceStartTimeout);
    if (!owned || !daemon->running())
        return platform::fail(unavailable("at-spi-bus-launcher did not take org.a11y.Bus", daemon));
    RunOptions options;
    options.timeout = std::chrono::milliseconds(2000);
    waitUntil(
        [&] {
            auto reply = run({"dbus-send", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                              "org.a11y.Bus.GetAddress"},
                             options);
            address_ = reply.ok() ? replyString(reply.out) : std::string();
            return !address_.empty() || !daemon->running();
        },
        kServiceStartTimeout);
    if (address_.empty())
        return platform::fail(unavailable("the accessibility bus gave no address", daemon));
    // Its bus daemon is stopped by PID too, should it outlive the launcher.
    for (pid_t child : childrenOf(daemon->pid())) adopt(child);
    // Qt 6 exposes its accessibility tree only when asked to.
    setVariable("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    return platform::ok();
}

void AtspiBus::serviceStopped() { address_.clear(); }

// ----------------------------------------------------------- WindowManager

WindowManager::WindowManager() : WindowManager(std::make_unique<XvfbDisplay>()) {}

WindowManager::WindowManager(std::unique_ptr<XvfbDisplay> display) : WindowManager(*display) {
    own(std::move(display));
}

WindowManager::WindowManager(XvfbDisplay& display) : ServiceFixture("wm", {&display}), display_(&display) {}

platform::Status WindowManager::startService() {
    auto started = launch({"matchbox-window-manager", "-use_titlebar", "no"}, environment());
    if (!started) return platform::fail(started.error());
    Process* daemon = *started;
    const std::string displayName = display_->displayName();
    bool ready = waitUntil([&] { return !daemon->running() || detail::x11HasWindowManager(displayName); },
                           kServiceStartTimeout);
    if (!ready || !daemon->running())
        return platform::fail(unavailable("matchbox-window-manager did not manage " + displayName, daemon));
    return platform::ok();
}

// ---------------------------------------------------------- DesktopSession

struct DesktopSession::Owned {
    std::unique_ptr<XvfbDisplay> display;
    std::unique_ptr<DbusSession> bus;
    std::unique_ptr<WindowManager> windowManager;
    std::unique_ptr<AtspiBus> atspi;
};

DesktopSession::DesktopSession() : DesktopSession([] {
                                       Owned owned;
                                       owned.display = std::make_unique<XvfbDisplay>();
                                       owned.bus = std::make_unique<DbusSession>(*owned.display);
                                       owned.windowManager = std::make_unique<WindowManager>(*owned.display);
                                       owned.atspi = std::make_unique<AtspiBus>(*owned.display, *owned.bus);
                                       return owned;
                                   }()) {}

DesktopSession::DesktopSession(Owned owned)
    : ServiceFixture("desktop",
                     {owned.display.get(), owned.bus.get(), owned.windowManager.get(), owned.atspi.get()}),
      display_(owned.display.get()),
      bus_(owned.bus.get()),
      windowManager_(owned.windowManager.get()),
      atspi_(owned.atspi.get()) {
    own(std::move(owned.display));
    own(std::move(owned.bus));
    own(std::move(owned.windowManager));
    own(std::move(owned.atspi));
}

}  // namespace testsupport
