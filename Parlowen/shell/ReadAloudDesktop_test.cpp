// A whole reading through the program on a real desktop: Xvfb with a window
// manager and AT-SPI, PulseAudio with a null sink, the program's own
// composition in a child. The test window holds a selected sentence pair,
// the read-aloud gesture (Ctrl+Shift+S) comes through the X server, the
// selection through the real clipboard, and the speech is recorded from the
// sink's monitor.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Parlowen/shell/KeychainStore.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/accessibility/TestTextWindow.h"
#include "platform/defaults/JsonFileUserDefaults.h"
#include "platform/keychain/SecretStore.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/LoopbackServer.h"
#include "platform/values/XdgDirs.h"
#include "platform/testsupport/Process.h"
#include "platform/testsupport/Services.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kText = "Hello there. This is a test.";
constexpr int kRate = 16000;

// 20 ms windows of the recording whose level is above the noise floor.
std::size_t audibleWindows(const std::filesystem::path& raw, std::size_t fromByte = 0) {
    std::ifstream in(raw, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t window = kRate / 50 * 2;
    std::size_t audible = 0;
    for (std::size_t at = fromByte; at + window <= bytes.size(); at += window) {
        double energy = 0;
        for (std::size_t i = at; i < at + window; i += 2) {
            const auto s = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                                     (static_cast<std::uint8_t>(bytes[i + 1]) << 8));
            energy += static_cast<double>(s) * s;
        }
        if (energy / (window / 2) > 200.0 * 200.0) ++audible;
    }
    return audible;
}

std::size_t fileSize(const std::filesystem::path& p) {
    std::error_code ec;
    auto n = std::filesystem::file_size(p, ec);
    return ec ? 0 : static_cast<std::size_t>(n);
}

// The desktop, the sound server and a keyring on the desktop's bus; the test
// window with the sentences selected; a recorder on the sink's monitor.
class ReadAloudDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        PARLOWEN_REQUIRE_OR_SKIP(desktop.start());
        PARLOWEN_REQUIRE_OR_SKIP(pulse.start());
        PARLOWEN_REQUIRE_OR_SKIP(keyring.start());
        env = desktop.environment().with("PULSE_SERVER", pulse.serverPath()).with("LANG", "en_US.UTF-8");

        // Assistive technology on, as the user grants it; the window starts after, so it is accessible.
        const auto enabled = desktop.run({"gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path",
                                          "/org/a11y/bus", "--method", "org.freedesktop.DBus.Properties.Set",
                                          "org.a11y.Status", "IsEnabled", "<true>"});
        ASSERT_TRUE(enabled.ok()) << enabled.describe();

        auto opened = testsupport::openTestTextWindow(desktop, "window", {"--text", kText});
        ASSERT_TRUE(opened) << opened.error().description;
        window = std::move(*opened);
        ASSERT_TRUE(desktop.run({"xdotool", "key", "ctrl+a"}).ok());
        ASSERT_TRUE(window->waitForLine(std::string("selection=") + kText));

        auto spawned = testsupport::Process::spawn(
            {"parec", "-d", std::string(testsupport::PulseAudioServer::kSinkName) + ".monitor", "--raw",
             "--format=s16le", "--rate=16000", "--channels=1", "--latency-msec=20", recording.string()},
            env);
        ASSERT_TRUE(spawned) << spawned.error().description;
        recorder = std::move(*spawned);
    }

    void TearDown() override {
        if (program) program->stop();
        if (recorder) recorder->stop();
    }

    void startProgram(const platform::Environment& programEnv) {
        auto spawned = testsupport::Process::spawn({PARLOWEN_EXECUTABLE}, programEnv.with("PARLOWEN_LOG_STDERR", "1"),
                                                   {.outputFile = desktop.sandbox().root() / "parlowen.log"});
        ASSERT_TRUE(spawned) << spawned.error().description;
        program = std::move(*spawned);
        // The hotkeys are registered once the coordinator has started.
        ASSERT_TRUE(testsupport::waitUntil([&] { return logged("event tap started"); }, 30s)) << program->output();
    }
    bool logged(const std::string& line) const { return program->output().find(line) != std::string::npos; }
    void pressReadAloud() { ASSERT_TRUE(desktop.run({"xdotool", "key", "ctrl+shift+s"}).ok()); }

    testsupport::DesktopSession desktop;
    testsupport::PulseAudioServer pulse;
    testsupport::KeyringService keyring{desktop.bus()};
    platform::Environment env = platform::Environment::fromProcess();
    std::optional<testsupport::TestTextWindow> window;
    std::filesystem::path recording = desktop.sandbox().root() / "speech.raw";
    std::optional<testsupport::Process> recorder, program;
};

