// The cloud voices' streamed playback. Ten sentences of one second of audio
// each come from a loopback server at ten times real time: the OpenAI voice
// playing them into the output double against a plain HttpClient::stream
// read of the same answers, and cutting a body into 100 ms buffers against a
// bare int16 copy of the same bytes. The voice must never hold more than
// three sentences of audio.

#include <benchmark/benchmark.h>

#include <cstring>
#include <numbers>

#include "Parlowen/readaloud/OpenAITTSEngine.h"
#include "bench/BenchMain.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/http/CurlHttpClient.h"
#include "platform/keychain/SecretStore.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/LoopbackServer.h"

namespace {

using namespace std::chrono_literals;

constexpr int kSentences = 10;
constexpr std::size_t kSentenceBytes = 48000;  // one second at 24 kHz
constexpr std::size_t kChunkBytes = 4800;      // 100 ms ...
constexpr auto kChunkDelay = 10ms;             // ... every 10 ms: ten times real time

std::string sentenceAudio() {
    std::string out(kSentenceBytes, '\0');
    for (std::size_t i = 0; i < kSentenceBytes / 2; ++i) {
        auto v = static_cast<std::int16_t>(8000 * std::sin(2 * std::numbers::pi * 440 * double(i) / 24000));
        std::memcpy(&out[2 * i], &v, 2);
    }
    return out;
}

struct Server {
    testsupport::LoopbackServer http;
    Server() {
        testsupport::LoopbackReply reply;
        const std::string audio = sentenceAudio();
        for (std::size_t at = 0; at < audio.size(); at += kChunkBytes) reply.chunks.push_back(audio.substr(at, kChunkBytes));
        reply.chunkDelay = kChunkDelay;
        http.route("POST", "/v1/audio/speech", reply);
    }
};

Server& server() {
    static Server s;
    return s;
}

std::string tenSentences() {
    std::string text;
    for (int i = 0; i < kSentences; ++i) text += "Sentence number " + std::to_string(i + 1) + ". ";
    return text;
}

platform::Task<std::size_t> readOne(platform::HttpClient* http, std::string url) {
    platform::HttpRequest request;
    request.method = "POST";
    request.url = std::move(url);
    request.body = platform::toBytes(R"({"input":"x"})");
    auto stream = co_await http->stream(std::move(request));
    std::size_t bytes = 0;
    if (!stream) co_return 0;
    for (;;) {
        auto chunk = co_await stream->body.next();
        if (!chunk || !*chunk) break;
        bytes += (*chunk)->size();
    }
    co_return bytes;
}

platform::Task<std::size_t> readTen(platform::HttpClient* http, std::string url) {
    std::size_t bytes = 0;
    for (int i = 0; i < kSentences; ++i) bytes += co_await readOne(http, url);
    co_return bytes;
}

void BM_PlainStreamRead(benchmark::State& state) {
    platform::ManualExecutor main;
    platform::CurlHttpClient http;
    const std::string url = server().http.url("/v1/audio/speech");
    for (auto _ : state) {
        auto h = platform::spawn(main, readTen(&http, url));
        if (!main.runUntil([&] { return h.done(); }, 30000ms) || h.value() != kSentences * kSentenceBytes) {
            state.SkipWithError("the plain read did not get every answer");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * kSentences * std::int64_t(kSentenceBytes));
}
BENCHMARK(BM_PlainStreamRead)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenAIVoiceStream(benchmark::State& state) {
    platform::ManualExecutor main;
    platform::CurlHttpClient http;
    platform::InMemorySecretStore secrets;
    parlowen::KeychainStore keychain(secrets, main);
    (void)keychain.write(parlowen::KeychainStore::Key::openAI, "sk-bench");
    platform::FakeAudioOutput output;
    platform::FakeAudioHardware hardware;
    platform::InMemoryUserDefaults defaults;
    parlowen::OpenAITTSEngine engine({main, http, keychain, output, hardware, defaults}, server().http.baseUrl());
    const std::string text = tenSentences();
    std::size_t mostHeld = 0;
    for (auto _ : state) {
        engine.speak(text, "nova", 0.5f);
        // The output double plays every buffer as soon as it is scheduled.
        const bool done = main.runUntil(
            [&] {
                mostHeld = std::max(mostHeld, engine.heldAudioBytes());
                if (engine.audioEngineRunning()) output.lastStream()->finishAll();
                return engine.state() == parlowen::SpeechSynthesisState::finished();
            },
            30000ms);
        if (!done) {
            state.SkipWithError("the reading did not finish");
            return;
        }
    }
    state.counters["most_held_bytes"] = double(mostHeld);
    if (mostHeld > 3 * kSentenceBytes) state.SkipWithError("more than three sentences of audio were held");
    state.SetBytesProcessed(state.iterations() * kSentences * std::int64_t(kSentenceBytes));
}
BENCHMARK(BM_OpenAIVoiceStream)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// At least 80 % of the plain read's throughput.
PARLOWEN_RATIO_TARGET("BM_OpenAIVoiceStream/iterations:3/real_time", "BM_PlainStreamRead/iterations:3/real_time",
                      1.0 / 0.8);

// One second of audio in chunks of the size libcurl hands over (16 KiB),
// which do not line up with the 4,800-byte blocks: some blocks span two.
constexpr std::size_t kNetworkChunk = 16384;

void BM_BareInt16Copy(benchmark::State& state) {
    const std::string audio = sentenceAudio();
    std::vector<std::int16_t> out(kSentenceBytes / 2);
    for (auto _ : state) {
        for (std::size_t at = 0; at < kSentenceBytes; at += kChunkBytes)
            std::memcpy(out.data() + at / 2, audio.data() + at, kChunkBytes);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t(kSentenceBytes / kChunkBytes));
}
BENCHMARK(BM_BareInt16Copy);

void BM_CutIntoBuffers(benchmark::State& state) {
    const std::string audio = sentenceAudio();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(audio.data());
    std::size_t frames = 0;
    parlowen::PcmBlockCutter cutter(parlowen::CloudVoiceEngine::kBlockBytes,
                                    [&frames](platform::PcmBuffer&& b) {
                                        frames += b.frameLength();
                                        benchmark::DoNotOptimize(b.data());
                                    });
    for (auto _ : state) {
        for (std::size_t at = 0; at < kSentenceBytes; at += kNetworkChunk)
            cutter.append(bytes + at, std::min(kNetworkChunk, kSentenceBytes - at));
        cutter.finish();
    }
    if (frames != state.iterations() * kSentenceBytes / 2) state.SkipWithError("frames went missing");
    state.SetItemsProcessed(state.iterations() * std::int64_t(kSentenceBytes / kChunkBytes));
}
BENCHMARK(BM_CutIntoBuffers);

PARLOWEN_RATIO_TARGET("BM_CutIntoBuffers", "BM_BareInt16Copy", 2.0);

}  // namespace
