#include "platform/speech/PocketSphinxRecognizer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>

#include <espeak-ng/speak_lib.h>

#include "platform/audio/AllocationProbe.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/speech/SpeechPermissionSource.h"
#include "platform/testsupport/TempHome.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Speech from espeak-ng: 16-bit mono samples at its own rate (22050 Hz).
struct Speech {
    std::vector<std::int16_t> samples;
    int rate = 0;
};

int collectSamples(short* wav, int count, espeak_EVENT* events) {
    if (wav && count > 0) {
        auto* out = static_cast<std::vector<std::int16_t>*>(events->user_data);
        out->insert(out->end(), wav, wav + count);
    }
    return 0;
}

Speech speak(const std::string& text) {
    static int rate = [] {
        int r = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, 0);
        espeak_SetSynthCallback(collectSamples);
        espeak_SetVoiceByName("en-us");
        return r;
    }();
    Speech speech;
    speech.rate = rate;
    espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, &speech.samples);
    espeak_Synchronize();
    return speech;
}

// Feeds speech as the microphone would: stereo float buffers of 1024 frames
// (faster than real time; a request holds seconds of audio).
void feed(SpeechAudioRequest& request, const Speech& speech, double silenceAfter = 0.4) {
    // Speech after a short silence, as when someone starts talking.
    std::vector<std::int16_t> all(static_cast<std::size_t>(0.3 * speech.rate), 0);
    all.insert(all.end(), speech.samples.begin(), speech.samples.end());
    all.resize(all.size() + static_cast<std::size_t>(silenceAfter * speech.rate), 0);
    PcmBuffer buffer(PcmFormat::float32(speech.rate, 2), 1024);
    for (std::size_t at = 0; at < all.size(); at += 1024) {
        auto n = static_cast<std::uint32_t>(std::min<std::size_t>(1024, all.size() - at));
        for (std::uint32_t i = 0; i < n; ++i) {
            float v = all[at + i] / 32768.0f;
            buffer.setSample(0, i, v);
            buffer.setSample(1, i, v);
        }
        buffer.setFrameLength(n);
        request.append(buffer);
    }
}

// Everything a task's handler saw.
struct Collector {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> partials;
    std::optional<std::string> final;
    std::optional<Error> error;

    SpeechResultHandler handler() {
        return [this](const std::optional<SpeechRecognitionResult>& r, const std::optional<Error>& e) {
            std::lock_guard lock(mutex);
            if (r && r->isFinal) final = r->bestTranscription;
            else if (r) partials.push_back(r->bestTranscription);
            if (e) error = e;
            changed.notify_all();
        };
    }
    // Generous: the general model decodes slowly on a busy machine, and the wait ends with the result.
    bool waitForEnd(std::chrono::seconds timeout = 120s) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return final || error; });
    }
};

std::optional<PocketSphinxModel> englishModel() { return PocketSphinxModel::forLocale("en_US.UTF-8"); }

PocketSphinxModel withGrammar(const fs::path& dir) {
    auto model = *englishModel();
    model.grammar = dir / "words.gram";
    std::ofstream(*model.grammar) << "#JSGF V1.0;\ngrammar words;\n"
                                     "public <utterance> = <word>+;\n"
                                     "<word> = hello | world | second | sentence | open | door | good | morning;\n";
    return model;
}

