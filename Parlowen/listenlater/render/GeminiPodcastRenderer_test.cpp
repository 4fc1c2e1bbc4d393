// The Gemini renderer against a loopback server through the libcurl client:
// the render works on a real worker thread and reports progress to a manual
// main executor that the test runs.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>

#include "Parlowen/listenlater/render/GeminiPodcastRenderer.h"
#include "platform/audio/AudioFile.h"
#include "platform/http/CurlHttpClient.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/runtime/WorkerPool.h"
#include "platform/testsupport/LoopbackServer.h"
#include "platform/testsupport/TempHome.h"
#include "platform/values/Files.h"

namespace parlowen {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::Bytes;
using testsupport::LoopbackReply;
using testsupport::LoopbackRequest;

constexpr const char* kPath = "/v1beta/models/gemini-2.5-flash-preview-tts:generateContent";

PodcastDialogue dialogue(std::vector<PodcastTurn> turns) {
    return {{PodcastHostRole::a, "Quon", "QUON"}, {PodcastHostRole::b, "Nell", "NELL"}, std::move(turns)};
}

PodcastDialogue threeTurns() {
    return dialogue({{PodcastHostRole::a, "Why salmon?"},
                     {PodcastHostRole::b, "They smell home."},
                     {PodcastHostRole::a, "Wait, really?"}});
}

// A reply whose first candidate's first part carries `pcm`.
std::string audioReply(const Bytes& pcm) {
    return R"({"candidates":[{"content":{"parts":[{"inlineData":{"mimeType":"audio/L16;rate=24000","data":")" +
           platform::base64Encode(pcm) + R"("}}]}}],"usageMetadata":{"totalTokenCount":5}})";
}

