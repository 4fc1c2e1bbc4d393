#include "Parlowen/shell/AppComposition.h"

#include "Parlowen/brand/UsageLog.h"
#include "Parlowen/dictation/AudioCapture.h"
#include "Parlowen/dictation/AudioDeviceCatalog.h"
#include "Parlowen/dictation/DictationCoordinator.h"
#include "Parlowen/dictation/DictationEngines.h"
#include "Parlowen/dictation/HotkeyManager.h"
#include "Parlowen/dictation/LivePartialHUD.h"
#include "Parlowen/dictation/TextInserter.h"
#include "Parlowen/dictation/views/LivePartialHUDPanel.h"
#include "Parlowen/preferences/views/PermissionPreScreen.h"
#include "Parlowen/preferences/views/PreferencesWindow.h"
#include "Parlowen/shell/AppCoordinator.h"
#include "Parlowen/shell/BundleInfo.h"
#include "Parlowen/shell/KeychainStore.h"
#include "Parlowen/shell/LookoutClient.h"
#include "Parlowen/shell/MemoryMonitor.h"
#include "Parlowen/shell/PasteboardArbiter.h"
#include "Parlowen/shell/PermissionsManager.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "Parlowen/shell/settings/SystemNames.h"
#include "platform/accessibility/AccessibilityPermissionSource.h"
#include "platform/accessibility/AtspiAccessibility.h"
#include "platform/audio/PulseAudio.h"
#include "platform/crashreporter/CrashReporter.h"
#include "platform/defaults/JsonFileUserDefaults.h"
#include "platform/http/CurlHttpClient.h"
#include "platform/keychain/SecretStore.h"
#include "platform/keyevents/KeyEventSource.h"
#include "platform/keystrokes/XTestKeystrokePoster.h"
#include "platform/memory/ResidentMemory.h"
#include "platform/pasteboard/QtPasteboard.h"
#include "platform/runtime/Strand.h"
#include "platform/runtime/WorkerPool.h"
#include "platform/speech/PocketSphinxRecognizer.h"
#include "platform/speech/SpeechPermissionSource.h"
#include "platform/text/Format.h"
#include "platform/ui/LinuxAnnouncer.h"
#include "platform/ui/ReduceMotion.h"
#include "platform/values/Date.h"
#include "platform/values/XdgDirs.h"
#include "platform/x11/X11Workspace.h"

namespace parlowen {

namespace {

class DictationAdapter final : public DictationMode {
public:
    explicit DictationAdapter(std::unique_ptr<DictationCoordinator> c) : c_(std::move(c)) {}
    bool isRecording() const override { return c_->isRecording(); }
    bool isPendingFinalize() const override { return c_->isPendingFinalize(); }
    void bindAudioCallbacks() override { c_->bindAudioCallbacks(); }
    void handleHotkeyPress(Hotkey key) override { c_->handleHotkeyPress(key); }
    void handleHotkeyRelease(Hotkey key) override { c_->handleHotkeyRelease(key); }
    void toggle() override { c_->toggle(); }
    void finalizeForModeArbitration() override { c_->finalizeForModeArbitration(); }
    void cancel() override { c_->cancel(); }

private:
    std::unique_ptr<DictationCoordinator> c_;
};

class PanelAdapter final : public DictationPanel {
public:
    explicit PanelAdapter(LivePartialHUD& hud) : hud_(hud) {}
    void setOnSelectInputDevice(std::function<void(std::optional<std::string>)> f) override {
        hud_.onSelectInputDevice = [f = std::move(f)](const std::optional<std::string>& uid) { f(uid); };
    }
    void setOnCancel(std::function<void()> f) override { hud_.onCancel = std::move(f); }

private:
    LivePartialHUD& hud_;
};

}  // namespace

struct AppComposition::Parts : AppComponentFactory {
    Parts(platform::Environment env, platform::Executor& main)
        : env(std::move(env)), main(main), dirs(this->env) {}

    std::unique_ptr<DictationMode> makeDictation() override {
        auto coordinator = std::make_unique<DictationCoordinator>(DictationCoordinator::Dependencies{
            .permissions = *permissions, .preferences = *preferences, .hud = *hud, .audio = *audio,
            .inserter = *inserter, .engines = *engines, .keychain = *keychain, .accessibility = *accessibility,
            .workspace = *workspace, .main = main,
            .locale = platform::PocketSphinxModel::defaultLocaleIdentifier(env),
            .presentPermissionPreScreen = [this](PermissionKind kind) { permissionPreScreen().present(kind); }});
        return std::make_unique<DictationAdapter>(std::move(coordinator));
    }

