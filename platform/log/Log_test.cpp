#include "platform/log/Log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "platform/log/CaptureSink.h"
#include "platform/log/LogSink.h"
#include "platform/testsupport/TempHome.h"

namespace {

using platform::LogLevel;
using platform::Logger;
using platform::priv;

// Restores the redaction setting whatever a test does to it.
class LogTest : public ::testing::Test {
protected:
    ~LogTest() override { platform::setRedactPrivate(true); }
    platform::ScopedLogCapture capture;
    Logger log{"com.kelvatrum.Parlowen", "listen-later"};
};

std::string readAll(const std::filesystem::path& path) {
    std::string out;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        std::fclose(f);
    }
    return out;
}

TEST_F(LogTest, RedactionIsOnByDefaultAndHidesOnlyPrivateValues) {
    EXPECT_TRUE(platform::redactPrivate());
    std::string path = "/home/ann/notes.txt";
    log.info("bundle path={} status={} id={}", priv(path), 200, priv(42));
    EXPECT_EQ(capture->messages(), std::vector<std::string>{"bundle path=<private> status=200 id=<private>"});
}

TEST_F(LogTest, PrivateValuesKeepTheirFormatWhenRedactionIsOff) {
    struct Case {
        bool redact;
        std::string expected;
    };
    const std::string word = "hello";
    for (const Case& c : {Case{true, "w=<private> n=<private> c=<private> f=<private>"},
                          Case{false, "w=hello n=007 c=text f=1.50"}}) {
        platform::setRedactPrivate(c.redact);
        capture->clear();
        log.notice("w={} n={:03} c={} f={:.2f}", priv(word), priv(7), priv("text"), priv(1.5));
        EXPECT_EQ(capture->messages(), std::vector<std::string>{c.expected}) << "redact=" << c.redact;
    }
}

TEST_F(LogTest, EachLevelReachesTheSinkWithSubsystemAndCategory) {
    log.debug("d={}", 1);
    log.info("i={}", 2);
    log.notice("n={}", 3);
    log.error("e={}", 4);
    log.fault("f={}", 5);
    log.write(LogLevel::error, "preformatted {not a format}");
    Logger other{"com.kelvatrum.Parlowen", "notepad"};
    other.info("opened");

    auto lines = capture->lines();
    ASSERT_EQ(lines.size(), 7u);
    const std::pair<LogLevel, std::string> expected[] = {
        {LogLevel::debug, "d=1"},  {LogLevel::info, "i=2"},  {LogLevel::notice, "n=3"},
        {LogLevel::error, "e=4"},  {LogLevel::fault, "f=5"}, {LogLevel::error, "preformatted {not a format}"},
        {LogLevel::info, "opened"}};
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].level, expected[i].first) << i;
        EXPECT_EQ(lines[i].message, expected[i].second) << i;
        EXPECT_EQ(lines[i].subsystem, "com.kelvatrum.Parlowen") << i;
    }
    EXPECT_EQ(lines[0].category, "listen-later");
    EXPECT_EQ(lines[6].category, "notepad");
    EXPECT_EQ(platform::logLevelName(LogLevel::notice), "notice");
    EXPECT_EQ(platform::logLevelName(LogLevel::fault), "fault");
}

TEST_F(LogTest, CaptureSinkFindsLinesByTextLevelAndCategory) {
    log.info("upload started id={}", 7);
    log.error("upload failed id={} code={}", 7, 500);
    Logger other{"com.kelvatrum.Parlowen", "engine.tts.kokoro"};
    other.error("voice missing");

    ASSERT_TRUE(capture->find("upload").has_value());
    EXPECT_EQ(capture->find("upload")->message, "upload started id=7");
    EXPECT_EQ(capture->find("upload", LogLevel::error)->message, "upload failed id=7 code=500");
    EXPECT_FALSE(capture->contains("upload", LogLevel::fault));
    EXPECT_FALSE(capture->contains("nothing like this"));
    auto kokoro = capture->linesOfCategory("engine.tts.kokoro");
    ASSERT_EQ(kokoro.size(), 1u);
    EXPECT_EQ(kokoro[0].message, "voice missing");
    capture->clear();
    EXPECT_TRUE(capture->lines().empty());
}

