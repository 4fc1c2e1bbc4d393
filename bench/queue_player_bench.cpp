// The queue player's feed path against bare SoundTouch. The feed path (the
// audio-file player decoding a 60 s, 22,050 Hz mono file with libsndfile,
// stretching it to 1.5× with SoundTouch and handing its buffers to an output
// double that plays each buffer the moment it is scheduled) must stay within
// 1.3× of SoundTouch alone stretching the same samples from memory. The
// completions, which run on the audio thread of the real output, must
// allocate nothing.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sndfile.h>
#include <soundtouch/SoundTouch.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <vector>

#include "bench/BenchMain.h"
#include "platform/audio/AllocationProbe.h"
#include "platform/audio/AudioOutputStream.h"
#include "platform/audio/OutputAudioFilePlayer.h"

namespace {

namespace fs = std::filesystem;

// Freed memory stays with the allocator: otherwise each iteration hands the
// double's record of buffers back to the system and faults it in again, and
// on a virtual machine those faults cost more than the work being measured.
const bool kAllocatorKeepsMemory = [] {
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    return true;
}();

constexpr int kRate = 22050;
constexpr int kSeconds = 60;
constexpr float kTempo = 1.5f;

// Speech-like test audio: a voiced tone whose pitch glides, in syllables
// separated by short pauses.
const std::vector<float>& samples() {
    static const std::vector<float> s = [] {
        std::vector<float> out(static_cast<std::size_t>(kRate) * kSeconds);
        double phase = 0;
        for (std::size_t i = 0; i < out.size(); ++i) {
            const double t = static_cast<double>(i) / kRate;
            const double pitch = 140 + 40 * std::sin(2 * M_PI * 0.7 * t);
            phase += 2 * M_PI * pitch / kRate;
            const double syllable = std::fmod(t, 0.25) < 0.19 ? 1.0 : 0.0;
            out[i] = static_cast<float>(syllable * (0.4 * std::sin(phase) + 0.15 * std::sin(2 * phase) +
                                                    0.08 * std::sin(3 * phase)));
        }
        return out;
    }();
    return s;
}

// The samples as a WAV file, written once per run and removed at exit.
struct TestFile {
    fs::path path = fs::temp_directory_path() / ("parlowen-queue-player-bench-" + std::to_string(::getpid()) + ".wav");
    bool ok = false;
    TestFile() {
        SF_INFO info{};
        info.samplerate = kRate;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
        if (!f) return;
        const auto& s = samples();
        ok = sf_writef_float(f, s.data(), static_cast<sf_count_t>(s.size())) == static_cast<sf_count_t>(s.size());
        sf_close(f);
    }
    ~TestFile() {
        std::error_code ec;
        fs::remove(path, ec);
    }
};

const TestFile& testFile() {
    static const TestFile f;
    return f;
}

// An output whose streams complete each buffer as played as soon as it is
// scheduled, counting the allocations the completions make (the calling
// thread's, during the completion only).
class ImmediateStream final : public platform::AudioOutputStream {
public:
    ImmediateStream(platform::AudioOutputOptions options, std::atomic<std::size_t>& allocations,
                    std::atomic<std::size_t>& frames)
        : options_(std::move(options)), allocations_(allocations), frames_(frames) {}
    platform::PcmFormat format() const override {
        return platform::PcmFormat::float32(options_.sampleRate, options_.channels);
    }
    platform::Status schedule(platform::PcmBuffer buffer, Completion completion) override {
        frames_ += buffer.frameLength();
        if (completion) {
            platform::AllocationProbe probe;
            completion(platform::ScheduledBufferEnd::played);
            allocations_ += probe.count();
        }
        return platform::ok();
    }
    platform::Status play() override { return platform::ok(); }
    void pause() override {}
    void stop() override {}
    bool isPlaying() const override { return true; }

private:
    platform::AudioOutputOptions options_;
    std::atomic<std::size_t>& allocations_;
    std::atomic<std::size_t>& frames_;
};

class ImmediateOutput final : public platform::AudioOutput {
public:
    std::atomic<std::size_t> completionAllocations{0};
    std::atomic<std::size_t> frames{0};
    platform::Result<std::unique_ptr<platform::AudioOutputStream>> openStream(
        platform::AudioOutputOptions options) override {
        return std::unique_ptr<platform::AudioOutputStream>(
            new ImmediateStream(std::move(options), completionAllocations, frames));
    }
};

void BM_BareSoundTouch(benchmark::State& state) {
    const auto& s = samples();
    constexpr unsigned kChunk = platform::OutputAudioFilePlayerFactory::kBufferFrames;
    std::vector<float> out(kChunk);
    std::size_t produced = 0;
    for (auto _ : state) {
        soundtouch::SoundTouch touch;
        touch.setSampleRate(kRate);
        touch.setChannels(1);
        touch.setTempo(kTempo);
        produced = 0;
        for (std::size_t at = 0; at < s.size(); at += kChunk) {
            const auto n = static_cast<unsigned>(std::min<std::size_t>(kChunk, s.size() - at));
            touch.putSamples(s.data() + at, n);
            while (unsigned got = touch.receiveSamples(out.data(), kChunk)) produced += got;
        }
        touch.flush();
        while (unsigned got = touch.receiveSamples(out.data(), kChunk)) produced += got;
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["out_seconds"] = static_cast<double>(produced) / kRate;
}
BENCHMARK(BM_BareSoundTouch)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FeedPath(benchmark::State& state) {
    if (!testFile().ok) {
        state.SkipWithError("cannot write the test file");
        return;
    }
    ImmediateOutput output;
    platform::OutputAudioFilePlayerFactory factory(output);
    std::size_t frames = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto opened = factory.open(testFile().path);
        if (!opened) {
            state.SkipWithError(opened.error().description.c_str());
            return;
        }
        auto player = std::move(*opened);
        std::atomic<int> finished{0};  // 1 played to the end, 2 failed
        player->setFinishHandler([&finished](bool ok) {
            finished = ok ? 1 : 2;
            finished.notify_all();
        });
        player->setEnableRate(true);
        player->setRate(kTempo);
        output.frames = 0;
        state.ResumeTiming();

        player->play();
        finished.wait(0);

        state.PauseTiming();
        frames = output.frames;
        player.reset();
        state.ResumeTiming();
        if (finished != 1) {
            state.SkipWithError("the player did not play to the end");
            return;
        }
    }
    const std::size_t allocations = output.completionAllocations;
    state.counters["out_seconds"] = static_cast<double>(frames) / kRate;
    state.counters["completion_allocations"] = static_cast<double>(allocations);
    if (allocations > 0)
        state.SkipWithError(("the output completions allocated " + std::to_string(allocations) + " times").c_str());
}
BENCHMARK(BM_FeedPath)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

PARLOWEN_RATIO_TARGET("BM_FeedPath/real_time", "BM_BareSoundTouch/real_time", 1.3);
