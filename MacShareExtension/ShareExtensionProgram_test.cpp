// The built program on a real display and the real SQLite database, with the
// application's queue bridge reading what it saved.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Parlowen/listenlater/queue/sync/QueueSyncTestSupport.h"
#include "platform/log/CaptureSink.h"
#include "platform/log/LogSink.h"
#include "platform/runtime/Environment.h"
#include "platform/testsupport/LoopbackServer.h"
#include "platform/testsupport/Process.h"
#include "platform/testsupport/Services.h"

namespace parlowen {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
namespace fs = std::filesystem;

platform::Environment quiet() { return platform::Environment::fromProcess().without("PARLOWEN_LOG_STDERR"); }

testsupport::RunResult run(const std::vector<std::string>& arguments, const platform::Environment& env = quiet()) {
    std::vector<std::string> argv{PARLOWEN_SHARE_EXTENSION};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return testsupport::runProcess(argv, env);
}

TEST(ShareExtensionProgram, AnswersHelpVersionAndBadOptions) {
    const auto help = run({"--help"});
    EXPECT_EQ(help.exitCode, 0) << help.describe();
    EXPECT_THAT(help.out, HasSubstr("Usage: ParlowenMacShareExtension "));
    EXPECT_THAT(help.out, HasSubstr("journalctl -t ParlowenMacShareExtension"));

    const auto version = run({"--version"});
    EXPECT_EQ(version.exitCode, 0) << version.describe();
    EXPECT_THAT(version.out, MatchesRegex("ParlowenMacShareExtension [0-9]+\\.[0-9]+\\.[0-9]+\n"));

    const auto bad = run({"--frob", "https://example.com/a"});
    EXPECT_EQ(bad.exitCode, 2) << bad.describe();
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err,
              "ParlowenMacShareExtension: unknown option '--frob'\n"
              "Try 'ParlowenMacShareExtension --help' for more information.\n");
}

// A share on a display, in a temporary XDG home, with the application's
// bridge over the same database file.
class ShareExtensionEndToEnd : public ::testing::Test, protected queuesynctest::ApplicationSide {
protected:
    void SetUp() override {
        PARLOWEN_REQUIRE_OR_SKIP(display.start());
        server.route("GET", "/article", testsupport::LoopbackReply::text(200, "<html><p>An article.</p></html>"));
    }

    platform::Environment programEnvironment() const {
        return display.environment()
            .with("HOME", home.path().string())
            .with("XDG_DATA_HOME", (home / "data").string())
            .with("XDG_CONFIG_HOME", (home / "config").string())
            .with("XDG_CACHE_HOME", (home / "cache").string())
            .with("PARLOWEN_LOG_STDERR", "1")
            .without("QT_QPA_PLATFORM");
    }

    struct Share {
        testsupport::ExitStatus status;
        std::string log;
        bool sawTitle = false;
        std::chrono::milliseconds shownFor{0};
    };
    // Runs the program and watches its window's title (which follows the panel)
    // for `expectedTitle`; reports how long the program stayed after that.
    Share share(const std::string& argument, const std::string& expectedTitle) {
        Share result;
        auto program = testsupport::Process::spawn({PARLOWEN_SHARE_EXTENSION, argument}, programEnvironment(),
                                                   {.outputFile = home / "share.log"});
        EXPECT_TRUE(program) << program.error().description;
        if (!program) return result;
        const auto xdotool = [&] {
            return testsupport::runProcess({"xdotool", "search", "--name", expectedTitle}, display.environment(),
                                           {.timeout = 5s});
        };
        result.sawTitle = testsupport::waitUntil([&] { return xdotool().ok() || !program->running(); }, 20s) &&
                          program->running();
        const auto seen = std::chrono::steady_clock::now();
        EXPECT_TRUE(program->waitForExit(20s));
        result.shownFor = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - seen);
        result.status = program->exitStatus().value_or(testsupport::ExitStatus{});
        result.log = program->output();
        return result;
    }

    testsupport::XvfbDisplay display;
    testsupport::LoopbackServer server;
    platform::ScopedLogCapture logs;
};

TEST_F(ShareExtensionEndToEnd, ALinkIsSavedAndTheApplicationsBridgeTakesItUp) {
    const std::string link = server.url("/article");
    const auto shared = share(link, "Added to Quon");
    EXPECT_TRUE(shared.sawTitle) << shared.log;
    EXPECT_EQ(shared.status.code, 0) << shared.log;
    EXPECT_GE(shared.shownFor, 1000ms);
    EXPECT_LT(shared.shownFor, 10s);
    EXPECT_THAT(shared.log, HasSubstr("queued pendingRender item "));

    runToEnd(bridge.refreshPendingItems());
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].sourceURL->absoluteString(), link);
    EXPECT_EQ(pending[0].title, "127.0.0.1");
    EXPECT_EQ(pending[0].state, QueueItem::State::pendingRender);
    EXPECT_THAT(shared.log, HasSubstr("queued pendingRender item " + pending[0].id.uuidString()));
}

TEST_F(ShareExtensionEndToEnd, APlainWordFailsAfterTheLongerPause) {
    const auto shared = share("word", "Couldn't add to Quon: Couldn't read a URL from the share.");
    EXPECT_TRUE(shared.sawTitle) << shared.log;
    EXPECT_EQ(shared.status.code, 1) << shared.log;
    EXPECT_GE(shared.shownFor, 2000ms);
    runToEnd(bridge.refreshPendingItems());
    EXPECT_TRUE(pending.empty());
}

TEST_F(ShareExtensionEndToEnd, AnUnwritableDatabaseFolderShowsTheSaveError) {
    if (geteuid() == 0) {
        // Root writes through permissions: stand a file where the container folder goes.
        fs::create_directories(home / "data");
        std::ofstream(home / "data" / QueueCloudKitBridge::kDefaultContainerIdentifier) << "not a folder";
    } else {
        fs::create_directories(home / "data");
        fs::permissions(home / "data", fs::perms::owner_read | fs::perms::owner_exec);
    }
    const auto shared = share(server.url("/article"), "Couldn't add to Quon: ");
    EXPECT_TRUE(shared.sawTitle) << shared.log;
    EXPECT_EQ(shared.status.code, 1) << shared.log;
    EXPECT_THAT(shared.log, HasSubstr("queue failed: "));
    fs::permissions(home / "data", fs::perms::owner_all);
}

}  // namespace
}  // namespace parlowen
