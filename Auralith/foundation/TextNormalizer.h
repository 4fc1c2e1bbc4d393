#pragma once

// Bridge to an optional native inverse-text-normalisation library with a C
// interface ("twenty five" -> "25"). Its functions are looked up by name among
// the libraries already loaded into the process; no library file is opened.
// Without them every operation hands its input back unchanged.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "Auralith/foundation/ASRResult.h"
#include "platform/log/Log.h"

namespace auralith {

class TextNormalizer {
public:
    using NormalizeFn = char* (*)(const char*);
    using NormalizeMaxSpanFn = char* (*)(const char*, std::uint32_t);
    using FreeStringFn = void (*)(char*);
    using AddRuleFn = void (*)(const char*, const char*);
    using RemoveRuleFn = std::int32_t (*)(const char*);
    using ClearRulesFn = void (*)();
    using RuleCountFn = std::uint32_t (*)();
    using VersionFn = const char* (*)();

    // Binds "nemo_normalize", "nemo_free_string" and "nemo_version" (all three
    // or nothing), then the optional functions.
    TextNormalizer();

    // One instance for the process, made on first use.
    static TextNormalizer& shared();
    // "period", "dash", "colon", "pipe", "slash", "dot", "plus", "hash", "percent".
    static const std::set<std::string, std::less<>>& spokenPunctuationWords();

    // The three required functions are bound together, so one stands for all.
    bool isNativeAvailable() const { return nemoNormalize_ != nullptr; }

    std::string normalize(std::string_view text) const;
    // Sentence form: spacing tidied when spoken punctuation occurs, then the
    // library's sentence function (or its plain one).
    std::string normalizeSentence(std::string_view text) const;
    std::string normalizeSentence(std::string_view text, std::uint32_t maxSpanTokens) const;
    // The result with its text normalised as a sentence; a changed text drops
    // the performance metrics, which no longer describe it.
    ASRResult normalize(const ASRResult& result) const;

    void addRule(std::string_view pattern, std::string_view replacement) const;
    bool removeRule(std::string_view pattern) const;
    void clearRules() const;
    long ruleCount() const;
    std::optional<std::string> version() const;

    // Split at spaces; when a piece is one of the spoken punctuation words
    // (in any letter case) the pieces are joined by single spaces, otherwise
    // the text is left as it is.
    static std::string prepareSentence(std::string_view text);

private:
    std::string call(NormalizeFn fn, const std::string& text) const;
    std::string callMaxSpan(const std::string& text, std::uint32_t span) const;

    platform::Logger logger_;
    NormalizeFn nemoNormalize_ = nullptr;
    NormalizeFn nemoNormalizeSentence_ = nullptr;
    NormalizeMaxSpanFn nemoNormalizeSentenceMaxSpan_ = nullptr;
    FreeStringFn nemoFreeString_ = nullptr;
    AddRuleFn nemoAddRule_ = nullptr;
    RemoveRuleFn nemoRemoveRule_ = nullptr;
    ClearRulesFn nemoClearRules_ = nullptr;
    RuleCountFn nemoRuleCount_ = nullptr;
    VersionFn nemoVersion_ = nullptr;
};

}  // namespace auralith
