// The system recogniser's decode time over audio time, on espeak-ng speech
// fed faster than real time: with a small grammar (as the tests use) and
// with the general language model. Reported as the counter
// "decode_over_audio" (below 1 keeps up with a speaker); no target ratio.

#include <benchmark/benchmark.h>
#include <espeak-ng/speak_lib.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>

#include "bench/BenchMain.h"
#include "platform/speech/PocketSphinxRecognizer.h"

namespace {

using namespace std::chrono_literals;

int collect(short* wav, int count, espeak_EVENT* events) {
    if (wav && count > 0) {
        auto* out = static_cast<std::vector<std::int16_t>*>(events->user_data);
        out->insert(out->end(), wav, wav + count);
    }
    return 0;
}

// About eleven seconds of speech at espeak-ng's rate.
const std::vector<std::int16_t>& speech(int& rate) {
    static int r = 0;
    static const std::vector<std::int16_t> samples = [] {
        r = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, 0);
        espeak_SetSynthCallback(collect);
        espeak_SetVoiceByName("en-us");
        std::vector<std::int16_t> out;
        const std::string text =
            "hello world. good morning. open door. second sentence. hello world. good morning. open door.";
        espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, &out);
        espeak_Synchronize();
        return out;
    }();
    rate = r;
    return samples;
}

void decode(benchmark::State& state, bool grammar) {
    auto model = platform::PocketSphinxModel::forLocale("en_US.UTF-8");
    if (!model) {
        state.SkipWithError("pocketsphinx-en-us is not installed");
        return;
    }
    const auto gram = std::filesystem::temp_directory_path() / "parlowen-speech-bench.gram";
    if (grammar) {
        std::ofstream(gram) << "#JSGF V1.0;\ngrammar words;\npublic <utterance> = <word>+;\n"
                               "<word> = hello | world | second | sentence | open | door | good | morning;\n";
        model->grammar = gram;
    }
    int rate = 0;
    const auto& samples = speech(rate);
    const double audioSeconds = static_cast<double>(samples.size()) / rate;
    // One decoder for every iteration, as in the application.
    platform::PocketSphinxRecognizer recognizer(*model, {.endpointSilence = 0, .requestBufferSeconds = 30});
    double decodeSeconds = 0;
    for (auto _ : state) {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        auto request = recognizer.makeRequest({.shouldReportPartialResults = false});
        const auto start = std::chrono::steady_clock::now();
        recognizer.recognitionTask(request, [&](const auto& result, const auto& error) {
            if ((result && result->isFinal) || error) {
                std::lock_guard lock(mutex);
                finished = true;
                done.notify_all();
            }
        });
        platform::PcmBuffer buffer(platform::PcmFormat::float32(rate, 1), 1024);
        for (std::size_t at = 0; at < samples.size(); at += 1024) {
            const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(1024, samples.size() - at));
            for (std::uint32_t i = 0; i < n; ++i) buffer.setSample(0, i, samples[at + i] / 32768.0f);
            buffer.setFrameLength(n);
            request->append(buffer);
        }
        request->endAudio();
        std::unique_lock lock(mutex);
        if (!done.wait_for(lock, 120s, [&] { return finished; })) {
            state.SkipWithError("no final result");
            break;
        }
        decodeSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    if (state.iterations() > 0)
        state.counters["decode_over_audio"] = decodeSeconds / static_cast<double>(state.iterations()) / audioSeconds;
    std::filesystem::remove(gram);
}

void BM_DecodeWithAGrammar(benchmark::State& state) { decode(state, true); }
BENCHMARK(BM_DecodeWithAGrammar)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_DecodeWithTheGeneralModel(benchmark::State& state) { decode(state, false); }
BENCHMARK(BM_DecodeWithTheGeneralModel)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
