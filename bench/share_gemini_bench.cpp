// The two large payloads of Listen Later's network roads.
//
// Gemini: a 30 MB reply (about eight minutes of 24 kHz audio) taken apart by
// extractPCM and written by writeAudioFile, against the values layer's
// base64Decode of the same audio text plus a plain write of the decoded
// bytes. The renderer's resident memory may grow by at most 2.5 times the
// reply while it works.
//
// Share: the upload body of a 25 MiB file against base64Encode of the same
// bytes plus one copy.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Parlowen/listenlater/queue/ShareService.h"
#include "Parlowen/listenlater/render/GeminiPodcastRenderer.h"
#include "bench/BenchMain.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kPcmBytes = 22'500'000;   // its base64 is 30 MB
constexpr std::size_t kUploadBytes = 25 * 1048576;

platform::Bytes pcm() {
    platform::Bytes b(kPcmBytes);
    std::uint32_t x = 2463534242u;
    for (auto& byte : b) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<std::uint8_t>(x);
    }
    return b;
}

const std::string& audioText() {
    static const std::string text = platform::base64Encode(pcm());
    return text;
}

const platform::Bytes& reply() {
    static const platform::Bytes body = platform::toBytes(
        R"({"candidates":[{"content":{"role":"model","parts":[{"inlineData":{"mimeType":"audio/L16;codec=pcm;rate=24000","data":")" +
        audioText() + R"("}}]},"finishReason":"STOP"}],"usageMetadata":{"totalTokenCount":1234}})");
    return body;
}

fs::path scratch(const char* name) {
    return fs::temp_directory_path() / (std::string("parlowen-bench-") + std::to_string(::getpid()) + "-" + name);
}

// A size line of /proc/self/status in bytes: "VmHWM" is the peak resident
// memory since the last reset, "VmRSS" the current one.
std::uint64_t statusBytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0) return std::stoull(line.substr(field.size() + 1)) * 1024;
    return 0;
}
// Sets the peak back to the current size; false where the kernel refuses.
bool resetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

void BM_DecodeAndPlainWrite(benchmark::State& state) {
    const std::string& text = audioText();
    const fs::path out = scratch("plain.pcm");
    for (auto _ : state) {
        auto decoded = platform::base64Decode(text);
        std::FILE* f = std::fopen(out.c_str(), "wb");
        if (!decoded || !f || std::fwrite(decoded->data(), 1, decoded->size(), f) != decoded->size()) {
            state.SkipWithError("the plain write failed");
            if (f) std::fclose(f);
            break;
        }
        std::fclose(f);
    }
    fs::remove(out);
}
BENCHMARK(BM_DecodeAndPlainWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_GeminiExtractAndWrite(benchmark::State& state) {
    const fs::path out = scratch("podcast.caf");
    double growth = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(out);
        const std::uint64_t before = statusBytes("VmRSS");
        platform::Bytes body = reply();  // the reply as the HTTP layer hands it over
        const bool measured = resetPeak();
        state.ResumeTiming();
        auto decoded = parlowen::GeminiPodcastRenderer::extractPCM(std::move(body));
        if (!decoded || !parlowen::GeminiPodcastRenderer::writeAudioFile(*decoded, out)) {
            state.SkipWithError("the reply did not decode and write");
            break;
        }
        state.PauseTiming();
        if (measured) growth = std::max(growth, static_cast<double>(statusBytes("VmHWM") - before));
        decoded = platform::Bytes();
        state.ResumeTiming();
    }
    fs::remove(out);
    const double ratio = growth / static_cast<double>(reply().size());
    state.counters["peak_over_body"] = ratio;
    if (ratio > 2.5) state.SkipWithError(("peak memory was " + std::to_string(ratio) + " times the reply").c_str());
}
BENCHMARK(BM_GeminiExtractAndWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

const platform::Bytes& uploadAudio() {
    static const platform::Bytes audio = [] {
        platform::Bytes b = pcm();
        b.resize(kUploadBytes, 0x5a);
        return b;
    }();
    return audio;
}

void BM_EncodeAndCopy(benchmark::State& state) {
    const platform::Bytes& audio = uploadAudio();
    for (auto _ : state) {
        std::string encoded = platform::base64Encode(audio);
        platform::Bytes body(encoded.begin(), encoded.end());
        benchmark::DoNotOptimize(body.data());
    }
}
BENCHMARK(BM_EncodeAndCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_ShareUploadBody(benchmark::State& state) {
    const platform::Bytes& audio = uploadAudio();
    parlowen::QueueItem item;
    item.id = platform::Uuid::random();
    item.title = "A long article about salmon";
    item.durationSec = 480.5;
    item.sourceURL = platform::Url::parse("https://news.example/salmon");
    item.sourceApp = "News Example";
    item.voiceID = "com.apple.voice.Samantha";
    for (auto _ : state) {
        auto body = parlowen::ShareService::makeBody(item, "caf", audio);
        if (!body) {
            state.SkipWithError(body.error().description.c_str());
            break;
        }
        benchmark::DoNotOptimize(body->data());
    }
}
BENCHMARK(BM_ShareUploadBody)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

PARLOWEN_RATIO_TARGET("BM_GeminiExtractAndWrite/iterations:5/real_time", "BM_DecodeAndPlainWrite/iterations:5/real_time",
                      1.5);
PARLOWEN_RATIO_TARGET("BM_ShareUploadBody/iterations:5/real_time", "BM_EncodeAndCopy/iterations:5/real_time", 1.3);
