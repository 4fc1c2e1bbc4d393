#include <gtest/gtest.h>

#include <QCoreApplication>

#include <filesystem>
#include <vector>

#include "platform/runtime/Environment.h"
#include "platform/runtime/QtMainExecutor.h"
#include "platform/runtime/Resources.h"
#include "platform/testsupport/Process.h"
#include "platform/testsupport/TempHome.h"
#include "platform/ui/GSettingsReduceMotion.h"
#include "platform/ui/ReduceMotion.h"

namespace platform::ui {
namespace {

using namespace std::chrono_literals;

constexpr const char* kChildMarker = "PARLOWEN_GSETTINGS_CHILD";

bool inChild() { return Environment::fromProcess().has(kChildMarker); }

// GSettings reads its backend and schema folders once per process, so each
// case runs in a child process of its own with a fresh HOME.
Environment childEnvironment(const testsupport::TempDir& dir) {
    return Environment::fromProcess()
        .with("HOME", (dir / "home").string())
        .with("XDG_CONFIG_HOME", (dir / "config").string())
        .with("GSETTINGS_BACKEND", "keyfile")
        .without("GSETTINGS_SCHEMA_DIR")
        .with(kChildMarker, "1");
}

void runInChild(const Environment& env) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
    auto r = testsupport::runProcess({executablePath().string(), filter}, env, {.timeout = 45s});
    EXPECT_TRUE(r.ok()) << r.describe();
    EXPECT_NE(r.out.find("[  PASSED  ] 1 test."), std::string::npos) << r.out << r.err;
}

bool pumpUntil(const std::function<bool()>& done) {
    return testsupport::waitUntil(
        [&] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            return done();
        },
        10s);
}

TEST(ReduceMotion, TheSwitchDeliversTheCurrentValueThenChanges) {
    ReduceMotionSwitch motion;
    std::vector<bool> seen;
    auto sub = motion.stream().subscribe([&](bool on) { seen.push_back(on); });
    motion.set(true);
    EXPECT_TRUE(motion.isOn());
    EXPECT_EQ(seen, (std::vector<bool>{false, true}));
}

TEST(GSettingsReduceMotion, FollowsEnableAnimationsSetByAnotherProcess) {
    if (!inChild()) {
        testsupport::TempDir dir;
        const auto probe = testsupport::runProcess(
            {"gsettings", "get", GSettingsReduceMotion::kSchema, GSettingsReduceMotion::kKey}, childEnvironment(dir));
        if (!probe.ok()) GTEST_SKIP() << "gsettings or its desktop schemas are missing: " << probe.describe();
        return runInChild(childEnvironment(dir));
    }
    QtMainExecutor main;
    GSettingsReduceMotion motion(main);
    ASSERT_TRUE(motion.hasSchema());
    EXPECT_FALSE(motion.isOn()) << "animations are on by default";
    std::vector<bool> seen;
    auto sub = motion.stream().subscribe([&](bool on) { seen.push_back(on); });

    const auto env = Environment::fromProcess();
    auto set = [&](const char* value) {
        auto r = testsupport::runProcess(
            {"gsettings", "set", GSettingsReduceMotion::kSchema, GSettingsReduceMotion::kKey, value}, env);
        ASSERT_TRUE(r.ok()) << r.describe();
    };
    set("false");
    EXPECT_TRUE(pumpUntil([&] { return motion.isOn(); })) << "the change reached the running process";
    set("true");
    EXPECT_TRUE(pumpUntil([&] { return !motion.isOn(); }));
    EXPECT_EQ(seen, (std::vector<bool>{false, true, false}));
}

TEST(GSettingsReduceMotion, ReadsOffWithoutTheSchema) {
    if (!inChild()) {
        testsupport::TempDir dir;
        std::filesystem::create_directories(dir / "share");
        // Only an empty data folder: no compiled schemas at all.
        return runInChild(childEnvironment(dir).with("XDG_DATA_DIRS", (dir / "share").string()));
    }
    QtMainExecutor main;
    GSettingsReduceMotion motion(main);
    EXPECT_FALSE(motion.hasSchema());
    EXPECT_FALSE(motion.isOn());
    std::vector<bool> seen;
    auto sub = motion.stream().subscribe([&](bool on) { seen.push_back(on); });
    EXPECT_EQ(seen, (std::vector<bool>{false}));
}

}  // namespace
}  // namespace platform::ui
