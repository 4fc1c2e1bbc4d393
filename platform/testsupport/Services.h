#pragma once

// Desktop services for integration tests, one private instance per test.
//
//   XvfbDisplay       Xvfb 1280x1024x24 on a display number it picks itself
//                     (-displayfd), no TCP.            DISPLAY, QT_QPA_PLATFORM=xcb
//   DbusSession       dbus-daemon --session on <runtime>/bus.   DBUS_SESSION_BUS_ADDRESS
//   PulseAudioServer  pulseaudio with the "ci_null" sink and "ci_mic" source,
//                     socket <runtime>/pulse/native.             PULSE_SERVER
//   KeyringService    gnome-keyring (Secret Service), unlocked, on a DbusSession.
//   AtspiBus          the AT-SPI bus launcher on a DbusSession and a display.
//                                                 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
//   WindowManager     matchbox-window-manager on a display.
//   DesktopSession    display + bus + window manager + AT-SPI, together.
//
// Each fixture lives in a fresh folder under the process's temporary root
// with its own HOME (and XDG config, data and cache folders inside it) and
// XDG_RUNTIME_DIR (mode 0700). A fixture built on another one (for example
// `KeyringService keyring(desktop.bus())`) shares that one's folder and
// environment; the one it is built on must outlive it. Default constructors
// create and own what the fixture needs.
//
// Usage:
//   testsupport::PulseAudioServer pulse;
//   PARLOWEN_REQUIRE_OR_SKIP(pulse.start());
//   auto r = pulse.run({"pactl", "list", "short", "sinks"});
//
// start() starts what the fixture depends on, launches its daemons as
// children that die with the test (see Process.h: start fixtures on the
// test's main thread), and waits, bounded by kServiceStartTimeout, until each
// is ready. stop() and the destructor end the daemons by PID (SIGTERM, then
// SIGKILL) together with anything they left in their process groups.
//
// environment() is the test process's environment with the fixture's
// folders and service variables applied. Service variables that the test
// process inherited from outside (a developer's DISPLAY, session bus or
// sound server) are removed, so nothing reaches the real desktop; values
// that a fixture exported with exportToProcess() are kept.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/runtime/Environment.h"
#include "platform/runtime/Error.h"
#include "platform/testsupport/Process.h"

namespace testsupport {

// How long one service may take to become ready (generous for a loaded
// two-core machine; each is ready in well under a second).
inline constexpr std::chrono::milliseconds kServiceStartTimeout{15000};

// True when PARLOWEN_REQUIRE_SERVICES asks for a service that cannot start to
// fail the test instead of skipping it (any value but empty, "0", "false", "no").
bool servicesRequired(const platform::Environment& env);
bool servicesRequired();

// The message PARLOWEN_REQUIRE_OR_SKIP reports.
std::string serviceFailureMessage(const platform::Error& error, bool required);

// A fixture's folder: <root>/home is HOME, <root>/run is XDG_RUNTIME_DIR.
// Removed when the last fixture using it is gone.
class Sandbox {
public:
    explicit Sandbox(const std::string& name);
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path home() const { return root_ / "home"; }
    std::filesystem::path runtimeDir() const { return root_ / "run"; }
    // HOME, XDG_RUNTIME_DIR, XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME.
    std::map<std::string, std::string> variables() const;

private:
    std::filesystem::path root_;
};

class ServiceFixture {
public:
    virtual ~ServiceFixture();
    ServiceFixture(const ServiceFixture&) = delete;
    ServiceFixture& operator=(const ServiceFixture&) = delete;

    // Starts what this fixture needs (if not running) and then itself, and
    // waits until it is ready. On failure nothing of this fixture's own is
    // left running and the error says what did not start, with the end of its log.
    platform::Status start();
    // Ends this fixture's daemons and those of the fixtures it owns.
    void stop();
    bool running() const;

    const std::string& name() const { return name_; }
    const Sandbox& sandbox() const { return *sandbox_; }

    // The service variables of this fixture and of those it is built on.
    std::map<std::string, std::string> variables() const;
    // The environment for client processes (see the top of this file).
    platform::Environment environment() const;
    // Sets DISPLAY, DBUS_SESSION_BUS_ADDRESS, PULSE_SERVER and XDG_RUNTIME_DIR
    // (those this fixture has) in the test process itself, for client
    // libraries that read them. The previous values come back when the
    // fixture is destroyed. Each CTest test runs in its own process, so only
    // service fixtures may do this.
    void exportToProcess();

    // Runs a program to completion in environment().
    RunResult run(const std::vector<std::string>& argv, const RunOptions& options = {}) const;
    // Starts a long-running program in environment(); its output goes to a
    // log file in the fixture's folder unless `options` names one.
    platform::Result<Process> spawn(const std::vector<std::string>& argv, SpawnOptions options = {}) const;

    // PIDs of the running daemons of this fixture and of those it is built on.
    std::vector<pid_t> pids() const;

protected:
    // Shares the folder of the first dependency, or makes a fresh one.
    ServiceFixture(std::string name, std::vector<ServiceFixture*> dependencies);

    // Called by start() once every dependency runs.
    virtual platform::Status startService() = 0;
    // Called by stop() after this fixture's daemons have ended.
    virtual void serviceStopped() {}

