// A whole dictation on a real desktop: Xvfb with a window manager, a private
// bus with AT-SPI, and PulseAudio with a "speech" sink whose monitor is the
// default microphone ("espeak_mic"). The gesture comes from the X11 tap, the
// capture from PulseAudio, the recogniser is PocketSphinx narrowed to a
// small grammar, the panel is the Qt one, and the text goes into the focused
// test window through the real inserter. Speech is synthesised by espeak-ng
// and played into "speech" once the capture stream has run for a second.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include <fstream>

#include "Parlowen/dictation/AudioCapture.h"
#include "Parlowen/dictation/AudioDeviceCatalog.h"
#include "Parlowen/dictation/DictationCoordinator.h"
#include "Parlowen/dictation/DictationEngines.h"
#include "Parlowen/dictation/HotkeyManager.h"
#include "Parlowen/dictation/LivePartialHUD.h"
#include "Parlowen/dictation/TextInserter.h"
#include "Parlowen/dictation/views/LivePartialHUDPanel.h"
#include "Parlowen/shell/KeychainStore.h"
#include "Parlowen/shell/PasteboardArbiter.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/accessibility/AtspiAccessibility.h"
#include "platform/accessibility/TestTextWindow.h"
#include "platform/audio/PulseAudio.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/http/FakeHttpClient.h"
#include "platform/keychain/SecretStore.h"
#include "platform/keyevents/KeyEventSource.h"
#include "platform/keystrokes/XTestKeystrokePoster.h"
#include "platform/pasteboard/QtPasteboard.h"
#include "platform/permissions/PermissionSource.h"
#include "platform/runtime/QtMainExecutor.h"
#include "platform/runtime/WorkerPool.h"
#include "platform/speech/PocketSphinxRecognizer.h"
#include "platform/speechsynth/EspeakSpeechSynthesizer.h"
#include "platform/testsupport/SpokenMicrophone.h"
#include "platform/testsupport/OnDisplay.h"
#include "platform/testsupport/Services.h"
#include "platform/testsupport/TempHome.h"
#include "platform/ui/LinuxAnnouncer.h"
#include "platform/ui/ReduceMotion.h"
#include "platform/x11/X11Workspace.h"

namespace parlowen {
namespace {

using namespace std::chrono_literals;

constexpr const char* kPhrase = "hello world second sentence";
// The parent tells the child which process owns the focused window.
constexpr const char* kWindowPid = "PARLOWEN_TEST_WINDOW_PID";

// Everything a dictation needs, on this process's display, bus and sound server.
struct LiveDictation {
    explicit LiveDictation(const std::filesystem::path& grammar)
        : env(platform::Environment::fromProcess()),
          pulse(env),
          audio(pulse.makeInputEngine(), pulse, defaults, main),
          workspace(env),
          accessibility(env,
                        [this]() -> std::optional<pid_t> {
                            auto app = workspace.frontmostApplication();
                            return app ? std::optional<pid_t>(app->processIdentifier) : std::nullopt;
                        }),
          pasteboard(env),
          arbiter(main),
          keystrokes(env),
          inserter(arbiter, pasteboard, accessibility, workspace, keystrokes),
          catalog(pulse, main),
          announcer(platform::Logger("com.kelvatrum.Parlowen", "hud")),
          motion(false),
          hud(preferences, catalog, main, announcer, qtLivePartialHUDPanel(motion)),
          engines(
              [grammar](const std::optional<std::string>& locale) -> std::shared_ptr<platform::SpeechRecognizer> {
                  auto model = platform::PocketSphinxModel::forLocale(locale.value_or("en-US"));
                  if (!model) return nullptr;
                  model->grammar = grammar;
                  return std::make_shared<platform::PocketSphinxRecognizer>(*model);
              },
              background, http),
          keychain(secrets, background),
          coordinator({.permissions = permissions, .preferences = preferences, .hud = hud, .audio = audio,
                       .inserter = inserter, .engines = engines, .keychain = keychain,
                       .accessibility = accessibility, .workspace = workspace, .main = main,
                       .locale = platform::PocketSphinxModel::defaultLocaleIdentifier(env)}) {}

