// The bridge binds to whatever the process has loaded. A library that was
// looked up by name stays loaded for good, so each test that loads a build of
// the stand-in library does so in a child process of its own.

#include "Auralith/foundation/TextNormalizer.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace auralith {
namespace {

// Runs the checks in a child process and expects them all to pass there.
void inChildProcess(void (*checks)()) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        checks();
        std::fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "checks failed in the child process (see above)";
}

// Loads a library into the process's global namespace.
class LoadedLibrary {
public:
    explicit LoadedLibrary(const char* path) : handle_(dlopen(path, RTLD_NOW | RTLD_GLOBAL)) {
        EXPECT_NE(handle_, nullptr) << dlerror();
    }
    int freedCount() const {
        auto fn = reinterpret_cast<int (*)()>(dlsym(handle_, "fake_itn_freed_count"));
        return fn ? fn() : -1;
    }

private:
    void* handle_;
};

void expectUnbound(const TextNormalizer& n) {
    EXPECT_FALSE(n.isNativeAvailable());
    EXPECT_EQ(n.normalize("twenty five"), "twenty five");
    EXPECT_EQ(n.normalizeSentence("a  b  dot  c"), "a  b  dot  c");  // no pre-pass either
    EXPECT_EQ(n.normalizeSentence("a  dot", 4), "a  dot");
    EXPECT_FALSE(n.version());
    EXPECT_EQ(n.ruleCount(), 0);
    EXPECT_FALSE(n.removeRule("x"));
    n.addRule("x", "y");
    n.clearRules();
    ASSERT_EQ(dlsym(RTLD_DEFAULT, "nemo_normalize"), nullptr);
}

TEST(TextNormalizerTest, WithoutTheLibraryEverythingPassesThrough) {
    ASSERT_EQ(dlsym(RTLD_DEFAULT, "nemo_normalize"), nullptr);
    expectUnbound(TextNormalizer());
    expectUnbound(TextNormalizer::shared());
}

TEST(TextNormalizerTest, WithoutTheFreeFunctionTheLibraryCountsAsAbsent) {
    inChildProcess([] {
        LoadedLibrary library(FAKE_ITN_NOFREE_LIBRARY);
        ASSERT_NE(dlsym(RTLD_DEFAULT, "nemo_normalize"), nullptr);
        const TextNormalizer n;
        EXPECT_FALSE(n.isNativeAvailable());
        EXPECT_EQ(n.normalize("one"), "one");
        EXPECT_FALSE(n.version());
    });
}

TEST(TextNormalizerTest, EveryFunctionOfTheFullLibrary) {
    inChildProcess([] {
        LoadedLibrary library(FAKE_ITN_FULL_LIBRARY);
        const TextNormalizer n;
        ASSERT_TRUE(n.isNativeAvailable());
        EXPECT_EQ(n.version(), "fake-itn 1.2");
        EXPECT_EQ(n.normalize("twenty  five"), "N(twenty  five)");

        // Spoken punctuation, in any letter case, tidies the spacing first.
        EXPECT_EQ(n.normalizeSentence("  example   DOT com "), "S(example DOT com)");
        EXPECT_EQ(n.normalizeSentence("no  marks\there "), "S(no  marks\there )");
        EXPECT_EQ(n.normalizeSentence("a  Period\tb"), "S(a  Period\tb)");  // "Period\tb" is one piece
        EXPECT_EQ(n.normalizeSentence("a  percent", 7), "M7(a percent)");

        // A null result gives the (tidied) input back; foreign bytes become U+FFFD.
        EXPECT_EQ(n.normalizeSentence("null   slash x"), "null slash x");
        EXPECT_EQ(n.normalize("null"), "null");
        EXPECT_EQ(n.normalize("latin1"), "caf\xEF\xBF\xBD!");

        const int before = library.freedCount();
        (void)n.normalize("x");
        (void)n.normalizeSentence("y");
        EXPECT_EQ(library.freedCount(), before + 2);

        n.clearRules();
        n.addRule("k", "thousand");
        n.addRule("m", "million");
        EXPECT_EQ(n.ruleCount(), 2);
        EXPECT_TRUE(n.removeRule("k"));
        EXPECT_FALSE(n.removeRule("k"));
        EXPECT_EQ(n.ruleCount(), 1);
        n.clearRules();
        EXPECT_EQ(n.ruleCount(), 0);
    });
}

TEST(TextNormalizerTest, TheRequiredFunctionsAloneServeBothSentenceForms) {
    inChildProcess([] {
        LoadedLibrary library(FAKE_ITN_REQUIRED_LIBRARY);
        const TextNormalizer n;
        ASSERT_TRUE(n.isNativeAvailable());
        EXPECT_EQ(n.normalizeSentence("a  hash  b"), "N(a hash b)");
        EXPECT_EQ(n.normalizeSentence("a  b", 3), "N(a  b)");
        EXPECT_EQ(n.ruleCount(), 0);
        EXPECT_FALSE(n.removeRule("k"));
        n.addRule("k", "v");  // nothing to call
    });
}

TEST(TextNormalizerTest, RecognitionResults) {
    inChildProcess([] {
        ASRResult result{"twenty five", 0.9f, 2.0, 0.1, std::vector<TokenTiming>{{"twenty", 7, 0.0, 0.5, 0.8f}},
                         ASRPerformanceMetrics{0.01, 0.02, 0.03, 0.06, 33, 120, std::nullopt},
                         std::vector<std::string>{"k8s"}, std::vector<std::string>{}};
        EXPECT_EQ(TextNormalizer().normalize(result), result);  // no library

        LoadedLibrary library(FAKE_ITN_FULL_LIBRARY);
        const TextNormalizer n;
        auto changed = n.normalize(result);
        EXPECT_EQ(changed.text, "S(twenty five)");
        EXPECT_FALSE(changed.performanceMetrics);
        auto expected = result;
        expected.text = changed.text;
        expected.performanceMetrics.reset();
        EXPECT_EQ(changed, expected);

        auto unchanged = result;
        unchanged.text = "null";
        EXPECT_EQ(n.normalize(unchanged), unchanged);  // same text: the metrics stay
    });
}

TEST(TextNormalizerTest, SentencePrePass) {
    EXPECT_EQ(TextNormalizer::spokenPunctuationWords().size(), 9u);
    EXPECT_EQ(TextNormalizer::prepareSentence("  a   COLON  b  "), "a COLON b");
    EXPECT_EQ(TextNormalizer::prepareSentence("  a   b  "), "  a   b  ");
    EXPECT_EQ(TextNormalizer::prepareSentence("dots"), "dots");
    EXPECT_EQ(TextNormalizer::prepareSentence(""), "");
}

}  // namespace
}  // namespace auralith