struct Counted {
    std::atomic<int>* formats;
};

}  // namespace

template <>
struct fmt::formatter<Counted> : fmt::formatter<int> {
    template <class Ctx>
    auto format(const Counted& c, Ctx& ctx) const {
        ++*c.formats;
        return fmt::formatter<int>::format(1, ctx);
    }
};

namespace {

// Accepts only errors and faults.
class ErrorsOnlySink : public platform::LogSink {
public:
    bool accepts(LogLevel level) const override { return level >= LogLevel::error; }
    void write(const platform::LogRecord& r) override { messages.emplace_back(r.message); }
    std::vector<std::string> messages;
};

TEST_F(LogTest, MessagesNobodyTakesAreNotFormatted) {
    std::atomic<int> formats{0};
    auto errorsOnly = std::make_shared<ErrorsOnlySink>();
    platform::setLogSinks({errorsOnly});

    log.debug("value={}", Counted{&formats});
    EXPECT_FALSE(log.isEnabled(LogLevel::debug));
    EXPECT_EQ(formats.load(), 0);

    log.error("value={}", Counted{&formats});
    EXPECT_TRUE(log.isEnabled(LogLevel::error));
    EXPECT_EQ(formats.load(), 1);
    EXPECT_EQ(errorsOnly->messages, std::vector<std::string>{"value=1"});

    platform::setLogSinks({});
    log.fault("value={}", Counted{&formats});
    EXPECT_EQ(formats.load(), 1);
}

TEST(LogRegistry, ScopedCaptureRestoresThePreviousSinksAndSwitch) {
    auto before = platform::logSinks();
    bool stderrBefore = platform::standardErrorLogging();
    {
        platform::ScopedLogCapture outer;
        platform::setStandardErrorLogging(true);
        {
            platform::ScopedLogCapture inner;
            EXPECT_FALSE(platform::standardErrorLogging());
            Logger("s", "c").info("inner only");
            EXPECT_TRUE(inner->contains("inner only"));
        }
        EXPECT_TRUE(platform::standardErrorLogging());
        EXPECT_FALSE(outer->contains("inner only"));
        platform::setStandardErrorLogging(false);
    }
    EXPECT_EQ(platform::logSinks(), before);
    EXPECT_EQ(platform::standardErrorLogging(), stderrBefore);
}

// A sink that logs, or changes the sinks, from inside write() must not deadlock.
class ReentrantSink : public platform::LogSink {
public:
    void write(const platform::LogRecord& r) override {
        if (r.category != "reentrant") return;
        Logger("s", "nested").info("nested for {}", r.message);
        platform::removeLogSink(self.lock());
    }
    std::weak_ptr<LogSink> self;
};

class ThrowingSink : public platform::LogSink {
public:
    void write(const platform::LogRecord&) override { throw std::runtime_error("disk full"); }
};

TEST_F(LogTest, SinksMayLogOrUninstallThemselvesAndAThrowingSinkStopsNoOne) {
    auto reentrant = std::make_shared<ReentrantSink>();
    reentrant->self = reentrant;
    platform::addLogSink(std::make_shared<ThrowingSink>());
    platform::addLogSink(reentrant);

    Logger("s", "reentrant").info("first");
    Logger("s", "reentrant").info("second");

    EXPECT_EQ(capture->messages(), (std::vector<std::string>{"first", "nested for first", "second"}));
    EXPECT_EQ(platform::logSinks().size(), 2u);  // capture and the throwing sink
}

TEST_F(LogTest, LoggingFromManyThreadsWhileSinksChangeLosesNothing) {
    constexpr int kThreads = 6;
    constexpr int kPerThread = 400;
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        while (!stop.load()) {
            auto extra = std::make_shared<ErrorsOnlySink>();
            platform::addLogSink(extra);
            platform::setStandardErrorLogging(false);
            platform::removeLogSink(extra);
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&, t] {
            Logger worker("s", fmt::format("worker-{}", t));
            for (int i = 0; i < kPerThread; ++i) worker.info("n={}", i);
        });
    for (auto& w : writers) w.join();
    stop = true;
    churn.join();

