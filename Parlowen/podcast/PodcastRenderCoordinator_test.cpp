#include "Parlowen/podcast/PodcastRenderCoordinator.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Parlowen/notepad/ModelChoice.h"
#include "Parlowen/podcast/PodcastTestSupport.h"
#include "platform/http/FakeHttpClient.h"
#include "Parlowen/shell/KeychainStore.h"
#include "platform/keychain/SecretStore.h"
#include "platform/languagemodel/ScriptedLanguageModel.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/TempHome.h"

namespace parlowen {
namespace {

using namespace std::chrono_literals;
using platform::Result;
using platform::Task;
using platform::Uuid;
using State = PodcastRender::State;

// A script model that answers from a list and records what it was asked.
class ScriptedClient final : public RefinementClient {
public:
    explicit ScriptedClient(std::vector<Result<std::string>> replies, int* calls) : replies_(std::move(replies)), calls_(calls) {}
    Task<Result<std::string>> refine(std::string text, std::string systemPrompt, double timeout) override {
        return answer(this, std::move(text), std::move(systemPrompt), timeout);
    }
    std::string displayName() const override { return "Scripted"; }
    bool isOnDevice() const override { return false; }

    static inline std::string lastText, lastSystemPrompt;
    static inline double lastTimeout = 0;

private:
    static Task<Result<std::string>> answer(ScriptedClient* self, std::string text, std::string sys, double timeout) {
        lastText = std::move(text);
        lastSystemPrompt = std::move(sys);
        lastTimeout = timeout;
        co_return self->replies_.at((*self->calls_)++);
    }
    std::vector<Result<std::string>> replies_;
    int* calls_;
};

// Takes `delay` of virtual time, records what the store said meanwhile, then
// answers with `result`.
class FakePodcastRenderer final : public PodcastRenderer {
public:
    FakePodcastRenderer(PodcastRenderStore& store, ListenLaterCache cache) : store_(store), cache_(std::move(cache)) {}

    Task<Result<ListenLaterRenderResult>> render(PodcastDialogue dialogue, std::string a, std::string b,
                                                 Uuid itemID) override {
        return run(this, std::move(dialogue), std::move(a), std::move(b), itemID);
    }

    std::optional<platform::Error> failure;
    double duration = 31.5;
    platform::Duration delay = 0ms;
    int calls = 0;
    std::vector<PodcastDialogue> dialogues;
    std::vector<std::pair<std::string, std::string>> voices;
    std::optional<State> stateWhenCalled;

private:
    static Task<Result<ListenLaterRenderResult>> run(FakePodcastRenderer* self, PodcastDialogue dialogue,
                                                     std::string a, std::string b, Uuid itemID) {
        ++self->calls;
        self->dialogues.push_back(std::move(dialogue));
        self->voices.emplace_back(std::move(a), std::move(b));
        if (auto r = self->store_.render(itemID)) self->stateWhenCalled = r->state;
        if (self->delay > 0ms) co_await platform::sleepFor(self->delay);
        if (self->failure) co_return platform::fail(*self->failure);
        co_return ListenLaterRenderResult{self->cache_.podcastAudioFileURL(itemID), self->duration};
    }
    PodcastRenderStore& store_;
    ListenLaterCache cache_;
};

const char* kScript = "NELL: Today: salmon.\n\nQUON: Wait, why salmon?\n\nNELL: They swim upstream.";

struct CoordinatorFixture : ::testing::Test {
    testsupport::TempDir dir;
    platform::ManualExecutor main;
    platform::ManualExecutor worker;
    platform::FixedClock clock{platform::Date::fromTimeIntervalSinceReferenceDate(790'000'000)};
    RenderProgressStore progress{main};
    PodcastRenderStore store{main, clock, dir / "podcast-renders.json"};
    ListenLaterCache cache{dir / "caches"};
    QueueService queue{{main, clock, progress, cache, [this](const Uuid& id) { store.remove(id); }},
                       dir / "listen-later-queue.json"};
    platform::ScriptedNotificationCenter center{platform::NotificationAuthorizationStatus::authorized};
    MacUserNotifier notifier{center};
    FakePodcastRenderer renderer{store, cache};
    std::vector<Result<std::string>> replies{std::string(kScript)};
    int modelCalls = 0;
    int clientsMade = 0;

