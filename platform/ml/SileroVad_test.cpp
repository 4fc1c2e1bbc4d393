// The real Silero voice-activity model (v5, from the ONNX Runtime prefix)
// through Model::load and prediction, on speech that espeak-ng synthesises.

#include <gtest/gtest.h>

#include <espeak-ng/speak_lib.h>
#include <soxr.h>

#include <algorithm>
#include <random>
#include <vector>

#include "platform/ml/OnnxModelRuntime.h"
#include "platform/ml/OnnxModelWriter.h"
#include "platform/ml/OnnxTestSupport.h"
#include "platform/testsupport/TempHome.h"

namespace platform::ml {
namespace {

namespace fs = std::filesystem;
constexpr int kRate = 16000;
constexpr std::int64_t kChunk = kSileroChunk;  // 32 ms
constexpr double kChunkSeconds = double(kChunk) / kRate;
// The model reads each chunk after the last 64 samples of the one before.
constexpr std::int64_t kContext = kSileroContext;

std::vector<short>* g_synthesised = nullptr;

int collect(short* wav, int count, espeak_EVENT*) {
    if (wav && count > 0) g_synthesised->insert(g_synthesised->end(), wav, wav + count);
    return 0;
}

// Speech from the espeak-ng library, resampled to 16 kHz, without the
// engine's leading and trailing silence.
Result<std::vector<float>> speech(const std::string& text) {
    const int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
    if (rate <= 0) return fail(Error::make("test", 1, "espeak", "espeak-ng did not start"));
    std::vector<short> samples;
    g_synthesised = &samples;
    espeak_SetSynthCallback(collect);
    espeak_SetVoiceByName("en");
    if (espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr) != EE_OK)
        return fail(Error::make("test", 2, "espeak", "espeak-ng could not synthesise"));
    espeak_Synchronize();
    g_synthesised = nullptr;
    std::vector<float> in(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) in[i] = samples[i] / 32768.0f;
    std::vector<float> out(static_cast<std::size_t>(double(in.size()) * kRate / rate) + 16);
    std::size_t produced = 0;
    if (soxr_oneshot(rate, kRate, 1, in.data(), in.size(), nullptr, out.data(), out.size(), &produced, nullptr, nullptr,
                     nullptr))
        return fail(Error::make("test", 3, "soxr", "resampling failed"));
    out.resize(produced);
    auto loud = [](float v) { return std::abs(v) > 0.01f; };
    auto first = std::find_if(out.begin(), out.end(), loud);
    auto last = std::find_if(out.rbegin(), out.rend(), loud).base();
    return std::vector<float>(first, last);
}

class SileroVadTest : public ::testing::Test {
protected:
    void SetUp() override {
        PARLOWEN_REQUIRE_ONNXRUNTIME_OR_SKIP(registerOnnxRuntime(registry_));
        const fs::path model = onnxRuntimePrefix() / "models" / "silero_vad_v5.onnx";
        std::error_code ec;
        PARLOWEN_REQUIRE_ONNXRUNTIME_OR_SKIP(
            fs::is_regular_file(model, ec) ? ok()
                                           : Status(fail(Error::make("test", 4, "missing", model.string() + " is missing"))));
        // The bundle a user would write: the model file beside a manifest that
        // maps the graph's names and feeds "stateN" back into "state".
        bundle_ = dir_ / "SileroVad.mlmodelc";
        ASSERT_TRUE(writeSileroVadBundle(bundle_, model));
        auto loaded = Model::load(bundle_, {}, registry_);
        ASSERT_TRUE(loaded) << loaded.error().description;
        model_ = *loaded;
    }

    // The speech probability of every whole 512-sample chunk, the state fed back.
    std::vector<float> probabilities(const std::vector<float>& audio) {
        auto state = model_.makeState();
        EXPECT_TRUE(state);
        auto chunk = *MultiArray::make({1, kContext + kChunk}, DataType::float32);
        float* samples = chunk.dataAs<float>();
        std::vector<float> out;
        for (std::size_t at = 0; at + kChunk <= audio.size(); at += kChunk) {
            std::copy_n(samples + kChunk, kContext, samples);  // the previous chunk's end (zeros at first)
            std::copy_n(audio.begin() + static_cast<std::ptrdiff_t>(at), kChunk, samples + kContext);
            DictionaryFeatureProvider in{{"audio", chunk}, {"sampleRate", FeatureValue::fromInt64(kRate)}};
            auto p = model_.prediction(in, *state);
            EXPECT_TRUE(p) << p.error().description;
            if (!p) return out;
            out.push_back(static_cast<float>(multiArrayFeature(*p, "probability")->get(0)));
        }
        return out;
    }

    RuntimeRegistry registry_;
    testsupport::TempDir dir_;
    fs::path bundle_;
    Model model_;
};

constexpr const char* kText =
    "Voice activity detection finds the parts of a recording in which somebody is speaking. "
    "It lets a dictation program start and stop listening on its own.";

TEST_F(SileroVadTest, SpeechIsAboveOneHalfInMostChunks) {
    auto audio = speech(kText);
    ASSERT_TRUE(audio) << audio.error().description;
    ASSERT_GT(audio->size(), std::size_t{kRate * 3});
    const auto p = probabilities(*audio);
    const auto speaking = std::count_if(p.begin(), p.end(), [](float v) { return v > 0.5f; });
    // About 92 % here; a state that is not fed back gives about two thirds.
    EXPECT_GT(double(speaking) / double(p.size()), 0.85) << speaking << " of " << p.size() << " chunks";
}

TEST_F(SileroVadTest, SilenceAndWhiteNoiseStayBelowOneTenth) {
    std::vector<float> silence(kRate * 3, 0.0f);
    std::vector<float> noise(kRate * 3);
    std::mt19937 random(11);
    std::normal_distribution<float> gaussian(0.0f, 0.05f);
    for (auto& v : noise) v = gaussian(random);
    for (const auto* audio : {&silence, &noise}) {
        const auto p = probabilities(*audio);
        ASSERT_FALSE(p.empty());
        EXPECT_LT(*std::max_element(p.begin(), p.end()), 0.1f);
    }
}

TEST_F(SileroVadTest, SpeechBoundariesInSilenceAreFoundWithinAFewChunks) {
    auto voice = speech(kText);
    ASSERT_TRUE(voice) << voice.error().description;
    const std::size_t lead = kRate, tail = kRate;  // one second of silence each side
    std::vector<float> audio(lead, 0.0f);
    audio.insert(audio.end(), voice->begin(), voice->end());
    audio.insert(audio.end(), tail, 0.0f);
    const double trueStart = double(lead) / kRate;
    const double trueEnd = double(lead + voice->size()) / kRate;

    const auto p = probabilities(audio);
    auto first = std::find_if(p.begin(), p.end(), [](float v) { return v > 0.5f; });
    auto last = std::find_if(p.rbegin(), p.rend(), [](float v) { return v > 0.5f; });
    ASSERT_NE(first, p.end());
    const double start = double(first - p.begin()) * kChunkSeconds;
    const double end = double(p.rend() - last) * kChunkSeconds;  // the end of the last speech chunk
    EXPECT_NEAR(start, trueStart, 0.15);
    EXPECT_NEAR(end, trueEnd, 0.15);
}

}  // namespace
}  // namespace platform::ml
