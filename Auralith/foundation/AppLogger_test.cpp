#include "Auralith/foundation/AppLogger.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/log/CaptureSink.h"
#include "platform/testsupport/TempHome.h"

namespace auralith {
namespace {

// Points standard error at a file for its lifetime and gives back what was written.
class StandardErrorCapture {
public:
    explicit StandardErrorCapture(const std::filesystem::path& file) : file_(file) {
        const int fd = ::open(file.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_APPEND, 0600);
        saved_ = ::dup(STDERR_FILENO);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~StandardErrorCapture() { restore(); }
    std::string text() {
        restore();
        std::ifstream in(file_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    void restore() {
        if (saved_ < 0) return;
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        saved_ = -1;
    }
    std::filesystem::path file_;
    int saved_ = -1;
};

class AppLoggerTest : public ::testing::Test {
protected:
    testsupport::TempDir dir_;
    platform::ScopedLogCapture capture_;
};

TEST_F(AppLoggerTest, LevelsFromRawValues) {
    for (int raw = 0; raw <= 5; ++raw) EXPECT_EQ(static_cast<int>(*AppLogger::levelFromRawValue(raw)), raw);
    EXPECT_FALSE(AppLogger::levelFromRawValue(6));
    EXPECT_FALSE(AppLogger::levelFromRawValue(-1));
    const struct {
        AppLogger::Level level;
        const char* word;
    } words[] = {{AppLogger::Level::debug, "DEBUG"},   {AppLogger::Level::info, "INFO"},
                 {AppLogger::Level::notice, "NOTICE"}, {AppLogger::Level::warning, "WARN"},
                 {AppLogger::Level::error, "ERROR"},   {AppLogger::Level::fault, "FAULT"}};
    for (const auto& w : words) EXPECT_EQ(LogConsole::levelWord(w.level), w.word);
}

TEST_F(AppLoggerTest, DefaultSubsystemIsTakenWhenTheLoggerIsBuilt) {
    EXPECT_EQ(AppLogger::defaultSubsystem(), "com.corvexa");
    AppLogger before("DownloadUtils");
    AppLogger::setDefaultSubsystem("com.example.other");
    AppLogger after("DownloadUtils");
    AppLogger::setDefaultSubsystem("com.corvexa");
    EXPECT_EQ(before.subsystem(), "com.corvexa");
    EXPECT_EQ(after.subsystem(), "com.example.other");
    EXPECT_EQ(AppLogger(kTtsSubsystem, "KokoroSynthesizer").subsystem(), "com.auralith.tts");
}

TEST_F(AppLoggerTest, SystemLogLevelsAndTheStandardErrorMirror) {
    platform::setRedactPrivate(false);
    AppLogger logger("DownloadUtils");
    StandardErrorCapture err(dir_ / "stderr");
    logger.debug("d");
    logger.info("i");
    logger.notice("n");
    const std::string quiet = err.text();
    EXPECT_EQ(quiet, "");  // nothing below a warning reaches standard error

    StandardErrorCapture err2(dir_ / "stderr2");
    logger.warning("Models not found");
    logger.error("e");
    const std::string text = err2.text();
    platform::setRedactPrivate(true);

    const std::regex line(R"(\[\d\d:\d\d:\d\d\.\d{3}\] \[WARN\] \[Auralith\.DownloadUtils\] Models not found\n)"
                          R"(\[\d\d:\d\d:\d\d\.\d{3}\] \[ERROR\] \[Auralith\.DownloadUtils\] e\n)");
    EXPECT_TRUE(std::regex_match(text, line)) << text;

    const auto lines = capture_->lines();
    ASSERT_EQ(lines.size(), 5u);
    const platform::LogLevel expected[] = {platform::LogLevel::debug, platform::LogLevel::info,
                                           platform::LogLevel::notice, platform::LogLevel::error,
                                           platform::LogLevel::error};  // a warning is an error entry
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].level, expected[i]) << i;
        EXPECT_EQ(lines[i].subsystem, "com.corvexa");
        EXPECT_EQ(lines[i].category, "DownloadUtils");
    }
    EXPECT_EQ(lines[3].message, "Models not found");
}

TEST_F(AppLoggerTest, SystemLogEntriesArePrivateWhileRedactionIsOn) {
    AppLogger("Cat").info("secret path");
    EXPECT_EQ(capture_->lines().at(0).message, "<private>");
}

// A system log that takes nothing at fault level.
class NoFaults : public platform::LogSink {
public:
    bool accepts(platform::LogLevel level) const override { return level != platform::LogLevel::fault; }
    void write(const platform::LogRecord&) override { ++written; }
    int written = 0;
};

TEST_F(AppLoggerTest, AFaultIsMirroredEvenWhenTheSystemLogDropsIt) {
    auto sink = std::make_shared<NoFaults>();
    platform::setLogSinks({sink});
    StandardErrorCapture err(dir_ / "stderr");
    AppLogger(kTtsSubsystem, "KokoroSynthesizer").fault("model vanished");
    const std::string text = err.text();
    EXPECT_EQ(sink->written, 0);
    // The mirror names the category, never the subsystem.
    EXPECT_NE(text.find("] [FAULT] [Auralith.KokoroSynthesizer] model vanished\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("com.auralith.tts"), std::string::npos);
}

TEST_F(AppLoggerTest, FormatsTheLineWithLocalTime) {
    std::tm local{};
    local.tm_year = 124;
    local.tm_mon = 4;
    local.tm_mday = 7;
    local.tm_hour = 13;
    local.tm_min = 5;
    local.tm_sec = 9;
    local.tm_isdst = -1;
    const auto time = std::chrono::system_clock::from_time_t(std::mktime(&local)) + std::chrono::milliseconds(42);
    EXPECT_EQ(LogConsole::formatLine(AppLogger::Level::warning, "DownloadUtils", "a\nb", time),
              "[13:05:09.042] [WARN] [Auralith.DownloadUtils] a\nb\n");
}

TEST_F(AppLoggerTest, MultiLineMessagesFromManyThreadsStayWhole) {
    StandardErrorCapture err(dir_ / "stderr");
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
            AppLogger logger("T" + std::to_string(t));
            for (int k = 0; k < 100; ++k)
                logger.warning("first " + std::to_string(t) + "\nsecond " + std::to_string(t) + "\nthird " +
                               std::to_string(t));
        });
    }
    for (auto& th : threads) th.join();
    std::istringstream in(err.text());
    std::string a, b, c;
    int blocks = 0;
    while (std::getline(in, a)) {
        ASSERT_TRUE(std::getline(in, b) && std::getline(in, c));
        const auto t = a.substr(a.rfind(' ') + 1);
        ASSERT_NE(a.find("[Auralith.T" + t + "] first " + t), std::string::npos) << a;
        ASSERT_EQ(b, "second " + t);
        ASSERT_EQ(c, "third " + t);
        ++blocks;
    }
    EXPECT_EQ(blocks, 800);
}

// A non-blocking pipe as standard error takes 64 KiB at a time: the writer
// gets short writes and EAGAIN, and must still deliver the whole line.
TEST_F(AppLoggerTest, AShortWriteToStandardErrorIsCompleted) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK), 0);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(fds[1], STDERR_FILENO);
    ::close(fds[1]);

    std::string received;
    std::thread reader([&received, in = fds[0]] {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(in, buffer, sizeof buffer)) > 0) received.append(buffer, static_cast<std::size_t>(n));
    });
    const std::string message(300000, 'x');
    LogConsole::write(AppLogger::Level::error, "Big", message);
    ::dup2(saved, STDERR_FILENO);  // closes the pipe's last writer: the reader sees the end
    ::close(saved);
    reader.join();
    ::close(fds[0]);

    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.back(), '\n');
    EXPECT_NE(received.find("] [ERROR] [Auralith.Big] " + message + "\n"), std::string::npos);
    EXPECT_EQ(received.size(), LogConsole::formatLine(AppLogger::Level::error, "Big", message, {}).size());
}

}  // namespace
}  // namespace auralith