TEST_F(ReadAloudDesktop, TheGestureReadsTheSelectionAloudWithTheSystemVoiceAndASecondPressStopsIt) {
    // What the user had on the clipboard (xclip keeps serving it in the background).
    ASSERT_TRUE(desktop.run({"xclip", "-selection", "clipboard"}, {.input = "user clip"}).ok());

    startProgram(env);
    if (HasFatalFailure()) return;
    // The new install's on-device voice gives way to the system voice once the program runs.
    ASSERT_TRUE(testsupport::waitUntil([&] { return logged("kokoro init failed"); }, 30s)) << program->output();

    pressReadAloud();
    ASSERT_TRUE(testsupport::waitUntil([&] { return logged("read-aloud: speaking 28 chars via appleSpeech"); }, 20s))
        << program->output();
    // The two sentences take about two seconds; at least a second of speech is heard, then the reading ends.
    EXPECT_TRUE(testsupport::waitUntil([&] { return audibleWindows(recording) >= 50; }, 15s))
        << "audible 20 ms windows: " << audibleWindows(recording) << "\n" << program->output();
    EXPECT_TRUE(testsupport::waitUntil([&] { return logged("read-aloud finished naturally"); }, 15s))
        << program->output();
    EXPECT_TRUE(logged("capture: chars=28")) << program->output();
    EXPECT_EQ(desktop.run({"xclip", "-selection", "clipboard", "-o"}).out, "user clip");

    // Read again, and stop it with a second press as soon as it is heard.
    const std::size_t before = audibleWindows(recording);
    pressReadAloud();
    ASSERT_TRUE(testsupport::waitUntil([&] { return audibleWindows(recording) >= before + 5; }, 15s));
    pressReadAloud();
    const std::size_t atStop = audibleWindows(recording);
    // Well under the rest of the reading is heard after the stop (what was already buffered).
    const std::size_t end = fileSize(recording) + kRate * 2 * 3;
    ASSERT_TRUE(testsupport::waitUntil([&] { return fileSize(recording) >= end; }, 15s));
    EXPECT_LT(audibleWindows(recording), atStop + 20) << "heard after the stop";
    // The second reading was stopped, not finished.
    const std::string out = program->output();
    std::size_t finishes = 0;
    for (auto at = out.find("read-aloud finished naturally"); at != std::string::npos;
         at = out.find("read-aloud finished naturally", at + 1))
        ++finishes;
    EXPECT_EQ(finishes, 1u) << out;
}

TEST_F(ReadAloudDesktop, ACloudVoiceThatFailsIsHeardThroughTheSystemVoiceAfterTheFallback) {
    testsupport::LoopbackServer openAI;
    openAI.route("POST", "/v1/audio/speech", testsupport::LoopbackReply::text(500, "{\"error\":\"boom\"}"));
    {
        // The user picked OpenAI and stored a key.
        keyring.exportToProcess();
        auto secrets = platform::makeLibsecretStore();
        platform::ManualExecutor unused;
        ASSERT_TRUE(parlowen::KeychainStore(*secrets, unused).write(parlowen::KeychainStore::Key::openAI, "sk-test"));
        platform::JsonFileUserDefaults defaults(platform::JsonFileUserDefaults::pathForDomain(
            platform::XdgDirs(env), platform::JsonFileUserDefaults::kApplicationDomain));
        parlowen::PreferencesStore(defaults, {}).readAloudEngine.set(parlowen::ReadAloudEngineKind::openai);
    }
    startProgram(env.with("PARLOWEN_OPENAI_BASE_URL", openAI.baseUrl()));
    if (HasFatalFailure()) return;

    pressReadAloud();
    ASSERT_TRUE(testsupport::waitUntil([&] { return logged("read-aloud: speaking 28 chars via openai"); }, 20s))
        << program->output();
    EXPECT_TRUE(testsupport::waitUntil(
        [&] {
            return logged("read-aloud auto-fallback: openai → appleSpeech after engine error; re-speaking 28 chars");
        },
        20s))
        << program->output();
    EXPECT_TRUE(testsupport::waitUntil([&] { return audibleWindows(recording) >= 50; }, 15s))
        << "audible 20 ms windows: " << audibleWindows(recording) << "\n" << program->output();
    EXPECT_GE(openAI.requestCount(), 1u);
}

}  // namespace
