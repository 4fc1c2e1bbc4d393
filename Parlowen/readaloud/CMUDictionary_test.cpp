#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Parlowen/readaloud/CMUDictionary.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/runtime/Resources.h"
#include "platform/testsupport/TempHome.h"
#include "platform/values/Files.h"

namespace parlowen {
namespace {

using platform::Bytes;
using platform::Result;
using platform::Status;

std::string ipaOf(std::vector<std::string> phones) { return CMUDictionary::arpabetToIPA(phones); }

TEST(ArpabetToIPA, StressMarksGoBeforeTheVowelOnly) {
    struct Case {
        std::vector<std::string> phones;
        const char* ipa;
    };
    const Case cases[] = {
        {{"HH", "AH0", "L", "OW1"}, "h\u0259l\u02C8O"},
        {{"W", "ER1", "D"}, "w\u02C8\u025C\u0279d"},
        {{"AH1", "B", "AW2", "T"}, "\u02C8\u028Cb\u02CCWt"},
        {{"AH0"}, "\u0259"},
        {{"AH1"}, "\u02C8\u028C"},
        {{"AH"}, "\u0259"},
        {{"AH2"}, "\u02CC\u028C"},
        {{"ER0"}, "\u0259\u0279"},
        {{"ER2"}, "\u02CC\u025C\u0279"},
        {{"T1"}, "t"},                              // a consonant with a digit takes no mark
        {{"IY3"}, "i"},                             // any other digit is no stress
        {{"G", "CH", "JH"}, "\u0261\u02A7\u02A4"},  // IPA g and the digraph characters
        {{"EY1", "OY0", "AY2"}, "\u02C8AY\u02CCI"},
        {{"S", "#", "XX1", "T"}, "st"},             // unknown symbols vanish, marks and all
        {{}, ""},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const auto& p : c.phones) joined += p + " ";
        EXPECT_EQ(ipaOf(c.phones), c.ipa) << "phones: " << joined;
    }
}

class CMUDictionaryTest : public ::testing::Test {
protected:
    void writeFixture(const std::string& text) {
        path_ = dir_ / "cmudict.dict";
        ASSERT_TRUE(platform::writeFileAtomically(path_, text));
    }

    // A dictionary whose resource is the fixture (or missing), counting locates and reads.
    std::unique_ptr<CMUDictionary> makeDictionary(bool present = true) {
        return std::make_unique<CMUDictionary>(
            main_,
            [this, present]() -> std::optional<std::filesystem::path> {
                ++locates_;
                if (!present) return std::nullopt;
                return path_;
            },
            [this](const std::filesystem::path& p) -> Result<Bytes> {
                ++reads_;
                if (readError_) return platform::fail(*readError_);
                return platform::readFile(p);
            });
    }

    platform::JoinHandle<Status> load(CMUDictionary& dict) { return platform::spawn(main_, dict.loadIfNeeded()); }

    testsupport::TempDir dir_;
    std::filesystem::path path_;
    platform::ManualExecutor main_;
    int locates_ = 0;
    int reads_ = 0;
    std::optional<platform::Error> readError_;
};

const char* kFixture =
    ";;; a comment line\n"
    "hello HH AH0 L OW1\r\n"
    "read R IY1 D\n"
    "read  R EH1 D\n"
    "read(2) R EH1 D\n"
    "word\n"
    "empty \n"
    "CAPS K AE1 P S\n"
    "trailing T R EY1 L IH0 NG #comment\n"
    "tab\tT AE1 B\r"
    "last L AE1 S T";

TEST_F(CMUDictionaryTest, ParsesTheFormatAndLooksUpLowerCased) {
    writeFixture(kFixture);
    auto dict = makeDictionary();
    auto h = load(*dict);
    EXPECT_EQ(dict->ipa("hello"), std::nullopt) << "nothing before the load ends";
    main_.runUntilIdle();
    ASSERT_TRUE(h.done());
    ASSERT_TRUE(h.value());
    EXPECT_TRUE(dict->didLoad());

    EXPECT_EQ(dict->ipa("hello"), "h\u0259l\u02C8O");
    EXPECT_EQ(dict->ipa("Hello"), dict->ipa("hello"));
    EXPECT_EQ(dict->ipa("read"), "\u0279\u02C8id") << "the first line of a word wins; alternates are ignored";
    EXPECT_EQ(dict->ipa("read(2)"), std::nullopt);
    EXPECT_EQ(dict->ipa("word"), std::nullopt) << "a line without a separator is ignored";
    EXPECT_EQ(dict->ipa("empty"), std::nullopt) << "an empty pronunciation gives nothing";
    EXPECT_EQ(dict->ipa("caps"), std::nullopt) << "a word written in capitals is never found";
    EXPECT_EQ(dict->ipa("CAPS"), std::nullopt);
    EXPECT_EQ(dict->ipa("trailing"), "t\u0279\u02C8Al\u026A\u014B");
    EXPECT_EQ(dict->ipa("tab"), "t\u02C8\u00E6b");
    EXPECT_EQ(dict->ipa("last"), "l\u02C8\u00E6st");
    EXPECT_EQ(dict->ipa("absent"), std::nullopt);
    EXPECT_EQ(dict->entryCount(), 7u);  // hello read empty CAPS trailing tab last
}

TEST_F(CMUDictionaryTest, ConcurrentLoadsShareOneRead) {
    writeFixture(kFixture);
    auto dict = makeDictionary();
    auto a = load(*dict);
    auto b = load(*dict);
    main_.runUntilIdle();
    ASSERT_TRUE(a.done() && b.done());
    EXPECT_TRUE(a.value());
    EXPECT_TRUE(b.value());
    EXPECT_EQ(reads_, 1);
    auto c = load(*dict);
    main_.runUntilIdle();
    EXPECT_TRUE(c.value());
    EXPECT_EQ(reads_, 1) << "loaded is final";
}

TEST_F(CMUDictionaryTest, MissingResourceLogsOnceAndCountsAsLoaded) {
    platform::ScopedLogCapture capture;
    auto dict = makeDictionary(/*present=*/false);
    auto a = load(*dict);
    main_.runUntilIdle();
    auto b = load(*dict);
    main_.runUntilIdle();
    EXPECT_TRUE(a.value());
    EXPECT_TRUE(b.value());
    EXPECT_TRUE(dict->didLoad());
    EXPECT_EQ(locates_, 1);
    EXPECT_EQ(reads_, 0);
    EXPECT_EQ(dict->ipa("hello"), std::nullopt);
    auto lines = capture->linesOfCategory("engine.tts.cmu");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].message, "CMU dict bundle resource not found; OOV fallback inert");
    EXPECT_EQ(lines[0].level, platform::LogLevel::error);
    EXPECT_EQ(lines[0].subsystem, "com.kelvatrum.Parlowen");
}

