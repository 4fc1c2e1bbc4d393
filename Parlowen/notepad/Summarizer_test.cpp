#include <gtest/gtest.h>

#include "Parlowen/notepad/AppleIntelligenceRefinementClient.h"
#include "Parlowen/notepad/PromptEnvelope.h"
#include "Parlowen/notepad/Summarizer.h"
#include "platform/languagemodel/ScriptedLanguageModel.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/text/Unicode.h"

using namespace parlowen;
using platform::Result;
using platform::Task;

namespace {

// A stand-in model that works on the framed content it receives, so a wrong
// frame or a wrong chunk gives a wrong answer.
struct FakeModel {
    struct Call {
        std::string systemPrompt, userText, content;
        double timeout = 0;
    };
    std::function<Result<std::string>(const std::string& content, std::size_t callIndex)> answer;
    std::vector<Call> calls;

    static std::string contentOf(const std::string& userText) {
        auto open = userText.find("<input>\n");
        auto close = userText.rfind("\n</input>");
        if (open == std::string::npos || close == std::string::npos) return "<unframed>";
        return userText.substr(open + 8, close - open - 8);
    }
};

Task<Result<std::string>> fakeCall(FakeModel* model, std::string systemPrompt, std::string userText, double timeout) {
    std::string content = FakeModel::contentOf(userText);
    model->calls.push_back({std::move(systemPrompt), std::move(userText), content, timeout});
    co_return model->answer(content, model->calls.size() - 1);
}

SummaryModelCall callInto(FakeModel& model) {
    return [&model](std::string systemPrompt, std::string userText, double timeout) {
        return fakeCall(&model, std::move(systemPrompt), std::move(userText), timeout);
    };
}

template <class T>
T run(Task<T> task) {
    platform::ManualExecutor ex;
    auto h = platform::spawn(ex, std::move(task));
    ex.runUntilIdle();
    EXPECT_TRUE(h.done());
    return h.value();
}

std::string repeat(std::string_view s, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += s;
    return out;
}

// Keeps the first `n` characters of what it is given.
std::function<Result<std::string>(const std::string&, std::size_t)> keepFirst(std::size_t n) {
    return [n](const std::string& content, std::size_t) -> Result<std::string> {
        return platform::text::graphemePrefix(content, n);
    };
}

TEST(SummaryLength, RawValuesAndTexts) {
    EXPECT_EQ(rawValue(SummaryLength::short_), "short");
    EXPECT_EQ(fromRawValue<SummaryLength>("deepDive"), SummaryLength::deepDive);
    EXPECT_FALSE(fromRawValue<SummaryLength>("Short"));
    EXPECT_FALSE(fromRawValue<SummaryLength>("deep-dive"));
    EXPECT_EQ(displayName(SummaryLength::full), "Full (original)");
    EXPECT_EQ(tagline(SummaryLength::deepDive), "~150% — expanded with context + definitions");
    EXPECT_DOUBLE_EQ(targetMultiplier(SummaryLength::gist), 0.1);
    // The prompts are pinned by their UTF-8 sizes.
    EXPECT_EQ(systemPrompt(SummaryLength::gist).size(), 639u);
    EXPECT_EQ(systemPrompt(SummaryLength::short_).size(), 513u);
    EXPECT_EQ(systemPrompt(SummaryLength::deepDive).size(), 700u);
    EXPECT_TRUE(systemPrompt(SummaryLength::full).empty());
}

TEST(ArticleSummarizer, FramesTheTrimmedArticleAndReturnsTheTrimmedAnswer) {
    platform::ScopedLogCapture logs;
    FakeModel model;
    model.answer = [](const std::string&, std::size_t) -> Result<std::string> { return std::string("\n  Short one.  \n"); };
    auto r = run(ArticleSummarizer{}.summarize("\n  The article </Input> body.\t\n", SummaryLength::short_, 60,
                                               callInto(model)));
    EXPECT_EQ(r.value(), "Short one.");
    ASSERT_EQ(model.calls.size(), 1u);
    EXPECT_EQ(model.calls[0].systemPrompt, systemPrompt(SummaryLength::short_));
    EXPECT_EQ(model.calls[0].userText,
              PromptEnvelope::wrap("The article </Input> body.", ArticleSummarizer::kEnvelopeInstruction));
    EXPECT_EQ(model.calls[0].content, "The article </input  body.");
    EXPECT_EQ(model.calls[0].timeout, 60);
    EXPECT_TRUE(logs->contains("summary length=short in=26 chars out=10 chars", platform::LogLevel::info));
}

TEST(ArticleSummarizer, FailuresAndTheFullLength) {
    FakeModel model;
    model.answer = [](const std::string&, std::size_t i) -> Result<std::string> {
        if (i == 0) return std::string(" \n\u2029");
        return platform::fail(platform::Error::make("x", 1, "boom", "The model fell over"));
    };
    ArticleSummarizer s;

    auto empty = run(s.summarize(" \n\t ", SummaryLength::gist, 60, callInto(model)));
    EXPECT_EQ(empty.error().description, "Article body was empty");
    EXPECT_TRUE(model.calls.empty());

    platform::ScopedLogCapture logs;
    auto full = run(s.summarize(" whole text \n", SummaryLength::full, 60, callInto(model)));
    EXPECT_EQ(full.value(), "whole text");
    EXPECT_TRUE(model.calls.empty());
    EXPECT_TRUE(logs->lines().empty());

    auto blank = run(s.summarize("text", SummaryLength::gist, 60, callInto(model)));
    EXPECT_EQ(blank.error().caseName, "emptyOutput");
    EXPECT_EQ(blank.error().description, "Summarizer LLM returned empty output");

    auto failed = run(s.summarize("text", SummaryLength::deepDive, 60, callInto(model)));
    EXPECT_EQ(failed.error().caseName, "underlying");
    EXPECT_EQ(failed.error().description, "Summarizer LLM error: The model fell over");
    EXPECT_EQ(model.calls[1].systemPrompt, systemPrompt(SummaryLength::deepDive));
}

TEST(ChunkedSummarizer, ChunkCases) {
    const std::string family = "👨‍👩‍👧‍👦";  // one character, 25 bytes
    struct Case {
        const char* name;
        std::string text;
        std::size_t budget;
        std::vector<std::string> chunks;
    };
    const Case cases[] = {
        {"within budget: unchanged, not trimmed", "  ab  ", 10, {"  ab  "}},
        {"two paragraphs fit exactly (4+2+4)", "aaaa\n\nbbbb\n\ncccc", 10, {"aaaa\n\nbbbb", "cccc"}},
        {"paragraphs are trimmed, empty ones skipped", " aaaa \n\n\n\n\n\n bbbbbbb ", 10, {"aaaa", "bbbbbbb"}},
        {"long paragraph without terminators is sliced", repeat("x", 25), 10,
         {repeat("x", 10), repeat("x", 10), repeat("x", 5)}},
        {"sentences lose their terminators", "One two. Three four! Five?", 12, {"One two", "Three four", "Five"}},
        {"small sentences share a chunk", "Aa. Bb! Cc? Dd. Eeeeeeeeeeee", 12, {"Aa Bb Cc Dd", "Eeeeeeeeeeee"}},
        {"last pieces join the next paragraph", "aaaa bbbb cccc. dd\n\ne", 10,
         {"aaaa bbbb", "cccc dd\n\ne"}},
        {"CRLF pairs are no paragraph break", "aaaa\r\n\r\nbbbb\r\n\r\ncccc", 10,
         {"aaaa\r \r bb", "bb\r \r cccc"}},
        {"emoji count as one character each", repeat(family, 10), 10, {repeat(family, 10)}},
        {"emoji are never split", repeat(family, 11), 10, {repeat(family, 10), family}},
        {"only terminators: the text itself", "...!?..!!..??..", 5, {"...!?..!!..??.."}},
    };
    for (const auto& c : cases) {
        auto chunks = ChunkedSummarizer::chunk(c.text, c.budget);
        EXPECT_EQ(chunks, c.chunks) << c.name;
    }
}

TEST(ChunkedSummarizer, EveryChunkOfAMixedTextFitsTheBudget) {
    std::string text;
    for (int i = 0; i < 40; ++i) {
        text += repeat("word ", static_cast<std::size_t>(i * 7 % 50)) + "end. Ünïcödé 🇫🇷 line\nnext! ";
        text += (i % 3 == 0) ? "\n\n" : "";
    }
    for (std::size_t budget : {20u, 57u, 300u}) {
        auto chunks = ChunkedSummarizer::chunk(text, budget);
        ASSERT_GT(chunks.size(), 1u);
        for (const auto& c : chunks) {
            EXPECT_LE(platform::text::graphemeCount(c), budget);
            EXPECT_EQ(platform::text::trim(c), c);
            EXPECT_FALSE(c.empty());
        }
    }
}

TEST(ChunkedSummarizer, TextWithinTheBudgetTakesOneCall) {
    platform::ScopedLogCapture logs;
    FakeModel model;
    model.answer = keepFirst(3);
    std::string text = "\n " + repeat("é", 6000) + " \n";  // exactly the budget once trimmed
    auto r = run(ChunkedSummarizer{}.summarize(text, SummaryLength::short_, callInto(model),
                                               ChunkedSummarizer::defaultMaxChunkChars, 60));
    EXPECT_EQ(r.value(), "ééé");
    ASSERT_EQ(model.calls.size(), 1u);
    EXPECT_EQ(model.calls[0].content, repeat("é", 6000));
    EXPECT_FALSE(logs->contains("mapping"));
}

TEST(ChunkedSummarizer, EmptyAndFullNeverCallTheModel) {
    FakeModel model;
    model.answer = keepFirst(1);
    ChunkedSummarizer s;
    auto empty = run(s.summarize(" \r\n\u2028\t", SummaryLength::short_, callInto(model), 10, 60));
    EXPECT_EQ(empty.error().description, "Nothing to summarize");
    EXPECT_EQ(empty.error().caseName, "emptyInput");
    auto full = run(s.summarize("  " + repeat("long ", 100) + " ", SummaryLength::full, callInto(model), 10, 60));
    EXPECT_EQ(full.value(), platform::text::trim(repeat("long ", 100)));
    EXPECT_TRUE(model.calls.empty());
}

TEST(ChunkedSummarizer, MapReduceAndFinalPass) {
    platform::ScopedLogCapture logs;
    FakeModel model;
    model.answer = keepFirst(3);
    auto r = run(ChunkedSummarizer{}.summarize("aaaaaaaa\n\nbbbbbbbb\n\ncccccccc", SummaryLength::gist, callInto(model),
                                               10, 60));
    // map: three chunks → "aaa\n\nbbb\n\nccc" (13); reduce: two chunks → "aaa\n\nccc" (8); final pass.
    std::vector<std::string> contents;
    for (const auto& c : model.calls) {
        contents.push_back(c.content);
        EXPECT_EQ(c.timeout, 60);
        EXPECT_EQ(c.systemPrompt, systemPrompt(SummaryLength::gist));
    }
    EXPECT_EQ(contents, (std::vector<std::string>{"aaaaaaaa", "bbbbbbbb", "cccccccc", "aaa\n\nbbb", "ccc",
                                                  "aaa\n\nccc"}));
    EXPECT_EQ(r.value(), "aaa");
    EXPECT_TRUE(logs->contains("chunked summarize: 28 chars > 10 budget — mapping"));
    EXPECT_TRUE(logs->contains("chunked reduce pass 1: 13 chars still > budget"));
    EXPECT_EQ(logs->linesOfCategory("summarize-chunked").size(), 4u);  // mapping, map, pass 1, map
}

TEST(ChunkedSummarizer, ReducePassThatDoesNotShrinkStopsAndTheFinalPassGetsTheBudget) {
    platform::ScopedLogCapture logs;
    FakeModel model;
    // Each "summary" is longer than its chunk.
    model.answer = [](const std::string& content, std::size_t) -> Result<std::string> { return content + " and more"; };
    auto r = run(ChunkedSummarizer{}.summarize("aaaa\n\nbbbb\n\ncccc\n\ndddd", SummaryLength::short_, callInto(model),
                                               10, 60));
    ASSERT_TRUE(r);
    EXPECT_TRUE(logs->contains("chunked reduce pass 1 did not shrink corpus", platform::LogLevel::error));
    EXPECT_FALSE(logs->contains("chunked reduce pass 2"));
    EXPECT_TRUE(logs->contains("truncating to 10 chars for final pass", platform::LogLevel::error));
    EXPECT_EQ(platform::text::graphemeCount(model.calls.back().content), 10u);
    EXPECT_EQ(r.value(), model.calls.back().content + " and more");
}

TEST(ChunkedSummarizer, AtMostFourReducePasses) {
    platform::ScopedLogCapture logs;
    FakeModel model;
    // Drops one character: every pass shrinks a little but never enough.
    model.answer = [](const std::string& content, std::size_t) -> Result<std::string> {
        return platform::text::graphemePrefix(content, platform::text::graphemeCount(content) - 1);
    };
    auto r = run(ChunkedSummarizer{}.summarize(repeat("x", 30), SummaryLength::short_, callInto(model), 10, 60));
    ASSERT_TRUE(r);
    // map 3 calls (30 → 31 with separators), four passes of 3 calls (28, 25, 22, 19), one final call.
    EXPECT_EQ(model.calls.size(), 16u);
    EXPECT_TRUE(logs->contains("chunked reduce pass 4: 22 chars still > budget"));
    EXPECT_FALSE(logs->contains("chunked reduce pass 5"));
    EXPECT_TRUE(logs->contains("corpus still 19 chars after 4 passes; truncating to 10 chars for final pass"));
    EXPECT_EQ(model.calls.back().content, "xxxxx\n\nxxx");
    EXPECT_EQ(r.value(), "xxxxx\n\nxx");
}

TEST(ChunkedSummarizer, AFailureAnywhereEndsTheWholeRun) {
    FakeModel model;
    model.answer = [](const std::string& content, std::size_t i) -> Result<std::string> {
        if (i == 1) return platform::fail(platform::Error::make("x", 1, "boom", "boom"));
        return content.substr(0, 2);
    };
    auto r = run(ChunkedSummarizer{}.summarize("aaaaaaaa\n\nbbbbbbbb\n\ncccccccc", SummaryLength::short_,
                                               callInto(model), 10, 60));
    EXPECT_EQ(r.error().caseName, "underlying");
    EXPECT_EQ(r.error().description, "Chunked summarizer error: Summarizer LLM error: boom");
    ASSERT_TRUE(r.error().underlying);
    EXPECT_EQ(r.error().underlying->domain, ArticleSummarizer::kErrorDomain);
    EXPECT_EQ(model.calls.size(), 2u);

    FakeModel blank;
    blank.answer = [](const std::string&, std::size_t) -> Result<std::string> { return std::string("  "); };
    auto b = run(ChunkedSummarizer{}.summarize("short", SummaryLength::short_, callInto(blank), 10, 60));
    EXPECT_EQ(b.error().description, "Chunked summarizer error: Summarizer LLM returned empty output");
}

// Read-aloud hands the summariser a call into the on-device client: the
// length's prompt becomes the session's instructions and the framed article
// the text, which the client frames once more.
TEST(ChunkedSummarizer, ModelCallIntoTheOnDeviceClient) {
    platform::ScriptedLanguageModel model;
    model.setDefaultReply(platform::ScriptedReply::text(" The gist. "));
    AppleIntelligenceRefinementClient client(model);
    auto r = run(ChunkedSummarizer{}.summarize("Article text.", SummaryLength::short_, modelCallFor(client),
                                               ChunkedSummarizer::defaultMaxChunkChars, 60));
    EXPECT_EQ(r.value(), "The gist.");
    auto calls = model.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].instructions, systemPrompt(SummaryLength::short_));
    std::string framed = PromptEnvelope::wrap("Article text.", ArticleSummarizer::kEnvelopeInstruction);
    EXPECT_EQ(calls[0].prompt, PromptEnvelope::wrap(framed, AppleIntelligenceRefinementClient::kEnvelopeInstruction));
    EXPECT_NE(calls[0].prompt.find("Article text.\n</input \n</input>"), std::string::npos);
}

}  // namespace
