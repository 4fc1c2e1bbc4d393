// The cloud engine against a real HTTP server on 127.0.0.1 (through the
// libcurl client), with its background executor run by the test thread; the
// exact bytes it sends are checked through the scripted client, which keeps
// the request as given (the test server parses multipart bodies away).

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <thread>

#include "Parlowen/dictation/GroqTranscriptionEngine.h"
#include "platform/http/CurlHttpClient.h"
#include "platform/http/FakeHttpClient.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/LoopbackServer.h"

using namespace parlowen;
using namespace std::chrono_literals;
using platform::PcmBuffer;
using platform::PcmFormat;
using testsupport::LoopbackReply;
using testsupport::LoopbackRequest;

namespace {

constexpr const char* kPath = "/openai/v1/audio/transcriptions";

PcmBuffer mono16k(std::size_t count, float value = 0.25f) {
    PcmBuffer b(PcmFormat::float32(16000, 1), static_cast<std::uint32_t>(count));
    std::fill_n(b.floatChannel(0), count, value);
    b.setFrameLength(static_cast<std::uint32_t>(count));
    return b;
}

std::string text(const platform::Bytes& b) { return std::string(b.begin(), b.end()); }

std::uint32_t le32(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(s[at + i]);
    return v;
}

// The WAV file inside a multipart body.
std::string wavOf(const std::string& body) {
    auto riff = body.find("RIFF");
    if (riff == std::string::npos) return {};
    return body.substr(riff, 8 + le32(body, riff + 4));
}

struct GroqFixture : ::testing::Test {
    testsupport::LoopbackServer server;
    platform::CurlHttpClient http;
    platform::ManualExecutor background;
    platform::ScopedLogCapture logs;
    std::mutex replyMutex;
    LoopbackReply reply = LoopbackReply::text(200, R"({"text":"  hello world\n"})");

