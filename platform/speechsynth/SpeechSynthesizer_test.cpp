#include <gtest/gtest.h>

#include "platform/speechsynth/SpeechSynthesizer.h"

namespace platform {
namespace {

const std::vector<SpeechVoice> kVoices{
    {"gmw/en-029", "English (Caribbean)", "en-029"},
    {"gmw/en", "English (Great Britain)", "en-GB"},
    {"gmw/en-US", "English (America)", "en-US"},
    {"roa/fr", "French (France)", "fr-FR"},
    {"roa/fr-BE", "French (Belgium)", "fr-BE"},
};

TEST(SpeechVoices, LanguageLookupPrefersExactThenTheLanguageOwnVoice) {
    struct Case {
        const char* code;
        const char* identifier;  // "" for none
    };
    const Case cases[] = {
        {"en-US", "gmw/en-US"}, {"en_us", "gmw/en-US"}, {"EN-gb", "gmw/en"},
        {"en-AU", "gmw/en"},    // no Australian voice: the one named "en"
        {"en", "gmw/en"},       {"fr-CA", "roa/fr"},    {"de-DE", ""}, {"", ""},
    };
    for (const auto& c : cases) {
        auto v = voiceForLanguage(kVoices, c.code);
        EXPECT_EQ(v ? v->identifier : std::string(), c.identifier) << "language " << c.code;
    }
    EXPECT_EQ(findVoice(kVoices, "roa/fr-BE")->name, "French (Belgium)");
    EXPECT_FALSE(findVoice(kVoices, "com.apple.voice.premium.en-US.Zoe"));
}

TEST(SpeechVoices, LanguageComesFromTheLocaleVariables) {
    struct Case {
        std::map<std::string, std::string> vars;
        const char* code;
    };
    const Case cases[] = {
        {{}, "en-US"},
        {{{"LANG", "en_GB.UTF-8"}}, "en-GB"},
        {{{"LANG", "de_DE.UTF-8"}, {"LC_MESSAGES", "fr_CA"}}, "fr-CA"},
        {{{"LANG", "de_DE"}, {"LC_ALL", "pt_BR.UTF-8@latin"}}, "pt-BR"},
        {{{"LANG", "C.UTF-8"}}, "en-US"},
        {{{"LANG", "POSIX"}}, "en-US"},
        {{{"LC_ALL", ""}, {"LANG", "nl_NL"}}, "nl-NL"},
    };
    for (const auto& c : cases) EXPECT_EQ(languageCodeFromEnvironment(Environment(c.vars)), c.code);
}

}  // namespace
}  // namespace platform
