#include "Parlowen/listenlater/render/AppleSpeechListenLaterRenderer.h"

#include <gtest/gtest.h>

#include <fstream>

#include "Parlowen/listenlater/render/RenderTestSupport.h"
#include "Parlowen/readaloud/SpeechTextNormalizer.h"
#include "platform/audio/AudioFile.h"
#include "platform/text/Unicode.h"

using namespace parlowen;
using namespace parlowen::testing;
using platform::Error;
using platform::PcmBuffer;
using platform::Result;
using platform::Uuid;
namespace fs = std::filesystem;

namespace {

using RenderResult = Result<ListenLaterRenderResult>;

QueueItem itemWith(std::string text, std::string voiceID = "") {
    QueueItem item;
    item.id = Uuid::random();
    item.text = std::move(text);
    item.voiceEngine = "appleSpeech";
    item.voiceID = std::move(voiceID);
    return item;
}

std::int64_t framesIn(const fs::path& path) {
    auto reader = platform::openAudioFileForReading(path);
    return reader ? (*reader)->length() : -1;
}

Error layerError(std::string description) {
    return Error::make("speechsynth", 2, "synthesisFailed", std::move(description));
}

class AppleSpeechRenderTest : public RenderFixture {
protected:
    platform::JoinHandle<RenderResult> start(AppleSpeechListenLaterRenderer& renderer, QueueItem item) {
        return platform::spawn(pool, renderer.render(std::move(item)));
    }
    RenderResult renderNow(AppleSpeechListenLaterRenderer& renderer, QueueItem item) {
        auto h = start(renderer, std::move(item));
        drain();
        EXPECT_TRUE(h.done());
        return h.value();
    }
    fs::path audioPath(const QueueItem& item) { return cache.audioFileURL(item.id, "caf").filePath(); }

