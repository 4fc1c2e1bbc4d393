#pragma once

#include <filesystem>
#include <memory>

#include "platform/clouddb/CloudDatabase.h"
#include "platform/runtime/Executor.h"
#include "platform/values/XdgDirs.h"

namespace platform {

// The cloud database on Linux: one SQLite file, "CloudDatabase.sqlite", in the
// container's folder, shared by the application and the share extension (a
// write-ahead log and a busy time-out let both processes read and write at
// once). Saved asset files are copied into "Assets" beside it, and fetched
// records point at those copies. All SQLite work runs on `background`; the
// awaiting task resumes on its own executor.
class SqliteCloudDatabase final : public CloudDatabase {
public:
    static constexpr const char* kDatabaseFileName = "CloudDatabase.sqlite";
    static constexpr const char* kAssetsFolderName = "Assets";
    static constexpr std::size_t kDefaultBatchSize = 100;
    // How long one operation waits for the other process's write to end.
    static constexpr Duration kBusyTimeout = std::chrono::seconds(15);

    // <data home>/<container identifier>.
    static std::filesystem::path containerFolder(const XdgDirs& dirs, const std::string& containerIdentifier);

    // Nothing is opened or created until the first operation.
    SqliteCloudDatabase(Executor& background, std::filesystem::path folder,
                        std::size_t batchSize = kDefaultBatchSize);
    ~SqliteCloudDatabase() override;

    const std::filesystem::path& folder() const;
    std::filesystem::path databaseFile() const;

    Task<Result<std::vector<CloudRecordResult>>> saveRecords(std::vector<CloudRecord> records) override;
    Task<Status> deleteRecord(CloudRecordID recordID) override;
    Task<Result<std::vector<CloudRecordResult>>> fetchRecords(
        std::vector<CloudRecordID> recordIDs, std::optional<std::vector<std::string>> desiredKeys) override;
    Task<Result<CloudQueryResult>> queryRecords(CloudQuery query, std::optional<CloudZoneID> zone,
                                                std::optional<std::vector<std::string>> desiredKeys,
                                                std::size_t resultsLimit) override;

    struct Store;

private:
    Executor& background_;
    std::shared_ptr<Store> store_;
};

}  // namespace platform
