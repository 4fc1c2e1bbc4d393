#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/clouddb/CloudDatabase.h"

namespace platform {

// How every cloud database implementation matches, orders and trims records,
// so the double and the real store answer queries alike.

// Numbers compare by value across double and integer; other types only with
// their own kind. Nothing when the two cannot be compared.
std::optional<int> compareCloudValues(const CloudValue& a, const CloudValue& b);

// The record is of the query's type, in `zone`, and satisfies its predicate.
bool recordMatches(const CloudRecord& record, const CloudQuery& query, const CloudZoneID& zone);

// Strict weak order by the sort descriptors; records without a sort key go
// after those that have it, whatever the direction.
bool recordSortsBefore(const CloudRecord& a, const CloudRecord& b, const std::vector<CloudSortDescriptor>& sort);

// How many records one batch holds: the database's batch size, or fewer when
// the caller asks for fewer (kCloudMaximumResults asks for a whole batch).
std::size_t queryBatchLimit(std::size_t batchSize, std::size_t resultsLimit);

// The record with only `keys` (all of them when none are given).
CloudRecord projectRecord(const CloudRecord& record, const std::optional<std::vector<std::string>>& keys);

// The first asset key whose file is not a regular local file.
std::optional<std::string> missingAssetKey(const CloudRecord& record);

// The per-record failure for a saved record whose asset file is gone.
Error assetFileNotFoundError(const std::string& key);

}  // namespace platform
