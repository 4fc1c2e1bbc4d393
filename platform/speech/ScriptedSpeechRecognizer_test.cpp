#include "platform/speech/ScriptedSpeechRecognizer.h"

#include <gtest/gtest.h>

#include <thread>

namespace platform {
namespace {

TEST(ScriptedSpeechRecognizer, DeliversOnItsOwnThreadAndCompletesTasksOnFinalsAndErrors) {
    ScriptedSpeechRecognizer recognizer;
    std::vector<std::string> texts;
    std::vector<std::thread::id> threads;
    auto request = recognizer.makeRequest({.contextualStrings = {"Parlowen"}});
    auto handler = [&](const std::optional<SpeechRecognitionResult>& r, const std::optional<Error>& e) {
        threads.push_back(std::this_thread::get_id());
        texts.push_back(r ? r->bestTranscription + (r->isFinal ? "!" : "") : "error:" + e->caseName);
    };
    auto first = recognizer.recognitionTask(request, handler);
    auto second = recognizer.recognitionTask(recognizer.makeRequest({}), handler);
    ASSERT_EQ(recognizer.taskCount(), 2);
    EXPECT_EQ(recognizer.task(0)->request->options.contextualStrings, std::vector<std::string>{"Parlowen"});

    recognizer.emitResult(0, "hel");
    EXPECT_EQ(first->state(), SpeechTaskState::running);
    recognizer.emitResult(0, "hello", true);
    EXPECT_EQ(first->state(), SpeechTaskState::completed);
    recognizer.emitError(1, Error::cancelled());
    EXPECT_EQ(second->state(), SpeechTaskState::completed);
    EXPECT_EQ(texts, (std::vector<std::string>{"hel", "hello!", "error:cancelled"}));
    for (auto id : threads) EXPECT_NE(id, std::this_thread::get_id());

    PcmBuffer buffer(PcmFormat::float32(48000, 1), 256);
    buffer.setFrameLength(256);
    request->append(buffer);
    request->endAudio();
    EXPECT_EQ(recognizer.task(0)->request->appendedFrames(), 256u);
    EXPECT_TRUE(recognizer.task(0)->request->audioEnded());
    second->cancel();
    EXPECT_TRUE(recognizer.task(1)->cancelled());
}

}  // namespace
}  // namespace platform
