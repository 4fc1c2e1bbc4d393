#pragma once

#include <deque>
#include <map>
#include <mutex>

#include "platform/clouddb/CloudDatabase.h"
#include "platform/runtime/Executor.h"

namespace platform {

// Test double of the cloud database: keeps records in memory, answers at once
// or after a scripted latency (slept on the caller's executor, so virtual time
// in tests), fails operations or single records on request, and records every
// call. Thread-safe.
class InMemoryCloudDatabase final : public CloudDatabase {
public:
    enum class Operation { save, deleteRecord, fetch, query };

    struct Call {
        Operation operation;
        std::vector<std::string> recordNames;  // saved, deleted or fetched names; none for a query
        std::optional<std::vector<std::string>> desiredKeys;
        std::optional<CloudQuery> query;
        std::optional<CloudZoneID> zone;
        std::size_t resultsLimit = 0;
    };

    static constexpr std::size_t kDefaultBatchSize = 100;

    Task<Result<std::vector<CloudRecordResult>>> saveRecords(std::vector<CloudRecord> records) override;
    Task<Status> deleteRecord(CloudRecordID recordID) override;
    Task<Result<std::vector<CloudRecordResult>>> fetchRecords(
        std::vector<CloudRecordID> recordIDs, std::optional<std::vector<std::string>> desiredKeys) override;
    Task<Result<CloudQueryResult>> queryRecords(CloudQuery query, std::optional<CloudZoneID> zone,
                                                std::optional<std::vector<std::string>> desiredKeys,
                                                std::size_t resultsLimit) override;

    // ---- Scripting
    // Every operation waits this long before it acts and answers.
    void setLatency(Duration latency);
    // The next operation of this kind fails as a whole with `error` (queued: call twice
    // for two failures). Nothing is changed by a failed operation.
    void failNext(Operation operation, Error error);
    // Every later save, fetch or query match of this record name fails for that record.
    void failRecord(const std::string& recordName, Error error);
    // How many records a query hands out at most in one batch.
    void setBatchSize(std::size_t size);
    // Puts a record into the store directly, as if another device had saved it.
    void insert(CloudRecord record);

    // ---- Inspection
    std::vector<Call> calls() const;
    std::optional<CloudRecord> stored(const CloudRecordID& recordID) const;
    std::vector<CloudRecord> storedRecords() const;

private:
    // Sleeps the latency; a failure here is a cancellation.
    Task<Status> wait();
    std::optional<Error> takeFailure(Operation operation);
    std::optional<Error> recordFailureLocked(const std::string& recordName) const;

    mutable std::mutex mutex_;
    std::map<CloudRecordID, CloudRecord> records_;
    std::map<Operation, std::deque<Error>> operationFailures_;
    std::map<std::string, Error> recordFailures_;
    std::vector<Call> calls_;
    Duration latency_{0};
    std::size_t batchSize_ = kDefaultBatchSize;
};

}  // namespace platform
