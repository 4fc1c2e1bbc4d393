// The Gemini renderer with its key in a real keyring (gnome-keyring on a
// private session bus), read afresh at each render, and a generated tone
// through the loopback service into a real CAF file read back by libsndfile.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numbers>

#include "Parlowen/listenlater/render/GeminiPodcastRenderer.h"
#include "Parlowen/shell/KeychainStore.h"
#include "platform/audio/AudioFile.h"
#include "platform/http/CurlHttpClient.h"
#include "platform/keychain/SecretStore.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/runtime/Strand.h"
#include "platform/runtime/WorkerPool.h"
#include "platform/testsupport/LoopbackServer.h"
#include "platform/testsupport/Services.h"
#include "platform/testsupport/TempHome.h"
#include "platform/values/Files.h"

namespace parlowen {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kPath = "/v1beta/models/gemini-2.5-flash-preview-tts:generateContent";

// 0.75 s of a 440 Hz tone at 24 kHz as 16-bit little-endian bytes.
std::vector<std::int16_t> tone() {
    std::vector<std::int16_t> samples(18000);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(std::lround(12000 * std::sin(2 * std::numbers::pi * 440 * i / 24000.0)));
    return samples;
}

platform::Bytes littleEndian(const std::vector<std::int16_t>& samples) {
    platform::Bytes b;
    for (std::int16_t s : samples) {
        b.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) & 0xff));
        b.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8));
    }
    return b;
}

TEST(GeminiPodcastIntegration, ReadsTheKeyringAtEachRenderAndWritesTheToneSampleForSample) {
    testsupport::KeyringService keyring;
    PARLOWEN_REQUIRE_OR_SKIP(keyring.start());
    keyring.exportToProcess();

    const auto samples = tone();
    testsupport::LoopbackServer server;
    server.route("POST", kPath,
                 testsupport::LoopbackReply::text(
                     200, R"({"candidates":[{"content":{"role":"model","parts":[{"inlineData":{"mimeType":"audio/L16;codec=pcm;rate=24000","data":")" +
                              platform::base64Encode(littleEndian(samples)) + R"("}}]}}]})"));

    testsupport::TempDir caches;
    ListenLaterCache cache(caches.path());
    platform::ManualExecutor main;
    platform::WorkerPool pool(2);
    platform::Strand keychainWork(pool);
    RenderProgressStore progress(main);
    platform::CurlHttpClient http;
    std::unique_ptr<platform::SecretStore> secrets = platform::makeLibsecretStore();
    KeychainStore keychain(*secrets, keychainWork);
    ASSERT_TRUE(keychain.write(KeychainStore::Key::googleAIStudio, "AIza-first"));

    const auto id = platform::Uuid::random();
    const fs::path article = cache.audioFileURL(id, "caf").filePath();
    ASSERT_TRUE(platform::writeFileAtomically(article, std::string_view("the article's audio")));

    GeminiPodcastRenderer renderer(GeminiPodcastRenderer::keychainKeyProvider(keychain),
                                   {main, pool, progress, cache, http, server.baseUrl()});
    PodcastDialogue dialogue{{PodcastHostRole::a, "Quon", "QUON"},
                             {PodcastHostRole::b, "Nell", "NELL"},
                             {{PodcastHostRole::a, "Hello."}, {PodcastHostRole::b, "Hi."}}};
    auto renderOnce = [&] {
        auto h = platform::spawn(main, renderer.render(dialogue, "Kore", "Leda", id));
        EXPECT_TRUE(main.runUntil([&] { return h.done(); }, 30s));
        return h.value();
    };

    auto first = renderOnce();
    ASSERT_TRUE(first) << first.error().description;
    ASSERT_TRUE(keychain.write(KeychainStore::Key::googleAIStudio, "AIza-second"));
    auto second = renderOnce();
    ASSERT_TRUE(second) << second.error().description;

    ASSERT_EQ(server.requestCount(), 2u);
    EXPECT_EQ(server.requests()[0].header("x-goog-api-key"), "AIza-first");
    EXPECT_EQ(server.requests()[1].header("x-goog-api-key"), "AIza-second");

    EXPECT_EQ(second->fileURL.filePath(), caches / "com.kelvatrum.Parlowen" / "listen-later" /
                                              (id.uuidString() + "-podcast.caf"));
    EXPECT_DOUBLE_EQ(second->durationSec, 0.75);
    auto reader = platform::openAudioFileForReading(second->fileURL.filePath());
    ASSERT_TRUE(reader) << reader.error().description;
    EXPECT_EQ((*reader)->fileFormat().sampleRate, 24000);
    EXPECT_EQ((*reader)->fileFormat().channelCount, 1u);
    ASSERT_EQ((*reader)->length(), static_cast<std::int64_t>(samples.size()));
    platform::PcmBuffer read((*reader)->processingFormat(), static_cast<std::uint32_t>(samples.size()));
    ASSERT_TRUE((*reader)->read(read, static_cast<std::uint32_t>(samples.size())));
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (std::lround(read.floatChannel(0)[i] * 32768.0f) != samples[i]) ++mismatches;
    EXPECT_EQ(mismatches, 0u);

    EXPECT_EQ(platform::readFile(article), platform::toBytes("the article's audio"));
}

}  // namespace
}  // namespace parlowen
