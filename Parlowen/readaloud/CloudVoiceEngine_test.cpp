// The shared cloud-voice playback, driven through the OpenAI voice on the
// doubles: buffers, error bodies, the fetch window, failures, pause, skips
// and the output's routing.

#include <gtest/gtest.h>

#include "Parlowen/readaloud/CloudVoiceTesting.h"
#include "Parlowen/readaloud/OpenAITTSEngine.h"

namespace parlowen {
namespace {

using namespace std::chrono_literals;
using platform::FakeHttpAnswer;
using State = SpeechSynthesisState;
using testing::audioAnswer;

constexpr const char* kBase = "https://api.test";
const std::string kSpeech = std::string(kBase) + "/v1/audio/speech";
const char* kTwo = "First sentence here. Second sentence here.";
const char* kFive = "One. Two. Three. Four. Five.";

class CloudVoiceTest : public ::testing::Test {
protected:
    CloudVoiceTest() {
        EXPECT_TRUE(rig.keychain.write(KeychainStore::Key::openAI, "sk-test"));
        engine = std::make_unique<OpenAITTSEngine>(rig.services(), kBase);
        rig.watch(*engine);
    }

    // Answers the next sentence requests in order.
    void answer(std::initializer_list<FakeHttpAnswer> answers) {
        for (const auto& a : answers) rig.http.answerOnce("POST", kSpeech, a);
    }
    platform::FakeAudioOutputStream* out() { return rig.stream(*engine); }
    // Plays out whatever the output holds, and what that brings, until nothing moves.
    void playOut() {
        for (int i = 0; i < 100; ++i) {
            rig.main.advanceUntilIdle();
            auto* s = out();
            if (!s || s->finishAll() == 0) break;
        }
        rig.main.advanceUntilIdle();
    }

