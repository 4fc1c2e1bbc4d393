// The speech package's audio front end against plain implementations of the
// same work in the same run: log-mel features of 60 s at 16 kHz (per-frame
// transform, a sparse filterbank sum over each band's non-zero span and the
// logs, written out as plain single-threaded loops), the same features by
// four instances on four threads at once (each instance should take at most
// twice as long as one alone), and
// conversion of 60 s of 48 kHz stereo to 16 kHz mono (a loop mix-down and
// libsoxr at the same quality). A third benchmark streams a
// generated three-minute file (about 35 MB, deleted afterwards) into a
// disk-backed source and fails when resident memory grows with the file.

#include <benchmark/benchmark.h>
#include <soxr.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <memory>
#include <random>
#include <thread>
#include <utility>

#include "Auralith/foundation/AudioConverter.h"
#include "Auralith/foundation/AudioMelSpectrogram.h"
#include "Auralith/foundation/AudioSampleSource.h"
#include "Auralith/foundation/SystemInfo.h"
#include "bench/BenchMain.h"
#include "platform/accel/Fft.h"
#include "platform/audio/AudioFile.h"

namespace {

namespace fs = std::filesystem;
using platform::PcmBuffer;
using platform::PcmFormat;

std::vector<float> speechLike(std::size_t n, double rate) {
    std::mt19937 rng(42);
    std::normal_distribution<float> noise(0, 0.02f);
    std::vector<float> s(n);
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * 220 * i / rate) +
                                  0.1 * std::sin(2 * std::numbers::pi * 2750 * i / rate)) +
               noise(rng);
    return s;
}

const std::vector<float>& sixtySeconds() {
    static const std::vector<float> audio = speechLike(60 * 16000, 16000);
    return audio;
}