    EXPECT_EQ(capture->lines().size(), size_t(kThreads * kPerThread));
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(capture->linesOfCategory(fmt::format("worker-{}", t)).size(), size_t(kPerThread)) << t;
}

// Points file descriptor 2 at a file for the test's lifetime.
class StandardErrorRedirect {
public:
    explicit StandardErrorRedirect(const std::filesystem::path& file) {
        std::fflush(stderr);
        saved_ = ::dup(2);
        int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~StandardErrorRedirect() {
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
    }

private:
    int saved_;
};

TEST_F(LogTest, StandardErrorGetsLinesOnlyWhileSwitchedOn) {
    testsupport::TempDir dir;
    auto file = dir / "stderr.txt";
    {
        StandardErrorRedirect redirect(file);
        log.info("before switch");
        platform::setStandardErrorLogging(true);
        log.error("upload failed code={} path={}", 500, priv(std::string("/secret")));
        platform::setStandardErrorLogging(false);
        log.info("after switch");
    }
    std::string text = readAll(file);
    EXPECT_EQ(text.find("before switch"), std::string::npos);
    EXPECT_EQ(text.find("after switch"), std::string::npos);
    // "HH:MM:SS.mmm error [subsystem:category] message", one line.
    ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_TRUE(text.ends_with(" error [com.kelvatrum.Parlowen:listen-later] upload failed code=500 "
                               "path=<private>\n"))
        << text;
    ASSERT_GE(text.size(), 12u);
    for (size_t i : {0, 1, 3, 4, 6, 7, 9, 10, 11}) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(text[i]))) << text;
    EXPECT_EQ(text.substr(2, 1) + text.substr(5, 1) + text.substr(8, 1), "::.");
    // The capture sink saw all three.
    EXPECT_EQ(capture->lines().size(), 3u);
}

TEST_F(LogTest, StandardErrorFromALevelUpTakesThatLevelAndAbove) {
    testsupport::TempDir dir;
    auto file = dir / "stderr.txt";
    {
        StandardErrorRedirect redirect(file);
        platform::setStandardErrorLogLevel(LogLevel::notice);
        EXPECT_EQ(platform::standardErrorLogLevel(), LogLevel::notice);
        log.info("routine");
        log.notice("launch version=1");
        log.fault("broken");
        platform::setStandardErrorLogLevel(std::nullopt);
        EXPECT_FALSE(platform::standardErrorLogging());
    }
    const std::string text = readAll(file);
    EXPECT_EQ(text.find("routine"), std::string::npos) << text;
    EXPECT_NE(text.find(" notice [com.kelvatrum.Parlowen:listen-later] launch version=1\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" fault [com.kelvatrum.Parlowen:listen-later] broken\n"), std::string::npos) << text;
}

TEST(ProgramLogging, StandardErrorStandsInForAMissingJournalAndMirrorsNoticesOnATerminal) {
    struct Case {
        bool journal, terminal, asked;
        std::optional<LogLevel> expected;
    };
    const Case cases[] = {
        {true, false, false, std::nullopt},       // a service or desktop launch: the journal alone
        {true, true, false, LogLevel::notice},    // started from a terminal
        {true, false, true, LogLevel::notice},    // scripts/run, output piped
        {false, false, false, LogLevel::info},    // no journal: standard error instead of nothing
        {false, true, true, LogLevel::info},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::programStandardErrorLevel(c.journal, c.terminal, c.asked), c.expected)
            << c.journal << c.terminal << c.asked;
}

TEST(ProgramLogging, TheJournalIsThereWhenItsSocketIs) {
    testsupport::TempDir dir;
    EXPECT_FALSE(platform::journalAvailable(dir / "missing"));
    std::fclose(std::fopen((dir / "file").c_str(), "w"));
    EXPECT_FALSE(platform::journalAvailable(dir / "file"));

    const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = (dir / "socket").string();
    ASSERT_LT(path.size(), sizeof address.sun_path) << path;
    std::copy(path.begin(), path.end(), address.sun_path);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_TRUE(platform::journalAvailable(dir / "socket"));
    ::close(fd);
}

}  // namespace
