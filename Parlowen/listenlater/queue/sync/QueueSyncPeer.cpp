// Another writer of the shared cloud database, for the tests that need a second
// process (the share extension stands like this beside the application):
//
//   queue_sync_peer save-pending <folder> <uuid> <url>   queue a shared link
//   queue_sync_peer read <folder> <uuid>                 print the record as JSON
//   queue_sync_peer hammer <folder> <first> <count>      save <count> records one by one
//
// Exits 0 on success; a failure is printed to standard error with exit code 1.
#include <cstdio>
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

#include "Parlowen/model/QueueItem.h"
#include "platform/clouddb/SqliteCloudDatabase.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/values/Files.h"

using namespace parlowen;
using namespace platform;

namespace {

template <class T>
T runNow(ManualExecutor& ex, Task<T> task) {
    auto h = spawn(ex, std::move(task));
    while (!h.done()) ex.runUntilIdle();
    return h.value();
}

int failWith(const std::string& what) {
    std::cerr << what << "\n";
    return 1;
}

QueueItem pendingLink(const Uuid& id, const std::string& url) {
    return QueueItem::create({.id = id,
                              .text = "",
                              .title = url,
                              .sourceApp = "queue_sync_peer",
                              .sourceURL = Url::parse(url),
                              .voiceEngine = "",
                              .voiceID = "",
                              .state = QueueItem::State::pendingRender,
                              .createdAt = Date::now()});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return failWith("usage: queue_sync_peer save-pending|read|hammer <folder> ...");
    const std::string command = argv[1];
    ManualExecutor ex;
    SqliteCloudDatabase db(ex, argv[2]);

    if (command == "save-pending" && argc == 5) {
        auto id = Uuid::fromString(argv[3]);
        if (!id) return failWith("bad id");
        std::vector<CloudRecord> records{pendingLink(*id, argv[4]).makeRecord(CloudZoneID::defaultZone())};
        auto saved = runNow(ex, db.saveRecords(std::move(records)));
        if (!saved) return failWith(saved.error().description);
        if (!(*saved)[0].result) return failWith((*saved)[0].result.error().description);
        std::cout << "saved\n";
        return 0;
    }
    if (command == "read" && argc == 4) {
        auto fetched = runNow(ex, db.fetchRecords({CloudRecordID{argv[3], CloudZoneID::defaultZone()}}, std::nullopt));
        if (!fetched) return failWith(fetched.error().description);
        if (!(*fetched)[0].result) return failWith((*fetched)[0].result.error().description);
        auto item = QueueItem::fromRecord(*(*fetched)[0].result);
        if (!item) return failWith("not a queue item");
        nlohmann::json out = item->toJson();
        if (item->audioFileURL) {
            auto bytes = readFile(item->audioFileURL->filePath());
            out["audioContent"] = bytes ? toString(*bytes) : std::string("<unreadable>");
        }
        std::cout << out.dump() << "\n";
        return 0;
    }
    if (command == "hammer" && argc == 5) {
        const int first = std::stoi(argv[3]);
        const int count = std::stoi(argv[4]);
        for (int i = first; i < first + count; ++i) {
            char name[40];
            std::snprintf(name, sizeof name, "0000AAAA-0000-4000-8000-%012d", i);
            std::vector<CloudRecord> records{pendingLink(*Uuid::fromString(name), "https://example.com/")
                                                 .makeRecord(CloudZoneID::defaultZone())};
            auto saved = runNow(ex, db.saveRecords(std::move(records)));
            if (!saved) return failWith(saved.error().description);
            if (!(*saved)[0].result) return failWith((*saved)[0].result.error().description);
            CloudQuery query{"QueueItem", CloudQuery::Equals{"state", std::string("pendingRender")}, {}};
            auto found = runNow(ex, db.queryRecords(query, std::nullopt, std::vector<std::string>{"state"}, 5));
            if (!found) return failWith(found.error().description);
        }
        std::cout << "hammered\n";
        return 0;
    }
    return failWith("unknown command " + command);
}
