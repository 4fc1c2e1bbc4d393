#include "Parlowen/notepad/Summarizer.h"

#include "Parlowen/notepad/PromptEnvelope.h"
#include "Parlowen/notepad/RefinementClient.h"
#include "platform/log/Log.h"
#include "platform/text/Unicode.h"

namespace parlowen {
namespace {

using platform::Error;
using platform::Result;
using platform::Task;
using platform::text::CharacterSet;
using platform::text::graphemeCount;
using platform::text::trim;

const platform::Logger& summaryLog() {
    static const platform::Logger log("com.kelvatrum.Parlowen", "summarize");
    return log;
}

const platform::Logger& chunkedLog() {
    static const platform::Logger log("com.kelvatrum.Parlowen", "summarize-chunked");
    return log;
}

constexpr std::string_view kGistPrompt =
    "You are condensing an article into its essence — a brief 1-2 paragraph summary that captures the core point "
    "and the most important supporting facts. Aim for roughly 10% of the original length.\n"
    "\n"
    "Strict requirements:\n"
    "- Distill, don't paraphrase. Pick out the load-bearing facts and present them concisely.\n"
    "- Stick to what the article actually says. Don't invent, speculate, or add framing.\n"
    "- Output the summary text only — no headers, no commentary, no \"Here's the summary:\" preamble.\n"
    "- Optimized for listening, not reading: prefer complete sentences over bullet points; avoid heavy citation "
    "references; smooth transitions between facts.";

constexpr std::string_view kShortPrompt =
    "You are summarizing an article in roughly 25% of its length. Cover all the main points the article makes, in "
    "a coherent narrative — not a bullet list. Skip throat-clearing, redundant restatements, and tangents; keep the "
    "substance.\n"
    "\n"
    "Strict requirements:\n"
    "- Stick to what the article actually says. Don't invent or speculate.\n"
    "- Listening-optimized prose — complete sentences, smooth transitions, no list formatting.\n"
    "- Output the summary text only — no headers, no commentary, no \"Here's the summary:\" preamble.";

constexpr std::string_view kDeepDivePrompt =
    "You are expanding an article with explanatory context for a listener who wants more depth. Take the original "
    "article and add:\n"
    "- Definitions of jargon or technical terms as they appear\n"
    "- Brief historical or background context where it would help understanding\n"
    "- Explanations of why the article's claims matter or what their implications are\n"
    "\n"
    "Strict requirements:\n"
    "- The expansion must be FAITHFUL to the article. Don't insert opinions, speculation, or facts the article "
    "doesn't support.\n"
    "- The original content stays — you're enriching, not replacing or omitting.\n"
    "- Listening-optimized prose throughout.\n"
    "- Output the expanded text only — no headers, no commentary, no meta-text about what you added.";

Error summarizationError(ArticleSummarizer::SummarizationError code, const char* caseName, std::string text) {
    return Error::make(ArticleSummarizer::kErrorDomain, static_cast<int>(code), caseName, std::move(text));
}

Error chunkedError(ChunkedSummarizer::ChunkedError code, const char* caseName, std::string text) {
    return Error::make(ChunkedSummarizer::kErrorDomain, static_cast<int>(code), caseName, std::move(text));
}

// Cancellation stays itself so callers can stay silent on it.
Error wrapForChunked(Error e) {
    if (e.isCancellation()) return e;
    auto description = "Chunked summarizer error: " + e.description;
    return chunkedError(ChunkedSummarizer::ChunkedError::underlying, "underlying", std::move(description))
        .withUnderlying(std::move(e));
}

Task<Result<std::string>> summarizeOnce(std::string text, SummaryLength length, double timeout,
                                        SummaryModelCall model) {
    using E = ArticleSummarizer::SummarizationError;
    std::string trimmed = trim(text);
    if (trimmed.empty()) co_return platform::fail(summarizationError(E::emptyInput, "emptyInput", "Article body was empty"));
    if (length == SummaryLength::full) co_return trimmed;

    std::string userText = PromptEnvelope::wrap(trimmed, ArticleSummarizer::kEnvelopeInstruction);
    auto answer = co_await model(std::string(systemPrompt(length)), std::move(userText), timeout);
    if (!answer) {
        if (answer.error().isCancellation()) co_return platform::fail(answer.error());
        auto description = "Summarizer LLM error: " + answer.error().description;
        co_return platform::fail(
            summarizationError(E::underlying, "underlying", std::move(description)).withUnderlying(answer.error()));
    }
    std::string summary = trim(*answer);
    if (summary.empty())
        co_return platform::fail(summarizationError(E::emptyOutput, "emptyOutput", "Summarizer LLM returned empty output"));
    summaryLog().info("summary length={} in={} chars out={} chars", rawValue(length), graphemeCount(trimmed),
                      graphemeCount(summary));
    co_return summary;
}

// Each chunk's summary, one after the other, joined by blank lines.
Task<Result<std::string>> summarizeEach(ArticleSummarizer summarizer, std::vector<std::string> chunks,
                                        SummaryLength length, double timeout, SummaryModelCall model) {
    chunkedLog().info("map: {} chunks", chunks.size());
    std::string joined;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        auto summary = co_await summarizer.summarize(std::move(chunks[i]), length, timeout, model);
        if (!summary) co_return platform::fail(summary.error());
        if (i > 0) joined += "\n\n";
        joined += *summary;
    }
    co_return joined;
}

Task<Result<std::string>> mapPass(ArticleSummarizer summarizer, std::string text, SummaryLength length,
                                  SummaryModelCall model, std::size_t budget, double timeout) {
    auto chunks = ChunkedSummarizer::chunk(text, budget);
    if (chunks.size() < 2) co_return co_await summarizer.summarize(std::move(text), length, timeout, model);
    co_return co_await summarizeEach(summarizer, std::move(chunks), length, timeout, std::move(model));
}

Task<Result<std::string>> summarizeChunked(ArticleSummarizer summarizer, std::string text, SummaryLength length,
                                           SummaryModelCall model, std::size_t budget, double timeout) {
    std::string trimmed = trim(text);
    if (trimmed.empty())
        co_return platform::fail(chunkedError(ChunkedSummarizer::ChunkedError::emptyInput, "emptyInput",
                                              "Nothing to summarize"));
    std::size_t length0 = graphemeCount(trimmed);
    if (length == SummaryLength::full || length0 <= budget) {
        auto r = co_await summarizer.summarize(std::move(trimmed), length, timeout, model);
        if (!r) co_return platform::fail(wrapForChunked(r.error()));
        co_return r;
    }

    chunkedLog().info("chunked summarize: {} chars > {} budget — mapping", length0, budget);
    auto mapped = co_await mapPass(summarizer, std::move(trimmed), length, model, budget, timeout);
    if (!mapped) co_return platform::fail(wrapForChunked(mapped.error()));
    std::string corpus = std::move(*mapped);

    std::size_t passes = 0;
    std::size_t corpusLength = graphemeCount(corpus);
    while (corpusLength > budget && passes <= 3) {
        ++passes;
        std::size_t before = corpusLength;
        chunkedLog().info("chunked reduce pass {}: {} chars still > budget", passes, before);
        auto reduced = co_await mapPass(summarizer, corpus, length, model, budget, timeout);
        if (!reduced) co_return platform::fail(wrapForChunked(reduced.error()));
        corpus = std::move(*reduced);
        corpusLength = graphemeCount(corpus);
        if (corpusLength >= before) {
            chunkedLog().error("chunked reduce pass {} did not shrink corpus ({} → {}); stopping early", passes,
                               before, corpusLength);
            break;
        }
    }
    if (corpusLength > budget) {
        chunkedLog().error("chunked summarize: corpus still {} chars after {} passes; truncating to {} chars for "
                           "final pass",
                           corpusLength, passes, budget);
        corpus = platform::text::graphemePrefix(corpus, budget);
    }
    auto final = co_await summarizer.summarize(std::move(corpus), length, timeout, model);
    if (!final) co_return platform::fail(wrapForChunked(final.error()));
    co_return final;
}

// Slices of at most `budget` clusters, in order.
void appendSlices(std::vector<std::string>& out, std::string_view piece, std::size_t budget) {
    auto bounds = platform::text::graphemeBoundaries(piece);
    std::size_t clusters = bounds.size() - 1;
    for (std::size_t start = 0; start < clusters; start += budget) {
        std::size_t end = std::min(start + budget, clusters);
        out.emplace_back(piece.substr(bounds[start], bounds[end] - bounds[start]));
    }
}

}  // namespace

