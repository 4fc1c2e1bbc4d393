#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "Parlowen/readaloud/SpeechTextNormalizer.h"
#include "Parlowen/readaloud/TestPrinting.h"
#include "platform/text/Unicode.h"

namespace parlowen {
namespace {

using Kind = SpeechMark::Kind;
using Mode = SpeechTextNormalizer::Mode;

const std::string kOpen = "\xEE\x80\x80";   // U+E000
const std::string kClose = "\xEE\x80\x81";  // U+E001

SpeechMark mark(Kind kind, std::string label, std::string literal, std::int64_t lo, std::int64_t hi) {
    return SpeechMark{kind, std::move(label), std::move(literal), {lo, hi}};
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

std::string at(const NormalizedSpeech& s, SpeechMark::Range r) {
    return platform::text::graphemeSlice(s.text, static_cast<std::size_t>(r.lowerBound),
                                         static_cast<std::size_t>(r.count()));
}

struct Case {
    const char* name;
    Mode mode;
    std::string input;
    std::string text;
    std::vector<SpeechMark> marks;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class NormalizeTable : public testing::TestWithParam<Case> {};

TEST_P(NormalizeTable, GivesTheSpeakableTextAndItsMarks) {
    const Case& c = GetParam();
    const NormalizedSpeech out = SpeechTextNormalizer(c.mode).normalize(c.input);
    EXPECT_EQ(out.text, c.text);
    EXPECT_EQ(out.marks, c.marks);
    EXPECT_EQ(SpeechTextNormalizer::normalize(c.input, c.mode), out);
}

const std::string kThirty = "/aaaaaaaaa/bbbbbbbbb/ccccccccc";  // 30 characters after the host

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, NormalizeTable,
    testing::Values(
        Case{"empty", Mode::read, "", "", {}},
        Case{"only whitespace", Mode::read, " \n\t  \n", "", {}},
        Case{"mail headers in any case, X- names, body kept", Mode::read,
             "Hi\nSubject: Hello\nFROM: ann\n  reply-to: x\nX-Mailer: Foo 1.0\nNote: keep\nDated: no\nBody",
             "Hi\n\n\n\n\nNote: keep\nDated: no\nBody", {}},
        Case{"URL before a full stop keeps the stop in the text, not in the literal", Mode::read,
             "See https://example.com/docs. Next", "See example.com slash docs. Next",
             {mark(Kind::link, "example.com", "https://example.com/docs", 4, 26)}},
        Case{"URL trailing punctuation run keeps its order", Mode::read, "Wow https://ex.com/a!.",
             "Wow ex.com slash a!.", {mark(Kind::link, "ex.com", "https://ex.com/a", 4, 18)}},
        Case{"read mode speaks slashes and splits identifiers", Mode::read,
             "Visit https://github.com/someUser/my_repo now",
             "Visit github.com slash some User slash my repo now",
             {mark(Kind::link, "github.com", "https://github.com/someUser/my_repo", 6, 46)}},
        Case{"read mode speaks a query as it is", Mode::read, "https://ex.com/a?b=1", "ex.com slash a?b=1",
             {mark(Kind::link, "ex.com", "https://ex.com/a?b=1", 0, 18)}},
        Case{"Listen Later: 30 characters after the host are spoken", Mode::listenLater,
             "https://ex.com" + kThirty, "ex.com slash aaaaaaaaa slash bbbbbbbbb slash ccccccccc",
             {mark(Kind::link, "ex.com", "https://ex.com" + kThirty, 0, 54)}},
        Case{"Listen Later: 31 characters after the host shrink to the host", Mode::listenLater,
             "https://ex.com" + kThirty + "c", "link to ex.com",
             {mark(Kind::link, "ex.com", "https://ex.com" + kThirty + "c", 0, 14)}},
        Case{"Listen Later: characters, not bytes, are counted", Mode::listenLater,
             "https://ex.com/" + repeat("\xC3\xA9", 29), "ex.com slash " + repeat("\xC3\xA9", 29),
             {mark(Kind::link, "ex.com", "https://ex.com/" + repeat("\xC3\xA9", 29), 0, 42)}},
        Case{"Listen Later: a query shrinks to the host", Mode::listenLater, "Read https://ex.com/a?b=1.",
             "Read link to ex.com.", {mark(Kind::link, "ex.com", "https://ex.com/a?b=1", 5, 19)}},
        Case{"path with a full stop after its last segment", Mode::read, "Edit ~/projects/app/config_file.yaml.",
             "Edit config file.yaml.",
             {mark(Kind::path, "config_file.yaml", "~/projects/app/config_file.yaml", 5, 21)}},
        Case{"path with a trailing slash", Mode::read, "in /usr/local/bin/ now", "in bin now",
             {mark(Kind::path, "bin", "/usr/local/bin/", 3, 6)}},
        Case{"one segment, or segments after a word, are no path", Mode::read, "cd /usr and/or/maybe",
             "cd /usr and/or/maybe", {}},
        Case{"fence with a language line", Mode::read, "Run:\n```bash\nls -la\n```\nDone",
             "Run:\n code block. \nDone", {mark(Kind::code, "code", "ls -la", 6, 17)}},
        Case{"fence without a language line", Mode::read, "```\nprint(x)\n```", "code block.",
             {mark(Kind::code, "code", "print(x)", 0, 11)}},
        Case{"empty fence keeps the whole fenced text as literal", Mode::read, "a ```\n``` b", "a code block. b",
             {mark(Kind::code, "code", "```\n```", 2, 13)}},
        Case{"hex", Mode::read, "Set 0x1F now", "Set code now", {mark(Kind::opaque, "hex", "0x1F", 4, 8)}},
        Case{"UUID", Mode::read, "id 123e4567-e89b-12d3-a456-426614174000 ok", "id code ok",
             {mark(Kind::opaque, "ID", "123e4567-e89b-12d3-a456-426614174000", 3, 7)}},
        Case{"16-character token with a digit", Mode::read, "key abcdefghijklmno1 end", "key code end",
             {mark(Kind::opaque, "ID", "abcdefghijklmno1", 4, 8)}},
        Case{"15 characters with a digit stay", Mode::read, "key abcdefghijklmn1 end",
             "key abcdefghijklmn1 end", {}},
        Case{"16 letters without a digit stay and are split", Mode::read, "key thisIsSixteenChr end",
             "key this Is Sixteen Chr end", {}},
        Case{"e-mail address", Mode::read, "write to ann.lee@example.org today", "write to email today",
             {mark(Kind::email, "email", "ann.lee@example.org", 9, 14)}},
        Case{"keep-whole words, snake case, camel case", Mode::read,
             "iPhone YouTube JavaScript PowerPoint snake_case_name",
             "iPhone YouTube JavaScript Power Point snake case name", {}},
        Case{"capital runs and digits", Mode::read, "parseJSONValue userID2 v2Beta HTML5 ABC",
             "parse JSON Value user ID2 v2 Beta HTML5 ABC", {}},
        Case{"emphasis", Mode::read, "**Bold** and __also__, *it* _too_ ~~gone~~", "Bold and also, it too gone", {}},
        Case{"citations and superscripts", Mode::read, "as shown[12]. x\xC2\xB2 and y\xC2\xB9\xE2\x81\xB0",
             "as shown. x and y", {}},
        Case{"markdown links and images keep their text and record nothing", Mode::read,
             "Read [the docs](https://ex.com/a) and ![a chart](c.png).", "Read the docs and a chart.", {}},
        Case{"inline code and HTML", Mode::read, "Use `make all` in <b>bold</b>", "Use make all in bold", {}},
        Case{"headings, quotes, bullets, numbers and rules", Mode::read,
             "# Title\n> quoted\n- item\n2. second\n---\nend", "Title\nquoted\nitem\nsecond\n\nend", {}},
        Case{"spaces and tabs collapse, line breaks stay", Mode::read, "a  \t b\n\n\tc", "a b\n\n c", {}},
        Case{"a marker swallowed by a later pass leaves neither mark nor text", Mode::read,
             "Go <https://ex.com/a> now", "Go now", {}},
        Case{"a match that ends inside a character is left alone", Mode::read, "ann@ex.org\xCC\x81 x",
             "ann@ex.org\xCC\x81 x", {}},
        Case{"marker characters in the input cannot forge marks", Mode::read,
             kOpen + "0" + kClose + " see https://ex.com", "0 see ex.com",
             {mark(Kind::link, "ex.com", "https://ex.com", 6, 12)}},
        Case{"marker characters alone are dropped", Mode::read, "pay " + kOpen + "0" + kClose + " now" + kOpen,
             "pay 0 now", {}}),
    [](const testing::TestParamInfo<Case>& info) { return "case" + std::to_string(info.index); });

// Every mark's range must index the returned text exactly, also after
// characters that take several bytes or code points.
TEST(SpeechTextNormalizer, MarkRangesIndexTheSpokenTextExactly) {
    struct Sample {
        std::string input;
        std::vector<std::string> spoken;  // in text order
    };
    const std::string thumbs = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";  // with a skin tone
    const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
    const std::string flag = "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7";
    const std::string eAcute = "e\xCC\x81";
    const std::vector<Sample> corpus = {
        {thumbs + " https://ex.com/someUser, " + eAcute + " ann@ex.org and " + flag + " 0xFF.",
         {"ex.com slash some User", "email", "code"}},
        {family + " ```js\nlet a = 1\n``` caf" + eAcute + " /var/log/app.log; key " +
             "123e4567-e89b-12d3-a456-426614174000",
         {"code block.", "app.log", "code"}},
        {"# Notes \xF0\x9F\x8E\x89\n- see https://ex.com/a?b=c\n- token abcd1234efgh5678ijkl\n> mail me@x.io",
         {"ex.com slash a?b=c", "code", "email"}},
        {family + family + eAcute + eAcute + "https://a.io/x " + thumbs + "/b/c_d " + flag + "0x1",
         {"a.io slash x", "c d", "code"}},
    };
    for (const auto& sample : corpus) {
        const NormalizedSpeech out = SpeechTextNormalizer(Mode::read).normalize(sample.input);
        SCOPED_TRACE(sample.input);
        EXPECT_EQ(out.text.find(kOpen), std::string::npos);
        EXPECT_EQ(out.text.find(kClose), std::string::npos);
        ASSERT_EQ(out.marks.size(), sample.spoken.size()) << out.text;
        const auto length = static_cast<std::int64_t>(platform::text::graphemeCount(out.text));
        std::int64_t previousEnd = 0;
        for (std::size_t i = 0; i < out.marks.size(); ++i) {
            const SpeechMark& m = out.marks[i];
            EXPECT_GE(m.range.lowerBound, previousEnd);
            EXPECT_LE(m.range.lowerBound, m.range.upperBound);
            EXPECT_LE(m.range.upperBound, length);
            EXPECT_EQ(at(out, m.range), sample.spoken[i]);
            previousEnd = m.range.upperBound;
        }
    }
}

TEST(SpeechTextNormalizer, ModesDifferOnlyInHowLinksAreSpoken) {
    const std::string text = "## Read\n* **See** https://ex.com/a/b?c=1 and ~/x/y_z.txt, or 0xAB.";
    const auto read = SpeechTextNormalizer(Mode::read).normalize(text);
    const auto later = SpeechTextNormalizer(Mode::listenLater).normalize(text);
    EXPECT_EQ(read.text, "Read\nSee ex.com slash a slash b?c=1 and y z.txt, or code.");
    EXPECT_EQ(later.text, "Read\nSee link to ex.com and y z.txt, or code.");
    ASSERT_EQ(later.marks.size(), 3u);
    EXPECT_EQ(later.marks[1], mark(Kind::path, "y_z.txt", "~/x/y_z.txt", 28, 35));
}

// Callers normalise on any thread; shared compiled patterns must not carry
// per-call state.
TEST(SpeechTextNormalizer, ConcurrentCallsGiveTheSameResults) {
    const std::vector<std::string> inputs = {
        "See https://ex.com/someUser and ~/a/b.txt.",
        "```\ncode\n``` mail ann@ex.org 0x1F",
        "**parseJSONValue** 123e4567-e89b-12d3-a456-426614174000",
    };
    std::vector<NormalizedSpeech> expected;
    for (const auto& in : inputs) expected.push_back(SpeechTextNormalizer::normalize(in, Mode::read));

    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 50; ++round)
                for (std::size_t i = 0; i < inputs.size(); ++i)
                    if (SpeechTextNormalizer::normalize(inputs[i], Mode::read) != expected[i]) ++mismatches[t];
        });
    }
    for (auto& th : threads) th.join();
    for (int m : mismatches) EXPECT_EQ(m, 0);
}

}  // namespace
}  // namespace parlowen