    void SetUp() override {
        server.route("POST", kPath, [this](const LoopbackRequest&) {
            std::lock_guard lock(replyMutex);
            return reply;
        });
    }
    void setReply(LoopbackReply r) {
        std::lock_guard lock(replyMutex);
        reply = std::move(r);
    }
    std::unique_ptr<GroqTranscriptionEngine> makeEngine() {
        GroqTranscriptionConfig config;
        config.baseURL = server.baseUrl();
        return std::make_unique<GroqTranscriptionEngine>("gsk_secret", GroqTranscriptionModel::largeV3Turbo, http,
                                                         background, config);
    }
    platform::Status start(GroqTranscriptionEngine& engine) {
        auto h = platform::spawn(background, engine.start());
        EXPECT_TRUE(background.runUntil([&] { return h.done(); }));
        return h.value();
    }
    platform::Result<std::string> finish(GroqTranscriptionEngine& engine) {
        auto h = platform::spawn(background, engine.finish());
        EXPECT_TRUE(background.runUntil([&] { return h.done(); }, 10000ms));
        return h.value();
    }
};

TEST_F(GroqFixture, PostsAWavFileWithTheKeyAndReturnsTheTrimmedText) {
    auto engine = makeEngine();
    EXPECT_EQ(engine->name(), "Groq");
    EXPECT_EQ(engine->endpoint(), server.baseUrl() + kPath);
    bool partial = false;
    engine->setOnPartial([&](const std::string&) { partial = true; });
    ASSERT_TRUE(start(*engine));
    engine->append(mono16k(1000));
    engine->append(mono16k(601));
    auto text = finish(*engine);
    ASSERT_TRUE(text) << text.error().description;
    EXPECT_EQ(*text, "hello world");
    EXPECT_FALSE(partial);

    ASSERT_EQ(server.requestCount(), 1u);
    const LoopbackRequest req = server.requests()[0];
    EXPECT_EQ(req.header("Authorization"), "Bearer gsk_secret");
    const std::string contentType = req.header("Content-Type").value_or("");
    const std::string prefix = "multipart/form-data; boundary=parlowen-";
    ASSERT_EQ(contentType.rfind(prefix, 0), 0u) << contentType;
    const std::string uuid = contentType.substr(prefix.size());
    ASSERT_TRUE(platform::Uuid::fromString(uuid));
    EXPECT_EQ(platform::Uuid::fromString(uuid)->uuidString(), uuid);  // upper case
    // The server took the body apart as multipart form data (or it would have answered 400).
    EXPECT_TRUE(logs->contains("posting 3246 bytes (0.10s) to Groq whisper-large-v3-turbo", platform::LogLevel::info));
    EXPECT_TRUE(logs->contains("groq transcribed in "));
    for (const auto& m : logs->messages()) EXPECT_EQ(m.find("gsk_secret"), std::string::npos) << m;
}

TEST_F(GroqFixture, TooShortRecordingsAndDroppedSessionsSendNothing) {
    auto engine = makeEngine();
    // Finish and cancel without a start are harmless.
    engine->cancel();
    engine->cancel();
    EXPECT_EQ(finish(*engine), "");

    ASSERT_TRUE(start(*engine));
    engine->append(mono16k(1600));
    EXPECT_EQ(finish(*engine), "");
    EXPECT_TRUE(logs->contains("audio too short to transcribe (1600 samples)", platform::LogLevel::info));

    ASSERT_TRUE(start(*engine));
    engine->append(mono16k(4000));
    engine->cancel();
    EXPECT_EQ(finish(*engine), "");

    // A second start drops the first session; audio between sessions never counts.
    ASSERT_TRUE(start(*engine));
    engine->append(mono16k(4000));
    ASSERT_TRUE(start(*engine));
    engine->append(mono16k(100));
    EXPECT_EQ(finish(*engine), "");
    engine->append(mono16k(4000));  // after finish, before the next start
    ASSERT_TRUE(start(*engine));
    engine->append(mono16k(100));
    EXPECT_EQ(finish(*engine), "");
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(GroqFixture, RepliesMapToTextOrErrors) {
    struct Case {
        LoopbackReply reply;
        std::string text;         // expected text, when it succeeds
        std::string description;  // expected error description otherwise
        std::string domain;
    } cases[] = {
        {LoopbackReply::text(200, R"({"text":"\n  Trimmed. \n","x_groq":{"id":"1"}})"), "Trimmed.", "", ""},
        {LoopbackReply::text(500, "<html>Internal error</html>"), "", "Groq error 500: HTTP 500",
         GroqTranscriptionEngineError::kDomain},
        {LoopbackReply::text(401, R"({"error":{"message":"Invalid API Key","type":"invalid_request_error","code":"invalid_api_key"}})"),
         "", "Groq error 401: Invalid API Key", GroqTranscriptionEngineError::kDomain},
        {LoopbackReply::text(400, R"({"error":{"message":"bad","code":400}})"), "", "Groq error 400: HTTP 400",
         GroqTranscriptionEngineError::kDomain},
        {LoopbackReply::text(429, R"({"error":{"message":"Rate limit reached"}})"), "",
         "Groq error 429: Rate limit reached", GroqTranscriptionEngineError::kDomain},
        {LoopbackReply::text(200, R"({"transcript":"hi"})"), "", "", platform::kJsonErrorDomain},
        {LoopbackReply::text(200, "not json"), "", "", platform::kJsonErrorDomain},
    };
    auto engine = makeEngine();
    for (const auto& c : cases) {
        setReply(c.reply);
        ASSERT_TRUE(start(*engine));
        engine->append(mono16k(2000));
        auto result = finish(*engine);
        if (c.domain.empty()) {
            ASSERT_TRUE(result) << result.error().description;
            EXPECT_EQ(*result, c.text);
        } else {
            ASSERT_FALSE(result) << c.reply.body;
            EXPECT_EQ(result.error().domain, c.domain) << c.reply.body;
            if (!c.description.empty()) {
                EXPECT_EQ(result.error().description, c.description);
                EXPECT_EQ(result.error().caseName, "api");
            }
        }
    }
    EXPECT_EQ(server.requestCount(), std::size(cases));
}

TEST(GroqEncoding, SamplesBecomeSigned16BitWithNaNAsSilence) {
    struct Case {
        float in;
        std::int16_t out;
    } cases[] = {
        {1.5f, 32767}, {1.0f, 32767}, {0.5f, 16383}, {-0.5f, -16383}, {-1.0f, -32767}, {-1.5f, -32767},
        {0.0f, 0}, {std::numeric_limits<float>::quiet_NaN(), 0}, {std::numeric_limits<float>::infinity(), 32767},
        {-std::numeric_limits<float>::infinity(), -32767},
    };
    for (const auto& c : cases) EXPECT_EQ(GroqTranscriptionEngine::pcm16(c.in), c.out) << c.in;

    const float two[] = {0.5f, -1.0f};
    auto wav = GroqTranscriptionEngine::wavData(two);
    const std::uint8_t expected[] = {'R', 'I', 'F', 'F', 40, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                     16, 0, 0, 0, 1, 0, 1, 0, 0x80, 0x3e, 0, 0, 0x00, 0x7d, 0, 0,
                                     2, 0, 16, 0, 'd', 'a', 't', 'a', 4, 0, 0, 0, 0xff, 0x3f, 0x01, 0x80};
    EXPECT_EQ(wav, platform::Bytes(std::begin(expected), std::end(expected)));
}

TEST(GroqEncoding, MultipartBodyForAFixedBoundary) {
    const platform::Bytes wav = {'W', 'A', 'V'};
    auto body = GroqTranscriptionEngine::multipartBody("parlowen-B", wav, GroqTranscriptionModel::distilLargeV3);
    EXPECT_EQ(std::string(body.begin(), body.end()),
              "--parlowen-B\r\n"
              "Content-Disposition: form-data; name=\"file\"; filename=\"audio.wav\"\r\n"
              "Content-Type: audio/wav\r\n\r\n"
              "WAV\r\n"
              "--parlowen-B\r\n"
              "Content-Disposition: form-data; name=\"model\"\r\n\r\n"
              "distil-whisper-large-v3-en\r\n"
              "--parlowen-B\r\n"
              "Content-Disposition: form-data; name=\"response_format\"\r\n\r\n"
              "json\r\n"
              "--parlowen-B--\r\n");
}

// In virtual time, with the scripted client.
struct GroqVirtual : ::testing::Test {
    platform::ManualExecutor background;
    platform::FakeHttpClient http;
    const std::string url = "https://transcribe.test/openai/v1/audio/transcriptions";

    GroqTranscriptionEngine engine(GroqTranscriptionConfig config = {}) {
        config.baseURL = "https://transcribe.test";
        return GroqTranscriptionEngine("gsk_k", GroqTranscriptionModel::largeV3, http, background, config);
    }
    platform::Result<std::string> session(GroqTranscriptionEngine& e, std::size_t samples) {
        auto s = platform::spawn(background, e.start());
        background.runUntilIdle();
        e.append(mono16k(samples));
        auto f = platform::spawn(background, e.finish());
        background.advanceUntilIdle();
        EXPECT_TRUE(f.done());
        return f.value();
    }
};

TEST_F(GroqVirtual, ARecordingOverTheUploadLimitIsRefusedBeforeAnyUpload) {
    GroqTranscriptionConfig config;
    config.maxUploadBytes = 44 + 2 * 4000;
    auto e = engine(config);
    http.answer("POST", url, platform::FakeHttpAnswer::text(200, R"({"text":"ok"})"));
    EXPECT_EQ(session(e, 4000), "ok");  // exactly at the limit
    auto tooLong = session(e, 4001);
    ASSERT_FALSE(tooLong);
    EXPECT_EQ(tooLong.error().caseName, "recordingTooLong");
    EXPECT_EQ(tooLong.error().description,
              "The recording is too long to transcribe with Groq: its audio (0.00805 MB) is over the 0.00804 MB upload "
              "limit.");
    EXPECT_EQ(http.requestCount(), 1u);
    // Default limit: 25 MB, about 13 minutes at 16 kHz.
    EXPECT_EQ(GroqTranscriptionConfig{}.maxUploadBytes, 25'000'000u);
}

TEST_F(GroqVirtual, TransportErrorsPassUnchangedAndTheRequestCarriesTheTimeout) {
    auto e = engine();
    auto failure = platform::Error::make("http", 2, "timedOut", "timed out");
    http.answer("POST", url, platform::FakeHttpAnswer::failure(failure));
    auto result = session(e, 2000);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), failure);
    ASSERT_EQ(http.requestCount(), 1u);
    EXPECT_EQ(http.requests()[0].timeout, 8s);
    EXPECT_EQ(http.requests()[0].method, "POST");
    EXPECT_EQ(http.requests()[0].headers.size(), 2u);  // Authorization and Content-Type only
}