    std::unique_ptr<RefinementClient> makeClient(CleanUpModel model) {
        ++clientsMade;
        if (isOnDevice(model)) return nullptr;
        return std::make_unique<ScriptedClient>(replies, &modelCalls);
    }
    std::unique_ptr<PodcastRenderCoordinator> coordinator(
        std::function<std::unique_ptr<RefinementClient>(CleanUpModel)> make = {}) {
        if (!make) make = [this](CleanUpModel m) { return makeClient(m); };
        const auto& hosts = PodcastHost::defaultHosts();
        return std::make_unique<PodcastRenderCoordinator>(
            store, queue, PodcastScriptGenerator(hosts.first, hosts.second), renderer,
            PodcastRenderCoordinator::Services{main, worker, clock, notifier, std::move(make)});
    }
    QueueItem addItem(std::string text, std::string title = "Salmon Runs") {
        auto item = queue.add({.text = std::move(text), .title = std::move(title), .voiceEngine = "appleSpeech",
                               .voiceID = "en"});
        queue.markAudioReady(item.id, cache.audioFileURL(item.id, "caf"), 60);
        return queue.items().front();
    }
    // Runs both executors until nothing is left to do (virtual time moves on demand).
    void settle(platform::JoinHandle<void>& handle) {
        for (int i = 0; i < 1000 && !handle.done(); ++i) {
            main.runUntilIdle();
            worker.runUntilIdle();
            if (!handle.done() && main.readyJobs() == 0 && worker.readyJobs() == 0) main.advance(1s);
        }
        ASSERT_TRUE(handle.done());
    }
    void run(PodcastRenderCoordinator& c, Uuid id, CleanUpModel model = CleanUpModel::sonnet46) {
        auto handle = platform::spawn(main, c.render(id, "Puck", "Charon", model));
        settle(handle);
    }
};

TEST_F(CoordinatorFixture, SuccessStoresScriptAudioAndNotifies) {
    platform::ScopedLogCapture log;
    auto item = addItem("  Salmon swim upstream to spawn.  ");
    auto c = coordinator();
    run(*c, item.id);

    auto record = store.render(item.id);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->state, State::ready);
    EXPECT_EQ(record->scriptText, "NELL: Today: salmon.\n\nQUON: Wait, why salmon?\n\nNELL: They swim upstream.");
    EXPECT_EQ(record->audioURL, cache.podcastAudioFileURL(item.id));
    EXPECT_EQ(record->durationSec, 31.5);
    EXPECT_EQ(record->renderedAt, clock.now());
    EXPECT_EQ(record->hostAVoiceID, "Puck");
    EXPECT_EQ(record->hostBVoiceID, "Charon");
    EXPECT_EQ(record->error, std::nullopt);
    EXPECT_EQ(record->playedThru, 0);
    EXPECT_EQ(renderer.stateWhenCalled, State::rendering);
    EXPECT_EQ(renderer.voices.at(0), (std::pair<std::string, std::string>{"Puck", "Charon"}));
    EXPECT_EQ(ScriptedClient::lastText, PodcastScriptGenerator::wrapArticle("Salmon swim upstream to spawn."));
    EXPECT_EQ(ScriptedClient::lastSystemPrompt, c->scriptGenerator.systemPrompt());
    EXPECT_EQ(ScriptedClient::lastTimeout, 180);

    ASSERT_EQ(center.added().size(), 1u);
    EXPECT_EQ(center.added()[0].content.title, "Podcast ready");
    EXPECT_EQ(center.added()[0].content.body, "Salmon Runs");
    // The queue item is untouched.
    EXPECT_EQ(queue.items().front(), item);