    platform::Environment env;
    platform::QtMainExecutor main;
    platform::WorkerPool background{2};
    platform::InMemoryUserDefaults defaults;
    PreferencesStore preferences{defaults, {}};
    platform::PulseAudio pulse;
    AudioCapture audio;
    platform::X11Workspace workspace;
    platform::AtspiAccessibility accessibility;
    platform::QtPasteboard pasteboard;
    PasteboardArbiter arbiter;
    platform::XTestKeystrokePoster keystrokes;
    TextInserter inserter;
    AudioDeviceCatalog catalog;
    platform::ui::LinuxAnnouncer announcer;
    platform::ui::ReduceMotionSwitch motion;
    LivePartialHUD hud;
    platform::FakeHttpClient http;
    AppDictationEngineFactory engines;
    // The permission layer is not what this test is about: all granted.
    platform::ScriptedPermissionSource micSource{3}, speechSource{3}, axSource{1}, inputSource{0};
    PermissionsManager permissions{PermissionSources{micSource, speechSource, axSource, inputSource}, main};
    platform::InMemorySecretStore secrets;
    KeychainStore keychain;
    DictationCoordinator coordinator;
};

// The child: drives one dictation with the gesture the parent named.
void dictateOnThisDisplay(bool holdGesture) {
    const auto env = platform::Environment::fromProcess();
    const pid_t windowPid = static_cast<pid_t>(std::stol(env.value(kWindowPid)));
    testsupport::TempDir dir;
    const auto grammar = dir / "phrases.gram";
    // The other phrases begin as the spoken one does: an early hypothesis of
    // another phrase would look like a fresh start to the engine, which
    // keeps the text it had as a segment of its own.
    std::ofstream(grammar) << "#JSGF V1.0;\ngrammar phrases;\n"
                              "public <phrase> = hello world second sentence | hello there | help me please;\n";
    const auto speech = testsupport::espeakBuffers(kPhrase);
    ASSERT_FALSE(speech.empty()) << "espeak-ng gave no audio";

    LiveDictation d(grammar);
    ASSERT_TRUE(d.accessibility.requestTrust());
    const KeyCombo superShiftD{0x02, ModifierFlags::command | ModifierFlags::shift};
    d.preferences.dictationGesture.set(holdGesture ? Gesture::hold(Hotkey::rightOption) : Gesture::combo(superShiftD));
    std::string finalText;
    bool finalized = false;
    std::vector<std::string> startErrors;
    d.coordinator.onSessionFinalizedWithText = [&](const std::string& t) { finalText = t; };
    d.coordinator.onSessionFinalized = [&] { finalized = true; };
    d.coordinator.onStartError = [&](const std::string& m) { startErrors.push_back(m); };
    d.coordinator.bindAudioCallbacks();

    // The tap's edges go straight to the coordinator (routing comes with the application).
    auto source = platform::makeX11KeyEventSource(env);
    HotkeyManager manager(*source, d.main, holdGesture ? std::vector<Hotkey>{Hotkey::rightOption} : std::vector<Hotkey>{},
                          holdGesture ? std::vector<KeyCombo>{} : std::vector<KeyCombo>{superShiftD});
    manager.setOnHoldDown([&](Hotkey h) { d.coordinator.handleHotkeyPress(h); });
    manager.setOnHoldUp([&](Hotkey h) { d.coordinator.handleHotkeyRelease(h); });
    manager.setOnComboTrigger([&](KeyCombo) { d.coordinator.toggle(); });
    ASSERT_TRUE(manager.start());

    auto xdotool = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "xdotool");
        auto r = testsupport::runProcess(args, env);
        ASSERT_TRUE(r.ok()) << r.describe();
    };
    // XTest presses: Right Alt by key code (108), or Super+Shift+D.
    if (holdGesture) xdotool({"keydown", "108"});
    else xdotool({"key", "super+shift+d"});
    ASSERT_TRUE(testsupport::pumpUntil([&] { return d.audio.isRunning(); }, 30s)) << "the microphone never started";
    EXPECT_TRUE(startErrors.empty()) << startErrors.front();
    testsupport::pumpUntil([] { return false; }, 1s);