    std::unique_ptr<PreferencesWindow> makePreferencesWindow(PreferencesTab initialTab) override {
        PreferencesContext context{.preferences = *preferences, .permissions = *permissions,
                                   .workspace = *workspace, .main = main,
                                   // Onboarding and the read-aloud preview come with their own issues' wiring.
                                   .replayOnboarding = {}, .previewVoice = {}};
        return std::make_unique<PreferencesWindowController>(std::move(context), preferencesPages, initialTab);
    }

    // The one pre-screen window controller, built on first use.
    PermissionPreScreenWindowController& permissionPreScreen() {
        if (!preScreen)
            preScreen = std::make_unique<PermissionPreScreenWindowController>(*permissions, *workspace, main,
                                                                              preferences.get());
        return *preScreen;
    }

    platform::Environment env;
    platform::Executor& main;
    platform::XdgDirs dirs;
    platform::WorkerPool background{2};
    // Keychain calls, in order, off the main thread (one may wait for an unlock prompt).
    platform::Strand keychainWork{background};
    platform::SystemClock clock;

    std::unique_ptr<platform::JsonFileUserDefaults> defaults;
    std::unique_ptr<PreferencesStore> preferences;
    std::unique_ptr<platform::CrashReporter> reporter;
    std::unique_ptr<LookoutClient> lookout;