    const auto id = item.id.uuidString();
    EXPECT_EQ(podcasttest::messagesOf(log, "podcast-coordinator"),
              (std::vector<std::string>{"script gen begin: " + id + " model=claude-sonnet-4-6 chars=30",
                                        "script gen done: " + id + " turns=3",
                                        "podcast ready: " + id + " duration=31.500000s"}));
}

TEST_F(CoordinatorFixture, ASecondSuccessReplacesThePodcastAndResetsThePosition) {
    auto item = addItem("Salmon.");
    run(*coordinator(), item.id);
    store.updatePlayedThru(item.id, 20);
    replies = {std::string("QUON: Again?\n\nNELL: Again.")};
    modelCalls = 0;
    renderer.duration = 9;
    clock.advance(60);
    run(*coordinator(), item.id);
    auto record = store.render(item.id);
    EXPECT_EQ(record->state, State::ready);
    EXPECT_EQ(record->scriptText, "QUON: Again?\n\nNELL: Again.");
    EXPECT_EQ(record->durationSec, 9);
    EXPECT_EQ(record->playedThru, 0);
    EXPECT_EQ(record->renderedAt, clock.now());
}

TEST_F(CoordinatorFixture, EachFailureEndsInErrorWithItsMessage) {
    struct Case {
        const char* name;
        std::string text;
        bool deleteItem;
        CleanUpModel model;
        std::vector<Result<std::string>> replies;
        std::optional<platform::Error> renderFailure;
        std::string message;
        int modelCalls;
        bool keepsScript;
    };
    const std::vector<Case> cases = {
        {"deleted item", "Salmon.", true, CleanUpModel::sonnet46, {}, {}, "Queue item no longer exists", 0, false},
        {"blank text", " \n\t ", false, CleanUpModel::sonnet46, {}, {}, "Item has no article text to convert", 0, false},
        {"on-device model unavailable", "Salmon.", false, CleanUpModel::appleIntelligence, {}, {},
         "Selected script-generation model isn't available on this system", 0, false},
        {"no turns", "Salmon.", false, CleanUpModel::opus47, {std::string("Just prose.")}, {},
         "Script generation failed: Script LLM output had no recognizable speaker turns", 1, false},
        {"model error", "Salmon.", false, CleanUpModel::opus47,
         {platform::fail(platform::Error::make("claude", 1, "http", "HTTP 529: overloaded"))}, {},
         "Script generation failed: Script LLM error: HTTP 529: overloaded", 1, false},
        {"renderer failure", "Salmon.", false, CleanUpModel::sonnet46, {std::string(kScript)},
         toError(ListenLaterRendererError::engineUnavailable("Kokoro cannot start here")),
         "Audio render failed: Engine unavailable: Kokoro cannot start here", 1, true},
    };
    // The real factory: on Linux the system language model is never available.
    platform::ScriptedLanguageModel languageModel;
    languageModel.setAvailability(platform::LanguageModelAvailability::deviceNotEligible);
    platform::InMemorySecretStore secrets;
    KeychainStore keychain{secrets, main};
    platform::FakeHttpClient http;
    RefinementServices services{languageModel, keychain, http};

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::ScopedLogCapture log;
        auto item = addItem(c.text);
        if (c.deleteItem) queue.remove(item.id);
        replies = c.replies;
        modelCalls = 0;
        renderer.failure = c.renderFailure;
        std::function<std::unique_ptr<RefinementClient>(CleanUpModel)> make;
        if (isOnDevice(c.model)) make = [&](CleanUpModel m) { return parlowen::makeClient(m, services); };
        run(*coordinator(std::move(make)), item.id, c.model);

        auto record = store.render(item.id);
        ASSERT_TRUE(record);
        EXPECT_EQ(record->state, State::error);
        EXPECT_EQ(record->error, c.message);
        EXPECT_EQ(record->hostAVoiceID, "Puck");
        EXPECT_EQ(record->scriptText.has_value(), c.keepsScript);
        EXPECT_EQ(modelCalls, c.modelCalls);
        EXPECT_TRUE(log->contains("podcast failed: " + item.id.uuidString() + " " + c.message, platform::LogLevel::error));
        if (!c.deleteItem) EXPECT_EQ(queue.items().front(), item);
    }
    EXPECT_TRUE(center.added().empty());
}

TEST_F(CoordinatorFixture, TheRecordExistsBeforeTheLookup) {
    const Uuid missing = Uuid::random();
    std::vector<State> seen;
    auto sub = store.rendersStream().subscribe([&](const PodcastRenderStore::Renders& renders) {
        if (auto it = renders.find(missing.uuidString()); it != renders.end()) seen.push_back(it->second.state);
    });
    run(*coordinator(), missing);
    EXPECT_EQ(seen, (std::vector<State>{State::generatingScript, State::error}));
    EXPECT_EQ(clientsMade, 0);
}

TEST_F(CoordinatorFixture, ASecondRequestWhileOneRunsIsRefused) {
    platform::ScopedLogCapture log;
    auto item = addItem("Salmon.");
    renderer.delay = 5s;
    auto first = coordinator();
    auto running = platform::spawn(main, first->render(item.id, "Puck", "Charon", CleanUpModel::sonnet46));
    for (int i = 0; i < 10; ++i) {
        main.runUntilIdle();
        worker.runUntilIdle();
    }
    ASSERT_EQ(store.render(item.id)->state, State::rendering);

    auto second = coordinator();
    auto refused = platform::spawn(main, second->render(item.id, "Kore", "Fenrir", CleanUpModel::opus47));
    main.runUntilIdle();
    ASSERT_TRUE(refused.done());
    EXPECT_EQ(store.render(item.id)->hostAVoiceID, "Puck");
    EXPECT_EQ(store.render(item.id)->state, State::rendering);
    EXPECT_TRUE(log->contains("podcast refused: " + item.id.uuidString()));

    settle(running);
    EXPECT_EQ(store.render(item.id)->state, State::ready);
    EXPECT_EQ(renderer.calls, 1);
    EXPECT_EQ(modelCalls, 1);
}

TEST(PodcastRenderCoordinatorFormat, LabelledLinesWithAnEmptyLineBetween) {
    const auto& [a, b] = PodcastHost::defaultHosts();
    EXPECT_EQ(PodcastRenderCoordinator::formatScript({a, b, {}}), "");
    EXPECT_EQ(PodcastRenderCoordinator::formatScript(
                  {a, b, {{PodcastHostRole::a, "Hi."}, {PodcastHostRole::a, "Me again."}, {PodcastHostRole::b, "Yes."}}}),
              "QUON: Hi.\n\nQUON: Me again.\n\nNELL: Yes.");
}

}  // namespace
}  // namespace parlowen