Bytes ramp(std::size_t bytes) {
    Bytes b(bytes);
    for (std::size_t i = 0; i < bytes; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return b;
}

class GeminiRenderTest : public ::testing::Test {
protected:
    void SetUp() override { setReply(LoopbackReply::text(200, audioReply(ramp(4800)))); }

    void setReply(LoopbackReply reply) {
        server.route("POST", kPath, [this, reply](const LoopbackRequest&) { return reply; });
    }

    GeminiPodcastRenderer renderer(std::string baseURL = {}) {
        return GeminiPodcastRenderer(
            [this]() -> platform::Result<std::string> {
                std::lock_guard lock(keyMutex);
                ++keyReads;
                if (!key) return platform::fail(platform::Error::make("KeychainStore.Error", 2, "missing", "missing"));
                return *key;
            },
            {main, pool, progress, cache, http, baseURL.empty() ? server.baseUrl() : baseURL});
    }

    platform::Result<ListenLaterRenderResult> render(GeminiPodcastRenderer& r, PodcastDialogue d = threeTurns(),
                                                     std::string voiceA = "Puck", std::string voiceB = "Charon") {
        progress.clear(itemID);  // as the queue does when a render ends
        auto sub = progress.progressStream().subscribe([this](const RenderProgressStore::Progress& p) {
            if (auto it = p.find(itemID); it != p.end()) reported.push_back(it->second);
        });
        auto h = platform::spawn(main, r.render(std::move(d), voiceA, voiceB, itemID));
        EXPECT_TRUE(main.runUntil([&] { return h.done(); }, 20s)) << "the render did not end";
        main.runUntilIdle();
        return h.value();
    }

    std::vector<std::string> geminiLines() {
        std::vector<std::string> out;
        for (const auto& l : log.sink().linesOfCategory("podcast-render-gemini")) out.push_back(l.message);
        return out;
    }

    testsupport::TempDir caches;
    ListenLaterCache cache{caches.path()};
    platform::ManualExecutor main;
    platform::WorkerPool pool{1};
    RenderProgressStore progress{main};
    // The server outlives the client, whose closed connections let it stop at once.
    testsupport::LoopbackServer server;
    platform::CurlHttpClient http;
    platform::ScopedLogCapture log;
    std::mutex keyMutex;
    std::optional<std::string> key = "AIza-test-key";
    int keyReads = 0;
    platform::Uuid itemID = *platform::Uuid::fromString("6A1C2E3F-0000-4000-8000-00000000AB01");
    std::vector<double> reported;
};

TEST_F(GeminiRenderTest, SendsTheDialogueAsOneRequestWithTheKeyInTheHeaderOnly) {
    auto r = renderer();
    ASSERT_TRUE(render(r, threeTurns(), "Puck", "Not-A-Catalogue-Voice"));
    ASSERT_EQ(server.requestCount(), 1u);
    const LoopbackRequest req = server.requests()[0];
    EXPECT_EQ(req.method, "POST");
    EXPECT_EQ(req.path, kPath);
    EXPECT_EQ(req.query, "");
    EXPECT_EQ(req.header("Content-Type"), "application/json");
    EXPECT_EQ(req.header("x-goog-api-key"), "AIza-test-key");
    EXPECT_EQ(req.body,
              R"({"contents":[{"parts":[{"text":"QUON: Why salmon?\nNELL: They smell home.\nQUON: Wait, really?"}]}],)"
              R"("generationConfig":{"responseModalities":["AUDIO"],"speechConfig":{"multiSpeakerVoiceConfig":)"
              R"({"speakerVoiceConfigs":[{"speaker":"QUON","voiceConfig":{"prebuiltVoiceConfig":{"voiceName":"Puck"}}},)"
              R"({"speaker":"NELL","voiceConfig":{"prebuiltVoiceConfig":{"voiceName":"Not-A-Catalogue-Voice"}}}]}}}})");

    // Neither the key nor the script reaches the log.
    for (const auto& line : log->messages()) {
        EXPECT_EQ(line.find("AIza-test-key"), std::string::npos) << line;
        EXPECT_EQ(line.find("salmon"), std::string::npos) << line;
    }
}

TEST_F(GeminiRenderTest, AnEmptyDialogueSendsAnEmptyScript) {
    EXPECT_EQ(GeminiPodcastRenderer::makeScriptText(dialogue({})), "");
    auto body = nlohmann::json::parse(GeminiPodcastRenderer::requestBody(dialogue({}), "Puck", "Charon"));
    EXPECT_EQ(body["contents"][0]["parts"][0]["text"], "");
    EXPECT_EQ(GeminiPodcastRenderer::makeScriptText(dialogue({{PodcastHostRole::b, " spaced  text "}})),
              "NELL:  spaced  text ");
}

TEST_F(GeminiRenderTest, WritesTheReplyAsMonoCafReportingProgressInOrder) {
    // One second of audio and an odd byte, which is dropped.
    const Bytes pcm = ramp(2 * 24000 + 1);
    setReply(LoopbackReply::text(200, audioReply(pcm)));
    const fs::path articleAudio = cache.audioFileURL(itemID, "caf").filePath();
    ASSERT_TRUE(platform::writeFileAtomically(articleAudio, platform::toBytes("article")));
    const fs::path podcast = cache.podcastAudioFileURL(itemID).filePath();
    ASSERT_TRUE(platform::writeFileAtomically(podcast, platform::toBytes("an older podcast")));

    auto r = renderer();
    auto result = render(r);
    ASSERT_TRUE(result) << result.error().description;
    EXPECT_EQ(result->fileURL, cache.podcastAudioFileURL(itemID));
    EXPECT_EQ(result->fileURL.lastPathComponent(), itemID.uuidString() + "-podcast.caf");
    EXPECT_DOUBLE_EQ(result->durationSec, 1.0);
    EXPECT_EQ(reported, (std::vector<double>{0.05, 0.1, 0.7, 0.95, 1.0}));

    auto reader = platform::openAudioFileForReading(podcast);
    ASSERT_TRUE(reader) << reader.error().description;
    EXPECT_EQ((*reader)->fileFormat().sampleRate, 24000);
    EXPECT_EQ((*reader)->fileFormat().channelCount, 1u);
    EXPECT_EQ((*reader)->fileFormat().sampleType, platform::PcmSampleType::int16);
    ASSERT_EQ((*reader)->length(), 24000);
    platform::PcmBuffer samples((*reader)->processingFormat(), 24000);
    ASSERT_TRUE((*reader)->read(samples, 24000));
    for (std::uint32_t i : {0u, 1u, 12345u, 23999u}) {
        const auto expected = static_cast<std::int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8));
        EXPECT_FLOAT_EQ(samples.floatChannel(0)[i], expected / 32768.0f) << i;
    }
    EXPECT_EQ(platform::readFile(articleAudio), platform::toBytes("article"));

    const auto lines = geminiLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "gemini render begin: " + itemID.uuidString() + " turns=3 voiceA=Puck voiceB=Charon");
    EXPECT_TRUE(lines[1].starts_with("gemini response ")) << lines[1];
    EXPECT_TRUE(lines[1].ends_with("ms")) << lines[1];
    EXPECT_EQ(lines[2], "gemini render done: " + itemID.uuidString() + " duration=1.000000s");
}

