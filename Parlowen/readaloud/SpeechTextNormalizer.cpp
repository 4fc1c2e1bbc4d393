#include "Parlowen/readaloud/SpeechTextNormalizer.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "platform/text/Regex.h"
#include "platform/text/Unicode.h"

namespace parlowen {
namespace {

using platform::text::Regex;
using platform::text::RegexMatch;
using Mode = SpeechTextNormalizer::Mode;
using MarkBuilder = SpeechTextNormalizer::MarkBuilder;
using Kind = SpeechMark::Kind;

constexpr std::string_view kTrailingPunctuation = ".,;:!?)";

// A pattern that does not compile leaves its pass out; all are constants, so
// in practice every pass runs.
std::optional<Regex> compile(std::string_view pattern) {
    auto r = Regex::compile(pattern);
    if (!r) return std::nullopt;
    return std::move(*r);
}

struct Patterns {
    std::optional<Regex> headerLines = compile(
        R"re((?im)^\s*(?:to|cc|bcc|from|reply-to|subject|date|sent|received|x-[a-z0-9\-]+)\s*:.*$)re");
    std::optional<Regex> codeBlock = compile(R"re(```[\s\S]*?```)re");
    std::optional<Regex> codeBlockOpening = compile(R"re(^```[^\n]*\n?)re");
    std::optional<Regex> codeBlockClosing = compile(R"re(```\s*$)re");
    std::optional<Regex> inlineCode = compile(R"re(`([^`\n]+)`)re");
    std::optional<Regex> image = compile(R"re(!\[([^\]]*)\]\([^)]+\))re");
    std::optional<Regex> link = compile(R"re(\[([^\]]+)\]\(([^)]+)\))re");
    std::optional<Regex> url = compile(R"re(https?://([^\s\)\<\>"\]]+))re");
    std::optional<Regex> path = compile(R"re((?<![\w/])(?:~|\.)?(?:/[\w.\-]+){2,}/?)re");
    std::optional<Regex> email = compile(R"re([A-Za-z0-9._%+\-]+@[A-Za-z0-9.\-]+\.[A-Za-z]{2,})re");
    std::optional<Regex> hex = compile(R"re(\b0[xX][0-9a-fA-F]+\b)re");
    std::optional<Regex> uuid = compile(
        R"re(\b[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}\b)re");
    std::optional<Regex> token = compile(R"re(\b(?=[A-Za-z0-9_+/=\-]*[0-9])[A-Za-z0-9_+/=\-]{16,}\b)re");
    std::optional<Regex> heading = compile(R"re((?m)^#{1,6}\s+)re");
    std::optional<Regex> blockQuote = compile(R"re((?m)^(?:>\s*)+)re");
    std::optional<Regex> listMarker = compile(R"re((?m)^\s*(?:[-*+]|\d+\.)\s+)re");
    std::optional<Regex> horizontalRule = compile(R"re((?m)^[ \t]*(?:-{3,}|\*{3,}|_{3,})[ \t]*$)re");
    std::optional<Regex> identifier = compile(R"re(\b[A-Za-z][A-Za-z0-9_]*\b)re");
    std::optional<Regex> strikethrough = compile(R"re(~~([^~]+)~~)re");
    std::optional<Regex> strongStars = compile(R"re(\*\*([^*]+)\*\*)re");
    std::optional<Regex> strongUnderscores = compile(R"re(__([^_]+)__)re");
    std::optional<Regex> emphasisStar = compile(R"re(\*([^*\n]+)\*)re");
    std::optional<Regex> emphasisUnderscore = compile(R"re(_([^_\n]+)_)re");
    std::optional<Regex> htmlTag = compile(R"re(<[^>]+>)re");
    std::optional<Regex> numericCitation = compile(R"re(\[\d+\])re");
    std::optional<Regex> superscriptDigits = compile("[⁰¹²³⁴⁵⁶⁷⁸⁹]+");
    std::optional<Regex> spacesAndTabs = compile(R"re([ \t]+)re");
};

// Compiled once, on first use; compiled patterns are safe to share between threads.
const Patterns& patterns() {
    static const Patterns p;
    return p;
}

