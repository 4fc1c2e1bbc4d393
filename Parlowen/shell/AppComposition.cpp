#include "Parlowen/shell/AppComposition.h"

#include <algorithm>

#include <QApplication>
#include <QGuiApplication>
#include <QWidget>

#include "Parlowen/brand/QuonReportWindow.h"
#include "Parlowen/brand/UsageLog.h"
#include "Parlowen/dictation/DictationHistory.h"
#include "Parlowen/dictation/views/QuickAddHintPanelController.h"
#include "Parlowen/shell/SoftwareUpdate.h"
#include "Parlowen/shell/views/NoSelectionToast.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/languagemodel/LanguageModel.h"
#include "platform/statusitem/QtStatusItem.h"
#include "platform/statusitem/StatusIconArt.h"
#include "platform/ui/ThemeScope.h"
#include "Parlowen/dictation/AudioCapture.h"
#include "Parlowen/dictation/AudioDeviceCatalog.h"
#include "Parlowen/dictation/DictationCoordinator.h"
#include "Parlowen/dictation/DictationEngines.h"
#include "Parlowen/dictation/HotkeyManager.h"
#include "Parlowen/dictation/LivePartialHUD.h"
#include "Parlowen/dictation/SelectionCapture.h"
#include "Parlowen/dictation/TextInserter.h"
#include "Parlowen/dictation/views/LivePartialHUDPanel.h"
#include "Parlowen/listenlater/queue/QueueService.h"
#include "Parlowen/listenlater/queue/RenderProgressStore.h"
#include "Parlowen/listenlater/queue/sync/QueueCloudKitBridge.h"
#include "Parlowen/listenlater/queue/sync/QueueDedupIndex.h"
#include "Parlowen/podcast/PodcastRenderStore.h"
#include "Parlowen/notepad/ModelChoice.h"
#include "Parlowen/readaloud/ReadAloudCoordinator.h"
#include "Parlowen/readaloud/ReadAloudCostGuard.h"
#include "Parlowen/readaloud/ReadAloudEngines.h"
#include "Parlowen/preferences/views/PermissionPreScreen.h"
#include "Parlowen/preferences/views/PreferencesWindow.h"
#include "Parlowen/shell/AppCoordinator.h"
#include "Parlowen/shell/BundleInfo.h"
#include "Parlowen/shell/KeychainStore.h"
#include "Parlowen/shell/LookoutClient.h"
#include "Parlowen/shell/MemoryMonitor.h"
#include "Parlowen/shell/PasteboardArbiter.h"
#include "Parlowen/shell/PermissionsManager.h"
#include "Parlowen/shell/SoftwareUpdate.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "Parlowen/shell/settings/SystemNames.h"
#include "platform/accessibility/AccessibilityPermissionSource.h"
#include "platform/accessibility/AtspiAccessibility.h"
#include "platform/audio/PulseAudio.h"
#include "platform/clouddb/SqliteCloudDatabase.h"
#include "platform/crashreporter/CrashReporter.h"
#include "platform/defaults/JsonFileUserDefaults.h"
#include "platform/http/CurlHttpClient.h"
#include "platform/keychain/SecretStore.h"
#include "platform/keyevents/KeyEventSource.h"
#include "platform/keystrokes/XTestKeystrokePoster.h"
#include "platform/languagemodel/LanguageModel.h"
#include "platform/memory/ResidentMemory.h"
#include "platform/pasteboard/QtPasteboard.h"
#include "platform/runtime/Strand.h"
#include "platform/runtime/WorkerPool.h"
#include "platform/speech/PocketSphinxRecognizer.h"
#include "platform/speech/SpeechPermissionSource.h"
#include "platform/speechsynth/EspeakSpeechSynthesizer.h"
#include "platform/text/Format.h"
#include "platform/ui/LinuxAnnouncer.h"
#include "platform/ui/QtAlertPresenter.h"
#include "platform/ui/ReduceMotion.h"
#include "platform/updater/Updater.h"
#include "platform/values/Date.h"
#include "platform/values/XdgDirs.h"
#include "platform/x11/X11Selection.h"
#include "platform/x11/X11Workspace.h"