TEST(PocketSphinxModel, FindsTheInstalledModelByLocale) {
    auto model = englishModel();
    ASSERT_TRUE(model) << "pocketsphinx-en-us is not installed";
    EXPECT_EQ(model->localeIdentifier, "en-US");
    EXPECT_EQ(model->acousticModel, fs::path("/usr/share/pocketsphinx/model/en-us/en-us"));
    EXPECT_EQ(model->languageModel.filename(), "en-us.lm.bin");
    EXPECT_EQ(model->dictionary.filename(), "cmudict-en-us.dict");
    EXPECT_TRUE(model->isInstalled());
    EXPECT_TRUE(PocketSphinxModel::forLocale("en-US"));
    EXPECT_EQ(PocketSphinxModel::forLocale("en")->localeIdentifier, "en-US");
    EXPECT_FALSE(PocketSphinxModel::forLocale("de_DE.UTF-8"));
    EXPECT_FALSE(PocketSphinxModel::forLocale(""));
    testsupport::TempDir empty;
    EXPECT_FALSE(PocketSphinxModel::forLocale("en-US", empty.path()));

    const std::pair<std::map<std::string, std::string>, std::string> cases[] = {
        {{}, "en-US"},
        {{{"LANG", "C.UTF-8"}}, "en-US"},
        {{{"LANG", "de_DE.UTF-8"}}, "de-DE"},
        {{{"LANG", "de_DE.UTF-8"}, {"LC_MESSAGES", "fr_CA"}}, "fr-CA"},
        {{{"LANG", "de_DE.UTF-8"}, {"LC_ALL", "en_GB.UTF-8@euro"}}, "en-GB"},
    };
    for (const auto& [vars, expected] : cases)
        EXPECT_EQ(PocketSphinxModel::defaultLocaleIdentifier(Environment(vars)), expected);
}

TEST(PocketSphinxRecognizer, DecodesSpeechWithAGrammarToTheExactWords) {
    testsupport::TempDir dir;
    PocketSphinxRecognizer recognizer(withGrammar(dir.path()), {.endpointSilence = 0});
    Collector seen;
    auto request = recognizer.makeRequest({.taskHint = SpeechTaskHint::dictation});
    auto task = recognizer.recognitionTask(request, seen.handler());
    feed(*request, speak("hello world. second sentence."));
    request->endAudio();
    ASSERT_TRUE(seen.waitForEnd());
    ASSERT_FALSE(seen.error) << seen.error->description;
    EXPECT_EQ(seen.final, "hello world second sentence") << ::testing::PrintToString(seen.partials);
    EXPECT_FALSE(seen.partials.empty()) << "partial results while the audio arrived";
    EXPECT_EQ(task->state(), SpeechTaskState::completed);
}

TEST(PocketSphinxRecognizer, EndsATaskByItselfAfterAPauseAndTheNextTaskGoesOn) {
    testsupport::TempDir dir;
    PocketSphinxRecognizer recognizer(withGrammar(dir.path()), {.endpointSilence = 1.0});
    Collector first;
    auto request = recognizer.makeRequest({});
    auto task = recognizer.recognitionTask(request, first.handler());
    feed(*request, speak("hello world"), 2.0);
    ASSERT_TRUE(first.waitForEnd());
    EXPECT_EQ(first.final, "hello world");

    Collector second;
    auto next = recognizer.makeRequest({});
    recognizer.recognitionTask(next, second.handler());
    feed(*next, speak("second sentence"));
    next->endAudio();
    ASSERT_TRUE(second.waitForEnd());
    EXPECT_EQ(second.final, "second sentence");
}

// Two utterances with a pause longer than the endpoint silence, arriving
// faster than they are decoded (as while a final pass runs): no word of
// either is lost, whether the owner starts a new task after the pause (the
// second task gets the audio the first one left) or ends the audio before
// the pause was decoded (the one task keeps both).
TEST(PocketSphinxRecognizer, TwoUtterancesWithAPauseKeepEveryWord) {
    testsupport::TempDir dir;
    const Speech first = speak("hello world"), second = speak("second sentence");
    {
        PocketSphinxRecognizer recognizer(withGrammar(dir.path()), {.endpointSilence = 1.0});
        Collector one, two;
        auto request = recognizer.makeRequest({});
        recognizer.recognitionTask(request, one.handler());
        feed(*request, first, 1.6);
        feed(*request, second, 0.4);
        ASSERT_TRUE(one.waitForEnd());
        EXPECT_EQ(one.final, "hello world");
        // The owner moves on to a new request and task after the pause.
        auto next = recognizer.makeRequest({});
        recognizer.recognitionTask(next, two.handler());
        feed(*next, speak("open door"));
        next->endAudio();
        ASSERT_TRUE(two.waitForEnd());
        EXPECT_EQ(two.final, "second sentence open door");
    }
    {
        PocketSphinxRecognizer recognizer(withGrammar(dir.path()), {.endpointSilence = 1.0});
        Collector seen;
        auto request = recognizer.makeRequest({});
        recognizer.recognitionTask(request, seen.handler());
        feed(*request, first, 1.6);
        feed(*request, second, 0.4);
        request->endAudio();
        ASSERT_TRUE(seen.waitForEnd());
        EXPECT_EQ(seen.final, "hello world second sentence");
    }
}