    // Takes ownership of a dependency (already passed to the constructor).
    void own(std::unique_ptr<ServiceFixture> dependency);
    void setVariable(const std::string& name, std::string value) { variables_[name] = std::move(value); }
    // Spawns a daemon in `env` with its output in <root>/<program>.log.
    platform::Result<Process*> launch(const std::vector<std::string>& argv, const platform::Environment& env,
                                      SpawnOptions options = {});
    // A process that a daemon started outside its own process group's
    // reach: stopped after the daemons, by PID, if it outlives them.
    void adopt(pid_t pid) { adopted_.push_back(pid); }
    platform::Error unavailable(const std::string& what, const Process* daemon = nullptr) const;

private:
    void stopOwn();
    void restoreExports();

    struct Saved {
        std::string name;
        std::optional<std::string> value;
        std::optional<std::string> trusted;  // what the fixture registry held before
    };

    std::string name_;
    std::shared_ptr<Sandbox> sandbox_;
    std::vector<ServiceFixture*> dependencies_;
    std::vector<std::unique_ptr<ServiceFixture>> owned_;
    std::vector<std::unique_ptr<Process>> daemons_;
    std::vector<pid_t> adopted_;
    std::map<std::string, std::string> variables_;
    std::vector<Saved> saved_;
    bool started_ = false;
};

class XvfbDisplay : public ServiceFixture {
public:
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 1024;
    static constexpr int kDepth = 24;

    XvfbDisplay();
    // ":N" once started.
    const std::string& displayName() const { return displayName_; }
    int displayNumber() const { return number_; }

protected:
    platform::Status startService() override;
    void serviceStopped() override;

private:
    std::string displayName_;
    int number_ = -1;
};

class DbusSession : public ServiceFixture {
public:
    DbusSession();
    // A bus whose activated services also see `display`.
    explicit DbusSession(XvfbDisplay& display);

    const std::string& address() const { return address_; }
    // Whether `busName` has an owner, without activating it.
    bool hasOwner(const std::string& busName) const;

protected:
    platform::Status startService() override;
    void serviceStopped() override;

private:
    std::string address_;
};

class PulseAudioServer : public ServiceFixture {
public:
    static constexpr const char* kSinkName = "ci_null";
    static constexpr const char* kSourceName = "ci_mic";

    PulseAudioServer();
    // "unix:<runtime>/pulse/native", the PULSE_SERVER value.
    std::string serverPath() const { return "unix:" + socketPath().string(); }
    std::filesystem::path socketPath() const;
    // The ci.pa script the server runs.
    std::filesystem::path configPath() const;

protected:
    platform::Status startService() override;
};

class KeyringService : public ServiceFixture {
public:
    KeyringService();
    explicit KeyringService(DbusSession& bus);

    static constexpr const char* kPassword = "ci-pass";
    DbusSession& bus() const { return *bus_; }

protected:
    platform::Status startService() override;

private:
    explicit KeyringService(std::unique_ptr<DbusSession> bus);
    DbusSession* bus_;
};

class AtspiBus : public ServiceFixture {
public:
    AtspiBus();
    AtspiBus(XvfbDisplay& display, DbusSession& bus);

    // The accessibility bus's own address (org.a11y.Bus.GetAddress).
    const std::string& address() const { return address_; }
    XvfbDisplay& display() const { return *display_; }
    DbusSession& bus() const { return *bus_; }

protected:
    platform::Status startService() override;
    void serviceStopped() override;

private:
    struct Owned;
    explicit AtspiBus(Owned owned);
    XvfbDisplay* display_;
    DbusSession* bus_;
    std::string address_;
};

class WindowManager : public ServiceFixture {
public:
    WindowManager();
    explicit WindowManager(XvfbDisplay& display);

    XvfbDisplay& display() const { return *display_; }

protected:
    platform::Status startService() override;

private:
    explicit WindowManager(std::unique_ptr<XvfbDisplay> display);
    XvfbDisplay* display_;
};

class DesktopSession : public ServiceFixture {
public:
    DesktopSession();

    XvfbDisplay& display() const { return *display_; }
    DbusSession& bus() const { return *bus_; }
    WindowManager& windowManager() const { return *windowManager_; }
    AtspiBus& atspi() const { return *atspi_; }

protected:
    platform::Status startService() override { return platform::ok(); }

private:
    struct Owned;
    explicit DesktopSession(Owned owned);
    XvfbDisplay* display_;
    DbusSession* bus_;
    WindowManager* windowManager_;
    AtspiBus* atspi_;
};

}  // namespace testsupport

// In a test body or SetUp(): continues when `status` (a platform::Status,
// usually fixture.start()) is fine; otherwise skips the test with the reason,
// or fails it when PARLOWEN_REQUIRE_SERVICES=1.
#define PARLOWEN_REQUIRE_OR_SKIP(status)                                                             \
    do {                                                                                             \
        const auto parlowenServiceStatus_ = (status);                                                \
        if (!parlowenServiceStatus_) {                                                               \
            if (::testsupport::servicesRequired())                                                   \
                FAIL() << ::testsupport::serviceFailureMessage(parlowenServiceStatus_.error(), true); \
            else                                                                                     \
                GTEST_SKIP() << ::testsupport::serviceFailureMessage(parlowenServiceStatus_.error(), \
                                                                     false);                         \
        }                                                                                            \
    } while (false)