    std::unique_ptr<platform::PulseAudio> pulse;
    std::unique_ptr<AudioCapture> audio;
    std::unique_ptr<AudioDeviceCatalog> catalog;
    std::unique_ptr<platform::X11Workspace> workspace;
    std::unique_ptr<platform::AtspiAccessibility> accessibility;
    std::unique_ptr<platform::QtPasteboard> pasteboard;
    std::unique_ptr<PasteboardArbiter> arbiter;
    std::unique_ptr<platform::XTestKeystrokePoster> keystrokes;
    std::unique_ptr<TextInserter> inserter;
    std::unique_ptr<platform::ui::LinuxAnnouncer> announcer;
    platform::ui::ReduceMotionSwitch motion{false};
    std::unique_ptr<LivePartialHUD> hud;
    std::unique_ptr<PanelAdapter> panel;
    std::unique_ptr<platform::CurlHttpClient> http;
    std::unique_ptr<AppDictationEngineFactory> engines;
    std::unique_ptr<platform::SecretStore> secrets;
    std::unique_ptr<KeychainStore> keychain;
    std::unique_ptr<platform::KeyEventSource> keySource;
    std::unique_ptr<platform::PermissionSource> micSource, speechSource, axSource, inputSource;
    std::unique_ptr<PermissionsManager> permissions;
    std::unique_ptr<HotkeyManager> hotkey;
    std::unique_ptr<MemoryMonitor> memory;
    std::unique_ptr<UsageLog> usageLog;
    // The Preferences window's page table; the pages' issues register theirs here.
    std::shared_ptr<PreferencesPages> preferencesPages = std::make_shared<PreferencesPages>();
    std::unique_ptr<PermissionPreScreenWindowController> preScreen;
};

AppComposition::AppComposition(platform::Environment environment, platform::Executor& main)
    : parts_(std::make_unique<Parts>(std::move(environment), main)) {}

AppComposition::~AppComposition() = default;

void AppComposition::createSettings() {
    auto& p = *parts_;
    p.defaults = std::make_unique<platform::JsonFileUserDefaults>(
        platform::JsonFileUserDefaults::pathForDomain(p.dirs, platform::JsonFileUserDefaults::kApplicationDomain));
    p.preferences = std::make_unique<PreferencesStore>(
        *p.defaults, PreferencesStore::Dependencies{
                         .clearDictationHistory = {},
                         .isOnDeviceModelAvailable = [] { return false; },
                         .fullUserName = systemFullUserName,
                         .computerName = systemComputerName});
}

void AppComposition::startCrashReporter() {
    auto& p = *parts_;
    p.reporter = platform::makeLocalCrashReporter();
    p.lookout = std::make_unique<LookoutClient>(*p.reporter, BundleInfo::thisBuild(), p.env.value("HOME"));
    p.lookout->start(*p.preferences);
}

std::unique_ptr<DelegateCoordinator> AppComposition::makeCoordinator() {
    auto& p = *parts_;
    p.pulse = std::make_unique<platform::PulseAudio>(p.env);
    p.audio = std::make_unique<AudioCapture>(p.pulse->makeInputEngine(), *p.pulse, *p.defaults, p.main);
    p.catalog = std::make_unique<AudioDeviceCatalog>(*p.pulse, p.main);
    p.workspace = std::make_unique<platform::X11Workspace>(p.env);
    p.accessibility = std::make_unique<platform::AtspiAccessibility>(p.env, [&p]() -> std::optional<pid_t> {
        auto app = p.workspace->frontmostApplication();
        return app ? std::optional<pid_t>(app->processIdentifier) : std::nullopt;
    });
    p.pasteboard = std::make_unique<platform::QtPasteboard>(p.env);
    p.arbiter = std::make_unique<PasteboardArbiter>(p.main);
    p.keystrokes = std::make_unique<platform::XTestKeystrokePoster>(p.env);
    p.inserter = std::make_unique<TextInserter>(*p.arbiter, *p.pasteboard, *p.accessibility, *p.workspace, *p.keystrokes);
    p.announcer = std::make_unique<platform::ui::LinuxAnnouncer>(platform::Logger("com.kelvatrum.Parlowen", "hud"));
    p.hud = std::make_unique<LivePartialHUD>(*p.preferences, *p.catalog, p.main, *p.announcer,
                                             qtLivePartialHUDPanel(p.motion));
    p.panel = std::make_unique<PanelAdapter>(*p.hud);
    p.http = std::make_unique<platform::CurlHttpClient>();
    p.engines = std::make_unique<AppDictationEngineFactory>(
        [](const std::optional<std::string>& locale) -> std::shared_ptr<platform::SpeechRecognizer> {
            auto model = platform::PocketSphinxModel::forLocale(locale.value_or("en-US"));
            if (!model) return nullptr;
            return std::make_shared<platform::PocketSphinxRecognizer>(*model);
        },
        p.background, *p.http);
    p.secrets = platform::makeLibsecretStore();
    p.keychain = std::make_unique<KeychainStore>(*p.secrets, p.keychainWork);
    p.keySource = platform::makeX11KeyEventSource(p.env);
    p.micSource = p.pulse->makeMicrophonePermission();
    p.speechSource = std::make_unique<platform::SpeechPermissionSource>(
        platform::PocketSphinxModel::forLocale(platform::PocketSphinxModel::defaultLocaleIdentifier(p.env)),
        p.background);
    p.axSource = std::make_unique<platform::AccessibilityPermissionSource>(*p.accessibility);
    p.inputSource = std::make_unique<platform::InputMonitoringPermissionSource>(*p.keySource);
    p.permissions = std::make_unique<PermissionsManager>(
        PermissionSources{*p.micSource, *p.speechSource, *p.axSource, *p.inputSource}, p.main);
    p.hotkey = std::make_unique<HotkeyManager>(*p.keySource, p.main);
    p.memory = std::make_unique<MemoryMonitor>(p.main, p.background, platform::procResidentSizeReader());
    p.usageLog = std::make_unique<UsageLog>(
        UsageLog::Dependencies{.main = p.main, .background = p.background, .clock = p.clock,
                               .timeZone = platform::text::TimeZone::system(p.env)},
        UsageLog::defaultStorageURL(p.dirs));

    AppServices services;
    services.startMemoryMonitor = [&p] { p.memory->start(); };
    services.stopMemoryMonitor = [&p] { p.memory->stop(); };
    services.flushUsageLog = [&p] { p.usageLog->flush(); };
    services.systemDefaultInputUID = [&p] { return p.catalog->systemDefaultInputUID.get(); };
    services.inputDevices = [&p] {
        std::vector<InputDevice> devices;
        for (const auto& d : p.catalog->inputDevices.get()) devices.push_back({d.uid, d.name, d.transport});
        return devices;
    };
    return std::make_unique<AppCoordinator>(AppCoordinator::Dependencies{
        .preferences = *p.preferences, .hotkey = *p.hotkey, .hud = *p.panel, .factory = p,
        .environment = p.env, .main = p.main, .services = std::move(services)});
}

bool AppComposition::hideMenuBarIcon() const {
    return parts_->preferences && parts_->preferences->hideMenuBarIcon();
}

}  // namespace parlowen