std::string_view displayName(SummaryLength length) {
    switch (length) {
        case SummaryLength::gist: return "Gist";
        case SummaryLength::short_: return "Short";
        case SummaryLength::full: return "Full (original)";
        case SummaryLength::deepDive: return "Deep Dive";
    }
    return {};
}

std::string_view tagline(SummaryLength length) {
    switch (length) {
        case SummaryLength::gist: return "~10% — the essence in a paragraph or two";
        case SummaryLength::short_: return "~25% — tight summary of the main points";
        case SummaryLength::full: return "verbatim — no LLM call";
        case SummaryLength::deepDive: return "~150% — expanded with context + definitions";
    }
    return {};
}

double targetMultiplier(SummaryLength length) {
    switch (length) {
        case SummaryLength::gist: return 0.1;
        case SummaryLength::short_: return 0.25;
        case SummaryLength::full: return 1.0;
        case SummaryLength::deepDive: return 1.5;
    }
    return 1.0;
}

std::string_view systemPrompt(SummaryLength length) {
    switch (length) {
        case SummaryLength::gist: return kGistPrompt;
        case SummaryLength::short_: return kShortPrompt;
        case SummaryLength::full: return {};
        case SummaryLength::deepDive: return kDeepDivePrompt;
    }
    return {};
}