TEST_F(CMUDictionaryTest, FailedLoadsReachEveryWaiterAndAreRetried) {
    writeFixture("hello HH AH0 L OW1\nbad \xFF\xFE\n");
    auto dict = makeDictionary();
    auto a = load(*dict);
    auto b = load(*dict);
    main_.runUntilIdle();
    for (auto* h : {&a, &b}) {
        ASSERT_FALSE(h->value());
        EXPECT_TRUE(h->value().error().is(CMUDictionary::kErrorDomain, CMUDictionary::kInvalidUtf8Code));
        EXPECT_EQ(h->value().error().description, "cmudict.dict is not valid UTF-8");
    }
    EXPECT_FALSE(dict->didLoad());
    EXPECT_EQ(dict->ipa("hello"), std::nullopt) << "nothing is stored from a failed load";
    EXPECT_EQ(reads_, 1);

    readError_ = platform::Error::make("files", 2, "readFailed", "disk on fire");
    auto c = load(*dict);
    main_.runUntilIdle();
    ASSERT_FALSE(c.value());
    EXPECT_EQ(c.value().error().description, "disk on fire");
    EXPECT_EQ(reads_, 2);

    readError_.reset();
    writeFixture("hello HH AH0 L OW1\n");
    auto d = load(*dict);
    main_.runUntilIdle();
    EXPECT_TRUE(d.value());
    EXPECT_EQ(dict->ipa("hello"), "h\u0259l\u02C8O");
}

TEST_F(CMUDictionaryTest, LoadLogsTheEntryCount) {
    platform::ScopedLogCapture capture;
    writeFixture(kFixture);
    auto dict = makeDictionary();
    auto h = load(*dict);
    main_.runUntilIdle();
    ASSERT_TRUE(h.value());
    auto line = capture->find("CMU dict loaded \u2014 7 entries in ", platform::LogLevel::info);
    ASSERT_TRUE(line);
    EXPECT_TRUE(line->message.ends_with("s"));
}

// The shipped resource: Debian's pocketsphinx-en-us dictionary, found as "cmudict.dict".
TEST(CMUDictionaryResource, TheInstalledDictionaryIsFoundAndReadable) {
    auto env = platform::Environment::fromProcess().without("PARLOWEN_RESOURCE_DIR");
    auto path = platform::resourcePath("cmudict.dict", env);
    ASSERT_TRUE(path) << "cmudict.dict not found: scripts/setup installs pocketsphinx-en-us";
    platform::ManualExecutor main;
    CMUDictionary dict(main, env);
    auto h = platform::spawn(main, dict.loadIfNeeded());
    main.runUntilIdle();
    ASSERT_TRUE(h.value());
    EXPECT_GT(dict.entryCount(), 100'000u);
    // Debian's copy carries no stress digits ("hello HH AH L OW"), so no marks.
    EXPECT_EQ(dict.ipa("Hello"), "h\u0259lO");
}

}  // namespace
}  // namespace parlowen
