// The system-voice renderer on the real synthesiser (espeak-ng) writing real
// files (libsndfile) into a temporary render cache.

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>

#include "Auralith/foundation/AudioConverter.h"
#include "Parlowen/listenlater/render/AudioDuration.h"
#include "Parlowen/listenlater/render/DispatchingListenLaterRenderer.h"
#include "platform/audio/AudioFile.h"
#include "platform/audio/AudioOutputStream.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/runtime/WorkerPool.h"
#include "platform/speech/PocketSphinxRecognizer.h"
#include "platform/speechsynth/EspeakSpeechSynthesizer.h"
#include "platform/testsupport/TempHome.h"

using namespace parlowen;
using platform::Result;
using platform::Uuid;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using RenderResult = Result<ListenLaterRenderResult>;

class SystemVoiceRenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto status = platform::EspeakSpeechSynthesizer::available();
        ASSERT_TRUE(status) << status.error().description;
    }

    AppleSpeechListenLaterRenderer::Dependencies dependencies() {
        return {main, store, cache, [this] {
                    return std::make_unique<platform::EspeakSpeechSynthesizer>(output, environment);
                }};
    }

    QueueItem itemWith(std::string text) {
        QueueItem item;
        item.id = Uuid::random();
        item.text = std::move(text);
        item.voiceEngine = "appleSpeech";
        item.voiceID = "com.apple.voice.premium.en-US.Zoe";  // the read-aloud default; not installed here
        return item;
    }

    // Renders on the worker pool while the test's thread serves as the main thread.
    std::vector<RenderResult> renderTogether(ListenLaterRenderer& renderer, const std::vector<QueueItem>& items) {
        std::vector<platform::JoinHandle<RenderResult>> handles;
        for (const auto& item : items) handles.push_back(platform::spawn(pool, renderer.render(item)));
        const bool finished = main.runUntil(
            [&] { return std::all_of(handles.begin(), handles.end(), [](const auto& h) { return h.done(); }); },
            60'000ms);
        EXPECT_TRUE(finished);
        std::vector<RenderResult> results;
        for (auto& h : handles)
            results.push_back(h.done() ? h.value() : platform::fail(platform::Error::cancelled()));
        return results;
    }

    testsupport::TempDir caches;
    ListenLaterCache cache{caches.path()};
    platform::ManualExecutor main;
    platform::WorkerPool pool{2};
    RenderProgressStore store{main};
    platform::FakeAudioOutput output;  // rendering never plays
    platform::Environment environment{std::map<std::string, std::string>{{"LANG", "en_US.UTF-8"}}};
    platform::ScopedLogCapture log;
};

TEST_F(SystemVoiceRenderTest, RendersSpeechIntoTheItemsCafFileReplacingAnOlderOne) {
    DispatchingListenLaterRenderer renderer(platform::kSpeechDefaultRate, dependencies());
    QueueItem item = itemWith("Hello world. Second sentence.");
    item.voiceEngine = "kokoro";  // no Kokoro renderer here: the system voice speaks it
    const fs::path file = cache.audioFileURL(item.id, "caf").filePath();
    std::ofstream(file) << std::string(2'000'000, '\x7f');  // an older, larger file of the item

    auto result = renderTogether(renderer, {item}).at(0);
    ASSERT_TRUE(result) << result.error().description;
    EXPECT_EQ(result->fileURL.lastPathComponent(), item.id.uuidString() + ".caf");
    EXPECT_EQ(result->fileURL.filePath(), file);

    auto reader = platform::openAudioFileForReading(file);
    ASSERT_TRUE(reader) << reader.error().description;
    EXPECT_EQ((*reader)->fileFormat(), platform::PcmFormat::int16(22050, 1));
    const double seconds = static_cast<double>((*reader)->length()) / 22050;
    EXPECT_GT(seconds, 1.0);
    EXPECT_LT(seconds, 6.0);
    EXPECT_LT(fs::file_size(file), 2'000'000u) << "replaced, not appended to";
    EXPECT_DOUBLE_EQ(result->durationSec, seconds);
    EXPECT_DOUBLE_EQ(audioDuration(result->fileURL), seconds);
    EXPECT_TRUE(log->contains(fmt::format("apple render done: {} duration={:f}s url={}.caf", item.id.uuidString(),
                                          seconds, item.id.uuidString())));
    EXPECT_EQ(store.progress().at(item.id), 1.0);
}

