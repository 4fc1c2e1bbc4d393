#include "Parlowen/podcast/PodcastRenderCoordinator.h"

#include "platform/text/Unicode.h"

namespace parlowen {

namespace {

const platform::Logger& coordinatorLog() {
    static const platform::Logger log("com.kelvatrum.Parlowen", "podcast-coordinator");
    return log;
}

// The generator's model call: the client answers on the main executor.
platform::Task<platform::Result<std::string>> askClient(RefinementClient* client, platform::Executor* main,
                                                        std::string systemPrompt, std::string userText,
                                                        double timeout) {
    co_await platform::resumeOn(*main);
    co_return co_await client->refine(std::move(userText), std::move(systemPrompt), timeout);
}

platform::Task<platform::Result<PodcastDialogue>> generateOn(platform::Executor* worker,
                                                             const PodcastScriptGenerator* generator,
                                                             std::string article,
                                                             PodcastScriptGenerator::ModelCall modelCall) {
    co_await platform::resumeOn(*worker);
    co_return co_await generator->generate(std::move(article), std::move(modelCall),
                                           PodcastRenderCoordinator::kScriptTimeout);
}

}  // namespace

PodcastRenderCoordinator::PodcastRenderCoordinator(PodcastRenderStore& store, QueueService& queueService,
                                                   PodcastScriptGenerator scriptGenerator, PodcastRenderer& renderer,
                                                   Services services)
    : store(store),
      queueService(queueService),
      scriptGenerator(std::move(scriptGenerator)),
      renderer(renderer),
      services_(std::move(services)) {}

std::string PodcastRenderCoordinator::formatScript(const PodcastDialogue& dialogue) {
    std::string script;
    for (std::size_t i = 0; i < dialogue.turns.size(); ++i) {
        if (i) script += "\n\n";
        const auto& turn = dialogue.turns[i];
        script += dialogue.host(turn.role).promptLabel + ": " + turn.text;
    }
    return script;
}

void PodcastRenderCoordinator::fail(const platform::Uuid& itemID, const std::string& message) {
    coordinatorLog().error("podcast failed: {} {}", itemID.uuidString(), message);
    store.transition(itemID, PodcastRender::State::error, message);
}

platform::Task<void> PodcastRenderCoordinator::render(platform::Uuid itemID, std::string hostAVoice,
                                                      std::string hostBVoice, CleanUpModel scriptModel) {
    return renderImpl(this, itemID, std::move(hostAVoice), std::move(hostBVoice), scriptModel);
}

platform::Task<void> PodcastRenderCoordinator::renderImpl(PodcastRenderCoordinator* self, platform::Uuid itemID,
                                                          std::string hostAVoice, std::string hostBVoice,
                                                          CleanUpModel scriptModel) {
    using State = PodcastRender::State;
    const auto& log = coordinatorLog();
    const std::string id = itemID.uuidString();
    PARLOWEN_ASSERT_ON(self->services_.main);

    if (auto existing = self->store.render(itemID);
        existing && (existing->state == State::generatingScript || existing->state == State::rendering)) {
        log.error("podcast refused: {} already has a request running ({})", id, rawValue(existing->state));
        co_return;
    }

    PodcastRender record;
    record.state = State::generatingScript;
    record.hostAVoiceID = hostAVoice;
    record.hostBVoiceID = hostBVoice;
    self->store.set(record, itemID);

    std::optional<QueueItem> item;
    for (auto& candidate : self->queueService.items())
        if (candidate.id == itemID) {
            item = std::move(candidate);
            break;
        }
    if (!item) {
        self->fail(itemID, "Queue item no longer exists");
        co_return;
    }

    const std::string article = platform::text::trim(item->text);
    if (article.empty()) {
        self->fail(itemID, "Item has no article text to convert");
        co_return;
    }

    std::unique_ptr<RefinementClient> client = self->services_.makeClient(scriptModel);
    if (!client) {
        self->fail(itemID, "Selected script-generation model isn't available on this system");
        co_return;
    }

    log.info("script gen begin: {} model={} chars={}", id, rawValue(scriptModel),
             platform::text::graphemeCount(article));
    PodcastScriptGenerator::ModelCall modelCall = [client = client.get(), main = &self->services_.main](
                                                      std::string systemPrompt, std::string userText, double timeout) {
        return askClient(client, main, std::move(systemPrompt), std::move(userText), timeout);
    };
    auto dialogue = co_await generateOn(&self->services_.worker, &self->scriptGenerator, article, std::move(modelCall));
    co_await platform::resumeOn(self->services_.main);
    if (!dialogue) {
        self->fail(itemID, "Script generation failed: " + dialogue.error().description);
        co_return;
    }
    log.info("script gen done: {} turns={}", id, dialogue->turns.size());

    record.state = State::rendering;
    record.scriptText = formatScript(*dialogue);
    self->store.set(record, itemID);

    auto audio = co_await self->renderer.render(std::move(*dialogue), hostAVoice, hostBVoice, itemID);
    co_await platform::resumeOn(self->services_.main);
    if (!audio) {
        self->fail(itemID, "Audio render failed: " + audio.error().description);
        co_return;
    }

    record.state = State::ready;
    record.audioURL = audio->fileURL;
    record.durationSec = audio->durationSec;
    record.renderedAt = self->services_.clock.now();
    self->store.set(record, itemID);
    log.info("podcast ready: {} duration={:f}s", id, audio->durationSec);

    co_await self->services_.notifier.notifyPodcastReady(itemID, item->title);
}

}  // namespace parlowen
