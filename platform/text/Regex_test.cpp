#include "platform/text/Regex.h"

#include <thread>

#include <gtest/gtest.h>

namespace {

using platform::text::Regex;
using platform::text::RegexMatch;
using platform::text::TextRange;

Regex compiled(std::string_view pattern, unsigned options = 0) {
    auto r = Regex::compile(pattern, options);
    EXPECT_TRUE(r) << pattern;
    return std::move(*r);
}

std::vector<std::string> texts(const std::vector<RegexMatch>& matches, std::string_view text) {
    std::vector<std::string> out;
    for (const auto& m : matches) out.emplace_back(m.range().of(text));
    return out;
}

TEST(Regex, CompileErrorIsAResult) {
    auto r = Regex::compile("(unclosed");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().domain, "NSCocoaErrorDomain");
    EXPECT_EQ(r.error().code, 2048);
    EXPECT_EQ(r.error().description, "The value \u201c(unclosed\u201d is invalid.");
    ASSERT_TRUE(r.error().underlying);
    EXPECT_EQ(r.error().underlying->domain, "icu");
    EXPECT_FALSE(Regex::compile("a{2,1}"));
    EXPECT_FALSE(Regex::compile("(?<=a+)b"));  // unbounded look-behind
}

TEST(Regex, LookAroundAndGroupsWithByteRanges) {
    const std::string text = "caf\u00E9 costs $42, th\u00E9 \u20AC7";
    EXPECT_EQ(texts(compiled(R"((?<=\$)\d+)").allMatches(text), text), std::vector<std::string>{"42"});
    EXPECT_EQ(texts(compiled(R"((?<!\$)\b\d+)").allMatches(text), text), std::vector<std::string>{"7"});
    EXPECT_EQ(texts(compiled(R"(\p{L}+(?=\s+costs))").allMatches(text), text), std::vector<std::string>{"caf\u00E9"});

    const auto m = compiled(R"((th)(\u00E9)|(x))").firstMatch(text);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->range(), (TextRange{17, 21}));
    EXPECT_EQ(m->group(text, 1), "th");
    EXPECT_EQ(m->groups[2], (TextRange{19, 21}));
    EXPECT_EQ(m->groups[3], std::nullopt);  // did not take part
    EXPECT_EQ(m->group(text, 3), std::nullopt);
    EXPECT_EQ(m->group(text, 9), std::nullopt);
    EXPECT_FALSE(compiled("zzz").firstMatch(text));
}

// Positions map back to bytes across characters of every UTF-8 length, ill-formed
// bytes, and groups that lie before their match (inside a look-behind).
TEST(Regex, ByteRangesAcrossLongCharactersAndLookBehindGroups) {
    const std::string text = "a\xF0\x9F\x98\x80" "b \xFF c\u00E9d \u20AC e";
    const auto matches = compiled(R"(\p{L})").allMatches(text);
    EXPECT_EQ(texts(matches, text), (std::vector<std::string>{"a", "b", "c", "\u00E9", "d", "e"}));
    EXPECT_EQ(matches[1].range(), (TextRange{5, 6}));
    EXPECT_EQ(matches[5].range(), (TextRange{18, 19}));

    const auto behind = compiled(R"((?<=(\p{L}))d)").allMatches(text);
    ASSERT_EQ(behind.size(), 1u);
    EXPECT_EQ(behind[0].range(), (TextRange{12, 13}));
    EXPECT_EQ(behind[0].group(text, 1), "\u00E9");
}

TEST(Regex, Options) {
    EXPECT_TRUE(compiled("hello", Regex::caseInsensitive).matches("Say HELLO"));
    EXPECT_FALSE(compiled("hello").matches("Say HELLO"));
    EXPECT_TRUE(compiled("(?i)hello").matches("Say HELLO"));

    const std::string lines = "one\ntwo\nthree";
    EXPECT_EQ(texts(compiled("^t\\w+$", Regex::multiline).allMatches(lines), lines),
              (std::vector<std::string>{"two", "three"}));
    EXPECT_TRUE(compiled("^t\\w+$").allMatches(lines).empty());

    EXPECT_FALSE(compiled("one.two").matches(lines));
    EXPECT_TRUE(compiled("one.two", Regex::dotAll).matches(lines));
    EXPECT_TRUE(compiled("ONE.TWO", Regex::dotAll | Regex::caseInsensitive).matches(lines));
}

TEST(Regex, EmptyMatchesAdvance) {
    EXPECT_EQ(compiled("x*").allMatches("ab").size(), 3u);
    EXPECT_EQ(compiled("x*").replaceAll("ab", "-"), "-a-b-");
    EXPECT_EQ(compiled("\\s+").replaceAll("  a \t b\n", " "), " a b ");
}

