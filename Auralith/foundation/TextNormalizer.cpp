#include "Auralith/foundation/TextNormalizer.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "platform/text/Unicode.h"

namespace auralith {

namespace {

template <class Fn>
Fn lookUp(void* handle, const char* name) {
    return reinterpret_cast<Fn>(dlsym(handle, name));
}

// The library's text, with ill-formed UTF-8 replaced by U+FFFD.
std::string decodeLibraryText(const char* text) {
    const std::string_view raw(text);
    if (platform::text::isValidUtf8(raw)) return std::string(raw);
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size();) {
        const auto decoded = platform::text::decodeUtf8(raw, i);
        platform::text::appendUtf8(out, decoded.codePoint);
        i += std::max<std::size_t>(1, decoded.length);
    }
    return out;
}

// The library's result, handed back to it to free; `input` when it gave none.
std::string takeLibraryText(char* out, TextNormalizer::FreeStringFn release, const std::string& input) {
    if (!out) return input;
    std::string copy = decodeLibraryText(out);
    release(out);
    return copy;
}

std::vector<std::string_view> spacePieces(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto space = text.find(' ', start);
        const auto end = space == std::string_view::npos ? text.size() : space;
        if (end > start) pieces.push_back(text.substr(start, end - start));
        if (space == std::string_view::npos) break;
        start = space + 1;
    }
    return pieces;
}

}  // namespace

TextNormalizer::TextNormalizer() : logger_("Auralith", "ITN") {
    // The running program's own handle searches every image already loaded
    // into the process. It is never closed.
    void* process = dlopen(nullptr, RTLD_NOW);
    if (!process) return;
    auto normalize = lookUp<NormalizeFn>(process, "nemo_normalize");
    auto freeString = lookUp<FreeStringFn>(process, "nemo_free_string");
    auto version = lookUp<VersionFn>(process, "nemo_version");
    if (!normalize || !freeString || !version) return;
    nemoNormalize_ = normalize;
    nemoFreeString_ = freeString;
    nemoVersion_ = version;
    nemoNormalizeSentence_ = lookUp<NormalizeFn>(process, "nemo_normalize_sentence");
    nemoNormalizeSentenceMaxSpan_ = lookUp<NormalizeMaxSpanFn>(process, "nemo_normalize_sentence_with_max_span");
    nemoAddRule_ = lookUp<AddRuleFn>(process, "nemo_add_rule");
    nemoRemoveRule_ = lookUp<RemoveRuleFn>(process, "nemo_remove_rule");
    nemoClearRules_ = lookUp<ClearRulesFn>(process, "nemo_clear_rules");
    nemoRuleCount_ = lookUp<RuleCountFn>(process, "nemo_rule_count");
}

TextNormalizer& TextNormalizer::shared() {
    static TextNormalizer instance;
    return instance;
}

const std::set<std::string, std::less<>>& TextNormalizer::spokenPunctuationWords() {
    static const std::set<std::string, std::less<>> words{"period", "dash", "colon", "pipe", "slash",
                                                          "dot",    "plus", "hash",  "percent"};
    return words;
}

std::string TextNormalizer::call(NormalizeFn fn, const std::string& text) const {
    if (!fn || !nemoFreeString_) return text;
    return takeLibraryText(fn(text.c_str()), nemoFreeString_, text);
}

std::string TextNormalizer::callMaxSpan(const std::string& text, std::uint32_t span) const {
    if (!nemoNormalizeSentenceMaxSpan_ || !nemoFreeString_) return text;
    return takeLibraryText(nemoNormalizeSentenceMaxSpan_(text.c_str(), span), nemoFreeString_, text);
}

std::string TextNormalizer::prepareSentence(std::string_view text) {
    const auto pieces = spacePieces(text);
    const auto& words = spokenPunctuationWords();
    const bool spoken = std::any_of(pieces.begin(), pieces.end(), [&](std::string_view piece) {
        std::string lower(piece);
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return words.contains(lower);
    });
    if (!spoken) return std::string(text);
    std::string joined;
    for (const auto piece : pieces) {
        if (!joined.empty()) joined += ' ';
        joined += piece;
    }
    return joined;
}

std::string TextNormalizer::normalize(std::string_view text) const {
    const std::string input(text);
    if (!isNativeAvailable()) return input;
    return call(nemoNormalize_, input);
}

std::string TextNormalizer::normalizeSentence(std::string_view text) const {
    if (!isNativeAvailable()) return std::string(text);
    const std::string prepared = prepareSentence(text);
    if (nemoNormalizeSentence_) return call(nemoNormalizeSentence_, prepared);
    return call(nemoNormalize_, prepared);
}

std::string TextNormalizer::normalizeSentence(std::string_view text, std::uint32_t maxSpanTokens) const {
    if (!isNativeAvailable()) return std::string(text);
    const std::string prepared = prepareSentence(text);
    if (nemoNormalizeSentenceMaxSpan_) return callMaxSpan(prepared, maxSpanTokens);
    if (nemoNormalizeSentence_) return call(nemoNormalizeSentence_, prepared);
    return call(nemoNormalize_, prepared);
}

ASRResult TextNormalizer::normalize(const ASRResult& result) const {
    if (!isNativeAvailable()) return result;
    std::string text = normalizeSentence(result.text);
    if (text == result.text) return result;
    ASRResult changed = result;
    changed.text = std::move(text);
    changed.performanceMetrics.reset();
    return changed;
}

void TextNormalizer::addRule(std::string_view pattern, std::string_view replacement) const {
    if (!nemoAddRule_) return;
    const std::string p(pattern), r(replacement);
    nemoAddRule_(p.c_str(), r.c_str());
}

bool TextNormalizer::removeRule(std::string_view pattern) const {
    if (!nemoRemoveRule_) return false;
    const std::string p(pattern);
    return nemoRemoveRule_(p.c_str()) != 0;
}

void TextNormalizer::clearRules() const {
    if (nemoClearRules_) nemoClearRules_();
}

long TextNormalizer::ruleCount() const { return nemoRuleCount_ ? static_cast<long>(nemoRuleCount_()) : 0; }

std::optional<std::string> TextNormalizer::version() const {
    if (!isNativeAvailable()) return std::nullopt;
    const char* text = nemoVersion_();
    if (!text) return std::nullopt;
    return decodeLibraryText(text);
}

}  // namespace auralith