    testing::CloudVoiceRig rig;
    std::unique_ptr<OpenAITTSEngine> engine;
};

TEST_F(CloudVoiceTest, CutsTheBodyInto100msBuffersWithAShorterLastOne) {
    struct Case {
        std::size_t bytes;
        std::size_t chunk;
        std::vector<std::uint32_t> frames;  // scheduled, the end marker last
    };
    const Case cases[] = {
        {9601, 4800, {2400, 2400, 24}},     // the odd byte makes no buffer
        {9602, 4800, {2400, 2400, 1, 24}},  // two bytes do: one frame
        {10000, 10000, {2400, 2400, 200, 24}},
        {9601, 7, {2400, 2400, 24}},  // small chunks are gathered
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.bytes << " bytes in chunks of " << c.chunk);
        rig.logs->clear();
        answer({audioAnswer(c.bytes, c.chunk)});
        engine->speak("Just one sentence.", "coral", 0.5f);
        rig.main.advanceUntilIdle();
        EXPECT_EQ(rig.scheduledFrames(*engine), c.frames);
        EXPECT_TRUE(rig.logs->contains("openai stream done: " + std::to_string(c.bytes) + " bytes"));
        // The samples arrive unchanged and in order.
        auto buffers = out()->scheduledBuffers();
        ASSERT_GE(buffers.size(), 2u);
        EXPECT_EQ(buffers[0].int16Channel(0)[0], 1);
        EXPECT_EQ(buffers[1].int16Channel(0)[0], 2401);
        EXPECT_EQ(buffers.back().int16Channel(0)[23], 0);
        playOut();
        EXPECT_EQ(engine->state(), State::finished());
        EXPECT_FALSE(engine->audioEngineRunning());
    }
    EXPECT_TRUE(rig.errors.empty());
}

TEST_F(CloudVoiceTest, StatesOfAReadingFromLoadingToFinished) {
    answer({audioAnswer(4800), audioAnswer(4800)});
    engine->speak(kTwo, "coral", 0.5f);
    rig.main.advanceUntilIdle();
    EXPECT_TRUE(out()->isPlaying());
    playOut();
    EXPECT_EQ(rig.events, (std::vector<std::string>{"loading 0", "speaking 0", "loading 1", "speaking 1", "finished"}));
    EXPECT_EQ(rig.states[1], State::speaking(0, 2, "First sentence here."));
    // After finished the sentences stay, so skips work on them again.
    EXPECT_EQ(engine->sentences().size(), 2u);
}

TEST_F(CloudVoiceTest, TextWithoutSentencesFinishesWithoutARequest) {
    engine->speak("   \n\n  \n", "coral", 0.5f);
    rig.main.advanceUntilIdle();
    EXPECT_EQ(rig.events, (std::vector<std::string>{"finished"}));
    EXPECT_EQ(rig.http.requestCount(), 0u);
}

TEST_F(CloudVoiceTest, ErrorAnswersGiveTheirBodyOnOneLine) {
    std::string longBody;
    for (int i = 0; longBody.size() < 2000; ++i) longBody += "line " + std::to_string(i) + " of the answer\r\n";
    longBody.resize(2000);
    FakeHttpAnswer chunked;
    chunked.status = 400;
    chunked.chunkDelay = 1ms;  // the body is still coming when reading stops
    for (std::size_t at = 0; at < longBody.size(); at += 300) chunked.chunks.push_back(platform::toBytes(longBody.substr(at, 300)));
    std::string first600 = longBody.substr(0, 600);
    std::string oneLine;
    for (char c : first600)
        if (c != '\r') oneLine.push_back(c == '\n' ? ' ' : c);

    // "a" and 1,000 two-byte characters: the 600th byte is half of one.
    std::string accented = "a";
    for (int i = 0; i < 1000; ++i) accented += "\u00e9";
    FakeHttpAnswer cutCharacter;
    cutCharacter.status = 400;
    cutCharacter.chunkDelay = 1ms;
    for (std::size_t at = 0; at < accented.size(); at += 300) cutCharacter.chunks.push_back(platform::toBytes(accented.substr(at, 300)));
    std::string accented299 = "a";
    for (int i = 0; i < 299; ++i) accented299 += "\u00e9";

    FakeHttpAnswer notText = FakeHttpAnswer::text(400, "bad \xff\xfe bytes");

    struct Case {
        const char* name;
        FakeHttpAnswer answer;
        std::string description;
    };
    const Case cases[] = {
        {"2,000 bytes in 300-byte chunks", chunked, "HTTP 400: " + oneLine},
        {"a character cut at the end", cutCharacter, "HTTP 400: " + accented299},
        {"an empty 500", FakeHttpAnswer::text(500, ""), "HTTP 500: "},
        {"not UTF-8", notText, "HTTP 400: <non-utf8>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rig.errors.clear();
        rig.events.clear();
        const auto aborted = rig.http.abortedStreams();
        answer({c.answer});
        engine->speak("Only sentence.", "coral", 0.5f);
        rig.main.advanceUntilIdle();
        ASSERT_EQ(rig.errors.size(), 1u);
        EXPECT_EQ(rig.errors[0].description, c.description);
        EXPECT_EQ(rig.errors[0].domain, "OpenAITTSError");
        EXPECT_EQ(rig.events, (std::vector<std::string>{"loading 0", "idle", "error: " + c.description}));
        if (c.answer.chunks.size() > 2) EXPECT_EQ(rig.http.abortedStreams(), aborted + 1);  // the rest is not read
    }
}

TEST_F(CloudVoiceTest, AMissingKeySendsNothingAndReportsTheKeychainError) {
    ASSERT_TRUE(rig.keychain.remove(KeychainStore::Key::openAI));
    engine->speak(kTwo, "coral", 0.5f);
    rig.main.advanceUntilIdle();
    EXPECT_EQ(rig.http.requestCount(), 0u);
    EXPECT_EQ(rig.events, (std::vector<std::string>{"loading 0", "idle", "error: Keychain item not found"}));
    EXPECT_EQ(rig.errors[0].domain, "KeychainError");
    EXPECT_TRUE(rig.logs->contains("openai stream failed (sentence 0): Keychain item not found",
                                   platform::LogLevel::error));
}

TEST_F(CloudVoiceTest, FetchesTheCurrentSentenceAndTwoAheadAtMost) {
    for (int i = 0; i < 5; ++i) answer({audioAnswer(4800)});
    engine->speak(kFive, "coral", 0.5f);
    rig.main.advanceUntilIdle();
    EXPECT_EQ(engine->streamIndexes(), (std::vector<std::int64_t>{0, 1, 2}));
    EXPECT_EQ(rig.http.requestCount(), 3u);
    std::vector<std::vector<std::int64_t>> windows;
    std::size_t mostHeld = 0;
    while (engine->state().hasSentence()) {
        mostHeld = std::max(mostHeld, engine->heldAudioBytes());
        ASSERT_TRUE(out()->finishNext());
        rig.main.advanceUntilIdle();
        if (engine->state().hasSentence()) windows.push_back(engine->streamIndexes());
    }
    // Every sentence is in flight for its buffer, then its marker.
    EXPECT_EQ(engine->state(), State::finished());
    EXPECT_EQ(rig.http.requestCount(), 5u);
    EXPECT_LE(mostHeld, 3u * 4800u);
    for (const auto& w : windows) EXPECT_LE(w.size(), 3u);
    EXPECT_NE(std::find(windows.begin(), windows.end(), std::vector<std::int64_t>{1, 2, 3}), windows.end());
    EXPECT_NE(std::find(windows.begin(), windows.end(), std::vector<std::int64_t>{4}), windows.end());
}

TEST_F(CloudVoiceTest, APrefetchFailureIsSilentUntilItsSentenceFailsAgainAsCurrent) {
    answer({audioAnswer(4800), FakeHttpAnswer::text(401, "no"), audioAnswer(4800), FakeHttpAnswer::text(401, "still no")});
    engine->speak("One. Two. Three.", "coral", 0.5f);
    rig.main.advanceUntilIdle();
    EXPECT_TRUE(rig.errors.empty());
    EXPECT_EQ(engine->streamIndexes(), (std::vector<std::int64_t>{0, 2}));  // the failed one is dropped
    EXPECT_TRUE(rig.logs->contains("openai stream failed (sentence 1): HTTP 401: <private>"));
    playOut();  // sentence 0 ends; sentence 1 is asked for again and fails again
    EXPECT_EQ(rig.http.requestCount(), 4u);
    EXPECT_EQ(rig.events,
              (std::vector<std::string>{"loading 0", "speaking 0", "loading 1", "idle", "error: HTTP 401: still no"}));
}

TEST_F(CloudVoiceTest, StopDuringAFetchIsSilentAndDropsLateBuffers) {
    auto slow = audioAnswer(9600);
    slow.chunkDelay = 50ms;
    answer({slow});
    engine->speak("Only sentence.", "coral", 0.5f);
    rig.main.advance(60ms);  // the first buffer plays
    ASSERT_EQ(engine->state().kind, State::Case::speaking);
    engine->stop();
    rig.main.advanceUntilIdle();
    EXPECT_EQ(rig.events, (std::vector<std::string>{"loading 0", "speaking 0", "idle"}));
    EXPECT_TRUE(rig.errors.empty());
    EXPECT_FALSE(engine->audioEngineRunning());
    EXPECT_EQ(rig.http.abortedStreams(), 1u);
    EXPECT_FALSE(rig.logs->contains("stream failed"));
    EXPECT_FALSE(rig.logs->contains("stream done"));
}

TEST_F(CloudVoiceTest, PauseWhileLoadingDoesNothingAndTheFirstBufferStillPlays) {
    auto late = audioAnswer(4800);
    late.delay = 100ms;
    answer({late});
    engine->speak("Only sentence.", "coral", 0.5f);
    rig.main.advanceUntilIdle();
    ASSERT_EQ(engine->state().kind, State::Case::speaking);  // advanceUntilIdle ran the delay
    rig.events.clear();

    answer({late});
    engine->speak("Only sentence.", "coral", 0.5f);
    rig.main.advance(50ms);
    engine->pause();
    EXPECT_EQ(engine->state(), State::loading(0, 1, "Only sentence."));
    rig.main.advance(60ms);
    EXPECT_EQ(engine->state(), State::speaking(0, 1, "Only sentence."));
    EXPECT_TRUE(out()->isPlaying());
}

TEST_F(CloudVoiceTest, PauseResumeAndASkipWhilePausedThatResumesByItself) {
    answer({audioAnswer(4800), audioAnswer(4800)});
    engine->speak(kTwo, "coral", 0.5f);
    rig.main.advanceUntilIdle();
    engine->pause();
    EXPECT_EQ(engine->state(), State::paused(0, 2, "First sentence here."));
    EXPECT_FALSE(out()->isPlaying());
    engine->resume();
    EXPECT_EQ(engine->state(), State::speaking(0, 2, "First sentence here."));
    EXPECT_TRUE(out()->isPlaying());
    engine->pause();
    engine->skipForwardSentence();
    // Sentence 1 was fetched ahead: its buffer starts the player again.
    EXPECT_EQ(engine->state(), State::speaking(1, 2, "Second sentence here."));
    EXPECT_TRUE(out()->isPlaying());
    EXPECT_EQ(rig.http.requestCount(), 2u);
}

TEST_F(CloudVoiceTest, EarlierEndMarkersDoNotMovePlaybackOn) {
    // Sentence 0 fully received: its buffer and its end marker wait in the output.
    answer({audioAnswer(4800), audioAnswer(4800)});
    engine->speak(kTwo, "coral", 0.5f);
    rig.main.advanceUntilIdle();
    ASSERT_EQ(out()->pendingCount(), 2u);

    // A skip back on sentence 0 replays it from the kept buffers, with no request.
    engine->skipBack(15);
    rig.main.advanceUntilIdle();
    EXPECT_EQ(engine->state(), State::speaking(0, 2, "First sentence here."));
    EXPECT_EQ(engine->currentIndex(), 0);
    EXPECT_EQ(rig.http.requestCount(), 2u);

    // Stop and speak in one turn: the stopped markers belong to the old reading.
    answer({audioAnswer(4800), audioAnswer(4800)});
    engine->stop();
    engine->speak(kTwo, "coral", 0.5f);
    rig.main.advanceUntilIdle();
    EXPECT_EQ(engine->state(), State::speaking(0, 2, "First sentence here."));
    EXPECT_EQ(engine->currentIndex(), 0);
}

TEST_F(CloudVoiceTest, AnAnswerWithoutAudioStillMovesOn) {
    for (std::size_t bytes : {0u, 1u}) {
        SCOPED_TRACE(bytes);
        engine->stop();
        rig.events.clear();
        answer({audioAnswer(bytes), audioAnswer(4800)});
        engine->speak(kTwo, "coral", 0.5f);
        rig.main.advanceUntilIdle();
        ASSERT_NE(out(), nullptr);
        EXPECT_EQ(rig.scheduledFrames(*engine), (std::vector<std::uint32_t>{24}));
        playOut();
        EXPECT_EQ(rig.events, (std::vector<std::string>{"loading 0", "loading 1", "speaking 1", "finished"}));
    }
}

TEST_F(CloudVoiceTest, AnOutputThatCannotStart) {
    rig.output.failOpenWith(platform::Error::make("audio", 1, "noServer", "Connection refused"));
    // On the first buffer: the reading ends, with no error passed on.
    answer({audioAnswer(4800)});
    engine->speak("Only sentence.", "coral", 0.5f);
    rig.main.advanceUntilIdle();
    EXPECT_EQ(rig.events, (std::vector<std::string>{"loading 0", "idle", "finished"}));
    EXPECT_TRUE(rig.errors.empty());
    EXPECT_TRUE(rig.logs->contains("audioEngine start failed: Connection refused", platform::LogLevel::error));

    // On resume: logged, and nothing else changes.
    rig.logs->clear();
    rig.events.clear();
    auto late = audioAnswer(4800);
    late.delay = 1s;
    answer({late});
    engine->speak("Only sentence.", "coral", 0.5f);
    rig.main.runUntilIdle();
    engine->resume();
    EXPECT_EQ(engine->state().kind, State::Case::loading);
    EXPECT_FALSE(engine->audioEngineRunning());
    EXPECT_TRUE(rig.logs->contains("audioEngine start failed: Connection refused", platform::LogLevel::error));
}

TEST_F(CloudVoiceTest, SkipBySecondsEstimatesFromTheStoredRate) {
    const std::string s130 = "X" + std::string(128, 'x') + ".";
    const std::string text = "Start. " + s130 + " End.";
    struct Case {
        float rate;
        double seconds;
        std::int64_t lands;
    };
    // At 0.5 the 130-character sentence counts 10 s; at 0.02 the divisor is 1.
    for (const auto& c : {Case{0.5f, 10, 1}, Case{0.5f, 10.5, 2}, Case{0.02f, 130, 1}, Case{0.02f, 131, 2}}) {
        SCOPED_TRACE(::testing::Message() << c.rate << " " << c.seconds);
        engine->speak(text, "coral", c.rate);
        engine->skipForward(c.seconds);
        EXPECT_EQ(engine->currentIndex(), c.lands);
    }
}

TEST_F(CloudVoiceTest, SkipsPastTheEndFinish) {
    answer({audioAnswer(4800), audioAnswer(4800)});
    engine->speak(kTwo, "coral", 0.5f);
    rig.main.advanceUntilIdle();
    engine->skipForwardSentence();
    rig.events.clear();
    engine->skipForwardSentence();
    EXPECT_EQ(rig.events, (std::vector<std::string>{"idle", "finished"}));
    EXPECT_FALSE(engine->audioEngineRunning());
}

TEST_F(CloudVoiceTest, OutputGoesToThePreferredDeviceReadAtEachStart) {
    rig.hardware.setDevices({{7, "usb-headset", "Headset", platform::AudioTransport::usb, 0, 2},
                             {9, "builtin", "Speakers", platform::AudioTransport::builtIn, 0, 2}});
    struct Case {
        std::optional<std::string> preferred;
        std::optional<platform::AudioDeviceID> device;
    };
    // An unknown UID keeps the device the last start chose.
    for (const auto& c : {Case{std::nullopt, std::nullopt}, Case{"usb-headset", 7}, Case{"builtin", 9},
                          Case{"gone", 9}}) {
        SCOPED_TRACE(c.preferred.value_or("(none)"));
        if (c.preferred)
            rig.defaults.set(CloudVoiceEngine::kPreferredOutputKey, *c.preferred);
        answer({audioAnswer(4800)});
        engine->speak("Only sentence.", "coral", 0.5f);
        rig.main.advanceUntilIdle();
        ASSERT_NE(out(), nullptr);
        EXPECT_EQ(out()->options().device, c.device);
        EXPECT_EQ(out()->options().sampleRate, 24000);
        EXPECT_EQ(out()->options().channels, 1u);
    }
}

TEST_F(CloudVoiceTest, VoiceDisplayNameOfTheSharedRule) {
    // The OpenAI voice has its own rule; the shared one is reached through the base.
    CloudVoiceEngine& base = *engine;
    EXPECT_EQ(base.CloudVoiceEngine::voiceDisplayName(std::nullopt), "Not set");
    EXPECT_EQ(base.CloudVoiceEngine::voiceDisplayName(""), "Not set");
    EXPECT_EQ(base.CloudVoiceEngine::voiceDisplayName("abc"), "abc…");
    EXPECT_EQ(base.CloudVoiceEngine::voiceDisplayName("0123456789"), "01234567…");
}

TEST(CloudVoiceErrorMessage, CleansACutBody) {
    EXPECT_EQ(CloudVoiceEngine::errorMessage("a\r\nb\nc"), "a b c");
    EXPECT_EQ(CloudVoiceEngine::errorMessage("caf\xc3"), "caf");          // cut inside "é"
    EXPECT_EQ(CloudVoiceEngine::errorMessage("x\xe2\x82"), "x");           // cut inside "€"
    EXPECT_EQ(CloudVoiceEngine::errorMessage("ok \xe2\x82\xac"), "ok \u20ac");
    EXPECT_EQ(CloudVoiceEngine::errorMessage("\xff ok"), "<non-utf8>");
    EXPECT_EQ(CloudVoiceEngine::errorMessage(""), "");
}

}  // namespace
}  // namespace parlowen