namespace parlowen {

namespace {

class DictationAdapter final : public DictationMode {
public:
    DictationAdapter(std::unique_ptr<DictationCoordinator> c, AudioCapture& audio, TextInserter& inserter)
        : c_(std::move(c)), audio_(audio), inserter_(inserter) {}
    bool isRecording() const override { return c_->isRecording(); }
    bool isPendingFinalize() const override { return c_->isPendingFinalize(); }
    void bindAudioCallbacks() override { c_->bindAudioCallbacks(); }
    void handleHotkeyPress(Hotkey key) override { c_->handleHotkeyPress(key); }
    void handleHotkeyRelease(Hotkey key) override { c_->handleHotkeyRelease(key); }
    void toggle() override { c_->toggle(); }
    void finalizeForModeArbitration() override { c_->finalizeForModeArbitration(); }
    void cancel() override { c_->cancel(); }
    void setCallbacks(DictationCallbacks callbacks) override {
        c_->onActiveStateChange = std::move(callbacks.onActiveStateChange);
        c_->onSessionFinalized = std::move(callbacks.onSessionFinalized);
        c_->onSessionFinalizedWithText = std::move(callbacks.onSessionFinalizedWithText);
        c_->onFinalizeError = std::move(callbacks.onFinalizeError);
        c_->onStartError = std::move(callbacks.onStartError);
        c_->onNotepadRequested = std::move(callbacks.onNotepadRequested);
        inserter_.setOnNoFocusedField(std::move(callbacks.onNoFocusedField));
        inserter_.setOnFocusStolen(std::move(callbacks.onFocusStolen));
    }
    void prewarmMicrophone() override { audio_.prewarm(); }
    void prewarmEngine() override { c_->prewarmEngine(); }

private:
    std::unique_ptr<DictationCoordinator> c_;
    AudioCapture& audio_;
    TextInserter& inserter_;
};

ReadAloudEngineState engineStateOf(SpeechSynthesisState::Case kind) {
    switch (kind) {
        case SpeechSynthesisState::Case::loading: return ReadAloudEngineState::loading;
        case SpeechSynthesisState::Case::speaking: return ReadAloudEngineState::speaking;
        case SpeechSynthesisState::Case::paused: return ReadAloudEngineState::paused;
        case SpeechSynthesisState::Case::idle: return ReadAloudEngineState::idle;
        case SpeechSynthesisState::Case::finished: return ReadAloudEngineState::finished;
    }
    return ReadAloudEngineState::idle;
}

// The cloud voices' hosts; the environment may point them elsewhere (a test server).
AppReadAloudEngineFactory::Hosts readAloudHosts(const platform::Environment& env) {
    AppReadAloudEngineFactory::Hosts hosts;
    if (auto v = env.get("PARLOWEN_OPENAI_BASE_URL")) hosts.openAI = *v;
    if (auto v = env.get("PARLOWEN_CARTESIA_BASE_URL")) hosts.cartesia = *v;
    if (auto v = env.get("PARLOWEN_ELEVENLABS_BASE_URL")) hosts.elevenLabs = *v;
    return hosts;
}

class ReadAloudAdapter final : public ReadAloudMode {
public:
    explicit ReadAloudAdapter(std::unique_ptr<ReadAloudCoordinator> c) : c_(std::move(c)) {}
    ReadAloudState state() const override { return static_cast<ReadAloudState>(c_->state()); }
    ReadAloudEngineState engineState() const override { return engineStateOf(c_->engineState().kind); }
    void pauseForArbitration() override { c_->pauseForArbitration(); }
    void cancel() override { c_->cancel(); }
    void handlePress(bool summarize) override { c_->handlePress(summarize); }
    void setCallbacks(ReadAloudCallbacks callbacks) override {
        c_->onUIStateChange = [f = std::move(callbacks.onUIStateChange)](const ReadAloudUIState& state) {
            if (f) f(static_cast<ReadAloudUIMode>(state.mode));
        };
        c_->onSpeakStarted = std::move(callbacks.onSpeakStarted);
        c_->onNoSelection = std::move(callbacks.onNoSelection);
        c_->onSummarizeFallback = std::move(callbacks.onSummarizeFallback);
    }
    void resumeAfterArbitration() override { c_->resumeAfterArbitration(); }
    void togglePause() override { c_->togglePause(); }
    void setVoice(const std::string& identifier) override { c_->setVoice(identifier); }
    void skipBack(double seconds) override { c_->engine().skipBack(seconds); }
    void skipForward(double seconds) override { c_->engine().skipForward(seconds); }
    void skipBackParagraph() override { c_->engine().skipBackParagraph(); }
    void skipBackSentence() override { c_->engine().skipBackSentence(); }
    void skipForwardSentence() override { c_->engine().skipForwardSentence(); }
    void skipForwardParagraph() override { c_->engine().skipForwardParagraph(); }
    void setRate(float rate) override { c_->engine().setRate(rate); }

private:
    std::unique_ptr<ReadAloudCoordinator> c_;
};

// The quick-add panel, in the selected theme's palette whenever it changes.
class QuickAddPanelAdapter final : public QuickAddPanel {
public:
    QuickAddPanelAdapter(PreferencesStore& preferences, std::function<std::vector<std::string>()> words,
                         platform::Executor& main)
        : controller_(preferences, std::move(words), main) {
        // The stream hands over the new theme before the setting holds it.
        theme_ = preferences.selectedTheme.stream().subscribe([this](const Theme& theme) {
            platform::ui::ThemeScope::apply(controller_.panel(), palette(theme));
        });
    }
    void show() override { controller_.show(); }

private:
    QuickAddHintPanelController controller_;
    platform::Subscription theme_;
};

class ReportWindowAdapter final : public ReportWindow {
public:
    ReportWindowAdapter(UsageLog& log, PreferencesStore& preferences, QuonReportDependencies deps)
        : controller_(log, preferences, std::move(deps)) {}
    void show() override {
        QWidget* window = controller_.window();
        window->show();
        window->raise();
        window->activateWindow();
    }

private:
    QuonReportWindowController controller_;
};

// Raises the application's window the user is most likely to want: the
// active one, else the newest visible one.
void activateApplicationWindows() {
    QWidget* target = QApplication::activeWindow();
    if (!target) {
        const auto windows = QApplication::topLevelWidgets();
        for (auto it = windows.rbegin(); it != windows.rend() && !target; ++it)
            if ((*it)->isVisible() && (*it)->isWindow() && !(*it)->windowFlags().testFlag(Qt::ToolTip)) target = *it;
    }
    if (!target) return;
    target->raise();
    target->activateWindow();
}

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

// The Listen Later iCloud bridge with the push-hash index it keeps.
class CloudBridgeAdapter final : public CloudBridge {
public:
    CloudBridgeAdapter(std::unique_ptr<QueueDedupIndex> index, std::function<std::unique_ptr<QueueCloudKitBridge>(QueueDedupIndex&)> make)
        : index_(std::move(index)), bridge_(make(*index_)) {}
    void start() override { bridge_->start(); }

private:
    std::unique_ptr<QueueDedupIndex> index_;  // outlives the bridge that uses it
    std::unique_ptr<QueueCloudKitBridge> bridge_;
};

}  // namespace

struct AppComposition::Parts : AppComponentFactory {
    Parts(platform::Environment env, platform::Executor& main, platform::ui::AlertPresenter& alerts, Options options)
        : env(std::move(env)), main(main), alerts(alerts), options(std::move(options)), dirs(this->env) {}