SummaryModelCall modelCallFor(RefinementClient& client) {
    return [&client](std::string systemPrompt, std::string userText, double timeout) {
        return client.refine(std::move(userText), std::move(systemPrompt), timeout);
    };
}

Task<Result<std::string>> ArticleSummarizer::summarize(std::string text, SummaryLength length, double timeout,
                                                       SummaryModelCall model) const {
    return summarizeOnce(std::move(text), length, timeout, std::move(model));
}

Task<Result<std::string>> ChunkedSummarizer::summarize(std::string text, SummaryLength length, SummaryModelCall model,
                                                       std::size_t budget, double timeout) const {
    return summarizeChunked(summarizer, std::move(text), length, std::move(model), std::max<std::size_t>(budget, 1),
                            timeout);
}

Task<Result<std::string>> ChunkedSummarizer::mapChunks(std::string text, SummaryLength length, SummaryModelCall model,
                                                       std::size_t budget, double timeout) const {
    return mapPass(summarizer, std::move(text), length, std::move(model), std::max<std::size_t>(budget, 1), timeout);
}

std::vector<std::string> ChunkedSummarizer::sentencePieces(std::string_view paragraph, std::size_t budget) {
    budget = std::max<std::size_t>(budget, 1);
    std::string flat(paragraph);
    for (char& c : flat)
        if (c == '\n') c = ' ';
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= flat.size()) {
        std::size_t end = flat.find_first_of(".!?", start);
        if (end == std::string::npos) end = flat.size();
        std::string piece = trim(std::string_view(flat).substr(start, end - start), CharacterSet::whitespaces);
        if (!piece.empty()) appendSlices(pieces, piece, budget);
        start = end + 1;
    }
    return pieces;
}

std::vector<std::string> ChunkedSummarizer::chunk(std::string_view text, std::size_t budget) {
    budget = std::max<std::size_t>(budget, 1);
    if (graphemeCount(text) <= budget) return {std::string(text)};

    std::vector<std::string> chunks;
    // Lengths are summed per part; joining never merges clusters across a
    // separator except in contrived text, where the sum only over-counts.
    std::string acc;
    std::size_t accLength = 0;
    auto flush = [&] {
        std::string t = trim(acc);
        if (!t.empty()) chunks.push_back(std::move(t));
        acc.clear();
        accLength = 0;
    };

    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find("\n\n", start);
        if (end == std::string_view::npos) end = text.size();
        std::string paragraph = trim(text.substr(start, end - start));
        start = end + 2;
        if (paragraph.empty()) continue;
        std::size_t length = graphemeCount(paragraph);
        if (length <= budget) {
            if (accLength + 2 + length > budget) {
                flush();
                acc = std::move(paragraph);
                accLength = length;
            } else {
                if (!acc.empty()) {
                    acc += "\n\n";
                    accLength += 2;
                }
                acc += paragraph;
                accLength += length;
            }
            continue;
        }
        flush();
        for (auto& piece : sentencePieces(paragraph, budget)) {
            std::size_t pieceLength = graphemeCount(piece);
            if (accLength + 1 + pieceLength > budget) flush();
            if (!acc.empty()) {
                acc += ' ';
                accLength += 1;
            }
            acc += piece;
            accLength += pieceLength;
        }
    }
    flush();
    if (chunks.empty()) return {std::string(text)};
    return chunks;
}

}  // namespace parlowen
