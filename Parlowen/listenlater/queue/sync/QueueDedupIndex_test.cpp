#include <gtest/gtest.h>

#include <fstream>

#include <nlohmann/json.hpp>

#include "Parlowen/listenlater/queue/sync/QueueDedupIndex.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/runtime/WorkerPool.h"
#include "platform/testsupport/Process.h"
#include "platform/testsupport/TempHome.h"
#include "platform/values/Files.h"

using namespace parlowen;
using platform::Uuid;
namespace fs = std::filesystem;

namespace {

const Uuid kA = *Uuid::fromString("0A1B2C3D-0000-4000-8000-00000000000A");
const Uuid kB = *Uuid::fromString("0A1B2C3D-0000-4000-8000-00000000000B");
constexpr std::uint64_t kMax = 18446744073709551615ull;

class QueueDedupIndexTest : public ::testing::Test {
protected:
    platform::ManualExecutor ex;
    testsupport::TempDir dir;
    platform::ScopedLogCapture logs;
    fs::path file = dir / "queue-dedup-index.json";

    void writeFile(const std::string& text) { ASSERT_TRUE(platform::writeFileAtomically(file, text)); }
    std::string fileText() const {
        auto bytes = platform::readFile(file);
        return bytes ? platform::toString(*bytes) : std::string("<no file>");
    }

    template <class T>
    T run(platform::Task<T> task) {
        auto h = platform::spawn(ex, std::move(task));
        ex.runUntilIdle();
        EXPECT_TRUE(h.done());
        if constexpr (!std::is_void_v<T>) return h.value();
    }

    std::map<Uuid, std::uint64_t> contents(QueueDedupIndex& index) {
        std::map<Uuid, std::uint64_t> out;
        for (const Uuid& id : run(index.knownIDs())) out[id] = *run(index.hash(id));
        return out;
    }
};

TEST_F(QueueDedupIndexTest, ReadingTheFile) {
    const std::string decodeFailed = "dedup index decode failed, starting fresh: ";
    struct Case {
        const char* name;
        std::optional<std::string> file;
        std::map<Uuid, std::uint64_t> expected;
        std::vector<std::string> lines;  // a prefix of each line
    };
    const Case cases[] = {
        {"no file", std::nullopt, {}, {}},
        {"empty items", R"({"items":{}})", {}, {"loaded 0 dedup entries from disk"}},
        {"hash as a JSON number", R"({"items":{"0A1B2C3D-0000-4000-8000-00000000000A":"1","0A1B2C3D-0000-4000-8000-00000000000B":2}})",
         {}, {decodeFailed}},
        {"not JSON", "{items", {}, {decodeFailed}},
        {"no items", R"({"entries":{}})", {}, {decodeFailed}},
        {"items not an object", R"({"items":[]})", {}, {decodeFailed}},
        {"lower-case key, other members ignored",
         R"({"version":2,"items":{"0a1b2c3d-0000-4000-8000-00000000000a":"7"}})", {{kA, 7}},
         {"loaded 1 dedup entries from disk"}},
        {"bad members dropped one by one",
         R"({"items":{"0A1B2C3D-0000-4000-8000-00000000000A":"18446744073709551615",
                      "0A1B2C3D-0000-4000-8000-00000000000B":"18446744073709551616",
                      "not-a-uuid":"5","0A1B2C3D-0000-4000-8000-00000000000C":"-1",
                      "0A1B2C3D-0000-4000-8000-00000000000D":"","0A1B2C3D-0000-4000-8000-00000000000E":"0x10"}})",
         {{kA, kMax}}, {"loaded 1 dedup entries from disk"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(file);
        if (c.file) writeFile(*c.file);
        logs->clear();
        QueueDedupIndex index(ex, file);
        EXPECT_EQ(contents(index), c.expected);
        const auto messages = logs->messages();
        ASSERT_EQ(messages.size(), c.lines.size());
        for (std::size_t i = 0; i < messages.size(); ++i) EXPECT_EQ(messages[i].rfind(c.lines[i], 0), 0u) << messages[i];
        // Read once: later calls neither read again nor log again.
        run(index.knownIDs());
        EXPECT_EQ(logs->messages().size(), c.lines.size());
        if (c.file) {
            EXPECT_EQ(fileText(), *c.file);  // reading never rewrites
        }
    }
}