TEST_F(GroqVirtual, StereoAt48kIsSentAs16kMonoWhileAnotherThreadAppends) {
    auto e = engine();
    auto* engine = &e;
    http.answer("POST", url, platform::FakeHttpAnswer::text(200, R"({"text":"tone"})"));
    const PcmFormat capture = PcmFormat::float32(48000, 2);
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> framesAfterStart{0};
    std::atomic<bool> started{false};
    // The audio thread keeps appending 440 Hz through start and finish.
    std::thread audio([&] {
        std::uint64_t frame = 0;
        PcmBuffer b(capture, 1024);
        b.setFrameLength(1024);
        while (!stop) {
            for (std::uint32_t i = 0; i < 1024; ++i) {
                const float v = 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 440 * (frame + i) / 48000));
                b.setSample(0, i, v);
                b.setSample(1, i, v);
            }
            frame += 1024;
            engine->append(b);
            if (started) framesAfterStart += 1024;
            if (frame % (1024 * 8) == 0) std::this_thread::yield();
        }
    });
    auto starting = platform::spawn(background, engine->start());
    background.runUntilIdle();
    ASSERT_TRUE(starting.done());
    started = true;
    while (framesAfterStart < 48000) std::this_thread::yield();
    auto f = platform::spawn(background, engine->finish());
    background.advanceUntilIdle();
    ASSERT_TRUE(f.done());
    auto result = f.value();
    stop = true;
    audio.join();
    ASSERT_TRUE(result) << result.error().description;

    EXPECT_EQ(*result, "tone");
    ASSERT_EQ(http.requestCount(), 1u);
    const std::string wav = wavOf(text(http.requests()[0].body));
    ASSERT_GT(wav.size(), 44u);
    const std::size_t count = (wav.size() - 44) / 2;
    EXPECT_GE(count, 16000u * 0.9);  // at least what was appended after start, a third of the frames
    std::vector<float> s(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::int16_t v;
        std::memcpy(&v, wav.data() + 44 + 2 * i, 2);
        s[i] = v / 32767.0f;
    }
    std::size_t first = 0, last = 0, crossings = 0;
    for (std::size_t i = 2000; i + 2000 < count; ++i)
        if (s[i - 1] < 0 && s[i] >= 0) {
            if (!crossings) first = i;
            last = i;
            ++crossings;
        }
    ASSERT_GT(crossings, 10u);
    EXPECT_NEAR((crossings - 1) * 16000.0 / (last - first), 440, 2);
}

