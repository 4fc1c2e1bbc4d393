// The whole program on a real desktop: Xvfb with a window manager, a private
// bus with AT-SPI, and PulseAudio with a "speech" sink whose monitor is the
// default microphone ("espeak_mic"). The program runs as `main` builds it, in
// a child process; its recogniser is narrowed to a small grammar. The test
// presses the gesture through XTest, plays the phrase (synthesised by
// espeak-ng) into "speech" once the capture runs, and reads what the focused
// test window received.

#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>

#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/accessibility/TestTextWindow.h"
#include "platform/audio/AudioFile.h"
#include "platform/defaults/JsonFileUserDefaults.h"
#include "platform/speech/PocketSphinxRecognizer.h"
#include "platform/speechsynth/EspeakSpeechSynthesizer.h"
#include "platform/testsupport/SpokenMicrophone.h"
#include "platform/testsupport/Services.h"
#include "platform/testsupport/TempHome.h"
#include "platform/values/XdgDirs.h"

namespace parlowen {
namespace {

using namespace std::chrono_literals;

constexpr const char* kPhrase = "hello world second sentence";

// The phrase as espeak-ng speaks it, with a second of silence before and
// after, so the recogniser hears it start and end.
platform::Status writeSpokenPhrase(const std::filesystem::path& wav) {
    const auto buffers = testsupport::espeakBuffers(kPhrase);
    if (buffers.empty()) return platform::fail(platform::Error::make("test", 1, "noSpeech", "espeak-ng gave no audio"));
    const auto format = buffers.front().format();
    auto writer = platform::AudioFileWriter::create(wav, platform::AudioFileType::wav, format.sampleRate, 1);
    if (!writer) return platform::fail(writer.error());
    platform::PcmBuffer silence(format, static_cast<std::uint32_t>(format.sampleRate));
    silence.setFrameLength(silence.frameCapacity());
    if (auto s = writer->write(silence); !s) return s;
    for (const auto& b : buffers)
        if (auto s = writer->write(b); !s) return s;
    if (auto s = writer->write(silence); !s) return s;
    return writer->close();
}

class AppDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!platform::PocketSphinxModel::forLocale("en-US")) GTEST_SKIP() << "pocketsphinx-en-us is not installed";
        PARLOWEN_REQUIRE_OR_SKIP(platform::EspeakSpeechSynthesizer::available());
        PARLOWEN_REQUIRE_OR_SKIP(desktop.start());
        PARLOWEN_REQUIRE_OR_SKIP(sound.start());
        auto routed = testsupport::routeSpeechSinkToMicrophone(sound);
        ASSERT_TRUE(routed.ok()) << routed.describe();
        // The user has turned assistive technology on (the accessibility permission).
        auto trusted = desktop.run({"gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path",
                                    "/org/a11y/bus", "--method", "org.freedesktop.DBus.Properties.Set",
                                    "org.a11y.Status", "IsEnabled", "<true>"});
        ASSERT_TRUE(trusted.ok()) << trusted.describe();
        std::ofstream(grammar) << "#JSGF V1.0;\ngrammar phrases;\n"
                                  "public <phrase> = hello world second sentence | hello there | help me please;\n";
        auto spoken = writeSpokenPhrase(phrase);
        ASSERT_TRUE(spoken) << spoken.error().description;
        environment = desktop.environment()
                          .with("PULSE_SERVER", sound.serverPath())
                          .with("PARLOWEN_TEST_GRAMMAR", grammar.string())
                          .with("PARLOWEN_LOG_STDERR", "1");
    }

    std::filesystem::path settingsFile() const {
        return platform::JsonFileUserDefaults::pathForDomain(platform::XdgDirs(environment),
                                                             platform::JsonFileUserDefaults::kApplicationDomain);
    }

    platform::Result<testsupport::Process> startProgram() {
        return testsupport::Process::spawn({PARLOWEN_PROGRAM_UNDER_TEST}, environment,
                                           {.outputFile = desktop.sandbox().root() / "program.log"});
    }

    void xdotool(std::vector<std::string> args) {
        args.insert(args.begin(), "xdotool");
        auto r = desktop.run(args);
        ASSERT_TRUE(r.ok()) << r.describe();
    }

    // One dictation into the focused window: `press` starts it, the phrase
    // plays once the capture runs, `release` ends it.
    void dictate(const std::vector<std::string>& press, const std::vector<std::string>& release) {
        auto window = testsupport::openFocusedTestTextWindow(desktop, "window", {"--focus", "line"});
        ASSERT_TRUE(window) << window.error().description;
        auto program = startProgram();
        ASSERT_TRUE(program) << program.error().description;
        ASSERT_TRUE(testsupport::waitUntil(
            [&] { return program->output().find("event tap started") != std::string::npos || !program->running(); },
            30s))
            << program->output();
        ASSERT_TRUE(program->running()) << program->output();

        xdotool(press);
        ASSERT_TRUE(testsupport::waitUntil(
            [&] { return program->output().find("audio input format") != std::string::npos; }, 30s))
            << "the microphone never started\n" << program->output();
        // The panel shows without taking the focus from the window.
        EXPECT_TRUE(testsupport::waitUntil(
            [&] { return desktop.run({"xdotool", "search", "--onlyvisible", "--pid",
                                      std::to_string(program->pid())}).ok(); },
            10s))
            << "no panel of the program is visible";
        auto active = desktop.run({"xdotool", "getactivewindow"});
        EXPECT_EQ(active.out, std::to_string(window->window) + "\n");

        // The desktop as the user sees it now (for a look by hand).
        std::filesystem::create_directories(PARLOWEN_SCREENSHOT_DIR);
        desktop.run({"import", "-window", "root",
                     std::string(PARLOWEN_SCREENSHOT_DIR) + "/" +
                         ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".png"});
        auto played = sound.run({"paplay", "--device=speech", phrase.string()}, {.timeout = 60s});
        ASSERT_TRUE(played.ok()) << played.describe();
        xdotool(release);
        EXPECT_TRUE(window->waitForLine(std::string("line=") + kPhrase, 60s))
            << window->process.output() << "\n" << program->output();
        active = desktop.run({"xdotool", "getactivewindow"});
        EXPECT_EQ(active.out, std::to_string(window->window) + "\n");

        // A second start hands the running one a reopen request and ends at once.
        auto second = testsupport::runProcess({PARLOWEN_PROGRAM_UNDER_TEST}, environment, {.timeout = 20s});
        EXPECT_EQ(second.exitCode, 0) << second.describe();
        EXPECT_NE(second.err.find("another instance is running"), std::string::npos) << second.describe();
        EXPECT_TRUE(program->running());

        ASSERT_EQ(::kill(program->pid(), SIGTERM), 0);
        ASSERT_TRUE(program->waitForExit(20s)) << program->output();
        auto status = program->exitStatus();
        ASSERT_TRUE(status);
        EXPECT_EQ(status->code, 0) << program->output();
        EXPECT_NE(program->output().find("exit code=0"), std::string::npos) << program->output();

        platform::JsonFileUserDefaults settings(settingsFile());
        EXPECT_TRUE(settings.readBool("hasAutoSelectedInputDevice").hasValue());
        EXPECT_TRUE(settings.boolForKey("hasAutoSelectedInputDevice"));
    }

    testsupport::DesktopSession desktop;
    testsupport::PulseAudioServer sound;
    testsupport::TempDir dir;
    std::filesystem::path grammar = dir / "phrases.gram";
    std::filesystem::path phrase = dir / "phrase.wav";
    platform::Environment environment;
};

TEST_F(AppDesktopTest, SuperShiftDTwiceAroundSpeechTypesThePhraseIntoTheFocusedWindow) {
    dictate({"key", "super+shift+d"}, {"key", "super+shift+d"});
}

TEST_F(AppDesktopTest, HoldingRightOptionFromTheSettingsFileTypesThePhraseIntoTheFocusedWindow) {
    {
        platform::JsonFileUserDefaults defaults(settingsFile());
        PreferencesStore preferences(defaults, {});
        preferences.dictationGesture.set(Gesture::hold(Hotkey::rightOption));
    }
    dictate({"keydown", "108"}, {"keyup", "108"});
}

}  // namespace
}  // namespace parlowen
