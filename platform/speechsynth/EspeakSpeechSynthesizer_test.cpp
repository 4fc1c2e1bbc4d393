// espeak-ng for real: live speech through the audio core's output stream
// (a scripted output for the event logic, a private PulseAudio server for
// the whole road) and synthesis into buffers.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>

#include "platform/audio/PulseAudio.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/speechsynth/EspeakSpeechSynthesizer.h"
#include "platform/testsupport/Services.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using Kind = SpeechEvent::Kind;

// Plays the audio thread: completes scheduled buffers from another thread.
void playOut(FakeAudioOutputStream* s, std::size_t count = SIZE_MAX) {
    std::thread([s, count] {
        for (std::size_t i = 0; i < count && s->finishNext(); ++i) {
        }
    }).join();
}

std::string kinds(const std::vector<SpeechEvent>& events) {
    std::string out;
    for (const auto& e : events) {
        switch (e.kind) {
            case Kind::started: out += "started "; break;
            case Kind::word: out += "word "; break;
            case Kind::sentence: out += "sentence "; break;
            case Kind::finished: out += "finished "; break;
            case Kind::cancelled: out += "cancelled "; break;
            case Kind::failed: out += "failed "; break;
        }
    }
    return out;
}

class EspeakTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto status = EspeakSpeechSynthesizer::available();
        ASSERT_TRUE(status) << status.error().description;
    }

    // Events reach the test through the main executor, as they reach the engines.
    void listen(SpeechSynthesizer& synth) {
        synth.setEventHandler([this](const SpeechEvent& e) {
            main_.post([this, e] {
                events_.push_back(e);
                onMain_ = onMain_ && main_.isCurrent();
            });
        });
    }
    bool waitFor(const std::function<bool()>& done) { return main_.runUntil(done, 10'000ms); }
    bool has(Kind kind, UtteranceID id) const {
        for (const auto& e : events_)
            if (e.kind == kind && e.utterance == id) return true;
        return false;
    }
    std::vector<std::string> spokenTexts(const std::string& text, Kind kind) const {
        std::vector<std::string> out;
        for (const auto& e : events_)
            if (e.kind == kind) out.emplace_back(e.range.of(text));
        return out;
    }

    ManualExecutor main_;
    std::vector<SpeechEvent> events_;
    bool onMain_ = true;
    FakeAudioOutput output_;
};

TEST_F(EspeakTest, ListsItsVoicesWithBcp47Languages) {
    EspeakSpeechSynthesizer synth(output_, Environment(std::map<std::string, std::string>{{"LANG", "en_GB.UTF-8"}}));
    auto voices = synth.voices();
    EXPECT_GT(voices.size(), 20u);
    auto us = synth.voice("gmw/en-US");
    ASSERT_TRUE(us);
    EXPECT_EQ(us->name, "English (America)");
    EXPECT_EQ(us->language, "en-US");
    for (const auto& v : voices) EXPECT_EQ(v.quality, "default") << v.identifier;
    EXPECT_EQ(synth.currentLanguageCode(), "en-GB");
    ASSERT_TRUE(synth.voiceForLanguage(synth.currentLanguageCode()));
    EXPECT_EQ(synth.voiceForLanguage(synth.currentLanguageCode())->identifier, "gmw/en");
}

TEST_F(EspeakTest, WordEventsFollowTheAudioWithByteRanges) {
    EspeakSpeechSynthesizer synth(output_, Environment());
    listen(synth);
    const std::string text = "H\u00E9llo. W\u00F6rld again.";
    UtteranceID id = synth.speak({text, "gmw/en-US", 0.5f});
    EXPECT_TRUE(synth.isSpeaking());
    ASSERT_TRUE(waitFor([&] { return output_.lastStream() && output_.lastStream()->isPlaying(); }));
    // Only the first word's events come before any audio has played.
    EXPECT_EQ(kinds(events_), "started sentence word ");
    auto buffers = output_.lastStream()->scheduledBuffers();
    ASSERT_EQ(buffers.size(), 3u) << "cut where the second and third word start";
    for (const auto& b : buffers) {
        EXPECT_GT(b.frameLength(), 0u);
        EXPECT_EQ(b.format(), PcmFormat::int16(22050, 1));
    }

    playOut(output_.lastStream(), 1);
    ASSERT_TRUE(waitFor([&] { return events_.size() == 5; }));
    EXPECT_EQ(kinds(events_), "started sentence word sentence word ");
    playOut(output_.lastStream());
    ASSERT_TRUE(waitFor([&] { return has(Kind::finished, id); }));
    EXPECT_EQ(kinds(events_), "started sentence word sentence word word finished ");
    EXPECT_EQ(spokenTexts(text, Kind::word), (std::vector<std::string>{"H\u00E9llo", "W\u00F6rld", "again"}));
    EXPECT_EQ(spokenTexts(text, Kind::sentence), (std::vector<std::string>{"H\u00E9llo. ", "W\u00F6rld again."}));
    for (const auto& e : events_) EXPECT_EQ(e.utterance, id);
    EXPECT_TRUE(onMain_);
    EXPECT_FALSE(synth.isSpeaking());
}

TEST_F(EspeakTest, PauseHoldsTheAudioAndStopCancelsWithoutLaterEvents) {
    EspeakSpeechSynthesizer synth(output_, Environment());
    listen(synth);
    UtteranceID first = synth.speak({"One two three.", std::nullopt, 0.5f});
    UtteranceID second = synth.speak({"Four five six seven.", std::nullopt, 0.5f});
    ASSERT_TRUE(waitFor([&] { return output_.lastStream() && output_.lastStream()->isPlaying(); }));
    FakeAudioOutputStream* stream = output_.lastStream();

    EXPECT_TRUE(synth.pauseSpeaking());
    EXPECT_FALSE(synth.pauseSpeaking()) << "already paused";
    EXPECT_TRUE(synth.isPaused());
    EXPECT_TRUE(synth.isSpeaking());
    EXPECT_FALSE(stream->isPlaying());
    EXPECT_FALSE(stream->finishNext()) << "nothing plays while paused";
    EXPECT_TRUE(synth.continueSpeaking());
    EXPECT_FALSE(synth.continueSpeaking());
    EXPECT_TRUE(stream->isPlaying());

    // The queued utterance starts once the first has finished.
    playOut(stream, stream->pendingCount());
    ASSERT_TRUE(waitFor([&] { return has(Kind::started, second) && stream->pendingCount() > 1; }));
    ASSERT_TRUE(has(Kind::finished, first));
    playOut(stream, 1);
    ASSERT_TRUE(waitFor([&] { return kinds(events_).ends_with("word word "); }));

    synth.stopSpeaking();
    EXPECT_FALSE(synth.isSpeaking());
    EXPECT_EQ(stream->pendingCount(), 0u);
    main_.runUntilIdle();
    EXPECT_TRUE(has(Kind::cancelled, second));
    std::size_t count = events_.size();
    std::this_thread::sleep_for(50ms);  // late audio or synthesis would post here
    main_.runUntilIdle();
    EXPECT_EQ(events_.size(), count);
    EXPECT_FALSE(has(Kind::finished, second));
    EXPECT_FALSE(synth.pauseSpeaking()) << "nothing to pause";

    // The stream stays in use for the next utterance.
    UtteranceID third = synth.speak({"Again.", std::nullopt, 0.5f});
    ASSERT_TRUE(waitFor([&] { return stream->isPlaying() && stream->pendingCount() > 0; }));
    playOut(stream);
    ASSERT_TRUE(waitFor([&] { return has(Kind::finished, third); }));
    EXPECT_EQ(output_.openCount(), 1);

    // With nothing under way a stop leaves the output alone (the next
    // utterance follows without the output being stopped and restarted).
    count = events_.size();
    synth.stopSpeaking();
    EXPECT_TRUE(stream->isPlaying());
    main_.runUntilIdle();
    EXPECT_EQ(events_.size(), count);
}

TEST_F(EspeakTest, WithoutAnOutputTheUtteranceFailsWithTheReason) {
    output_.failOpenWith(Error::make("audio", 9, "noServer", "Connection refused"));
    EspeakSpeechSynthesizer synth(output_, Environment());
    listen(synth);
    UtteranceID id = synth.speak({"Nobody hears this.", std::nullopt, 0.5f});
    UtteranceID next = synth.speak({"Nor this.", std::nullopt, 0.5f});
    ASSERT_TRUE(waitFor([&] { return has(Kind::failed, next); }));
    EXPECT_FALSE(synth.isSpeaking());
    EXPECT_FALSE(has(Kind::finished, id));
    for (const auto& e : events_) {
        if (e.kind != Kind::failed) continue;
        ASSERT_TRUE(e.error);
        EXPECT_EQ(e.error->description, "No audio output is available.");
        ASSERT_TRUE(e.error->underlying);
        EXPECT_EQ(e.error->underlying->description, "Connection refused");
    }
}

// Synthesis into buffers, as the file renderer uses it.
struct WriteResult {
    std::vector<PcmBuffer> buffers;  // without the end marker
    std::optional<Error> error;
    bool ended = false;
    std::size_t frames() const {
        std::size_t n = 0;
        for (const auto& b : buffers) n += b.frameLength();
        return n;
    }
};

WriteResult writeAll(SpeechSynthesizer& synth, SpeechUtterance u) {
    std::mutex m;
    std::condition_variable cv;
    WriteResult r;
    std::thread::id caller = std::this_thread::get_id();
    bool otherThread = true;
    synth.write(std::move(u), [&](Result<PcmBuffer> b) {
        std::lock_guard lock(m);
        otherThread = otherThread && std::this_thread::get_id() != caller;
        if (!b) r.error = b.error();
        else if (b->empty()) r.ended = true;
        else r.buffers.push_back(std::move(*b));
        if (!b || b->empty()) cv.notify_all();
    });
    std::unique_lock lock(m);
    cv.wait_for(lock, 20s, [&] { return r.ended || r.error; });
    EXPECT_TRUE(otherThread) << "buffers arrive on the synthesiser's thread";
    return r;
}

TEST_F(EspeakTest, WritesPcmBuffersEndingWithAnEmptyOne) {
    EspeakSpeechSynthesizer synth(output_, Environment());
    auto normal = writeAll(synth, {"Hello world, this is a test.", "gmw/en-US", 0.5f});
    ASSERT_TRUE(normal.ended);
    ASSERT_FALSE(normal.buffers.empty());
    for (const auto& b : normal.buffers) EXPECT_EQ(b.format(), PcmFormat::int16(22050, 1));
    double seconds = normal.frames() / 22050.0;
    EXPECT_GT(seconds, 1.0);
    EXPECT_LT(seconds, 5.0);

    auto fast = writeAll(synth, {"Hello world, this is a test.", "gmw/en-US", 1.0f});
    ASSERT_TRUE(fast.ended);
    EXPECT_LT(fast.frames(), normal.frames() * 2 / 3) << "the rate reaches the synthesiser";

    auto unknownVoice = writeAll(synth, {"Hello.", "com.apple.voice.premium.en-US.Zoe", 0.5f});
    ASSERT_TRUE(unknownVoice.ended);
    EXPECT_GT(unknownVoice.frames(), 0u) << "an unknown voice falls back to the default one";

    auto empty = writeAll(synth, {"", std::nullopt, 0.5f});
    EXPECT_TRUE(empty.ended);
    EXPECT_EQ(empty.frames(), 0u);
}

TEST_F(EspeakTest, ANaNRateSpeaksAtTheDefaultRate) {
    EspeakSpeechSynthesizer synth(output_, Environment());
    auto normal = writeAll(synth, {"Hello world, this is a test.", "gmw/en-US", 0.5f});
    auto nan = writeAll(synth, {"Hello world, this is a test.", "gmw/en-US", std::numeric_limits<float>::quiet_NaN()});
    ASSERT_TRUE(nan.ended);
    EXPECT_NEAR(double(nan.frames()), double(normal.frames()), normal.frames() * 0.05);
}

// The whole road: espeak-ng through PulseAudio into the fixture's null sink.
TEST_F(EspeakTest, SpeaksThroughAPulseAudioServerInRealTime) {
    testsupport::PulseAudioServer server;
    PARLOWEN_REQUIRE_OR_SKIP(server.start());
    PulseAudio pulse(server.environment());
    EspeakSpeechSynthesizer synth(pulse, server.environment());
    listen(synth);

    const std::string text = "Hello. World.";
    double audioSeconds = writeAll(synth, {text, "gmw/en-US", 0.5f}).frames() / 22050.0;
    auto started = std::chrono::steady_clock::now();
    UtteranceID id = synth.speak({text, "gmw/en-US", 0.5f});
    ASSERT_TRUE(waitFor([&] { return has(Kind::finished, id); })) << kinds(events_);
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    EXPECT_EQ(kinds(events_), "started sentence word sentence word finished ");
    EXPECT_EQ(spokenTexts(text, Kind::word), (std::vector<std::string>{"Hello", "World"}));
    EXPECT_TRUE(onMain_);
    EXPECT_GT(elapsed, audioSeconds * 0.7) << "the audio was played, not dropped";
}

}  // namespace
}  // namespace platform