// The coordinator may replace a cached engine while its request is on the
// network: the finishing session keeps what it needs and still answers.
TEST_F(GroqVirtual, AnEngineReplacedWhileItsRequestIsInFlightStillFinishes) {
    auto answer = platform::FakeHttpAnswer::text(200, R"({"text":" late "})");
    answer.delay = 2s;
    http.answer("POST", url, answer);
    auto e = std::make_unique<GroqTranscriptionEngine>(engine());
    auto s = platform::spawn(background, e->start());
    background.runUntilIdle();
    e->append(mono16k(4000));
    auto f = platform::spawn(background, e->finish());
    background.advance(1s);
    ASSERT_EQ(http.requestCount(), 1u);
    ASSERT_FALSE(f.done());
    e.reset();
    background.advanceUntilIdle();
    ASSERT_TRUE(f.done());
    EXPECT_EQ(f.value(), "late");
}

// Long sessions grow the store in blocks made off the audio thread: past
// the first blocks nothing is lost, and the samples keep their order.
TEST_F(GroqVirtual, ASessionLongerThanThePreparedBlocksKeepsEverySampleInOrder) {
    auto e = engine();
    http.answer("POST", url, platform::FakeHttpAnswer::text(200, R"({"text":"long"})"));
    auto s = platform::spawn(background, e.start());
    background.runUntilIdle();
    // 45 s in 1 s buffers, each holding its own index.
    for (int second = 0; second < 45; ++second) e.append(mono16k(16000, second / 64.0f));
    auto f = platform::spawn(background, e.finish());
    background.advanceUntilIdle();
    ASSERT_EQ(f.value(), "long");
    const std::string wav = wavOf(text(http.requests()[0].body));
    ASSERT_EQ((wav.size() - 44) / 2, 45u * 16000);
    for (int second = 0; second < 45; ++second) {
        std::int16_t v;
        std::memcpy(&v, wav.data() + 44 + 2 * (second * 16000 + 8000), 2);
        EXPECT_EQ(v, GroqTranscriptionEngine::pcm16(second / 64.0f)) << second;
    }
}

TEST_F(GroqVirtual, TheRequestCarriesTheExactWavAndMultipartBytes) {
    auto e = engine();
    http.answer("POST", url, platform::FakeHttpAnswer::text(200, R"({"text":"x"})"));
    ASSERT_EQ(session(e, 1601), "x");
    ASSERT_EQ(http.requestCount(), 1u);
    const auto request = http.requests()[0];
    const std::string contentType = request.headers.value("Content-Type").value_or("");
    const std::string prefix = "multipart/form-data; boundary=";
    ASSERT_EQ(contentType.rfind(prefix + "parlowen-", 0), 0u) << contentType;
    const std::string boundary = contentType.substr(prefix.size());
    const std::string uuid = boundary.substr(std::strlen("parlowen-"));
    ASSERT_TRUE(platform::Uuid::fromString(uuid));
    EXPECT_EQ(platform::Uuid::fromString(uuid)->uuidString(), uuid);  // upper case
    EXPECT_EQ(request.headers.value("Authorization"), "Bearer gsk_k");

    const std::string wav = wavOf(text(request.body));
    ASSERT_EQ(wav.size(), 44u + 3202u);
    EXPECT_EQ(le32(wav, 4), 3238u);   // RIFF size
    EXPECT_EQ(le32(wav, 40), 3202u);  // data size
    const std::vector<float> samples(1601, 0.25f);
    EXPECT_EQ(request.body, GroqTranscriptionEngine::multipartBody(boundary, GroqTranscriptionEngine::wavData(samples),
                                                                  GroqTranscriptionModel::largeV3));
}

}  // namespace
