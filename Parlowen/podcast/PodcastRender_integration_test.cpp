// One podcast request through the real services: the Claude client against a
// loopback server, the real store file, and "Podcast ready" on the desktop's
// notification server (dunst on a private session bus). The renderer is a
// double that writes a short CAF into the render cache.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "Parlowen/listenlater/render/AudioDuration.h"
#include "Parlowen/notepad/ModelChoice.h"
#include "Parlowen/podcast/PodcastRenderCoordinator.h"
#include "Parlowen/shell/KeychainStore.h"
#include "platform/audio/AudioFile.h"
#include "platform/audio/PcmBuffer.h"
#include "platform/http/CurlHttpClient.h"
#include "platform/keychain/SecretStore.h"
#include "platform/languagemodel/ScriptedLanguageModel.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/runtime/WorkerPool.h"
#include "platform/testsupport/LoopbackServer.h"
#include "platform/testsupport/NotificationServer.h"
#include "platform/testsupport/Services.h"
#include "platform/testsupport/TempHome.h"
#include "platform/values/Files.h"

namespace parlowen {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::Result;
using platform::Task;
using platform::Uuid;

std::string stateOnDisk(const fs::path& file, const Uuid& id) {
    auto bytes = platform::readFile(file);
    if (!bytes) return "(no file)";
    auto json = nlohmann::json::parse(std::string(bytes->begin(), bytes->end()), nullptr, false);
    if (json.is_discarded() || !json.contains(id.uuidString())) return "(no record)";
    return json[id.uuidString()]["state"].get<std::string>();
}

// Writes half a second of silence as the item's podcast file, after keeping a
// copy of the store file as it stands mid-render (what a crash would leave).
class CafWritingRenderer final : public PodcastRenderer {
public:
    CafWritingRenderer(ListenLaterCache cache, fs::path storeFile, fs::path crashCopy)
        : cache_(std::move(cache)), storeFile_(std::move(storeFile)), crashCopy_(std::move(crashCopy)) {}