    AppleSpeechListenLaterRenderer renderer{platform::kSpeechDefaultRate, dependencies()};
};

TEST(AppleSpeechListenLaterRendererRules, ExpectsOnePointSixBuffersPerCharacterAndAtLeastTwenty) {
    const std::pair<std::size_t, std::int64_t> cases[] = {{0, 20}, {12, 20}, {13, 20}, {100, 160}, {2001, 3201}};
    for (const auto& [chars, expected] : cases)
        EXPECT_EQ(AppleSpeechListenLaterRenderer::expectedBuffers(chars), expected) << chars;
}

// Buffers arrive one by one on the "synthesiser's thread" (the test): each
// 5 % step is posted once, at most 0.95, and 1.0 only after the write.
TEST_F(AppleSpeechRenderTest, PostsEachFivePercentStepOnceUpToNinetyFivePercent) {
    // 100 characters of speech text; the family emoji is one character of five code points.
    std::string text = "Listen to this \xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7 ";
    while (platform::text::graphemeCount(text) < 99) text += "word ";
    text = platform::text::graphemePrefix(text, 99) + ".";
    const std::string speech = SpeechTextNormalizer::normalize(text, SpeechTextNormalizer::Mode::listenLater).text;
    ASSERT_EQ(platform::text::graphemeCount(speech), 100u) << speech;

    synth.holdWrites(true);
    const QueueItem item = itemWith(text);
    auto h = start(renderer, item);
    pool.runUntilIdle();
    EXPECT_EQ(synth.heldWriteCount(), 0u) << "the write waits for the first progress value";
    main.runUntilIdle();
    EXPECT_EQ(store.progress().at(item.id), 0.02);
    pool.runUntilIdle();
    ASSERT_EQ(synth.heldWriteCount(), 1u);
    EXPECT_EQ(synth.written().back().text, speech);

    auto deliver = synth.heldWrite(0);
    std::vector<std::pair<int, double>> posts;  // buffer number, fraction posted
    for (int n = 1; n <= 160; ++n) {
        deliver(speechBuffer(220));
        const std::size_t posted = main.readyJobs();
        ASSERT_LE(posted, 1u) << "buffer " << n;
        main.runUntilIdle();
        if (posted) posts.emplace_back(n, store.progress().at(item.id));
    }
    ASSERT_EQ(posts.size(), 20u);
    EXPECT_EQ(posts[0], std::make_pair(1, 0.00625));
    EXPECT_EQ(posts[1], std::make_pair(8, 0.05));
    EXPECT_EQ(posts[2], std::make_pair(16, 0.1));
    EXPECT_EQ(posts[19], std::make_pair(152, 0.95));
    EXPECT_FALSE(h.done());

    deliver(endMarker());
    EXPECT_EQ(main.readyJobs(), 0u);
    drain();
    ASSERT_TRUE(h.done());
    ASSERT_TRUE(h.value()) << h.value().error().description;
    EXPECT_EQ(store.progress().at(item.id), 1.0);
    EXPECT_EQ(h.value()->fileURL, cache.audioFileURL(item.id, "caf"));
    EXPECT_EQ(framesIn(audioPath(item)), 160 * 220);
    EXPECT_DOUBLE_EQ(h.value()->durationSec, 160 * 220 / 22050.0);
    EXPECT_EQ(renderLines(platform::LogLevel::info),
              (std::vector<std::string>{
                  fmt::format("apple render begin: {} chars-raw=100 chars-norm=100", item.id.uuidString()),
                  "apple render: wrote 160 PCM buffers",
                  fmt::format("apple render done: {} duration={:f}s url={}.caf", item.id.uuidString(),
                              160 * 220 / 22050.0, item.id.uuidString())}));
}

TEST_F(AppleSpeechRenderTest, TwelveCharactersExpectTwentyBuffers) {
    synth.holdWrites(true);
    const QueueItem item = itemWith("Twelve chars");
    auto h = start(renderer, item);
    drain();
    ASSERT_EQ(synth.heldWriteCount(), 1u);
    auto deliver = synth.heldWrite(0);
    deliver(speechBuffer(100));
    main.runUntilIdle();
    EXPECT_EQ(store.progress().at(item.id), 0.05);  // 1 of 20
    deliver(endMarker());
    drain();
    EXPECT_TRUE(h.value());
}

// The file takes the first buffer's format as it is; nothing is converted.
TEST_F(AppleSpeechRenderTest, WritesTheFileInTheFirstBuffersFormat) {
    synth.scriptWrite({speechBuffer(300, 44100, 2), speechBuffer(200, 44100, 2)});
    const QueueItem item = itemWith("Stereo at another rate.");
    auto result = renderNow(renderer, item);
    ASSERT_TRUE(result) << result.error().description;
    auto reader = platform::openAudioFileForReading(audioPath(item));
    ASSERT_TRUE(reader);
    EXPECT_EQ((*reader)->fileFormat(), platform::PcmFormat::int16(44100, 2));
    EXPECT_EQ((*reader)->length(), 500);
    EXPECT_DOUBLE_EQ(result->durationSec, 500 / 44100.0);
}

struct TerminationCase {
    const char* name;
    std::string text;
    std::vector<Result<PcmBuffer>> steps;
    std::string description;  // the error's, or empty for success
    std::int64_t framesLeft;  // in the file afterwards; -1: no file
    std::size_t buffersLogged = 0;
};

TEST_F(AppleSpeechRenderTest, EndsOnceWithTheFirstEndOrFailureAndIgnoresWhatFollows) {
    const TerminationCase cases[] = {
        {"empty speech text", "", {endMarker()}, "Synthesis failed: synthesizer produced no audio (unknown voice?)", -1},
        {"error in place of a buffer",
         "Some text.",
         {speechBuffer(100), speechBuffer(100), platform::fail(layerError("espeak-ng synthesis failed (2)")),
          speechBuffer(100), endMarker()},
         "Synthesis failed: espeak-ng synthesis failed (2)",
         200},
        {"error before any buffer",
         "Some text.",
         {platform::fail(layerError("espeak-ng could not start"))},
         "Synthesis failed: espeak-ng could not start",
         -1},
        {"buffers after the end", "Some text.", {speechBuffer(100), endMarker(), speechBuffer(100), endMarker()}, "",
         100, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log->clear();
        synth.scriptWriteSequence(c.steps);
        const QueueItem item = itemWith(c.text);
        auto result = renderNow(renderer, item);
        if (c.description.empty()) {
            ASSERT_TRUE(result) << result.error().description;
            EXPECT_TRUE(log->contains(fmt::format("apple render: wrote {} PCM buffers", c.buffersLogged)));
        } else {
            ASSERT_FALSE(result);
            EXPECT_EQ(result.error().domain, kListenLaterRendererErrorDomain);
            EXPECT_EQ(result.error().caseName, "synthesisFailed");
            EXPECT_EQ(result.error().description, c.description);
            EXPECT_EQ(renderLines(platform::LogLevel::error),
                      std::vector<std::string>{"apple render failed: " +
                                               c.description.substr(std::string("Synthesis failed: ").size())});
            // Progress stays where the write left it: no 1.0.
            EXPECT_LT(store.progress().at(item.id), 1.0);
        }
        EXPECT_EQ(framesIn(audioPath(item)), c.framesLeft);
    }
}

TEST_F(AppleSpeechRenderTest, AFolderThatCannotBeWrittenFailsWithTheOpenError) {
    // The cache folder's place is taken by a file: even root cannot create the audio file.
    const fs::path folder = caches / "com.kelvatrum.Parlowen" / "listen-later";
    fs::create_directories(folder.parent_path());
    std::ofstream(folder) << "not a folder";
    synth.scriptWrite({speechBuffer(), speechBuffer()});
    auto result = renderNow(renderer, itemWith("Hello."));
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().description.starts_with("Synthesis failed: Could not create audio file \"" +
                                                       folder.string() + "/"))
        << result.error().description;
    EXPECT_FALSE(log->contains("PCM buffers")) << "the write did not end normally";
}

TEST_F(AppleSpeechRenderTest, AFailedRenderLeavesItsPartialFileUntilTheNextRenderReplacesIt) {
    const QueueItem item = itemWith("Say it twice.");
    std::ofstream(audioPath(item)) << std::string(100000, 'x');  // an older file of the item
    synth.scriptWriteSequence({speechBuffer(500), speechBuffer(500), speechBuffer(500),
                               platform::fail(layerError("interrupted"))});
    ASSERT_FALSE(renderNow(renderer, item));
    EXPECT_EQ(framesIn(audioPath(item)), 1500);

    synth.scriptWrite({speechBuffer(700)});
    auto second = renderNow(renderer, item);
    ASSERT_TRUE(second);
    EXPECT_EQ(framesIn(audioPath(item)), 700);
    EXPECT_EQ(synthesizersMade, 2) << "a synthesiser of its own for each render";
}

TEST_F(AppleSpeechRenderTest, ADurationThatCannotBeReadIsZeroAndTheRenderSucceeds) {
    synth.holdWrites(true);
    const QueueItem item = itemWith("Gone before it is measured.");
    auto h = start(renderer, item);
    drain();
    auto deliver = synth.heldWrite(0);
    deliver(speechBuffer());
    deliver(endMarker());
    fs::remove(audioPath(item));
    drain();
    ASSERT_TRUE(h.value());
    EXPECT_EQ(h.value()->durationSec, 0);
    EXPECT_EQ(store.progress().at(item.id), 1.0);
    const auto errors = renderLines(platform::LogLevel::error);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].starts_with("duration probe failed for " + item.id.uuidString() + ".caf: ")) << errors[0];
    EXPECT_TRUE(log->contains(fmt::format("apple render done: {} duration=0.000000s", item.id.uuidString())));
}