TEST_F(SystemVoiceRenderTest, RendersStartedTogetherBothSucceedWithFilesOfTheirOwn) {
    AppleSpeechListenLaterRenderer renderer(platform::kSpeechDefaultRate, dependencies());
    const std::vector<QueueItem> items = {itemWith("The first article is short."),
                                          itemWith("The second article is a little longer than the first one.")};
    auto results = renderTogether(renderer, items);
    ASSERT_TRUE(results[0]) << results[0].error().description;
    ASSERT_TRUE(results[1]) << results[1].error().description;
    EXPECT_NE(results[0]->fileURL, results[1]->fileURL);
    EXPECT_GT(results[0]->durationSec, 0.5);
    EXPECT_GT(results[1]->durationSec, results[0]->durationSec);
    for (std::size_t i = 0; i < 2; ++i)
        EXPECT_DOUBLE_EQ(audioDuration(results[i]->fileURL), results[i]->durationSec);
}

TEST_F(SystemVoiceRenderTest, ADurationIsZeroForAMissingOrUnreadableFile) {
    std::ofstream(caches / "garbage.caf") << "this is not audio at all";
    EXPECT_EQ(audioDuration(platform::Url::fromFilePath(caches / "missing.caf")), 0);
    EXPECT_EQ(audioDuration(platform::Url::fromFilePath(caches / "garbage.caf")), 0);
    EXPECT_FALSE(loadAudioDuration(caches / "garbage.caf"));
}

// The file holds the words, not only samples: the system recogniser, given a
// small grammar, reads them back from the rendered file.
TEST_F(SystemVoiceRenderTest, TheRecogniserReadsTheRenderedWordsBack) {
    auto model = platform::PocketSphinxModel::forLocale("en_US.UTF-8");
    ASSERT_TRUE(model) << "pocketsphinx-en-us is not installed";
    model->grammar = caches / "words.gram";
    std::ofstream(*model->grammar) << "#JSGF V1.0;\ngrammar words;\npublic <utterance> = <word>+;\n"
                                      "<word> = hello | world | second | sentence | open | door | good | morning;\n";

    AppleSpeechListenLaterRenderer renderer(platform::kSpeechDefaultRate, dependencies());
    auto result = renderTogether(renderer, {itemWith("Hello world. Second sentence.")}).at(0);
    ASSERT_TRUE(result) << result.error().description;
    auto samples = auralith::AudioConverter().resampleAudioFile(result->fileURL.filePath());
    ASSERT_TRUE(samples) << samples.error().description;

    // Some silence around the speech, as a speaker's pauses.
    std::vector<float> audio(4800, 0.0f);
    audio.insert(audio.end(), samples->begin(), samples->end());
    audio.resize(audio.size() + 6400, 0.0f);

    platform::PocketSphinxRecognizer recognizer(*model, {.endpointSilence = 0});
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<std::string> final;
    std::optional<platform::Error> error;
    auto request = recognizer.makeRequest({.shouldReportPartialResults = false});
    auto task = recognizer.recognitionTask(request, [&](const auto& r, const auto& e) {
        std::lock_guard lock(mutex);
        if (r && r->isFinal) final = r->bestTranscription;
        if (e) error = e;
        changed.notify_all();
    });
    platform::PcmBuffer block(platform::PcmFormat::float32(16000, 1), 1600);
    for (std::size_t at = 0; at < audio.size(); at += 1600) {
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(1600, audio.size() - at));
        std::copy_n(audio.data() + at, n, block.floatChannel(0));
        block.setFrameLength(n);
        request->append(block);
    }
    request->endAudio();
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 60s, [&] { return final || error; }));
    ASSERT_FALSE(error) << error->description;
    EXPECT_EQ(final, "hello world second sentence");
}

}  // namespace
