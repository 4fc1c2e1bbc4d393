#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/Error.h"
#include "platform/text/Unicode.h"

namespace platform::text {

// One match: groups[0] is the whole match, groups[i] the i-th capture group, or
// nothing when that group took no part in the match. Ranges are byte offsets
// into the searched text.
struct RegexMatch {
    std::vector<std::optional<TextRange>> groups;

    TextRange range() const { return *groups[0]; }
    // The text of group `index`, or nothing when it did not take part (or does not exist).
    std::optional<std::string_view> group(std::string_view text, std::size_t index) const;
};

// A compiled ICU regular expression (look-ahead, look-behind, \b, \p{L}, inline
// flags such as (?i) and (?s)). Immutable once compiled; one Regex may be used from
// several threads at once.
class Regex {
public:
    enum Option : unsigned {
        caseInsensitive = 1u << 0,
        multiline = 1u << 1,  // ^ and $ match at line starts and ends
        dotAll = 1u << 2,     // . matches line breaks too
    };

    // Errors have domain "NSCocoaErrorDomain", code 2048 and the description
    // "The value “<pattern>” is invalid."; the underlying error carries ICU's reason.
    //
    // `timeLimit` bounds each search (a first match, or a whole scan for all
    // matches or a replacement) in steps of ICU's match engine, each well under
    // a millisecond; zero means no limit. A search that reaches it stops: the
    // plain calls below then behave as if no further match existed, the
    // `checked` ones fail with an error that `isTimeLimitError` recognises.
    static Result<Regex> compile(std::string_view pattern, unsigned options = 0, std::int32_t timeLimit = 0);

    const std::string& pattern() const;

    // True when a match is found anywhere in `text`.
    bool matches(std::string_view text) const;
    std::optional<RegexMatch> firstMatch(std::string_view text) const;
    // Non-overlapping matches from left to right (an empty match never repeats at one position).
    std::vector<RegexMatch> allMatches(std::string_view text) const;

    // Replaces every match by `replacementTemplate`, where "$0".."$9" stand for groups
    // and a backslash makes the next character literal ("\$" is a dollar sign).
    std::string replaceAll(std::string_view text, std::string_view replacementTemplate) const;
    // Replaces every match by what `replacement` returns for it.
    std::string replaceAll(std::string_view text,
                           const std::function<std::string(const RegexMatch& match, std::string_view text)>&
                               replacement) const;

    // As above, but a search that reaches the time limit fails.
    Result<std::optional<RegexMatch>> checkedFirstMatch(std::string_view text) const;
    Result<std::vector<RegexMatch>> checkedAllMatches(std::string_view text) const;
    Result<std::string> checkedReplaceAll(std::string_view text, std::string_view replacementTemplate) const;

    // Domain "icu", code U_REGEX_TIME_OUT.
    static bool isTimeLimitError(const Error& error);

    // `text` with every character that means something in a pattern escaped.
    static std::string escapedPattern(std::string_view text);
    // `text` with "$" and "\" escaped, for use as a literal replacement template.
    static std::string escapedTemplate(std::string_view text);

private:
    struct Compiled;
    explicit Regex(std::shared_ptr<const Compiled> compiled) : compiled_(std::move(compiled)) {}
    std::shared_ptr<const Compiled> compiled_;
};

}  // namespace platform::text