TEST_F(AppleSpeechRenderTest, AsksOnlyForInstalledSystemVoicesAndClampsTheRate) {
    platform::FakeSpeechSynthesizer withSystemVoice(
        {{"gmw/en-US", "English (America)", "en-US"},
         {"com.apple.voice.compact.en-US.Samantha", "Samantha", "en-US"}},
        "en-US");
    withSystemVoice.scriptWrite({speechBuffer()});
    struct Case {
        const char* voiceID;
        float rate;
        std::optional<std::string> voice;
        float utteranceRate;
    } cases[] = {
        {"", 0.5f, std::nullopt, 0.5f},
        {"af_heart", 1.5f, std::nullopt, 1.0f},
        {"com.apple.voice.premium.en-US.Zoe", -0.2f, std::nullopt, 0.0f},
        {"gmw/en-US", 0.3f, std::nullopt, 0.3f},  // installed, but not a system-voice identifier
        {"com.apple.voice.compact.en-US.Samantha", 0.7f, "com.apple.voice.compact.en-US.Samantha", 0.7f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.voiceID);
        auto deps = dependencies();
        deps.makeSynthesizer = [&] { return std::make_unique<platform::ForwardingSpeechSynthesizer>(withSystemVoice); };
        AppleSpeechListenLaterRenderer r(c.rate, deps);
        ASSERT_TRUE(renderNow(r, itemWith("Hello there.", c.voiceID)));
        const auto u = withSystemVoice.written().back();
        EXPECT_EQ(u.voiceIdentifier, c.voice);
        EXPECT_EQ(u.rate, c.utteranceRate);
    }
}

}  // namespace