    std::unique_ptr<DictationMode> makeDictation() override {
        auto coordinator = std::make_unique<DictationCoordinator>(DictationCoordinator::Dependencies{
            .permissions = *permissions, .preferences = *preferences, .hud = *hud, .audio = *audio,
            .inserter = *inserter, .engines = *engines, .keychain = *keychain, .accessibility = *accessibility,
            .workspace = *workspace, .main = main,
            .locale = platform::PocketSphinxModel::defaultLocaleIdentifier(env),
            .presentPermissionPreScreen = [this](PermissionKind kind) { permissionPreScreen().present(kind); }});
        return std::make_unique<DictationAdapter>(std::move(coordinator), *audio, *inserter);
    }
    // "en_US" from the desktop's "en-US".
    static std::string underscored(std::string locale) {
        std::replace(locale.begin(), locale.end(), '-', '_');
        return locale;
    }
    std::string reportLocale() const { return underscored(platform::PocketSphinxModel::defaultLocaleIdentifier(env)); }
    std::unique_ptr<QuickAddPanel> makeQuickAddHintPanel(std::function<std::vector<std::string>()> words) override {
        return std::make_unique<QuickAddPanelAdapter>(*preferences, std::move(words), main);
    }
    std::unique_ptr<ReportWindow> makeQuonReportWindow() override {
        return std::make_unique<ReportWindowAdapter>(
            *usageLog, *preferences,
            QuonReportDependencies{.main = main, .clock = clock, .locale = reportLocale()});
    }