TEST_F(GeminiRenderTest, WithoutAKeyRemovesTheOldPodcastAndDoesNothingElse) {
    key.reset();
    const fs::path podcast = cache.podcastAudioFileURL(itemID).filePath();
    ASSERT_TRUE(platform::writeFileAtomically(podcast, platform::toBytes("an older podcast")));
    auto r = renderer();
    auto result = render(r);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().caseName, "missingKey");
    EXPECT_EQ(result.error().description, "No Google AI Studio API key configured");
    EXPECT_FALSE(fs::exists(podcast));
    EXPECT_TRUE(reported.empty());
    EXPECT_TRUE(geminiLines().empty());
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(GeminiRenderTest, ReadsTheKeyAtEachRender) {
    auto r = renderer();
    ASSERT_TRUE(render(r));
    key = "AIza-second";
    ASSERT_TRUE(render(r));
    EXPECT_EQ(keyReads, 2);
    ASSERT_EQ(server.requestCount(), 2u);
    EXPECT_EQ(server.requests()[1].header("x-goog-api-key"), "AIza-second");
}

struct ReplyCase {
    const char* name;
    int status;
    std::string body;
    std::string description;  // exact, or the start when it ends in "…" below
    bool prefixOnly = false;
};

TEST_F(GeminiRenderTest, TurnsEachBadReplyIntoItsError) {
    const std::string long500(500, 'x');
    const std::string part = R"({"candidates":[{"content":{"parts":[)";
    const std::vector<ReplyCase> cases = {
        {"long body", 403, std::string(2000, 'e'), "Gemini API 403: " + std::string(500, 'e') + "\u2026"},
        {"500 characters", 400, long500, "Gemini API 400: " + long500},
        {"500 accented characters", 400, [] { std::string s; for (int i = 0; i < 500; ++i) s += "\u00e9"; return s; }(),
         "Gemini API 400: " + [] { std::string s; for (int i = 0; i < 500; ++i) s += "\u00e9"; return s; }()},
        {"non-utf8", 500, "\xff\xfe oops", "Gemini API 500: (non-utf8)"},
        {"text part first", 200,
         part + R"({"text":"hi"},{"inlineData":{"data":"AAAA"}}]}}]})", "Gemini response contained no audio data"},
        {"no candidates", 200, R"({"candidates":[]})", "Gemini response contained no audio data"},
        {"no parts", 200, R"({"candidates":[{"content":{"parts":[]}}]})", "Gemini response contained no audio data"},
        {"empty data", 200, part + R"({"inlineData":{"data":""}}]}}]})", "Gemini response contained no audio data"},
        {"one byte", 200, part + R"({"inlineData":{"data":"AA=="}}]}}]})",
         "Couldn't decode Gemini response: Couldn't create PCM buffer (1 bytes)"},
        {"line break", 200, part + R"({"inlineData":{"data":"AAAA\nAAAA"}}]}}]})",
         "Couldn't decode Gemini response: inlineData.data not valid base64"},
        {"no candidates key", 200, R"({"promptFeedback":{}})",
         "Couldn't decode Gemini response: JSON decode failed: ", true},
        {"not json", 200, "<html>busy</html>", "Couldn't decode Gemini response: JSON decode failed: ", true},
        {"data not a string", 200, part + R"({"inlineData":{"data":12}}]}}]})",
         "Couldn't decode Gemini response: JSON decode failed: ", true},
        {"later candidate malformed", 200, part + R"({"inlineData":{"data":"AAAA"}}]}},{"content":{}}]})",
         "Couldn't decode Gemini response: JSON decode failed: ", true},
    };
    auto r = renderer();
    for (const auto& c : cases) {
        setReply(LoopbackReply::text(c.status, c.body));
        reported.clear();
        auto result = render(r);
        ASSERT_FALSE(result) << c.name;
        if (c.prefixOnly)
            EXPECT_TRUE(result.error().description.starts_with(c.description)) << c.name << ": "
                                                                                 << result.error().description;
        else
            EXPECT_EQ(result.error().description, c.description) << c.name;
        EXPECT_EQ(result.error().domain, GeminiRenderError::kDomain) << c.name;
        EXPECT_FALSE(fs::exists(cache.podcastAudioFileURL(itemID).filePath())) << c.name;
        const std::vector<double> expected =
            c.status == 200 ? std::vector<double>{0.05, 0.1, 0.7} : std::vector<double>{0.05, 0.1};
        EXPECT_EQ(reported, expected) << c.name;
    }
}