void BM_LogMel60s(benchmark::State& state) {
    auralith::AudioMelSpectrogram mel;
    const auto& audio = sixtySeconds();
    for (auto _ : state) {
        auto r = mel.computeFlat(audio);
        benchmark::DoNotOptimize(r.features.data());
    }
    state.SetItemsProcessed(state.iterations() * 6001);
}
// At least two seconds each, so that one slow first iteration on a busy
// machine does not stand for the whole run.
BENCHMARK(BM_LogMel60s)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// One second at a time, as the streaming recognisers and diarizers call it.
void BM_LogMel1sPieces(benchmark::State& state) {
    auralith::AudioMelSpectrogram mel;
    const auto& audio = sixtySeconds();
    for (auto _ : state) {
        float last = 0;
        for (std::size_t at = 0; at < audio.size(); at += 16000) {
            const std::span<const float> piece(audio.data() + at, 16000);
            auto r = mel.computeFlatTransposed(piece, last);
            last = piece.back();
            benchmark::DoNotOptimize(r.features.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * 6060);
}
BENCHMARK(BM_LogMel1sPieces)->Unit(benchmark::kMillisecond)->UseRealTime();

// Four instances, each on its own thread, each computing the 60 s at once:
// one iteration lasts until all four are done, so its time is the time of
// one instance among four.
void BM_LogMel60sFourAtOnce(benchmark::State& state) {
    const auto& audio = sixtySeconds();
    std::vector<std::unique_ptr<auralith::AudioMelSpectrogram>> mels;
    for (int t = 0; t < 4; ++t) mels.push_back(std::make_unique<auralith::AudioMelSpectrogram>());
    for (auto _ : state) {
        std::vector<std::thread> threads;
        for (auto& mel : mels)
            threads.emplace_back([&audio, m = mel.get()] {
                auto r = m->computeFlat(audio);
                benchmark::DoNotOptimize(r.features.data());
            });
        for (auto& t : threads) t.join();
    }
    state.SetItemsProcessed(state.iterations() * 6001);
}
BENCHMARK(BM_LogMel60sFourAtOnce)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// The same features computed the plain way on one thread: centre padding and
// pre-emphasis, then for each frame a window, the transform, the power
// spectrum, for each band a sum over its non-zero weights only, and the logs.
void BM_LogMelPlain60s(benchmark::State& state) {
    const auralith::AudioMelSpectrogram mel;
    const auto& audio = sixtySeconds();
    const auto fft = platform::accel::RealFft::make(512);
    const auto& window = mel.hannWindow();
    // Each band's first and one-past-last bin with a non-zero weight.
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    for (const auto& row : mel.melFilterbank()) {
        std::size_t first = 0, last = row.size();
        while (first < row.size() && row[first] == 0) ++first;
        while (last > first && row[last - 1] == 0) --last;
        spans.emplace_back(first, last);
    }
    const auto& bank = mel.melFilterbank();
    for (auto _ : state) {
        std::vector<float> signal(audio.size() + 512, 0.0f);
        signal[256] = audio[0];
        for (std::size_t k = 1; k < audio.size(); ++k) signal[256 + k] = audio[k] - 0.97f * audio[k - 1];
        const std::size_t frames = (audio.size() + 512 - 400) / 160 + 1;
        std::vector<float> out(frames * 128);
        std::vector<float> frame(512);
        std::vector<std::complex<float>> bins(257);
        std::vector<float> power(257);
        for (std::size_t i = 0; i < frames; ++i) {
            std::fill(frame.begin(), frame.end(), 0.0f);
            for (std::size_t j = 0; j < 400 && i * 160 + 56 + j < signal.size(); ++j)
                frame[56 + j] = signal[i * 160 + 56 + j] * window[j];
            fft->forward(frame, bins);
            for (std::size_t k = 0; k < 257; ++k) power[k] = std::norm(bins[k]);
            for (std::size_t m = 0; m < 128; ++m) {
                float sum = 0;
                for (std::size_t k = spans[m].first; k < spans[m].second; ++k) sum += bank[m][k] * power[k];
                out[i * 128 + m] = std::log(sum + 0x1p-24f);
            }
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * 6001);
}
BENCHMARK(BM_LogMelPlain60s)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

PcmBuffer stereo48k(std::uint32_t frames) {
    const auto left = speechLike(frames, 48000);
    PcmBuffer b(PcmFormat::float32(48000, 2), frames);
    std::copy(left.begin(), left.end(), b.floatChannel(0));
    for (std::uint32_t i = 0; i < frames; ++i) b.floatChannel(1)[i] = 0.5f * left[i];
    b.setFrameLength(frames);
    return b;
}

const PcmBuffer& sixtySecondsStereo() {
    static const PcmBuffer buffer = stereo48k(60 * 48000);
    return buffer;
}

void BM_ConvertStereo48kTo16k(benchmark::State& state) {
    const auralith::AudioConverter converter;
    const PcmBuffer& input = sixtySecondsStereo();
    for (auto _ : state) {
        auto out = converter.resampleBuffer(input);
        if (!out) {
            state.SkipWithError(out.error().description.c_str());
            return;
        }
        benchmark::DoNotOptimize(out->data());
    }
}
BENCHMARK(BM_ConvertStereo48kTo16k)->Unit(benchmark::kMillisecond)->UseRealTime();

// Mix-down in a loop, then libsoxr at the same quality fed in blocks of the
// same size, and its tail.
void BM_PlainSoxrStereo48kTo16k(benchmark::State& state) {
    const PcmBuffer& input = sixtySecondsStereo();
    const std::size_t frames = input.frameLength();
    constexpr std::size_t kBlock = 16384;
    for (auto _ : state) {
        std::vector<float> mono(frames);
        for (std::size_t i = 0; i < frames; ++i) mono[i] = (input.floatChannel(0)[i] + input.floatChannel(1)[i]) * 0.5f;
        soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
        soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        soxr_error_t err = nullptr;
        soxr_t soxr = soxr_create(48000, 16000, 1, &err, &io, &quality, &runtime);
        std::vector<float> out(frames / 3 + 4096);
        std::size_t written = 0;
        for (std::size_t at = 0; at <= frames && !err; at += kBlock) {
            const bool last = at == frames || at + kBlock > frames;
            const std::size_t n = std::min(kBlock, frames - at);
            std::size_t idone = 0, odone = 0;
            err = soxr_process(soxr, mono.data() + at, n, &idone, out.data() + written, out.size() - written, &odone);
            written += odone;
            if (last) {
                do {
                    odone = 0;
                    err = soxr_process(soxr, nullptr, 0, nullptr, out.data() + written, out.size() - written, &odone);
                    written += odone;
                } while (!err && odone > 0);
                break;
            }
        }
        soxr_delete(soxr);
        if (err) {
            state.SkipWithError(err);
            return;
        }
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_PlainSoxrStereo48kTo16k)->Unit(benchmark::kMillisecond)->UseRealTime();

// Wraps the system's files so that every read notes the resident memory.
class MeasuringMedia final : public platform::AudioMedia {
public:
    std::uint64_t peak = 0;

    platform::Result<std::unique_ptr<platform::AudioFileReader>> openForReading(const fs::path& path) override {
        auto real = platform::systemAudioMedia().openForReading(path);
        if (!real) return platform::fail(real.error());
        return std::unique_ptr<platform::AudioFileReader>(new Reader(std::move(*real), peak));
    }
    platform::Result<std::unique_ptr<platform::AudioFormatConverter>> makeConverter(
        const PcmFormat& input, const PcmFormat& output, platform::Resampler::Quality quality) override {
        return platform::systemAudioMedia().makeConverter(input, output, quality);
    }

private:
    class Reader final : public platform::AudioFileReader {
    public:
        Reader(std::unique_ptr<platform::AudioFileReader> real, std::uint64_t& peak)
            : real_(std::move(real)), peak_(peak) {}
        const PcmFormat& fileFormat() const override { return real_->fileFormat(); }
        const PcmFormat& processingFormat() const override { return real_->processingFormat(); }
        std::int64_t length() const override { return real_->length(); }
        std::int64_t framePosition() const override { return real_->framePosition(); }
        platform::Status read(PcmBuffer& buffer, std::uint32_t frames) override {
            peak_ = std::max(peak_, auralith::SystemInfo::residentMemory().value_or(0));
            return real_->read(buffer, frames);
        }

    private:
        std::unique_ptr<platform::AudioFileReader> real_;
        std::uint64_t& peak_;
    };
};

struct LongFile {
    fs::path folder;
    fs::path file;
    std::uint32_t frames = 0;

    LongFile() {
        std::string pattern = (fs::temp_directory_path() / "auralith-audio-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) return;
        folder = pattern;
        file = folder / "long.wav";
        // Three minutes of 16-bit 48 kHz stereo: about 35 MB, written a second at a time.
        auto writer = platform::AudioFileWriter::create(file, platform::AudioFileType::wav, 48000, 2);
        if (!writer) return;
        const PcmBuffer second = stereo48k(48000);
        for (int s = 0; s < 180; ++s)
            if (!writer->write(second)) return;
        if (writer->close()) frames = 180 * 48000;
    }
    ~LongFile() {
        std::error_code ec;
        if (!folder.empty()) fs::remove_all(folder, ec);
    }
};

void BM_StreamLongFileToDisk(benchmark::State& state) {
    LongFile input;
    if (input.frames == 0) {
        state.SkipWithError("could not write the input file");
        return;
    }
    MeasuringMedia media;
    auralith::AudioSourceFactory factory;
    factory.media = &media;
    factory.temporaryDirectory = input.folder;
    double growth = 0;
    for (auto _ : state) {
        const std::uint64_t before = auralith::SystemInfo::residentMemory().value_or(0);
        media.peak = before;
        auto made = factory.makeDiskBackedSource(input.file, 16000);
        if (!made) {
            state.SkipWithError(made.error().description.c_str());
            return;
        }
        growth = std::max(growth, static_cast<double>(media.peak - before) / 1e6);
        made->source.cleanup();
    }
    state.counters["rss_growth_MB"] = growth;
    // Holding the result would take 11.5 MB, the decoded file 69 MB; flat
    // means a few block buffers and nothing that grows with the length.
    if (growth > 6) state.SkipWithError(("resident memory grew by " + std::to_string(growth) + " MB").c_str());
}
BENCHMARK(BM_StreamLongFileToDisk)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

// Within 1.5× of the plain sparse loops, and four at once within 2× of one alone.
PARLOWEN_RATIO_TARGET("BM_LogMel60s/min_time:2.000/real_time", "BM_LogMelPlain60s/min_time:2.000/real_time", 1.5);
PARLOWEN_RATIO_TARGET("BM_LogMel60sFourAtOnce/min_time:2.000/real_time", "BM_LogMel60s/min_time:2.000/real_time", 2.0);
PARLOWEN_RATIO_TARGET("BM_ConvertStereo48kTo16k/real_time", "BM_PlainSoxrStereo48kTo16k/real_time", 1.25);