    std::unique_ptr<CloudBridge> makeCloudBridge(bool withDatabase) override {
        QueueCloudKitBridge::DatabaseFactory openDatabase;
        if (withDatabase)
            openDatabase = [this](const std::string& container) -> std::shared_ptr<platform::CloudDatabase> {
                return std::make_shared<platform::SqliteCloudDatabase>(
                    background, platform::SqliteCloudDatabase::containerFolder(dirs, container));
            };
        auto index = std::make_unique<QueueDedupIndex>(background, QueueDedupIndex::defaultFileURL(env));
        return std::make_unique<CloudBridgeAdapter>(std::move(index), [&, openDatabase](QueueDedupIndex& dedup) {
            // Taking pulled items into the queue is not part of this build yet:
            // they stay on the server and are offered again at the next pull.
            auto notTaken = [this](const QueueItem&) {
                if (intakeMissingLogged) return;
                intakeMissingLogged = true;
                log.info("listen later intake is not available in this build");
            };
            return std::make_unique<QueueCloudKitBridge>(
                QueueCloudKitBridge::Dependencies{.main = main, .environment = env, .openDatabase = openDatabase},
                *queue, QueueCloudKitBridge::kDefaultContainerIdentifier, notTaken, notTaken,
                [this] { return std::string(rawValue(preferences->readAloudEngine())); }, dedup);
        });
    }

