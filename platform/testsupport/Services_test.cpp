#include "platform/testsupport/Services.h"

#include "platform/runtime/Resources.h"

#include <dirent.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>

// Xlib last: its macros (Status, None, Bool) must not reach the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace testsupport {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

// Live processes whose command line mentions `text` (daemons name their
// sockets and scripts, which lie in the fixture's folder).
std::vector<pid_t> processesMentioning(const std::string& text) {
    std::vector<pid_t> found;
    DIR* proc = ::opendir("/proc");
    if (!proc) return found;
    while (auto* entry = ::readdir(proc)) {
        pid_t pid = std::atoi(entry->d_name);
        if (pid <= 0 || pid == ::getpid()) continue;
        std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        if (s.str().find(text) != std::string::npos && !processGone(pid)) found.push_back(pid);
    }
    ::closedir(proc);
    return found;
}

Window rootWindowProperty(Display* x, const char* name) {
    Atom atom = XInternAtom(x, name, False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    Window result = 0;
    if (XGetWindowProperty(x, DefaultRootWindow(x), atom, 0, 1, False, XA_WINDOW, &type, &format, &count, &after,
                           &data) == Success &&
        type == XA_WINDOW && count == 1)
        result = static_cast<Window>(*reinterpret_cast<unsigned long*>(data));
    if (data) XFree(data);
    return result;
}

TEST(ServicesRequired, OnlyAnAffirmativeValueTurnsSkipsIntoFailures) {
    struct Case {
        std::optional<std::string> value;
        bool required;
    };
    for (const Case& c : {Case{std::nullopt, false}, Case{"", false}, Case{"0", false}, Case{"no", false},
                          Case{"1", true}, Case{"yes", true}}) {
        platform::Environment env;
        if (c.value) env = env.with("PARLOWEN_REQUIRE_SERVICES", *c.value);
        EXPECT_EQ(servicesRequired(env), c.required) << (c.value ? *c.value : "(unset)");
    }
}

TEST(XvfbDisplay, ServesAFreshScreenOfTheAgreedSize) {
    XvfbDisplay display;
    PARLOWEN_REQUIRE_OR_SKIP(display.start());
    EXPECT_THAT(display.displayName(), MatchesRegex(":[0-9]+"));
    EXPECT_EQ(display.environment().value("DISPLAY"), display.displayName());

    Display* x = XOpenDisplay(display.displayName().c_str());
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(DisplayWidth(x, DefaultScreen(x)), 1280);
    EXPECT_EQ(DisplayHeight(x, DefaultScreen(x)), 1024);
    EXPECT_EQ(DefaultDepth(x, DefaultScreen(x)), 24);
    XCloseDisplay(x);
}

// Client libraries read the variables from the process; the fixture gives
// the previous values back when it goes.
TEST(XvfbDisplay, ExportsItsVariablesToTheTestProcessUntilItGoes) {
    const auto before = platform::Environment::fromProcess();
    {
        XvfbDisplay display;
        PARLOWEN_REQUIRE_OR_SKIP(display.start());
        display.exportToProcess();
        auto now = platform::Environment::fromProcess();
        EXPECT_EQ(now.value("DISPLAY"), display.displayName());
        EXPECT_EQ(now.value("XDG_RUNTIME_DIR"), display.sandbox().runtimeDir().string());
        Display* x = XOpenDisplay(nullptr);
        ASSERT_NE(x, nullptr);
        XCloseDisplay(x);
    }
    const auto after = platform::Environment::fromProcess();
    EXPECT_EQ(after.get("DISPLAY"), before.get("DISPLAY"));
    EXPECT_EQ(after.get("XDG_RUNTIME_DIR"), before.get("XDG_RUNTIME_DIR"));
}

TEST(DbusSession, AnswersOnAPrivateBusInAFreshHome) {
    DbusSession bus;
    PARLOWEN_REQUIRE_OR_SKIP(bus.start());
    auto names = bus.run({"dbus-send", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                          "org.freedesktop.DBus.ListNames"});
    ASSERT_TRUE(names.ok()) << names.describe();
    EXPECT_THAT(names.out, HasSubstr("\"org.freedesktop.DBus\""));

    const auto& sandbox = bus.sandbox();
    EXPECT_THAT(bus.address(), StartsWith("unix:path=" + (sandbox.runtimeDir() / "bus").string()));
    auto env = bus.environment();
    EXPECT_EQ(env.value("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    EXPECT_EQ(env.value("HOME"), sandbox.home().string());
    EXPECT_NE(env.value("HOME"), platform::Environment::fromProcess().value("HOME"));
    EXPECT_EQ(env.value("XDG_RUNTIME_DIR"), sandbox.runtimeDir().string());
    struct stat st {};
    ASSERT_EQ(::stat(sandbox.runtimeDir().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(PulseAudioServer, ServesTheNullSinkAndSourceAsDefaults) {
    PulseAudioServer pulse;
    PARLOWEN_REQUIRE_OR_SKIP(pulse.start());
    EXPECT_EQ(pulse.serverPath(), "unix:" + (pulse.sandbox().runtimeDir() / "pulse/native").string());
    EXPECT_EQ(pulse.environment().value("PULSE_SERVER"), pulse.serverPath());
    EXPECT_TRUE(std::filesystem::exists(pulse.sandbox().root() / "ci.pa"));

    auto sinks = pulse.run({"pactl", "list", "short", "sinks"});
    ASSERT_TRUE(sinks.ok()) << sinks.describe();
    EXPECT_THAT(sinks.out, HasSubstr("ci_null"));
    auto sources = pulse.run({"pactl", "list", "short", "sources"});
    EXPECT_THAT(sources.out, HasSubstr("ci_mic"));
    auto info = pulse.run({"pactl", "info"});
    EXPECT_THAT(info.out, HasSubstr("Default Sink: ci_null\n"));
    EXPECT_THAT(info.out, HasSubstr("Default Source: ci_null.monitor\n"));
    // The quoted property list must arrive whole: device code keys on these.
    auto details = pulse.run({"pactl", "list", "sinks"});
    EXPECT_THAT(details.out, HasSubstr("device.description = \"CI_Null_Sink\""));
    EXPECT_THAT(details.out, HasSubstr("device.bus = \"usb\""));
    EXPECT_THAT(details.out, HasSubstr("device.form_factor = \"headset\""));
}

TEST(KeyringService, StoresAndLooksUpASecretInItsOwnHome) {
    KeyringService keyring;
    PARLOWEN_REQUIRE_OR_SKIP(keyring.start());
    auto store = keyring.run({"secret-tool", "store", "--label=Parlowen fixture", "service", "parlowen-fixture",
                              "account", "tester"},
                             RunOptions{.input = "s3cret value"});
    ASSERT_TRUE(store.ok()) << store.describe();
    auto lookup = keyring.run({"secret-tool", "lookup", "service", "parlowen-fixture", "account", "tester"});
    ASSERT_TRUE(lookup.ok()) << lookup.describe();
    EXPECT_EQ(lookup.out, "s3cret value");
    EXPECT_TRUE(std::filesystem::exists(keyring.sandbox().home() / ".local/share/keyrings"));
}

TEST(AtspiBus, LauncherHandsOutTheAccessibilityBus) {
    AtspiBus atspi;
    PARLOWEN_REQUIRE_OR_SKIP(atspi.start());
    auto reply = atspi.run({"dbus-send", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                            "org.a11y.Bus.GetAddress"});
    ASSERT_TRUE(reply.ok()) << reply.describe();
    EXPECT_THAT(atspi.address(), StartsWith("unix:"));
    EXPECT_THAT(reply.out, HasSubstr("\"" + atspi.address() + "\""));
    // The accessibility bus itself answers.
    auto names = atspi.run({"dbus-send", "--bus=" + atspi.address(), "--print-reply", "--dest=org.freedesktop.DBus",
                            "/", "org.freedesktop.DBus.ListNames"});
    EXPECT_TRUE(names.ok()) << names.describe();
    EXPECT_EQ(atspi.environment().value("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), "1");
}

TEST(WindowManager, AnnouncesItselfOnTheRootWindow) {
    WindowManager wm;
    PARLOWEN_REQUIRE_OR_SKIP(wm.start());
    Display* x = XOpenDisplay(wm.display().displayName().c_str());
    ASSERT_NE(x, nullptr);
    EXPECT_NE(rootWindowProperty(x, "_NET_SUPPORTING_WM_CHECK"), 0u);
    XCloseDisplay(x);
}

// The launcher and the window manager must share the display, and the
// launcher the bus, for accessibility tests of real windows.
TEST(DesktopSession, PutsEveryServiceOnOneDisplayAndBus) {
    DesktopSession desktop;
    PARLOWEN_REQUIRE_OR_SKIP(desktop.start());
    auto env = desktop.environment();
    EXPECT_EQ(env.value("DISPLAY"), desktop.display().displayName());
    EXPECT_EQ(env.value("DBUS_SESSION_BUS_ADDRESS"), desktop.bus().address());
    auto root = desktop.run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK", "AT_SPI_BUS"});
    ASSERT_TRUE(root.ok()) << root.describe();
    EXPECT_THAT(root.out, HasSubstr("_NET_SUPPORTING_WM_CHECK(WINDOW): window id"));
    EXPECT_THAT(root.out, HasSubstr("AT_SPI_BUS(STRING) = \"" + desktop.atspi().address() + "\""));
    EXPECT_TRUE(desktop.bus().hasOwner("org.a11y.Bus"));
}

TEST(ServiceFixtures, TwoOfEachRunSideBySideWithoutSharingState) {
    XvfbDisplay displayA, displayB;
    PulseAudioServer pulseA, pulseB;
    KeyringService keyringA, keyringB;
    for (ServiceFixture* f : std::initializer_list<ServiceFixture*>{&displayA, &displayB, &pulseA, &pulseB,
                                                                    &keyringA, &keyringB}) {
        PARLOWEN_REQUIRE_OR_SKIP(f->start());
    }
    EXPECT_NE(displayA.displayName(), displayB.displayName());
    for (auto* d : {&displayA, &displayB}) {
        Display* x = XOpenDisplay(d->displayName().c_str());
        EXPECT_NE(x, nullptr) << d->displayName();
        if (x) XCloseDisplay(x);
    }
    EXPECT_NE(pulseA.serverPath(), pulseB.serverPath());
    for (auto* p : {&pulseA, &pulseB}) EXPECT_THAT(p->run({"pactl", "list", "short", "sinks"}).out, HasSubstr("ci_null"));

    EXPECT_NE(keyringA.bus().address(), keyringB.bus().address());
    ASSERT_TRUE(keyringA.run({"secret-tool", "store", "--label=a", "service", "side-by-side"}, RunOptions{.input = "a"})
                    .ok());
    EXPECT_EQ(keyringA.run({"secret-tool", "lookup", "service", "side-by-side"}).out, "a");
    EXPECT_EQ(keyringB.run({"secret-tool", "lookup", "service", "side-by-side"}).out, "");
}

TEST(ServiceFixtures, StopEndsEveryProcessTheyStarted) {
    DesktopSession desktop;
    KeyringService keyring(desktop.bus());
    PulseAudioServer pulse;
    PARLOWEN_REQUIRE_OR_SKIP(desktop.start());
    PARLOWEN_REQUIRE_OR_SKIP(keyring.start());
    PARLOWEN_REQUIRE_OR_SKIP(pulse.start());

    std::vector<pid_t> pids = keyring.pids();  // bus and keyring
    for (pid_t pid : desktop.pids())
        if (std::find(pids.begin(), pids.end(), pid) == pids.end()) pids.push_back(pid);
    for (pid_t pid : pulse.pids()) pids.push_back(pid);
    // Xvfb, session bus, window manager, AT-SPI launcher and its bus, keyring, pulseaudio.
    EXPECT_EQ(pids.size(), 7u);
    // The accessibility bus the launcher started is found through its socket path.
    EXPECT_GE(processesMentioning(desktop.sandbox().root().string()).size(), 2u);

    keyring.stop();
    pulse.stop();
    desktop.stop();
    EXPECT_FALSE(desktop.running());
    EXPECT_FALSE(desktop.display().running());
    for (pid_t pid : pids) EXPECT_TRUE(processGone(pid)) << pid;
    EXPECT_THAT(processesMentioning(desktop.sandbox().root().string()), ::testing::IsEmpty());
    EXPECT_THAT(processesMentioning(pulse.sandbox().root().string()), ::testing::IsEmpty());
}

TEST(ServiceFixtures, DestructionEndsTheDaemons) {
    std::vector<pid_t> pids;
    std::string root;
    {
        AtspiBus atspi;  // owns its display and bus
        PARLOWEN_REQUIRE_OR_SKIP(atspi.start());
        pids = atspi.pids();
        root = atspi.sandbox().root().string();
        EXPECT_EQ(pids.size(), 4u);  // display, session bus, launcher, accessibility bus
    }
    for (pid_t pid : pids) EXPECT_TRUE(processGone(pid)) << pid;
    EXPECT_THAT(processesMentioning(root), ::testing::IsEmpty());
    EXPECT_FALSE(std::filesystem::exists(root));
}

// A test process that dies without stopping its fixtures (a crash, a
// timeout): its daemons die with it, the accessibility bus that the
// launcher started included, and nothing of its session survives.
TEST(ServiceFixtures, NothingOfTheSessionSurvivesATestThatIsKilled) {
    const char* marker = "PARLOWEN_TEST_DIE_WITH_FIXTURES";
    if (platform::Environment::fromProcess().has(marker)) {
        AtspiBus atspi;
        PARLOWEN_REQUIRE_OR_SKIP(atspi.start());
        std::printf("root=%s\n", atspi.sandbox().root().c_str());
        std::fflush(stdout);
        ::raise(SIGKILL);
    }
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    auto r = runProcess({platform::executablePath().string(),
                         std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name()},
                        platform::Environment::fromProcess().with(marker, "1"), RunOptions{.timeout = 60s});
    const auto at = r.out.find("root=");
    if (at == std::string::npos) {
        // The session could not start there (skipped, or failed when services are required).
        if (r.out.find("[  SKIPPED ]") != std::string::npos) GTEST_SKIP() << r.out;
        FAIL() << r.describe();
    }
    EXPECT_EQ(r.signal, SIGKILL) << r.describe();
    const std::string root = r.out.substr(at + 5, r.out.find('\n', at) - at - 5);
    EXPECT_TRUE(waitUntil([&] { return processesMentioning(root).empty(); }, 10s))
        << ::testing::PrintToString(processesMentioning(root));
    // The killed test could not remove its temporary folder.
    const auto folder = std::filesystem::path(root).parent_path();
    if (folder.filename().string().starts_with("parlowen-test-")) std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace testsupport
