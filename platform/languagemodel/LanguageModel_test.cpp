#include <gtest/gtest.h>

#include "platform/languagemodel/LanguageModel.h"
#include "platform/languagemodel/ScriptedLanguageModel.h"
#include "platform/runtime/ManualExecutor.h"

using namespace platform;
using namespace std::chrono_literals;
using Outcome = ScriptedLanguageModel::Outcome;

namespace {

Task<Result<std::string>> ask(std::shared_ptr<LanguageModelSession> session, std::string prompt) {
    co_return co_await session->respond(std::move(prompt));
}

TEST(SystemLanguageModel, LinuxHasNoOnDeviceModel) {
    auto model = makeSystemLanguageModel();
    EXPECT_EQ(model->availability(), LanguageModelAvailability::deviceNotEligible);

    ManualExecutor ex;
    auto h = spawn(ex, ask(model->makeSession("Reply with: ok"), "Hi."));
    ex.runUntilIdle();
    ASSERT_TRUE(h.done());
    ASSERT_FALSE(h.value());
    EXPECT_TRUE(h.value().error().is(kLanguageModelErrorDomain, static_cast<int>(LanguageModelError::unavailable)));
}

TEST(ScriptedLanguageModel, RepliesInScriptOrderAfterTheirDelaysAndRecordsEverything) {
    ScriptedLanguageModel model;
    model.replyNext(ScriptedReply::text("first", 2s));
    model.replyNext(ScriptedReply::failure(Error::make("fm", 7, "refused", "refused"), 1s));
    model.setDefaultReply(ScriptedReply::text("default"));

    ManualExecutor ex;
    auto a = spawn(ex, ask(model.makeSession("be brief"), "one"));
    auto b = spawn(ex, ask(model.makeSession("be long"), "two"));
    auto c = spawn(ex, ask(model.makeSession("be long"), "three"));
    ex.runUntilIdle();
    EXPECT_FALSE(a.done());
    EXPECT_FALSE(b.done());
    ASSERT_TRUE(c.done());  // the default reply has no delay
    EXPECT_EQ(c.value().value(), "default");

    ex.advance(1s);
    ASSERT_TRUE(b.done());
    EXPECT_EQ(b.value().error().caseName, "refused");
    EXPECT_FALSE(a.done());
    ex.advance(1s);
    ASSERT_TRUE(a.done());
    EXPECT_EQ(a.value().value(), "first");

    EXPECT_EQ(model.sessionInstructions(), (std::vector<std::string>{"be brief", "be long", "be long"}));
    auto calls = model.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].instructions, "be brief");
    EXPECT_EQ(calls[0].prompt, "one");
    EXPECT_EQ(calls[0].outcome, Outcome::answered);
    EXPECT_EQ(calls[1].outcome, Outcome::failed);
    EXPECT_EQ(calls[2].prompt, "three");
}

TEST(ScriptedLanguageModel, StopRequestEndsAWaitUnlessTheReplyIgnoresIt) {
    ScriptedLanguageModel model;
    model.replyNext(ScriptedReply::text("polite", 10s));
    auto stubborn = ScriptedReply::text("stubborn", 10s);
    stubborn.ignoresCancellation = true;
    model.replyNext(stubborn);

    ManualExecutor ex;
    auto polite = spawn(ex, ask(model.makeSession(""), "a"));
    auto late = spawn(ex, ask(model.makeSession(""), "b"));
    ex.advance(1s);
    polite.cancel();
    late.cancel();
    ex.runUntilIdle();
    ASSERT_TRUE(polite.done());
    EXPECT_TRUE(polite.value().error().isCancellation());
    EXPECT_FALSE(late.done());

    ex.advance(9s);
    ASSERT_TRUE(late.done());
    EXPECT_EQ(late.value().value(), "stubborn");
    auto calls = model.calls();
    EXPECT_EQ(calls[0].outcome, Outcome::cancelled);
    EXPECT_EQ(calls[1].outcome, Outcome::answered);
}

TEST(ScriptedLanguageModel, AvailabilityIsAskedAfreshEachTime) {
    ScriptedLanguageModel model;
    EXPECT_EQ(model.availability(), LanguageModelAvailability::available);
    model.setAvailability(LanguageModelAvailability::modelNotReady);
    EXPECT_EQ(model.availability(), LanguageModelAvailability::modelNotReady);
    EXPECT_EQ(model.availabilityQueries(), 2u);
    EXPECT_EQ(caseName(LanguageModelAvailability::systemTooOld), "systemTooOld");
}

}  // namespace