TEST_F(QueueDedupIndexTest, WritesTheWholeIndexInUpperCaseAsDecimalStrings) {
    writeFile(R"({"version":2,"items":{"0a1b2c3d-0000-4000-8000-00000000000a":"18446744073709551615"}})");
    QueueDedupIndex index(ex, file);
    run(index.setHash(0, kB));
    EXPECT_EQ(fileText(),
              R"({"items":{"0A1B2C3D-0000-4000-8000-00000000000A":"18446744073709551615","0A1B2C3D-0000-4000-8000-00000000000B":"0"}})");

    QueueDedupIndex reread(ex, file);
    EXPECT_EQ(contents(reread), (std::map<Uuid, std::uint64_t>{{kA, kMax}, {kB, 0}}));
}

TEST_F(QueueDedupIndexTest, SetHashAlwaysWritesAndRemoveOnlyWhenSomethingWent) {
    QueueDedupIndex index(ex, file);
    run(index.remove(kA));
    EXPECT_FALSE(fs::exists(file));

    run(index.setHash(5, kA));
    ASSERT_TRUE(fs::exists(file));
    fs::remove(file);
    run(index.setHash(5, kA));  // unchanged, written again
    EXPECT_TRUE(fs::exists(file));

    fs::remove(file);
    run(index.remove(kB));
    EXPECT_FALSE(fs::exists(file));
    run(index.remove(kA));
    EXPECT_EQ(fileText(), R"({"items":{}})");
}

TEST_F(QueueDedupIndexTest, AnUndecodableFileStaysUntilTheFirstChange) {
    writeFile("garbage");
    QueueDedupIndex index(ex, file);
    EXPECT_TRUE(run(index.knownIDs()).empty());
    EXPECT_EQ(fileText(), "garbage");
    run(index.setHash(9, kA));
    EXPECT_EQ(fileText(), R"({"items":{"0A1B2C3D-0000-4000-8000-00000000000A":"9"}})");
}

TEST_F(QueueDedupIndexTest, AFailedWriteIsLoggedAndMemoryKeepsTheChange) {
    std::ofstream(dir / "blocker") << "a file where the folder should be";
    QueueDedupIndex index(ex, dir / "blocker" / "queue-dedup-index.json");
    run(index.setHash(3, kA));
    ASSERT_TRUE(logs->find("dedup index write failed: ", platform::LogLevel::error)) << ::testing::PrintToString(logs->messages());
    EXPECT_EQ(run(index.hash(kA)), 3u);
}

// Real threads: writes run on the pool while the next changes arrive, and must
// still reach the disk in call order.
TEST_F(QueueDedupIndexTest, QuickChangesReachTheDiskInCallOrder) {
    platform::WorkerPool pool(4);
    QueueDedupIndex index(pool, file);
    auto h = platform::spawn(ex, [](QueueDedupIndex& idx) -> platform::Task<void> {
        for (std::uint64_t i = 1; i <= 60; ++i) co_await idx.setHash(i, kA);
        co_await idx.setHash(1000, kB);
    }(index));
    ASSERT_TRUE(ex.runUntil([&] { return h.done(); }));
    const std::string last =
        R"({"items":{"0A1B2C3D-0000-4000-8000-00000000000A":"60","0A1B2C3D-0000-4000-8000-00000000000B":"1000"}})";
    EXPECT_TRUE(testsupport::waitUntil([&] { return fileText() == last; }, std::chrono::seconds(5))) << fileText();
}

TEST_F(QueueDedupIndexTest, TheDefaultLocationIsCreatedInTheDataHomeOrTheTemporaryFolder) {
    const auto env = platform::Environment().with("HOME", (dir / "home").string())
                         .with("XDG_DATA_HOME", (dir / "data").string())
                         .with("TMPDIR", (dir / "tmp").string());
    const fs::path url = QueueDedupIndex::defaultFileURL(env);
    EXPECT_EQ(url, dir / "data" / "com.kelvatrum.Parlowen" / "queue-dedup-index.json");
    EXPECT_TRUE(fs::is_directory(url.parent_path()));

    std::ofstream(dir / "plain-file") << "x";
    fs::create_directories(dir / "tmp");
    const fs::path fallback = QueueDedupIndex::defaultFileURL(env.with("XDG_DATA_HOME", (dir / "plain-file" / "data").string()));
    EXPECT_EQ(fallback, dir / "tmp" / "com.kelvatrum.Parlowen" / "queue-dedup-index.json");
    EXPECT_TRUE(fs::is_directory(fallback.parent_path()));
}

}  // namespace
