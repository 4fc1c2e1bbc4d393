// Rendering a Listen Later article with the system voice: a 2,000-word
// article (about eleven minutes of speech, a file of about 30 MB, deleted
// afterwards) rendered into the cache against the bare synthesis of the same
// speech text through the synthesiser's write with a handler that drops
// every buffer. The render must stay within 1.15× of that, and its resident
// memory must not grow with the article (buffers go straight to the file).

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "Auralith/foundation/SystemInfo.h"
#include "Parlowen/listenlater/render/AppleSpeechListenLaterRenderer.h"
#include "Parlowen/readaloud/SpeechTextNormalizer.h"
#include "bench/BenchMain.h"
#include "platform/audio/AudioOutputStream.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/runtime/WorkerPool.h"
#include "platform/speechsynth/EspeakSpeechSynthesizer.h"
#include "platform/speechsynth/ForwardingSpeechSynthesizer.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// 2,000 words in sentences of ten.
std::string article() {
    static const char* words[] = {"the",    "morning", "train",  "carried", "quiet",   "readers", "across",
                                  "a",      "river",   "where",  "old",     "bridges", "stood",   "between",
                                  "market", "towns",   "and",    "green",   "fields",  "under",   "clouds"};
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        std::string word = words[(i * 7 + i / 3) % std::size(words)];
        if (i % 10 == 0) word[0] = static_cast<char>(word[0] - 'a' + 'A');
        text += word;
        text += i % 10 == 9 ? ". " : " ";
    }
    return text;
}

const platform::Environment& environment() {
    static const platform::Environment env(std::map<std::string, std::string>{{"LANG", "en_US.UTF-8"}});
    return env;
}

platform::FakeAudioOutput& output() {
    static platform::FakeAudioOutput out;  // rendering never plays
    return out;
}

std::uint64_t resident() { return auralith::SystemInfo::residentMemory().value_or(0); }

// The real synthesiser, a base of its own so that it exists before the forwarder.
struct OwnedEspeak {
    platform::EspeakSpeechSynthesizer espeak{output(), environment()};
};

// Writes through the real synthesiser and notes the resident memory every
// hundred buffers, on the synthesiser's thread.
class MeasuringSynthesizer final : private OwnedEspeak, public platform::ForwardingSpeechSynthesizer {
public:
    explicit MeasuringSynthesizer(std::atomic<std::uint64_t>& peak) : ForwardingSpeechSynthesizer(espeak), peak_(peak) {}
    void write(platform::SpeechUtterance u, BufferHandler onBuffer) override {
        auto count = std::make_shared<int>(0);
        target().write(std::move(u), [this, count, onBuffer = std::move(onBuffer)](platform::Result<platform::PcmBuffer> b) {
            if (++*count % 100 == 0) {
                const std::uint64_t now = resident();
                std::uint64_t seen = peak_.load();
                while (now > seen && !peak_.compare_exchange_weak(seen, now)) {
                }
            }
            onBuffer(std::move(b));
        });
    }

private:
    std::atomic<std::uint64_t>& peak_;
};

// Synthesises the text through `synth` and drops every buffer; the frames it made.
std::optional<std::size_t> synthesizeDropping(platform::SpeechSynthesizer& synth, const std::string& text) {
    std::mutex mutex;
    std::condition_variable done;
    bool ended = false;
    std::size_t frames = 0;
    synth.write({text, std::nullopt, platform::kSpeechDefaultRate}, [&](platform::Result<platform::PcmBuffer> b) {
        if (b && !b->empty()) {
            frames += b->frameLength();
            return;
        }
        std::lock_guard lock(mutex);
        ended = true;
        done.notify_all();
    });
    std::unique_lock lock(mutex);
    if (!done.wait_for(lock, 300s, [&] { return ended; })) return std::nullopt;
    return frames;
}

// espeak-ng has started and spoken once (its voice loaded), so neither
// benchmark pays for that.
bool espeakReady(benchmark::State& state) {
    if (auto status = platform::EspeakSpeechSynthesizer::available(); !status) {
        state.SkipWithError(status.error().description.c_str());
        return false;
    }
    platform::EspeakSpeechSynthesizer synth(output(), environment());
    return synthesizeDropping(synth, "Warming up.").has_value();
}

void BM_BareSynthesis(benchmark::State& state) {
    if (!espeakReady(state)) return;
    const std::string speech =
        parlowen::SpeechTextNormalizer::normalize(article(), parlowen::SpeechTextNormalizer::Mode::listenLater).text;
    platform::EspeakSpeechSynthesizer synth(output(), environment());
    double seconds = 0;
    for (auto _ : state) {
        auto frames = synthesizeDropping(synth, speech);
        if (!frames) {
            state.SkipWithError("the synthesis did not end");
            return;
        }
        seconds = static_cast<double>(*frames) / 22050;
    }
    state.counters["speech_minutes"] = seconds / 60;
}
BENCHMARK(BM_BareSynthesis)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_SystemVoiceRender(benchmark::State& state) {
    if (!espeakReady(state)) return;
    const fs::path caches = fs::temp_directory_path() / ("parlowen-listenlater-bench-" + std::to_string(::getpid()));
    platform::ManualExecutor main;
    platform::WorkerPool pool(1);
    parlowen::RenderProgressStore store(main);
    std::atomic<std::uint64_t> peak{0};
    parlowen::AppleSpeechListenLaterRenderer renderer(
        platform::kSpeechDefaultRate,
        {main, store, parlowen::ListenLaterCache(caches), [&] { return std::make_unique<MeasuringSynthesizer>(peak); }});
    parlowen::QueueItem item;
    item.id = platform::Uuid::random();
    item.text = article();
    item.voiceEngine = "appleSpeech";
    double growth = 0;
    double megabytes = 0;
    for (auto _ : state) {
        const std::uint64_t before = resident();
        peak = before;
        auto h = platform::spawn(pool, renderer.render(item));
        if (!main.runUntil([&] { return h.done(); }, 300'000ms)) {
            state.SkipWithError("the render did not end");
            break;
        }
        if (!h.value()) {
            state.SkipWithError(h.value().error().description.c_str());
            break;
        }
        growth = std::max(growth, static_cast<double>(peak.load() - before) / 1e6);
        // Each render starts without an older file: removing 30 MB is not the render's work.
        state.PauseTiming();
        std::error_code ec;
        megabytes = static_cast<double>(fs::file_size(h.value()->fileURL.filePath(), ec)) / 1e6;
        fs::remove(h.value()->fileURL.filePath(), ec);
        state.ResumeTiming();
    }
    std::error_code ec;
    fs::remove_all(caches, ec);
    state.counters["file_MB"] = megabytes;
    state.counters["rss_growth_MB"] = growth;
    // Holding the audio would take the file's 30 MB.
    if (growth >= 5) state.SkipWithError(("resident memory grew by " + std::to_string(growth) + " MB").c_str());
}
BENCHMARK(BM_SystemVoiceRender)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

PARLOWEN_RATIO_TARGET("BM_SystemVoiceRender/iterations:3/real_time", "BM_BareSynthesis/iterations:3/real_time", 1.15);
