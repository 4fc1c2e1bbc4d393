// The capture buffer path (meter level and hand-off to the cloud engine) and
// the cloud engine's accumulate-and-resample, per 1024-frame buffer of 48 kHz
// stereo, against raw libsoxr resampling the same samples in the same run.
// Steady state must not allocate: a run that does reports an error.

#include <benchmark/benchmark.h>
#include <soxr.h>

#include <atomic>
#include <cmath>
#include <numbers>

#include "Parlowen/dictation/AudioCapture.h"
#include "Parlowen/dictation/GroqTranscriptionEngine.h"
#include "bench/AllocationFree.h"
#include "bench/BenchMain.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/http/FakeHttpClient.h"
#include "platform/runtime/ManualExecutor.h"

namespace {

using platform::PcmBuffer;
using platform::PcmFormat;

constexpr std::uint32_t kFrames = 1024;
// Sessions are restarted before the engine's 20 s of prepared blocks run out.
constexpr int kBuffersPerSession = 600;

PcmBuffer captureBuffer() {
    PcmBuffer b(PcmFormat::float32(48000, 2), kFrames);
    for (std::uint32_t i = 0; i < kFrames; ++i) {
        const float v = 0.3f * static_cast<float>(std::sin(2 * std::numbers::pi * 440 * i / 48000.0));
        b.setSample(0, i, v);
        b.setSample(1, i, 0.5f * v);
    }
    b.setFrameLength(kFrames);
    return b;
}

void BM_RawSoxrMono(benchmark::State& state) {
    const PcmBuffer input = captureBuffer();
    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_t soxr = soxr_create(48000, 16000, 1, nullptr, &io, &quality, &runtime);
    std::vector<float> out(kFrames);
    const float* in[] = {input.floatChannel(0)};
    float* o[] = {out.data()};
    auto step = [&] {
        std::size_t idone = 0, odone = 0;
        soxr_process(soxr, in, kFrames, &idone, o, out.size(), &odone);
        benchmark::DoNotOptimize(odone);
    };
    if (bench::allocationFree(state, step, "buffers"))
        for (auto _ : state) step();
    soxr_delete(soxr);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawSoxrMono)->UseRealTime();

struct Engine {
    platform::ManualExecutor executor;
    platform::FakeHttpClient http;
    parlowen::GroqTranscriptionEngine groq{"gsk_bench", parlowen::GroqTranscriptionModel::largeV3Turbo, http, executor};

    void restart() {
        auto h = platform::spawn(executor, groq.start());
        executor.runUntilIdle();
    }
};

// Times `step` once per iteration; the session is restarted, untimed, before its room runs out.
template <class Step>
void runSessions(benchmark::State& state, Engine& e, Step step) {
    int inSession = 0;
    for (auto _ : state) {
        if (++inSession == kBuffersPerSession) {
            state.PauseTiming();
            e.restart();
            inSession = 0;
            state.ResumeTiming();
        }
        step();
    }
}

void BM_CloudEngineAccumulate(benchmark::State& state) {
    const PcmBuffer input = captureBuffer();
    Engine e;
    e.restart();
    if (!bench::allocationFree(state, [&] { e.groq.append(input); }, "buffers")) return;
    runSessions(state, e, [&] { e.groq.append(input); });
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CloudEngineAccumulate)->UseRealTime();

void BM_CaptureBufferPath(benchmark::State& state) {
    const PcmBuffer input = captureBuffer();
    Engine e;
    e.restart();
    platform::FakeAudioHardware hardware;
    platform::InMemoryUserDefaults defaults;
    auto engine = std::make_unique<platform::FakeAudioInputEngine>(PcmFormat::float32(48000, 2));
    auto* tap = engine.get();
    parlowen::AudioCapture capture(std::move(engine), hardware, defaults, e.executor);
    std::atomic<float> level{0};
    capture.setOnBuffer([&e](const PcmBuffer& b) { e.groq.append(b); });
    capture.setOnAmplitude([&level](float l) { level.store(l, std::memory_order_relaxed); });
    if (!capture.start()) {
        state.SkipWithError("capture did not start");
        return;
    }
    if (!bench::allocationFree(state, [&] { tap->deliver(input); }, "buffers")) return;
    runSessions(state, e, [&] { tap->deliver(input); });
    benchmark::DoNotOptimize(level.load());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CaptureBufferPath)->UseRealTime();

}  // namespace

PARLOWEN_RATIO_TARGET("BM_CloudEngineAccumulate/real_time", "BM_RawSoxrMono/real_time", 1.5);
PARLOWEN_RATIO_TARGET("BM_CaptureBufferPath/real_time", "BM_RawSoxrMono/real_time", 1.5);