    // The other application keeps the focus while the panel shows.
    EXPECT_TRUE(qtWindowOf(d.hud).isVisible());
    auto front = d.workspace.frontmostApplication();
    ASSERT_TRUE(front);
    EXPECT_EQ(front->processIdentifier, windowPid);

    auto stream = d.pulse.openStream({.sinkName = "speech", .sampleRate = speech.front().format().sampleRate,
                                      .channels = 1, .streamName = "espeak"});
    ASSERT_TRUE(stream) << stream.error().description;
    std::atomic<bool> played{false};
    for (std::size_t i = 0; i < speech.size(); ++i) {
        const bool last = i + 1 == speech.size();
        ASSERT_TRUE((*stream)->schedule(speech[i], [&played, last](platform::ScheduledBufferEnd) {
            if (last) played = true;
        }));
    }
    ASSERT_TRUE((*stream)->play());
    ASSERT_TRUE(testsupport::pumpUntil([&] { return played.load(); }, 30s));
    testsupport::pumpUntil([] { return false; }, 1s);
    // The desktop as the user sees it now (for a look by hand).
    std::filesystem::create_directories(PARLOWEN_SCREENSHOT_DIR);
    if (auto* screen = QGuiApplication::primaryScreen())
        screen->grabWindow(0).save(QString::fromStdString(std::string(PARLOWEN_SCREENSHOT_DIR) + "/dictation-" +
                                                          (holdGesture ? "hold" : "combo") + ".png"));
    front = d.workspace.frontmostApplication();
    ASSERT_TRUE(front);
    EXPECT_EQ(front->processIdentifier, windowPid);

    if (holdGesture) xdotool({"keyup", "108"});
    else xdotool({"key", "super+shift+d"});
    ASSERT_TRUE(testsupport::pumpUntil([&] { return finalized; }, 30s)) << "the session never ended";
    EXPECT_EQ(finalText, kPhrase);
    EXPECT_FALSE(qtWindowOf(d.hud).isVisible());
    // The text reaches the field before everything goes.
    EXPECT_TRUE(testsupport::pumpUntil(
        [&] {
            auto focused = d.accessibility.focusedElement();
            return focused && *focused && (*focused)->value() == std::string(kPhrase);
        },
        30s));
    manager.stop();
}

void runDictationCase(bool holdGesture) {
    if (testsupport::onDisplayChild()) {
        dictateOnThisDisplay(holdGesture);
        return;
    }
    if (!platform::PocketSphinxModel::forLocale("en-US")) GTEST_SKIP() << "pocketsphinx-en-us is not installed";
    PARLOWEN_REQUIRE_OR_SKIP(platform::EspeakSpeechSynthesizer::available());
    testsupport::DesktopSession desktop;
    PARLOWEN_REQUIRE_OR_SKIP(desktop.start());
    testsupport::PulseAudioServer sound;
    PARLOWEN_REQUIRE_OR_SKIP(sound.start());
    auto routed = testsupport::routeSpeechSinkToMicrophone(sound);
    ASSERT_TRUE(routed.ok()) << routed.describe();
    auto window = testsupport::openFocusedTestTextWindow(desktop, "window", {"--focus", "line"});
    ASSERT_TRUE(window) << window.error().description;
    testsupport::runCurrentTestOnDisplay(desktop.environment()
                                             .with("PULSE_SERVER", sound.serverPath())
                                             .with(kWindowPid, std::to_string(window->process.pid())),
                                         150s);
    EXPECT_TRUE(window->waitForLine(std::string("line=") + kPhrase, 10s)) << window->process.output();
}

TEST(DictationDesktop, HoldingRightAltWhileSpeakingTypesThePhraseIntoTheFocusedWindow) { runDictationCase(true); }

TEST(DictationDesktop, SuperShiftDTwiceAroundSpeechTypesThePhraseIntoTheFocusedWindow) { runDictationCase(false); }

}  // namespace
}  // namespace parlowen