TEST(PocketSphinxRecognizer, TheGeneralModelHearsSomething) {
    auto model = englishModel();
    ASSERT_TRUE(model);
    PocketSphinxRecognizer recognizer(*model);
    Collector seen;
    auto request = recognizer.makeRequest({});
    recognizer.recognitionTask(request, seen.handler());
    feed(*request, speak("hello world"));
    request->endAudio();
    ASSERT_TRUE(seen.waitForEnd());
    ASSERT_FALSE(seen.error) << seen.error->description;
    EXPECT_THAT(*seen.final, ::testing::Not(::testing::IsEmpty()));
}

TEST(PocketSphinxRecognizer, CancelEndsTheTaskWithACancellationAndAppendAllocatesNothing) {
    testsupport::TempDir dir;
    PocketSphinxRecognizer recognizer(withGrammar(dir.path()));
    Collector seen;
    auto request = recognizer.makeRequest({});
    auto task = recognizer.recognitionTask(request, seen.handler());
    PcmBuffer buffer(PcmFormat::int16(48000, 2), 1024);
    buffer.setFrameLength(1024);
    {
        AllocationProbe probe;
        for (int i = 0; i < 20; ++i) request->append(buffer);
        EXPECT_EQ(probe.count(), 0u);
    }
    task->cancel();
    ASSERT_TRUE(seen.waitForEnd());
    ASSERT_TRUE(seen.error);
    EXPECT_TRUE(seen.error->isCancellation());
    EXPECT_FALSE(seen.final);
    EXPECT_EQ(task->state(), SpeechTaskState::completed);
}

TEST(PocketSphinxRecognizer, AModelThatDoesNotLoadFailsTheTaskAndTheSpeechPermission) {
    testsupport::TempDir dir;
    auto broken = *englishModel();
    broken.languageModel = dir / "broken.lm.bin";
    std::ofstream(broken.languageModel) << "not a language model";
    ASSERT_TRUE(broken.isInstalled());

    ManualExecutor main;
    SpeechPermissionSource permission(broken, main);
    EXPECT_EQ(permission.rawStatus(), 3) << "not tried yet: the files are there";
    auto h = spawn(main, permission.request());
    main.runUntilIdle();
    ASSERT_TRUE(h.done());
    EXPECT_EQ(permission.rawStatus(), 2);

    PocketSphinxRecognizer recognizer(broken);
    Collector seen;
    recognizer.recognitionTask(recognizer.makeRequest({}), seen.handler());
    ASSERT_TRUE(seen.waitForEnd());
    ASSERT_TRUE(seen.error);
    EXPECT_EQ(seen.error->caseName, "modelUnavailable");
}

TEST(SpeechPermissionSource, IsAuthorisedForAnInstalledModelThatLoadsAndRestrictedWithoutOne) {
    ManualExecutor main;
    SpeechPermissionSource installed(englishModel(), main);
    auto h = spawn(main, installed.request());
    main.runUntilIdle();
    ASSERT_TRUE(h.done());
    EXPECT_EQ(installed.rawStatus(), 3);

    SpeechPermissionSource none(std::nullopt, main);
    EXPECT_EQ(none.rawStatus(), 2);
    auto missing = *englishModel();
    missing.dictionary = "/nonexistent/cmudict.dict";
    SpeechPermissionSource notInstalled(missing, main);
    EXPECT_EQ(notInstalled.rawStatus(), 2);
}

}  // namespace
}  // namespace platform