    Task<Result<ListenLaterRenderResult>> render(PodcastDialogue dialogue, std::string, std::string,
                                                 Uuid itemID) override {
        return run(this, std::move(dialogue), itemID);
    }
    std::size_t turns = 0;

private:
    static Task<Result<ListenLaterRenderResult>> run(CafWritingRenderer* self, PodcastDialogue dialogue, Uuid id) {
        self->turns = dialogue.turns.size();
        fs::copy_file(self->storeFile_, self->crashCopy_, fs::copy_options::overwrite_existing);
        const auto url = self->cache_.podcastAudioFileURL(id);
        fs::create_directories(url.filePath().parent_path());
        auto writer = platform::AudioFileWriter::create(url.filePath(), platform::AudioFileType::caf, 16000, 1);
        if (!writer) co_return platform::fail(writer.error());
        platform::PcmBuffer silence(platform::PcmFormat::float32(16000, 1), 8000);
        silence.setFrameLength(8000);
        if (auto w = writer->write(silence); !w) co_return platform::fail(w.error());
        if (auto c = writer->close(); !c) co_return platform::fail(c.error());
        co_return ListenLaterRenderResult{url, audioDuration(url)};
    }
    ListenLaterCache cache_;
    fs::path storeFile_, crashCopy_;
};

TEST(PodcastRenderIntegration, ARequestMovesThroughItsStatesOnDiskAndNotifies) {
    PARLOWEN_REQUIRE_OR_SKIP(testsupport::dunstInstalled());
    testsupport::DesktopSession desktop;
    PARLOWEN_REQUIRE_OR_SKIP(desktop.start());

    testsupport::TempDir dir;
    testsupport::LoopbackServer server;
    server.route("POST", "/v1/messages",
                 testsupport::LoopbackReply::text(
                     200, R"({"content":[{"type":"text","text":"NELL: Today, salmon.\n\nQUON: Wait, why salmon?\n\nNELL: They find home by smell."}]})"));

    platform::ManualExecutor main;
    platform::WorkerPool worker(1);
    platform::WorkerPool background(1);
    platform::SystemClock clock;
    const fs::path storeFile = dir / "data" / "podcast-renders.json";
    const fs::path crashCopy = dir / "crash" / "podcast-renders.json";
    fs::create_directories(crashCopy.parent_path());
    PodcastRenderStore store(main, clock, storeFile);
    RenderProgressStore progress(main);
    ListenLaterCache cache(dir / "caches");
    QueueService queue({main, clock, progress, cache, [&](const Uuid& id) { store.remove(id); }},
                       dir / "data" / "listen-later-queue.json");
    platform::DbusNotificationCenter center(background, desktop.environment());
    MacUserNotifier notifier(center);

    platform::CurlHttpClient http;
    platform::InMemorySecretStore secrets;
    KeychainStore keychain{secrets, background};
    ASSERT_TRUE(keychain.write(KeychainStore::Key::anthropic, "sk-ant-test"));
    platform::ScriptedLanguageModel onDevice;
    onDevice.setAvailability(platform::LanguageModelAvailability::deviceNotEligible);
    RefinementServices services{onDevice, keychain, http, server.baseUrl()};
    CafWritingRenderer renderer(cache, storeFile, crashCopy);

    auto item = queue.add({.text = "Salmon find their home river by smell.", .title = "How salmon find home",
                           .voiceEngine = "appleSpeech", .voiceID = "en"});
    const auto& hosts = PodcastHost::defaultHosts();
    PodcastRenderCoordinator coordinator(
        store, queue, PodcastScriptGenerator(hosts.first, hosts.second), renderer,
        {main, worker, clock, notifier, [&](CleanUpModel m) { return makeClient(m, services); }});

    // Each change is read back from the file once the change has been written.
    std::vector<std::string> statesOnDisk;
    auto sub = store.rendersStream().dropFirst().subscribe([&](const PodcastRenderStore::Renders&) {
        main.post([&] { statesOnDisk.push_back(stateOnDisk(storeFile, item.id)); });
    });

    auto handle = platform::spawn(main, coordinator.render(item.id, "Puck", "Charon", CleanUpModel::sonnet46));
    ASSERT_TRUE(main.runUntil([&] { return handle.done(); }, 60s)) << "the request did not end";
    main.runUntilIdle();

    auto record = store.render(item.id);
    ASSERT_TRUE(record);
    ASSERT_EQ(record->state, PodcastRender::State::ready) << record->error.value_or("");
    EXPECT_EQ(statesOnDisk, (std::vector<std::string>{"generatingScript", "rendering", "ready"}));
    EXPECT_EQ(renderer.turns, 3u);
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_NE(server.requests()[0].body.find("Salmon find their home river by smell."), std::string::npos);

    // The desktop shows the notification with the item's title.
    ASSERT_TRUE(desktop.run({"dunstctl", "close-all"}).ok());
    auto shown = testsupport::notificationHistory(desktop);
    EXPECT_NE(std::find(shown.begin(), shown.end(), std::pair<std::string, std::string>{"Podcast ready", "How salmon find home"}),
              shown.end());

    // A new store over the same file reads the podcast back.
    PodcastRenderStore reopened(main, clock, storeFile);
    auto back = reopened.render(item.id);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->scriptText, "NELL: Today, salmon.\n\nQUON: Wait, why salmon?\n\nNELL: They find home by smell.");
    EXPECT_NEAR(*back->durationSec, 0.5, 0.01);
    EXPECT_TRUE(fs::exists(back->audioURL->filePath()));

    // The file as a crash mid-render would have left it.
    PodcastRenderStore afterCrash(main, clock, crashCopy);
    EXPECT_EQ(afterCrash.render(item.id)->state, PodcastRender::State::error);
    EXPECT_EQ(afterCrash.render(item.id)->error, "Render interrupted \u2014 tap to retry.");
}

}  // namespace
}  // namespace parlowen
