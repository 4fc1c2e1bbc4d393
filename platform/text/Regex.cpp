#include "platform/text/Regex.h"

#include <unicode/parseerr.h>
#include <unicode/regex.h>
#include <unicode/utypes.h>

#include <fmt/core.h>

#include <algorithm>

#include "platform/text/IcuSupport.h"

namespace platform::text {

struct Regex::Compiled {
    std::string pattern;
    std::unique_ptr<icu::RegexPattern> icu;
    std::int32_t timeLimit = 0;
};

namespace {

// The byte offset of UTF-16 offset `target`, walking forward from a known pair
// of offsets (`utf16` <= `target`), decoding as the conversion to UTF-16 does.
std::size_t walkToUtf16(std::string_view text, std::size_t utf16, std::size_t byte, std::size_t target) {
    while (utf16 < target && byte < text.size()) {
        if (static_cast<unsigned char>(text[byte]) < 0x80) {
            ++byte;
            ++utf16;
            continue;
        }
        const auto d = decodeUtf8(text, byte);
        byte += d.length;
        utf16 += d.codePoint >= 0x10000 ? 2 : 1;
    }
    return byte;
}

Error timeLimitReached() {
    return Error::make("icu", static_cast<int>(U_REGEX_TIME_OUT), "U_REGEX_TIME_OUT",
                       "The regular expression search reached its time limit.");
}

// Runs `visit` on every match, in order; stops early when `visit` returns false.
// Positions map back to bytes by walking forward from the previous match, so a
// scan over a large text needs no offset table as large as the text. True
// unless the search stopped at the pattern's time limit (one limit for the
// whole scan: the matcher's clock runs on across its finds).
template <class Visit>
bool forEachMatch(const icu::RegexPattern& pattern, std::int32_t timeLimit, std::string_view text, Visit visit) {
    const icu::UnicodeString utf16 = detail::toUtf16Text(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> m(pattern.matcher(utf16, status));
    if (U_FAILURE(status) || !m) return true;
    if (timeLimit > 0) m->setTimeLimit(timeLimit, status);
    const int32_t groupCount = m->groupCount();
    std::size_t cursorUtf16 = 0;  // the start of the latest match, in both units
    std::size_t cursorByte = 0;
    auto byteAt = [&](std::size_t target) {
        // A group inside a look-behind may start before its match: walk from the start.
        if (target < cursorUtf16) return walkToUtf16(text, 0, 0, target);
        return walkToUtf16(text, cursorUtf16, cursorByte, target);
    };
    while (m->find(status) && U_SUCCESS(status)) {
        const auto matchStart = static_cast<std::size_t>(m->start(status));
        cursorByte = walkToUtf16(text, cursorUtf16, cursorByte, matchStart);
        cursorUtf16 = matchStart;
        RegexMatch match;
        match.groups.reserve(static_cast<std::size_t>(groupCount) + 1);
        for (int32_t g = 0; g <= groupCount; ++g) {
            const int32_t start = m->start(g, status);
            const int32_t end = m->end(g, status);
            if (U_FAILURE(status) || start < 0) {
                status = U_ZERO_ERROR;
                match.groups.emplace_back();
                continue;
            }
            const std::size_t startByte = byteAt(static_cast<std::size_t>(start));
            const std::size_t endByte =
                walkToUtf16(text, static_cast<std::size_t>(start), startByte, static_cast<std::size_t>(end));
            match.groups.push_back(TextRange{startByte, endByte});
        }
        if (!visit(std::move(match))) return true;
    }
    return status != U_REGEX_TIME_OUT;
}

// "$n" picks group n, taking further digits only while they still name a group
// ("$10" with one group is group 1 and a "0"); "\c" is a literal c.
std::string expandTemplate(std::string_view templ, const RegexMatch& match, std::string_view text) {
    const std::size_t groupCount = match.groups.size() - 1;
    std::string out;
    for (std::size_t i = 0; i < templ.size(); ++i) {
        const char c = templ[i];
        if (c == '\\' && i + 1 < templ.size()) {
            out += templ[++i];
            continue;
        }
        if (c == '$' && i + 1 < templ.size() && templ[i + 1] >= '0' && templ[i + 1] <= '9') {
            std::size_t n = static_cast<std::size_t>(templ[++i] - '0');
            while (i + 1 < templ.size() && templ[i + 1] >= '0' && templ[i + 1] <= '9') {
                const std::size_t longer = n * 10 + static_cast<std::size_t>(templ[i + 1] - '0');
                if (longer > groupCount) break;
                n = longer;
                ++i;
            }
            if (auto g = match.group(text, n)) out += *g;
            continue;
        }
        out += c;
    }
    return out;
}

}  // namespace

std::optional<std::string_view> RegexMatch::group(std::string_view text, std::size_t index) const {
    if (index >= groups.size() || !groups[index]) return std::nullopt;
    return groups[index]->of(text);
}

Result<Regex> Regex::compile(std::string_view pattern, unsigned options, std::int32_t timeLimit) {
    uint32_t flags = 0;
    if (options & caseInsensitive) flags |= UREGEX_CASE_INSENSITIVE;
    if (options & multiline) flags |= UREGEX_MULTILINE;
    if (options & dotAll) flags |= UREGEX_DOTALL;
    auto compiled = std::make_shared<Compiled>();
    compiled->pattern = std::string(pattern);
    compiled->timeLimit = std::max<std::int32_t>(timeLimit, 0);
    UParseError parseError{};
    UErrorCode status = U_ZERO_ERROR;
    compiled->icu.reset(icu::RegexPattern::compile(detail::toUtf16Text(pattern), flags, parseError, status));
    if (U_FAILURE(status) || !compiled->icu) {
        auto cause = Error::make("icu", static_cast<int>(status), u_errorName(status),
                                 fmt::format("{} at offset {}", u_errorName(status), parseError.offset));
        return fail(Error::make("NSCocoaErrorDomain", 2048, "invalidPattern",
                                fmt::format("The value \u201c{}\u201d is invalid.", pattern))
                        .withUnderlying(std::move(cause)));
    }
    return Regex(std::move(compiled));
}

const std::string& Regex::pattern() const { return compiled_->pattern; }

bool Regex::matches(std::string_view text) const { return firstMatch(text).has_value(); }

std::optional<RegexMatch> Regex::firstMatch(std::string_view text) const {
    auto checked = checkedFirstMatch(text);
    return checked ? std::move(*checked) : std::nullopt;
}

Result<std::optional<RegexMatch>> Regex::checkedFirstMatch(std::string_view text) const {
    std::optional<RegexMatch> first;
    const bool complete = forEachMatch(*compiled_->icu, compiled_->timeLimit, text, [&](RegexMatch m) {
        first = std::move(m);
        return false;
    });
    if (!complete) return fail(timeLimitReached());
    return first;
}

std::vector<RegexMatch> Regex::allMatches(std::string_view text) const {
    std::vector<RegexMatch> all;
    forEachMatch(*compiled_->icu, compiled_->timeLimit, text, [&](RegexMatch m) {
        all.push_back(std::move(m));
        return true;
    });
    return all;
}

Result<std::vector<RegexMatch>> Regex::checkedAllMatches(std::string_view text) const {
    std::vector<RegexMatch> all;
    const bool complete = forEachMatch(*compiled_->icu, compiled_->timeLimit, text, [&](RegexMatch m) {
        all.push_back(std::move(m));
        return true;
    });
    if (!complete) return fail(timeLimitReached());
    return all;
}

namespace {
// Copies `text` with each match replaced; false when the time limit ended the scan.
bool replaceEach(const icu::RegexPattern& pattern, std::int32_t timeLimit, std::string_view text,
                 const std::function<std::string(const RegexMatch& match, std::string_view text)>& replacement,
                 std::string& out) {
    std::size_t copied = 0;
    const bool complete = forEachMatch(pattern, timeLimit, text, [&](RegexMatch m) {
        const TextRange r = m.range();
        out.append(text.substr(copied, r.begin - copied));
        out += replacement(m, text);
        copied = r.end;
        return true;
    });
    out.append(text.substr(copied));
    return complete;
}
}  // namespace

std::string Regex::replaceAll(std::string_view text, std::string_view replacementTemplate) const {
    return replaceAll(text, [replacementTemplate](const RegexMatch& m, std::string_view t) {
        return expandTemplate(replacementTemplate, m, t);
    });
}

std::string Regex::replaceAll(
    std::string_view text,
    const std::function<std::string(const RegexMatch& match, std::string_view text)>& replacement) const {
    std::string out;
    replaceEach(*compiled_->icu, compiled_->timeLimit, text, replacement, out);
    return out;
}

Result<std::string> Regex::checkedReplaceAll(std::string_view text, std::string_view replacementTemplate) const {
    std::string out;
    const bool complete = replaceEach(*compiled_->icu, compiled_->timeLimit, text,
                                      [replacementTemplate](const RegexMatch& m, std::string_view t) {
                                          return expandTemplate(replacementTemplate, m, t);
                                      },
                                      out);
    if (!complete) return fail(timeLimitReached());
    return out;
}

bool Regex::isTimeLimitError(const Error& error) {
    return error.domain == "icu" && error.code == static_cast<int>(U_REGEX_TIME_OUT);
}

std::string Regex::escapedPattern(std::string_view text) {
    static constexpr std::string_view kSpecial = "\\*?+[](){}^$|./-#";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (kSpecial.find(c) != std::string_view::npos) out += '\\';
        out += c;
    }
    return out;
}

std::string Regex::escapedTemplate(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\' || c == '$') out += '\\';
        out += c;
    }
    return out;
}

}  // namespace platform::text