std::string replace(const std::optional<Regex>& re, const std::string& text, std::string_view tmpl) {
    return re ? re->replaceAll(text, tmpl) : text;
}

// A marking pass: finds every match in the text as it stands, visits them from
// the last to the first (so one pass records in reverse text order) and asks
// `replacementFor` for each match that lies on character boundaries. The text
// is then rebuilt in one forward sweep, keeping the pass linear.
template <class ReplacementFor>
std::string markingPass(const std::optional<Regex>& re, const std::string& text,
                        ReplacementFor&& replacementFor) {
    if (!re) return text;
    const std::vector<RegexMatch> matches = re->allMatches(text);
    if (matches.empty()) return text;

    const std::vector<std::size_t> bounds = platform::text::graphemeBoundaries(text);
    auto onBoundary = [&](std::size_t offset) {
        return std::binary_search(bounds.begin(), bounds.end(), offset);
    };
    std::vector<std::optional<std::string>> replacements(matches.size());
    for (std::size_t k = matches.size(); k-- > 0;) {
        const auto r = matches[k].range();
        if (!onBoundary(r.begin) || !onBoundary(r.end)) continue;
        replacements[k] = replacementFor(matches[k], std::string_view(text));
    }

    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    for (std::size_t k = 0; k < matches.size(); ++k) {
        if (!replacements[k]) continue;
        const auto r = matches[k].range();
        out.append(text, pos, r.begin - pos);
        out.append(*replacements[k]);
        pos = r.end;
    }
    out.append(text, pos, std::string::npos);
    return out;
}

// ---- Identifiers --------------------------------------------------------------