    std::unique_ptr<ReadAloudMode> makeReadAloud() override {
        primarySelection = std::make_unique<platform::X11PrimarySelection>(env);
        selectionCapture = std::make_unique<SelectionCapture>(*arbiter, *pasteboard, *accessibility, *keystrokes,
                                                              *workspace, *primarySelection);
        readAloudEngines = std::make_unique<AppReadAloudEngineFactory>(
            CloudVoiceServices{main, *http, *keychain, *pulse, *pulse, *defaults},
            [this]() -> std::unique_ptr<platform::SpeechSynthesizer> {
                return std::make_unique<platform::EspeakSpeechSynthesizer>(*pulse, env);
            },
            readAloudHosts(env));
        costGuard = std::make_unique<ReadAloudCostGuard>(alerts, underscored(platform::languageCodeFromEnvironment(env)));
        if (!languageModel) languageModel = platform::makeSystemLanguageModel();
        auto reader = std::make_unique<ReadAloudCoordinator>(ReadAloudCoordinator::Dependencies{
            .preferences = *preferences, .permissions = *permissions, .engines = *readAloudEngines,
            .keychain = *keychain, .workspace = *workspace, .costGuard = *costGuard,
            .record = [this](LookoutClient::Category category, const std::string& message,
                             platform::ReportData data) { lookout->record(category, message, std::move(data)); },
            .main = main, .background = background,
            .captureSelection = [this] { return selectionCapture->capture(); },
            .onDeviceClient = [this] { return onDeviceClient(RefinementServices{*languageModel, *keychain, *http}); },
            .presentPermissionPreScreen = [this](PermissionKind kind) { permissionPreScreen().present(kind); },
            .openReadAloudPreferences = [this] {
                if (coordinator) coordinator->openPreferences(PreferencesTab::readAloud);
            }});
        return std::make_unique<ReadAloudAdapter>(std::move(reader));
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
    platform::ui::AlertPresenter& alerts;
    Options options;
    platform::Logger log{"com.kelvatrum.Parlowen", "app"};
    bool intakeMissingLogged = false;
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

    ListenLaterCache cache{ListenLaterCache::standard(dirs)};
    std::unique_ptr<RenderProgressStore> renderProgress;
    std::unique_ptr<PodcastRenderStore> podcasts;
    std::unique_ptr<QueueService> queue;

    UpdateAvailability updateAvailability;
    std::unique_ptr<SoftwareUpdates> updates;
    std::unique_ptr<platform::X11PrimarySelection> primarySelection;
    std::unique_ptr<SelectionCapture> selectionCapture;
    std::unique_ptr<AppReadAloudEngineFactory> readAloudEngines;
    std::unique_ptr<ReadAloudCostGuard> costGuard;
    std::unique_ptr<platform::LanguageModel> languageModel;
    // The application coordinator, once made (the read-aloud opens its preferences).
    AppCoordinator* coordinator = nullptr;
    DictationHistory history{clock};
    std::unique_ptr<platform::QtStatusItem> statusItem;
    std::unique_ptr<NoSelectionToast> toast;
    // The Preferences window's page table; the pages' issues register theirs here.
    std::shared_ptr<PreferencesPages> preferencesPages = std::make_shared<PreferencesPages>();
    std::unique_ptr<PermissionPreScreenWindowController> preScreen;
};

AppComposition::AppComposition(platform::Environment environment, platform::Executor& main,
                               platform::ui::AlertPresenter& alerts, Options options)
    : parts_(std::make_unique<Parts>(std::move(environment), main, alerts, std::move(options))) {}

AppComposition::~AppComposition() = default;

void AppComposition::createSettings() {
    auto& p = *parts_;
    p.defaults = std::make_unique<platform::JsonFileUserDefaults>(
        platform::JsonFileUserDefaults::pathForDomain(p.dirs, platform::JsonFileUserDefaults::kApplicationDomain));
    p.preferences = std::make_unique<PreferencesStore>(
        *p.defaults, PreferencesStore::Dependencies{
                         .clearDictationHistory = [&p] { p.history.clear(); },
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
        [grammar = p.options.recognizerGrammar](
            const std::optional<std::string>& locale) -> std::shared_ptr<platform::SpeechRecognizer> {
            auto model = platform::PocketSphinxModel::forLocale(locale.value_or("en-US"));
            if (!model) return nullptr;
            if (grammar) model->grammar = *grammar;
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
    p.renderProgress = std::make_unique<RenderProgressStore>(p.main);
    p.podcasts = std::make_unique<PodcastRenderStore>(p.main, p.clock, PodcastRenderStore::defaultStorageURL(p.dirs));
    p.queue = std::make_unique<QueueService>(
        QueueService::Dependencies{.main = p.main, .clock = p.clock, .renderProgress = *p.renderProgress,
                                   .cache = p.cache,
                                   .removePodcastRecord = [&p](const platform::Uuid& id) { p.podcasts->remove(id); }},
        QueueService::defaultStorageURL(p.dirs));
    p.updates = std::make_unique<SoftwareUpdates>(SoftwareUpdates::Dependencies{
        .availability = p.updateAvailability, .preferences = *p.preferences, .main = p.main,
        // No window of ours is up when the updater's alert shows; Qt raises the alert itself.
        .application = {}, .location = p.options.location,
        .makeController = [&p](platform::UpdaterDelegate& delegate) -> std::unique_ptr<platform::UpdaterController> {
            return std::make_unique<platform::PackageManagedUpdater>(p.main, p.alerts, delegate);
        }});

    AppServices services;
    services.startMemoryMonitor = [&p] { p.memory->start(); };
    services.stopMemoryMonitor = [&p] { p.memory->stop(); };
    services.pruneOrphanedRenders = [&p] { return pruneOrphanedRenders(*p.queue, p.cache); };
    services.flushUsageLog = [&p] { p.usageLog->flush(); };
    services.flushQueue = [&p] { p.queue->flushPendingPersist(); };
    services.updaterController = [&p]() -> platform::UpdaterController& { return p.updates->updaterController(); };
    services.checkForUpdatesByUser = [&p] { p.updates->updaterController().checkForUpdates(); };
    services.systemDefaultInputUID = [&p] { return p.catalog->systemDefaultInputUID.get(); };
    services.inputDevices = [&p] {
        std::vector<InputDevice> devices;
        for (const auto& d : p.catalog->inputDevices.get()) devices.push_back({d.uid, d.name, d.transport});
        return devices;
    };
    services.showToast = [&p](const std::string& message) {
        if (!p.toast) p.toast = std::make_unique<NoSelectionToast>(p.main);
        p.toast->show(message);
    };
    services.activateIgnoringOtherApps = [] { activateApplicationWindows(); };
    services.terminate = [this] {
        if (terminate_) terminate_();
    };
    services.observeDidBecomeActive = [](std::function<void()> handler) {
        auto* app = qApp;
        auto connection = QObject::connect(app, &QGuiApplication::applicationStateChanged,
                                           [handler = std::move(handler)](Qt::ApplicationState state) {
                                               if (state == Qt::ApplicationActive) handler();
                                           });
        return platform::Subscription([connection] { QObject::disconnect(connection); });
    };

    platform::registerMenuBarIconArtwork();
    p.statusItem = std::make_unique<platform::QtStatusItem>();
    p.languageModel = platform::makeSystemLanguageModel();
    auto coordinator = std::make_unique<AppCoordinator>(AppCoordinator::Dependencies{
        .preferences = *p.preferences, .hotkey = *p.hotkey, .hud = *p.panel, .factory = p,
        .environment = p.env, .main = p.main, .services = std::move(services), .permissions = p.permissions.get(),
        .history = &p.history, .usageLog = p.usageLog.get(), .updateAvailability = &p.updateAvailability,
        .languageModel = p.languageModel.get(), .background = &p.background, .clock = &p.clock,
        .statusBarParts = StatusBarParts{*p.statusItem, *p.pasteboard, *p.announcer, p.motion}});
    p.coordinator = coordinator.get();
    return coordinator;
}

bool AppComposition::hideMenuBarIcon() const {
    // Without a tray the item cannot be seen: a second start opens the
    // preferences, as it does for a hidden item.
    if (parts_->statusItem && !parts_->statusItem->isAvailable()) return true;
    return parts_->preferences && parts_->preferences->hideMenuBarIcon();
}

void AppComposition::setTerminate(std::function<void()> terminate) { terminate_ = std::move(terminate); }

}  // namespace parlowen
