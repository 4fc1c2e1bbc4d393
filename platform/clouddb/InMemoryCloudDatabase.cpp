#include "platform/clouddb/InMemoryCloudDatabase.h"

#include "platform/clouddb/CloudQueryRules.h"

#include <algorithm>

namespace platform {

Task<Status> InMemoryCloudDatabase::wait() {
    Duration latency;
    {
        std::lock_guard lock(mutex_);
        latency = latency_;
    }
    if (latency <= Duration::zero()) co_return ok();
    co_return co_await sleepFor(latency);
}

std::optional<Error> InMemoryCloudDatabase::takeFailure(Operation operation) {
    std::lock_guard lock(mutex_);
    auto& queue = operationFailures_[operation];
    if (queue.empty()) return std::nullopt;
    Error e = std::move(queue.front());
    queue.pop_front();
    return e;
}

std::optional<Error> InMemoryCloudDatabase::recordFailureLocked(const std::string& recordName) const {
    auto it = recordFailures_.find(recordName);
    if (it == recordFailures_.end()) return std::nullopt;
    return it->second;
}

Task<Result<std::vector<CloudRecordResult>>> InMemoryCloudDatabase::saveRecords(std::vector<CloudRecord> records) {
    {
        std::lock_guard lock(mutex_);
        Call call{Operation::save, {}, std::nullopt, std::nullopt, std::nullopt, 0};
        for (const auto& r : records) call.recordNames.push_back(r.recordName());
        calls_.push_back(std::move(call));
    }
    if (auto waited = co_await wait(); !waited) co_return fail(waited.error());
    if (auto e = takeFailure(Operation::save)) co_return fail(*e);

    std::vector<CloudRecordResult> results;
    std::lock_guard lock(mutex_);
    for (auto& record : records) {
        const CloudRecordID id = record.recordID();
        if (auto e = recordFailureLocked(id.recordName)) {
            results.push_back({id, fail(*e)});
            continue;
        }
        if (auto key = missingAssetKey(record)) {
            results.push_back({id, fail(assetFileNotFoundError(*key))});
            continue;
        }
        auto it = records_.find(id);
        if (it == records_.end() || it->second.recordType() != record.recordType()) {
            it = records_.insert_or_assign(id, record).first;
        } else {
            for (const auto& [key, value] : record.values()) it->second.set(key, value);
        }
        results.push_back({id, it->second});
    }
    co_return results;
}

Task<Status> InMemoryCloudDatabase::deleteRecord(CloudRecordID recordID) {
    {
        std::lock_guard lock(mutex_);
        calls_.push_back({Operation::deleteRecord, {recordID.recordName}, std::nullopt, std::nullopt, std::nullopt, 0});
    }
    if (auto waited = co_await wait(); !waited) co_return fail(waited.error());
    if (auto e = takeFailure(Operation::deleteRecord)) co_return fail(*e);
    std::lock_guard lock(mutex_);
    if (records_.erase(recordID) == 0) co_return fail(cloudError(CloudErrorCode::unknownItem));
    co_return ok();
}

Task<Result<std::vector<CloudRecordResult>>> InMemoryCloudDatabase::fetchRecords(
    std::vector<CloudRecordID> recordIDs, std::optional<std::vector<std::string>> desiredKeys) {
    {
        std::lock_guard lock(mutex_);
        Call call{Operation::fetch, {}, desiredKeys, std::nullopt, std::nullopt, 0};
        for (const auto& id : recordIDs) call.recordNames.push_back(id.recordName);
        calls_.push_back(std::move(call));
    }
    if (auto waited = co_await wait(); !waited) co_return fail(waited.error());
    if (auto e = takeFailure(Operation::fetch)) co_return fail(*e);

    std::vector<CloudRecordResult> results;
    std::lock_guard lock(mutex_);
    for (const auto& id : recordIDs) {
        if (auto e = recordFailureLocked(id.recordName)) {
            results.push_back({id, fail(*e)});
            continue;
        }
        auto it = records_.find(id);
        if (it == records_.end())
            results.push_back({id, fail(cloudError(CloudErrorCode::unknownItem))});
        else
            results.push_back({id, projectRecord(it->second, desiredKeys)});
    }
    co_return results;
}

Task<Result<CloudQueryResult>> InMemoryCloudDatabase::queryRecords(CloudQuery query, std::optional<CloudZoneID> zone,
                                                                   std::optional<std::vector<std::string>> desiredKeys,
                                                                   std::size_t resultsLimit) {
    {
        std::lock_guard lock(mutex_);
        calls_.push_back({Operation::query, {}, desiredKeys, query, zone, resultsLimit});
    }
    if (auto waited = co_await wait(); !waited) co_return fail(waited.error());
    if (auto e = takeFailure(Operation::query)) co_return fail(*e);

    std::lock_guard lock(mutex_);
    const CloudZoneID inZone = zone.value_or(CloudZoneID::defaultZone());
    std::vector<const CloudRecord*> found;
    for (const auto& [id, record] : records_)
        if (recordMatches(record, query, inZone)) found.push_back(&record);
    std::stable_sort(found.begin(), found.end(), [&](const CloudRecord* a, const CloudRecord* b) {
        return recordSortsBefore(*a, *b, query.sortDescriptors);
    });

    const std::size_t limit = queryBatchLimit(batchSize_, resultsLimit);
    CloudQueryResult out;
    out.moreComing = found.size() > limit;
    if (found.size() > limit) found.resize(limit);
    for (const CloudRecord* r : found) {
        if (auto e = recordFailureLocked(r->recordName()))
            out.matchResults.push_back({r->recordID(), fail(*e)});
        else
            out.matchResults.push_back({r->recordID(), projectRecord(*r, desiredKeys)});
    }
    co_return out;
}

void InMemoryCloudDatabase::setLatency(Duration latency) {
    std::lock_guard lock(mutex_);
    latency_ = latency;
}

void InMemoryCloudDatabase::failNext(Operation operation, Error error) {
    std::lock_guard lock(mutex_);
    operationFailures_[operation].push_back(std::move(error));
}

void InMemoryCloudDatabase::failRecord(const std::string& recordName, Error error) {
    std::lock_guard lock(mutex_);
    recordFailures_.insert_or_assign(recordName, std::move(error));
}

void InMemoryCloudDatabase::setBatchSize(std::size_t size) {
    std::lock_guard lock(mutex_);
    batchSize_ = std::max<std::size_t>(size, 1);
}

void InMemoryCloudDatabase::insert(CloudRecord record) {
    std::lock_guard lock(mutex_);
    CloudRecordID id = record.recordID();
    records_.insert_or_assign(std::move(id), std::move(record));
}

std::vector<InMemoryCloudDatabase::Call> InMemoryCloudDatabase::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::optional<CloudRecord> InMemoryCloudDatabase::stored(const CloudRecordID& recordID) const {
    std::lock_guard lock(mutex_);
    auto it = records_.find(recordID);
    if (it == records_.end()) return std::nullopt;
    return it->second;
}

std::vector<CloudRecord> InMemoryCloudDatabase::storedRecords() const {
    std::lock_guard lock(mutex_);
    std::vector<CloudRecord> out;
    for (const auto& [id, r] : records_) out.push_back(r);
    return out;
}

}  // namespace platform
