#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Parlowen/readaloud/SpeechMark.h"
#include "Parlowen/readaloud/SpeechTextNormalizer.h"
#include "Parlowen/readaloud/TestPrinting.h"

namespace parlowen {
namespace {

using Kind = SpeechMark::Kind;
using MarkBuilder = SpeechTextNormalizer::MarkBuilder;

const std::string kOpen = "\xEE\x80\x80";   // U+E000
const std::string kClose = "\xEE\x80\x81";  // U+E001

std::string marker(const std::string& number) { return kOpen + number + kClose; }

TEST(SpeechMarkKind, RawValuesAreTheCaseNamesAndReadExactly) {
    for (Kind k : {Kind::link, Kind::path, Kind::code, Kind::email, Kind::opaque})
        EXPECT_EQ(SpeechMark::kindFromRawValue(SpeechMark::rawValue(k)), k);
    EXPECT_EQ(SpeechMark::rawValue(Kind::opaque), "opaque");
    EXPECT_EQ(SpeechMark::kindFromRawValue("opaque"), Kind::opaque);
    EXPECT_EQ(SpeechMark::kindFromRawValue("Link"), std::nullopt);
    EXPECT_EQ(SpeechMark::kindFromRawValue(""), std::nullopt);
    EXPECT_EQ(SpeechMark::kindFromRawValue("link "), std::nullopt);
}

TEST(MarkBuilder, RecordNumbersEntriesInOrderAndReturnsTheirMarkers) {
    MarkBuilder b;
    EXPECT_EQ(b.record(Kind::email, "email", "a@b.cc", "email"), marker("0"));
    EXPECT_EQ(b.record(Kind::code, "code", "x", "code block."), marker("1"));
    ASSERT_EQ(b.entries().size(), 2u);
    EXPECT_EQ(b.entries()[1].literal, "x");
    for (int i = 2; i < 11; ++i) b.record(Kind::opaque, "hex", "0x1", "code");
    EXPECT_EQ(b.record(Kind::opaque, "hex", "0x1", "code"), marker("11"));
}

TEST(MarkBuilder, ResolveReplacesMarkersAndCountsPositionsInCharacters) {
    MarkBuilder b;
    b.record(Kind::email, "email", "ann@ex.org", "email");
    b.record(Kind::code, "code", "ls", "code block.");
    b.record(Kind::path, "a.txt", "/x/a.txt", "");

    struct Case {
        std::string input;
        std::string text;
        std::vector<SpeechMark> marks;
    };
    const SpeechMark email{Kind::email, "email", "ann@ex.org", {}};
    auto at = [](SpeechMark m, int lo, int hi) {
        m.range = {lo, hi};
        return m;
    };
    const SpeechMark code{Kind::code, "code", "ls", {}};
    const SpeechMark path{Kind::path, "a.txt", "/x/a.txt", {}};
    const std::vector<Case> cases = {
        {"a " + marker("0") + " b", "a email b", {at(email, 2, 7)}},
        // The second range is counted in the output, after the first spoken text.
        {marker("1") + " and " + marker("0"), "code block. and email",
         {at(code, 0, 11), at(email, 16, 21)}},
        // Emoji with a skin tone, a family ZWJ sequence, a flag and a combining
        // accent each advance the position by one.
        {"\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD " + marker("0"), "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD email",
         {at(email, 2, 7)}},
        {"\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7" +
             marker("0"),
         "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7"
         "email",
         {at(email, 2, 7)}},
        {"e\xCC\x81" + marker("0"), "e\xCC\x81" "email", {at(email, 1, 6)}},
        {"\r\n" + marker("0"), "\r\nemail", {at(email, 1, 6)}},
        // An empty spoken text gives an empty range.
        {"x " + marker("2") + " y", "x  y", {at(path, 2, 2)}},
        // A sign is part of the decimal reading.
        {marker("+0"), "email", {at(email, 0, 5)}},
        // A U+E000 that is ordinary text is copied, and the marker right after it still counts.
        {kOpen + marker("0"), kOpen + "email", {at(email, 1, 6)}},
    };
    for (const auto& c : cases) {
        auto [text, marks] = b.resolve(c.input);
        EXPECT_EQ(text, c.text) << c.input;
        EXPECT_EQ(marks, c.marks) << c.input;
    }
}

TEST(MarkBuilder, MalformedMarkersAreOrdinaryText) {
    MarkBuilder b;
    b.record(Kind::email, "email", "ann@ex.org", "email");
    const std::vector<std::string> inputs = {
        "a " + kOpen + "0 no close",
        kOpen + kClose,
        marker("x1"),
        marker("0x"),
        marker(" 0"),
        marker("1"),   // names no entry
        marker("-1"),  // negative
        marker("+"),
        marker("99999999999999999999"),  // beyond 64 bits
        "tail " + kOpen,
        kClose + "0" + kOpen,
    };
    for (const auto& in : inputs) {
        auto [text, marks] = b.resolve(in);
        EXPECT_EQ(text, in);
        EXPECT_TRUE(marks.empty()) << in;
    }
    // The digits and the closing mark after a malformed opening are copied too.
    auto [text, marks] = b.resolve(marker("7") + " " + marker("0"));
    EXPECT_EQ(text, marker("7") + " email");
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(marks[0].range, (SpeechMark::Range{4, 9}));
}

TEST(MarkBuilder, WithoutEntriesTheTextComesBackUnchanged) {
    MarkBuilder b;
    const std::string in = "keep " + marker("0") + " as is";
    auto [text, marks] = b.resolve(in);
    EXPECT_EQ(text, in);
    EXPECT_TRUE(marks.empty());
}

TEST(MarkBuilder, MarksComeOutInTextOrderWhateverTheRecordingOrder) {
    MarkBuilder b;
    b.record(Kind::link, "c.com", "https://c.com", "c.com");
    b.record(Kind::link, "b.com", "https://b.com", "b.com");
    b.record(Kind::link, "a.com", "https://a.com", "a.com");
    auto [text, marks] = b.resolve(marker("2") + " " + marker("1") + " " + marker("0"));
    EXPECT_EQ(text, "a.com b.com c.com");
    ASSERT_EQ(marks.size(), 3u);
    EXPECT_EQ(marks[0].label, "a.com");
    EXPECT_EQ(marks[2].label, "c.com");
    EXPECT_EQ(marks[2].range, (SpeechMark::Range{12, 17}));
}

}  // namespace
}  // namespace parlowen
