#pragma once

// The application's side of the shared cloud database, for the tests that put
// a second writer (a helper process, the share extension) beside it.

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Parlowen/listenlater/queue/sync/QueueCloudKitBridge.h"
#include "platform/clouddb/SqliteCloudDatabase.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/runtime/WorkerPool.h"
#include "platform/testsupport/TempHome.h"
#include "platform/values/XdgDirs.h"

namespace parlowen::queuesynctest {

// The queue, its push-hash index and the bridge over the real SQLite store in
// a temporary data home, on a manual main executor. Records the bridge hands
// over are kept in `pending` and queued, as the intake does.
struct ApplicationSide {
    platform::ManualExecutor main;
    platform::WorkerPool pool{3};
    testsupport::TempDir home;
    platform::Environment env =
        platform::Environment().with("HOME", home.path().string()).with("XDG_DATA_HOME", (home / "data").string());
    // Where every process of the user opens the shared database.
    std::filesystem::path container = platform::SqliteCloudDatabase::containerFolder(
        platform::XdgDirs(env), QueueCloudKitBridge::kDefaultContainerIdentifier);
    platform::FixedClock clock{platform::Date::fromTimeIntervalSinceReferenceDate(700000000)};
    RenderProgressStore progress{main};
    ListenLaterCache cache{home / "caches"};
    QueueService store{QueueService::Dependencies{main, clock, progress, cache, {}}, home / "queue.json"};
    QueueDedupIndex index{pool, home / "index.json"};
    std::vector<QueueItem> pending;
    QueueCloudKitBridge bridge{
        QueueCloudKitBridge::Dependencies{main, env,
                                          [this](const std::string& id) {
                                              return std::make_shared<platform::SqliteCloudDatabase>(
                                                  pool, platform::SqliteCloudDatabase::containerFolder(
                                                            platform::XdgDirs(env), id));
                                          }},
        store,
        QueueCloudKitBridge::kDefaultContainerIdentifier,
        [this](QueueItem item) {
            pending.push_back(item);
            store.ingest(std::move(item));
        },
        [](QueueItem) {},
        [] { return std::string("kokoro"); },
        index};

    void runToEnd(platform::Task<void> task) {
        auto h = platform::spawn(main, std::move(task));
        ASSERT_TRUE(main.runUntil([&] { return h.done(); }, std::chrono::seconds(20)));
    }
};

}  // namespace parlowen::queuesynctest
