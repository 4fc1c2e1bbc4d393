#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/clouddb/CloudRecord.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/Task.h"

namespace platform {

// Errors of the cloud database: domain "clouddb". The numbers follow the
// codes the rest of the system compares against (unknownItem is 11).
inline constexpr const char* kCloudErrorDomain = "clouddb";
enum class CloudErrorCode {
    internalError = 1,
    networkUnavailable = 3,
    networkFailure = 4,
    serviceUnavailable = 6,
    notAuthenticated = 9,
    permissionFailure = 10,
    unknownItem = 11,  // the record does not exist
    invalidArguments = 12,
    serverRejectedRequest = 15,
    assetFileNotFound = 16,  // a saved asset's file is gone
    quotaExceeded = 25,
};

// An error of `code`; an empty description takes the code's standard text.
Error cloudError(CloudErrorCode code, std::string description = {});
bool isCloudError(const Error& error, CloudErrorCode code);

// The outcome for one record of a save, fetch or query.
struct CloudRecordResult {
    CloudRecordID recordID;
    Result<CloudRecord> result;
};

struct CloudSortDescriptor {
    std::string key;
    bool ascending = true;
};

// Records of `recordType` whose `predicate` key equals its value (all of them
// when there is no predicate), in the order of the sort descriptors.
struct CloudQuery {
    struct Equals {
        std::string key;
        CloudValue value;
    };
    std::string recordType;
    std::optional<Equals> predicate;
    std::vector<CloudSortDescriptor> sortDescriptors;
};

struct CloudQueryResult {
    std::vector<CloudRecordResult> matchResults;
    // More records match than this batch holds.
    bool moreComing = false;
};

// Asks for as many results as the database hands out in one batch.
inline constexpr std::size_t kCloudMaximumResults = 0;

// The user's private cloud database, shared by the application and the share
// extension. Every operation can fail as a whole (network, account) or, where
// it touches several records, per record. Operations are not atomic.
class CloudDatabase {
public:
    virtual ~CloudDatabase() = default;

    // Saves each record, overwriting whatever the stored record holds under the
    // keys the saved record carries; keys it does not carry keep their stored
    // values. Asset files are read when the operation runs: a missing file fails
    // that record with assetFileNotFound. Per-record results come in input order.
    virtual Task<Result<std::vector<CloudRecordResult>>> saveRecords(std::vector<CloudRecord> records) = 0;

    // Deletes one record; unknownItem when it does not exist.
    virtual Task<Status> deleteRecord(CloudRecordID recordID) = 0;

    // Fetches records by identifier, with only `desiredKeys` when given.
    // A record that does not exist is a per-record unknownItem failure.
    virtual Task<Result<std::vector<CloudRecordResult>>> fetchRecords(
        std::vector<CloudRecordID> recordIDs, std::optional<std::vector<std::string>> desiredKeys) = 0;

    // The first batch of records matching `query` in `zone` (the default zone when
    // none is given), at most `resultsLimit` of them (kCloudMaximumResults: the
    // batch size of the database), with only `desiredKeys` when given.
    virtual Task<Result<CloudQueryResult>> queryRecords(CloudQuery query, std::optional<CloudZoneID> zone,
                                                        std::optional<std::vector<std::string>> desiredKeys,
                                                        std::size_t resultsLimit) = 0;
};

}  // namespace platform