TEST_F(GeminiRenderTest, AnErrorReplyIsLoggedWithItsBodyPrivate) {
    setReply(LoopbackReply::text(403, R"({"error":{"message":"API key not valid"}})"));
    auto r = renderer();
    auto result = render(r);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().caseName, "http");
    const auto lines = geminiLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "gemini http 403: <private>");
    EXPECT_EQ(log.sink().linesOfCategory("podcast-render-gemini")[1].level, platform::LogLevel::error);
}

TEST_F(GeminiRenderTest, AFailedConnectionIsANetworkError) {
    testsupport::RefusingPort refusing;
    auto r = renderer(refusing.baseUrl());
    auto result = render(r);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().caseName, "network");
    EXPECT_TRUE(result.error().description.starts_with("Network error: ")) << result.error().description;
    ASSERT_TRUE(result.error().underlying);
    EXPECT_EQ(result.error().description, "Network error: " + result.error().underlying->description);
}

TEST(GeminiPodcastRendererFiles, WriteAudioFileRefusesTooFewBytesAndPassesOnFileErrors) {
    testsupport::TempDir dir;
    auto none = GeminiPodcastRenderer::writeAudioFile({}, dir / "a.caf");
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error().description, "Couldn't decode Gemini response: Couldn't create PCM buffer (0 bytes)");
    EXPECT_FALSE(fs::exists(dir / "a.caf"));

    const Bytes two{0x01, 0x80};
    auto noFolder = GeminiPodcastRenderer::writeAudioFile(two, dir / "missing" / "a.caf");
    ASSERT_FALSE(noFolder);
    EXPECT_NE(noFolder.error().domain, GeminiRenderError::kDomain);

    ASSERT_TRUE(GeminiPodcastRenderer::writeAudioFile(two, dir / "b.caf"));
    auto reader = platform::openAudioFileForReading(dir / "b.caf");
    ASSERT_TRUE(reader);
    EXPECT_EQ((*reader)->length(), 1);
}

TEST(GeminiPodcastRendererFiles, ExtractPCMLooksOnlyAtTheFirstCandidatesFirstPart) {
    const Bytes first{1, 2, 3, 4}, second{9, 9};
    const std::string body = R"({"candidates":[{"content":{"parts":[{"inlineData":{"data":")" +
                             platform::base64Encode(first) + R"("}},{"inlineData":{"data":")" +
                             platform::base64Encode(second) + R"("}}]}},{"content":{"parts":[{"inlineData":{"data":")" +
                             platform::base64Encode(second) + R"("}}]}}],"extra":[1,{"data":"x"}]})";
    auto pcm = GeminiPodcastRenderer::extractPCM(platform::toBytes(body));
    ASSERT_TRUE(pcm) << pcm.error().description;
    EXPECT_EQ(*pcm, first);
}

}  // namespace
}  // namespace parlowen
