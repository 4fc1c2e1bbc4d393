#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Parlowen/notepad/NotepadTestSupport.h"
#include "Parlowen/notepad/Tones.h"

namespace parlowen {
namespace {

using namespace notepadtest;
using platform::FakeHttpAnswer;
using platform::LogLevel;
using platform::ScriptedReply;

class NotepadRewrite : public NotepadFixture {
protected:
    void claudeAnswers(const std::string& answer, platform::Duration delay = {}) {
        FakeHttpAnswer a = FakeHttpAnswer::text(200, claudeAnswer(answer));
        a.delay = delay;
        http.answerOnce("POST", kClaudeUrl, std::move(a));
    }
    std::string requestedModel(std::size_t index) const {
        auto requests = http.requests();
        if (index >= requests.size()) return "<none>";
        return nlohmann::json::parse(platform::toString(requests[index].body)).value("model", "<no model>");
    }
    void tone(const std::string& id = "email") {
        for (const auto& t : builtInTones())
            if (t.id == id) notepad->rewrite(false, fullSystemPrompt(t), "tone:" + t.id);
        main.runUntilIdle();
    }
    void agent(const std::string& id = "summarize") {
        for (const auto& a : builtInAgents())
            if (a.id == id) notepad->rewrite(true, a.systemPrompt, "agent:" + a.id);
        main.runUntilIdle();
    }
};

TEST_F(NotepadRewrite, RoutesEachKindToTheClientItsModelSelects) {
    struct Row {
        CleanUpModel model;
        bool isAgent;
        std::string claudeModel;  // empty: the on-device model
    };
    const Row rows[] = {
        {CleanUpModel::sonnet46, false, "claude-haiku-4-5-20251001"},
        {CleanUpModel::sonnet46, true, "claude-sonnet-4-6"},
        {CleanUpModel::opus47, false, "claude-haiku-4-5-20251001"},
        {CleanUpModel::opus47, true, "claude-opus-4-7"},
        {CleanUpModel::appleIntelligence, false, ""},
        {CleanUpModel::appleIntelligence, true, ""},
    };
    notepad->openWithSeedText("draft text");
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(rawValue(row.model)) + (row.isAgent ? " agent" : " tone"));
        prefs.cleanUpModel.set(row.model);
        notepad->setDisplayedText("draft text");
        const std::size_t before = http.requestCount();
        const std::size_t onDeviceBefore = languageModel.calls().size();
        if (row.claudeModel.empty())
            languageModel.replyNext(ScriptedReply::text("Rewritten on the device."));
        else
            claudeAnswers("Rewritten by Claude.");
        row.isAgent ? agent() : tone();
        if (row.claudeModel.empty()) {
            EXPECT_EQ(http.requestCount(), before);
            EXPECT_EQ(languageModel.calls().size(), onDeviceBefore + 1);
            EXPECT_EQ(text(), "Rewritten on the device.");
        } else {
            EXPECT_EQ(requestedModel(before), row.claudeModel);
            EXPECT_EQ(languageModel.calls().size(), onDeviceBefore);
            EXPECT_EQ(text(), "Rewritten by Claude.");
        }
        EXPECT_FALSE(polishing());
    }
}

TEST_F(NotepadRewrite, NothingForAnEmptyTextOrWithRefinementOffAndASkipWithoutAClient) {
    notepad->openWithSeedText("");
    logs->clear();
    tone();
    prefs.aiRefinementEnabled.set(false);
    notepad->setDisplayedText("text");
    logs->clear();
    agent();
    EXPECT_EQ(http.requestCount(), 0u);
    EXPECT_TRUE(logs->linesOfCategory("notepad").empty());
    EXPECT_FALSE(polishing());

    prefs.aiRefinementEnabled.set(true);
    prefs.cleanUpModel.set(CleanUpModel::appleIntelligence);
    languageModel.setAvailability(platform::LanguageModelAvailability::modelNotReady);
    tone("casual");
    EXPECT_TRUE(logs->contains("notepad rewrite skipped (tone:casual): no client for apple-intelligence", LogLevel::error));
    EXPECT_FALSE(polishing());
    EXPECT_EQ(text(), "text");
}

TEST_F(NotepadRewrite, OfTwoQuickChipsOnlyTheSecondAnswerLands) {
    prefs.cleanUpModel.set(CleanUpModel::sonnet46);
    notepad->openWithSeedText("hey can we meet tomorrow");
    claudeAnswers("FIRST", 2s);
    claudeAnswers("SECOND", 2s);
    tone("email");
    main.advance(500ms);
    tone("slack");
    EXPECT_TRUE(polishing());
    main.advance(3s);
    EXPECT_EQ(text(), "SECOND");
    EXPECT_FALSE(polishing());
    ASSERT_EQ(http.requestCount(), 2u);
}

TEST_F(NotepadRewrite, AFailureIsLoggedAndKeepsTheText) {
    prefs.cleanUpModel.set(CleanUpModel::opus47);
    notepad->openWithSeedText("keep me");
    http.answerOnce("POST", kClaudeUrl, FakeHttpAnswer::text(500, "{}"));
    agent("bulleted-list");
    main.advance(1s);
    EXPECT_EQ(text(), "keep me");
    EXPECT_FALSE(polishing());
    EXPECT_TRUE(logs->contains("notepad rewrite failed (agent:bulleted-list): ", LogLevel::error));
}

TEST_F(NotepadRewrite, CloseCancelsARunningRewrite) {
    prefs.cleanUpModel.set(CleanUpModel::sonnet46);
    notepad->openWithSeedText("draft");
    claudeAnswers("too late", 5s);
    tone();
    notepad->close();
    main.advance(10s);
    EXPECT_EQ(text(), "draft");
    EXPECT_FALSE(polishing());
    EXPECT_FALSE(logs->contains("notepad rewrite failed"));
}

TEST_F(NotepadRewrite, AnAnswerForATextThatChangedMeanwhileIsDropped) {
    prefs.cleanUpModel.set(CleanUpModel::sonnet46);
    notepad->openWithSeedText("draft");
    claudeAnswers("Rewritten draft.", 2s);
    tone();
    type("draft plus what I typed meanwhile");  // a user edit does not cancel the rewrite
    main.advance(2s);
    EXPECT_EQ(text(), "draft plus what I typed meanwhile");
    EXPECT_FALSE(polishing());
    EXPECT_TRUE(logs->contains("notepad rewrite dropped (tone:email): the text changed while it ran"));
}

TEST_F(NotepadRewrite, AnAcceptedRewriteWhileRecordingStartsTheRecogniserOver) {
    prefs.cleanUpModel.set(CleanUpModel::sonnet46);
    prefs.polishPunctuationEnabled.set(false);
    openRecording();
    say("we should meet");
    claudeAnswers("Shall we meet?", 300ms);
    tone();
    main.advance(300ms);
    EXPECT_EQ(text(), "Shall we meet?");
    EXPECT_EQ(engine().starts, 2);
    EXPECT_TRUE(logs->contains("notepad: restarting engine accumulator (rewrite)"));
    say("tomorrow");  // the new run carries only what was said after the rewrite
    EXPECT_EQ(text(), "Shall we meet? tomorrow");
}

}  // namespace
}  // namespace parlowen
