#include "Parlowen/dictation/TextProcessor.h"

#include <array>
#include <cstdlib>
#include <utility>

#include "platform/text/Regex.h"
#include "platform/text/Unicode.h"

namespace parlowen {
namespace {

using platform::text::Regex;

Regex compiled(std::string_view pattern, unsigned options = 0) {
    auto regex = Regex::compile(pattern, options);
    if (!regex) std::abort();  // fixed patterns: a failure is a programming error
    return std::move(*regex);
}

struct Rule {
    Regex pattern;
    std::string_view replacement;
};

// Spoken punctuation, applied in this order ("new paragraph" before "new line").
const std::array<Rule, 8>& spokenPunctuation() {
    static const std::array<Rule, 8> rules{
        Rule{compiled(R"(\bnew paragraph\b)", Regex::caseInsensitive), "\n\n"},
        Rule{compiled(R"(\bnew line\b)", Regex::caseInsensitive), "\n"},
        Rule{compiled(R"(\bquestion mark\b)", Regex::caseInsensitive), "?"},
        Rule{compiled(R"(\bexclamation (?:point|mark)\b)", Regex::caseInsensitive), "!"},
        Rule{compiled(R"(\bsemicolon\b)", Regex::caseInsensitive), ";"},
        Rule{compiled(R"(\bperiod\b)", Regex::caseInsensitive), "."},
        Rule{compiled(R"(\bcomma\b)", Regex::caseInsensitive), ","},
        Rule{compiled(R"(\bcolon\b)", Regex::caseInsensitive), ":"},
    };
    return rules;
}

}  // namespace

std::string TextProcessor::process(std::string_view text) const {
    std::string out(text);
    for (const auto& rule : spokenPunctuation()) out = rule.pattern.replaceAll(out, rule.replacement);

    static const Regex spaceBeforePunctuation = compiled(" +([,.!?;:])");
    static const Regex blankRun = compiled("[ \\t]{2,}");
    static const Regex spacesAroundLineFeed = compiled(" *\\n *");
    out = spaceBeforePunctuation.replaceAll(out, "$1");
    out = blankRun.replaceAll(out, " ");
    out = spacesAroundLineFeed.replaceAll(out, "\n");
    return platform::text::trim(out);
}

}  // namespace parlowen