bool isUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool isLower(char c) { return c >= 'a' && c <= 'z'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

const std::unordered_set<std::string_view>& keepWholeWords() {
    static const std::unordered_set<std::string_view> words{
        "iphone", "ipad",     "ipod",   "imac",    "ios",        "ipados",     "macos",
        "tvos",   "watchos",  "airpods", "airtag", "airplay",    "facetime",   "imessage",
        "icloud", "itunes",   "ebay",   "paypal",  "youtube",    "github",     "gitlab",
        "openai", "chatgpt",  "javascript", "typescript", "linkedin", "tiktok",
    };
    return words;
}

// Only identifiers matched by the ASCII identifier pattern reach these two
// functions, so the ASCII classes are exactly the Unicode ones here.
std::string splitCamelCase(std::string_view s) {
    if (s.size() < 2) return std::string(s);
    std::string out;
    out.reserve(s.size() + 4);
    out.push_back(s[0]);
    for (std::size_t i = 1; i < s.size(); ++i) {
        const char prev = s[i - 1], cur = s[i];
        const bool wordStart = (isLower(prev) || isDigit(prev)) && isUpper(cur);
        const bool capitalRunEnd =
            isUpper(prev) && isUpper(cur) && i + 1 < s.size() && isLower(s[i + 1]);
        if (wordStart || capitalRunEnd) out.push_back(' ');
        out.push_back(cur);
    }
    return out;
}

std::string spokenIdentifier(std::string_view word) {
    std::string lower(word);
    for (char& c : lower)
        if (isUpper(c)) c = static_cast<char>(c - 'A' + 'a');
    if (keepWholeWords().contains(lower)) return std::string(word);

    std::string out;
    std::size_t start = 0;
    while (start <= word.size()) {
        std::size_t end = word.find('_', start);
        if (end == std::string_view::npos) end = word.size();
        if (end > start) {
            if (!out.empty()) out.push_back(' ');
            out.append(splitCamelCase(word.substr(start, end - start)));
        }
        start = end + 1;
    }
    return out;
}

std::string expandIdentifiers(const std::string& text) {
    const auto& re = patterns().identifier;
    if (!re) return text;
    const std::vector<RegexMatch> matches = re->allMatches(text);
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    std::size_t pos = 0;
    for (const RegexMatch& m : matches) {
        const auto r = m.range();
        const std::string_view word = r.of(text);
        std::string spoken = spokenIdentifier(word);
        if (spoken == word) continue;  // written only where the spoken form differs
        out.append(text, pos, r.begin - pos);
        out.append(spoken);
        pos = r.end;
    }
    out.append(text, pos, std::string::npos);
    return out;
}

// ---- Links and paths ------------------------------------------------------------

struct Split {
    std::string_view body;
    std::string_view trailing;  // the removed punctuation, in its original order
};

// Takes trailing punctuation characters off the end (a full stop carrying a
// combining mark is not punctuation any more).
Split splitTrailingPunctuation(std::string_view s) {
    const std::vector<std::size_t> bounds = platform::text::graphemeBoundaries(s);
    std::size_t k = bounds.size() - 1;
    while (k > 0) {
        const std::string_view last = s.substr(bounds[k - 1], bounds[k] - bounds[k - 1]);
        if (last.size() != 1 || kTrailingPunctuation.find(last[0]) == std::string_view::npos) break;
        --k;
    }
    return {s.substr(0, bounds[k]), s.substr(bounds[k])};
}

std::vector<std::string_view> splitOn(std::string_view s, std::string_view separators) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start <= s.size()) {
        std::size_t end = s.find_first_of(separators, start);
        if (end == std::string_view::npos) end = s.size();
        if (end > start) pieces.push_back(s.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

std::string_view hostOf(std::string_view u) {
    const auto pieces = splitOn(u, "/?");
    return pieces.empty() ? u : pieces.front();
}

std::string slashesSpoken(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 16);
    for (char c : s) {
        if (c == '/')
            out.append(" slash ");
        else
            out.push_back(c);
    }
    return out;
}

// The scheme is never spoken; in Listen Later long or query links shrink to their host.
std::string spokenURL(std::string_view u, Mode mode) {
    if (mode == Mode::listenLater) {
        const std::string_view host = hostOf(u);
        const std::size_t total = platform::text::graphemeCount(u);
        const std::size_t hostCount = std::min(platform::text::graphemeCount(host), total);
        const std::size_t restCount = total - hostCount;
        if (u.find('?') != std::string_view::npos || restCount >= 31)
            return "link to " + std::string(host);
    }
    return slashesSpoken(u);
}

// ---- Passes -------------------------------------------------------------------

std::string codeBlockLiteral(std::string_view block) {
    const auto& p = patterns();
    std::string inner = replace(p.codeBlockOpening, std::string(block), "");
    inner = replace(p.codeBlockClosing, inner, "");
    inner = platform::text::trim(inner);
    return inner.empty() ? std::string(block) : inner;
}

std::string replaceCodeBlocks(const std::string& text, MarkBuilder& marks) {
    return markingPass(patterns().codeBlock, text, [&](const RegexMatch& m, std::string_view t) {
        const std::string_view block = m.range().of(t);
        return " " + marks.record(Kind::code, "code", codeBlockLiteral(block), "code block.") + " ";
    });
}

std::string replaceURLs(const std::string& text, Mode mode, MarkBuilder& marks) {
    return markingPass(patterns().url, text, [&](const RegexMatch& m, std::string_view t) {
        const std::string_view whole = m.range().of(t);
        const Split split = splitTrailingPunctuation(m.group(t, 1).value_or(std::string_view{}));
        std::string spoken = expandIdentifiers(spokenURL(split.body, mode));
        // The punctuation run is single-code-point characters at the very end of
        // the match, so dropping that many characters is dropping its bytes.
        std::string literal(whole.substr(0, whole.size() - split.trailing.size()));
        return marks.record(Kind::link, std::string(hostOf(split.body)), std::move(literal),
                            std::move(spoken)) +
               std::string(split.trailing);
    });
}

std::string replacePaths(const std::string& text, MarkBuilder& marks) {
    return markingPass(patterns().path, text, [&](const RegexMatch& m, std::string_view t) {
        const Split split = splitTrailingPunctuation(m.range().of(t));
        const auto pieces = splitOn(split.body, "/");
        const std::string_view name = pieces.empty() ? split.body : pieces.back();
        return marks.record(Kind::path, std::string(name), std::string(split.body),
                            expandIdentifiers(std::string(name))) +
               std::string(split.trailing);
    });
}

std::string replaceEmails(const std::string& text, MarkBuilder& marks) {
    return markingPass(patterns().email, text, [&](const RegexMatch& m, std::string_view t) {
        return marks.record(Kind::email, "email", std::string(m.range().of(t)), "email");
    });
}

std::string replaceOpaqueTokens(std::string text, MarkBuilder& marks) {
    const auto& p = patterns();
    const std::pair<const std::optional<Regex>*, std::string_view> subPasses[] = {
        {&p.hex, "hex"}, {&p.uuid, "ID"}, {&p.token, "ID"}};
    for (const auto& [re, label] : subPasses) {
        text = markingPass(*re, text, [&](const RegexMatch& m, std::string_view t) {
            return marks.record(Kind::opaque, std::string(label), std::string(m.range().of(t)), "code");
        });
    }
    return text;
}

std::string stripEmphasis(std::string text) {
    const auto& p = patterns();
    text = replace(p.strikethrough, text, "$1");
    text = replace(p.strongStars, text, "$1");
    text = replace(p.strongUnderscores, text, "$1");
    text = replace(p.emphasisStar, text, "$1");
    return replace(p.emphasisUnderscore, text, "$1");
}

std::string stripCitations(std::string text) {
    const auto& p = patterns();
    text = replace(p.numericCitation, text, "");
    return replace(p.superscriptDigits, text, "");
}

// The marker characters are reserved for the marking passes: the user's text
// loses them, so it can neither forge a mark nor break one. Ill-formed UTF-8
// becomes U+FFFD so that every later pass sees the same characters.
std::string withoutMarkerCharacters(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    if (platform::text::isValidUtf8(text)) {
        std::size_t pos = 0;
        // U+E000 and U+E001 share their first two bytes, and 0xEE only ever
        // starts a sequence, so a byte search cannot hit the middle of another character.
        constexpr std::string_view prefix = "\xEE\x80";
        for (std::size_t at = text.find(prefix); at != std::string_view::npos;
             at = text.find(prefix, at + 1)) {
            if (at + 2 < text.size() &&
                (text[at + 2] == MarkBuilder::kMarkerOpen[2] || text[at + 2] == MarkBuilder::kMarkerClose[2])) {
                out.append(text.substr(pos, at - pos));
                pos = at + 3;
                at += 2;
            }
        }
        out.append(text.substr(pos));
        return out;
    }
    for (std::size_t pos = 0; pos < text.size();) {
        const auto d = platform::text::decodeUtf8(text, pos);
        if (d.codePoint != 0xE000 && d.codePoint != 0xE001) platform::text::appendUtf8(out, d.codePoint);
        pos += std::max<std::size_t>(d.length, 1);
    }
    return out;
}

}  // namespace

NormalizedSpeech SpeechTextNormalizer::normalize(std::string_view input) const {
    const Patterns& p = patterns();
    MarkBuilder marks;

    std::string text = withoutMarkerCharacters(input);
    text = replace(p.headerLines, text, "");
    text = replaceCodeBlocks(text, marks);
    text = replace(p.inlineCode, text, "$1");
    text = replace(p.image, text, "$1");
    text = replace(p.link, text, "$1");
    text = replaceURLs(text, mode, marks);
    text = replacePaths(text, marks);
    text = replaceEmails(text, marks);
    text = replaceOpaqueTokens(std::move(text), marks);
    text = replace(p.heading, text, "");
    text = replace(p.blockQuote, text, "");
    text = replace(p.listMarker, text, "");
    text = replace(p.horizontalRule, text, "");
    text = expandIdentifiers(text);
    text = stripEmphasis(std::move(text));
    text = replace(p.htmlTag, text, "");
    text = stripCitations(std::move(text));
    text = replace(p.spacesAndTabs, text, " ");
    text = platform::text::trim(text);

    auto [spoken, resolved] = marks.resolve(text);
    return NormalizedSpeech{std::move(spoken), std::move(resolved)};
}

}  // namespace parlowen