TEST(Regex, ReplaceWithTemplate) {
    const auto swap = compiled(R"((\w+)@(\w+))");
    EXPECT_EQ(swap.replaceAll("ann@host bob@box", "$2 at $1"), "host at ann box at bob");
    EXPECT_EQ(swap.replaceAll("ann@host", "\\$1=$1"), "$1=ann");
    EXPECT_EQ(swap.replaceAll("ann@host", "$0$0"), "ann@hostann@host");
    EXPECT_EQ(swap.replaceAll("ann@host", "[$10]"), "[ann0]");  // no group 10: group 1, then "0"
    EXPECT_EQ(swap.replaceAll("ann@host", "[$9]"), "[]");
    EXPECT_EQ(swap.replaceAll("no match here", "$1"), "no match here");
    EXPECT_EQ(compiled("(a)|(b)").replaceAll("ab", "<$1$2>"), "<a><b>");
    // A literal replacement survives dollar signs and backslashes.
    EXPECT_EQ(compiled("x").replaceAll("x", Regex::escapedTemplate("$1 \\ $")), "$1 \\ $");
}

TEST(Regex, ReplaceWithCallbackKeepsTheRestByteForByte) {
    const std::string text = "\u00FCber 12 \xFF 345";  // an invalid byte outside the matches stays as it is
    const auto doubled = compiled("\\d+").replaceAll(text, [](const RegexMatch& m, std::string_view t) {
        return std::to_string(2 * std::stoi(std::string(m.range().of(t))));
    });
    EXPECT_EQ(doubled, "\u00FCber 24 \xFF 690");
}

TEST(Regex, RemovesScriptElements) {
    const std::string page = "<p>a</p><SCRIPT type=x>\nvar a = '<b>';\n</script><p>b</p><script>c()</script>";
    EXPECT_EQ(compiled(R"((?is)<script\b[^>]*>.*?</script>)").replaceAll(page, ""), "<p>a</p><p>b</p>");
}

TEST(Regex, ATimeLimitEndsAQuadraticSearchAndChecksTheWholeScan) {
    // Every unclosed "<script" scans to the end of the text: quadratic work.
    std::string hostile;
    while (hostile.size() < 400'000) hostile += "<script src=a ";
    const auto limited = Regex::compile(R"((?is)<script\b[^>]*>.*?</script>)", 0, 200);
    ASSERT_TRUE(limited);
    auto replaced = limited->checkedReplaceAll(hostile, "");
    ASSERT_FALSE(replaced);
    EXPECT_TRUE(Regex::isTimeLimitError(replaced.error()));
    auto first = limited->checkedFirstMatch(hostile);
    ASSERT_FALSE(first);
    EXPECT_TRUE(Regex::isTimeLimitError(first.error()));
    EXPECT_FALSE(limited->matches(hostile));  // the plain calls find nothing more
    EXPECT_TRUE(limited->allMatches(hostile).empty());

    // An ordinary text well within the limit is scanned whole.
    const std::string page = "<p>a</p><script>x()</script><p>b</p>";
    auto cleaned = limited->checkedReplaceAll(page, "");
    ASSERT_TRUE(cleaned);
    EXPECT_EQ(*cleaned, "<p>a</p><p>b</p>");
    auto all = limited->checkedAllMatches(page);
    ASSERT_TRUE(all);
    EXPECT_EQ(all->size(), 1u);

    // The limit counts over a whole scan: many cheap matches add up.
    std::string many;
    for (int i = 0; i < 200'000; ++i) many += "<script>x</script>";
    const auto tight = Regex::compile(R"((?is)<script\b[^>]*>.*?</script>)", 0, 1);
    ASSERT_TRUE(tight);
    EXPECT_FALSE(tight->checkedAllMatches(many));
}

TEST(Regex, EscapedPatternMatchesLiterally) {
    const std::string label = "Host (A) [1.0]*: $5?";
    const auto re = compiled("^" + Regex::escapedPattern(label), Regex::caseInsensitive);
    EXPECT_TRUE(re.matches("host (a) [1.0]*: $5? hello"));
    EXPECT_FALSE(re.matches("Host A 1x0: 5"));
}

TEST(Regex, SharedBetweenThreads) {
    const auto re = compiled(R"(\b(\w)(\w*)\b)");
    std::vector<std::thread> threads;
    std::vector<std::string> results(4);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) results[t] = re.replaceAll("alpha beta gamma", "$2$1");
        });
    for (auto& t : threads) t.join();
    for (const auto& r : results) EXPECT_EQ(r, "lphaa etab ammag");
}

}  // namespace
