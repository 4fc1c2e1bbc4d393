#include "platform/clouddb/SqliteCloudDatabase.h"

#include <sqlite3.h>

#include <algorithm>
#include <mutex>
#include <set>

#include <fmt/format.h>

#include "platform/clouddb/CloudQueryRules.h"
#include "platform/values/Uuid.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

// How a value is kept in the "kind" column.
enum Kind : int { kString = 0, kDouble = 1, kInteger = 2, kDate = 3, kAsset = 4 };

// Busy and locked mean the other process held the file longer than the time-out.
Error sqliteFailure(int rc, std::string description) {
    const int primary = rc & 0xff;
    const CloudErrorCode code = (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
                                    ? CloudErrorCode::serviceUnavailable
                                    : CloudErrorCode::internalError;
    return cloudError(code, std::move(description));
}

Error sqliteError(sqlite3* db, int rc, std::string_view what) {
    const char* message = db ? sqlite3_errmsg(db) : nullptr;
    return sqliteFailure(rc, fmt::format("{}: {}", what, message ? message : sqlite3_errstr(rc)));
}

class Statement {
public:
    Statement(sqlite3* db, std::string_view sql) : db_(db) {
        rc_ = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Status prepared() const {
        if (rc_ != SQLITE_OK) return fail(sqliteError(db_, rc_, "prepare"));
        return ok();
    }
    void bind(int i, std::string_view text) {
        sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void bind(int i, double d) { sqlite3_bind_double(stmt_, i, d); }
    void bind(int i, std::int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
    void bindName(const CloudRecordID& id, int first = 1) {
        bind(first, id.zoneID.zoneName);
        bind(first + 1, id.zoneID.ownerName);
        bind(first + 2, id.recordName);
    }
    // SQLITE_ROW or SQLITE_DONE; anything else is returned as an error.
    Result<bool> step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        return fail(sqliteError(db_, rc, "step"));
    }
    Status run() {
        auto r = step();
        if (!r) return fail(r.error());
        return ok();
    }
    std::string text(int column) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column))) : std::string();
    }
    int integer(int column) const { return sqlite3_column_int(stmt_, column); }
    std::int64_t int64(int column) const { return sqlite3_column_int64(stmt_, column); }
    double real(int column) const { return sqlite3_column_double(stmt_, column); }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_OK;
};

Status exec(sqlite3* db, const char* sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &message);
    if (rc == SQLITE_OK) return ok();
    std::string text = message ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    return fail(sqliteFailure(rc, std::move(text)));
}

// Rolls back unless committed.
class Transaction {
public:
    Transaction(sqlite3* db, bool write) : db_(db) {
        // A writer takes the write lock at once, so the busy time-out covers it;
        // a read transaction upgraded later would fail without waiting.
        began_ = exec(db, write ? "BEGIN IMMEDIATE" : "BEGIN");
        open_ = began_.has_value();
    }
    ~Transaction() {
        if (open_) (void)exec(db_, "ROLLBACK");
    }
    const Status& began() const { return began_; }
    Status commit() {
        auto s = exec(db_, "COMMIT");
        if (s) open_ = false;
        return s;
    }

private:
    sqlite3* db_;
    Status began_;
    bool open_ = false;
};

// A stored asset name is one plain file name inside the assets folder; the
// file could have been written by another program, so anything else is ignored.
bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string assetExtension(const fs::path& source) {
    std::string ext = source.extension().string();
    if (ext.size() < 2 || ext.size() > 12) return {};
    for (std::size_t i = 1; i < ext.size(); ++i) {
        const char c = ext[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return {};
    }
    return ext;
}

std::string freshAssetName(const fs::path& source) {
    std::string name = Uuid::random().uuidString();
    std::erase(name, '-');
    return name + assetExtension(source);
}

// The stored copies a loaded record's assets point at; with `only`, just those
// under the keys it carries.
std::vector<std::string> assetFileNames(const CloudRecord& stored, const CloudRecord* only = nullptr) {
    std::vector<std::string> names;
    for (const auto& [key, value] : stored.values()) {
        const auto* asset = std::get_if<CloudAsset>(&value);
        if (asset && (!only || only->contains(key))) names.push_back(asset->fileURL.filePath().filename().string());
    }
    return names;
}

}  // namespace

struct SqliteCloudDatabase::Store {
    fs::path folder;
    std::size_t batchSize;
    std::mutex mutex;
    sqlite3* db = nullptr;

    Store(fs::path f, std::size_t batch) : folder(std::move(f)), batchSize(std::max<std::size_t>(batch, 1)) {}
    ~Store() {
        if (db) sqlite3_close_v2(db);
    }

    fs::path assetsFolder() const { return folder / kAssetsFolderName; }

    Status openLocked() {
        if (db) return ok();
        std::error_code ec;
        fs::create_directories(assetsFolder(), ec);
        if (ec)
            return fail(cloudError(CloudErrorCode::internalError,
                                   fmt::format("Cannot create \"{}\": {}", assetsFolder().string(), ec.message())));
        const fs::path file = folder / kDatabaseFileName;
        sqlite3* handle = nullptr;
        const int rc = sqlite3_open_v2(file.c_str(), &handle,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) {
            Error e = sqliteError(handle, rc, "open " + file.string());
            sqlite3_close_v2(handle);
            return fail(e);
        }
        sqlite3_busy_timeout(handle, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(kBusyTimeout).count()));
        auto setUp = [&]() -> Status {
            if (auto s = exec(handle, "PRAGMA journal_mode=WAL"); !s) return s;
            if (auto s = exec(handle, "PRAGMA synchronous=NORMAL"); !s) return s;
            Transaction tx(handle, true);
            if (!tx.began()) return tx.began();
            if (auto s = exec(handle,
                              "CREATE TABLE IF NOT EXISTS records("
                              " zone TEXT NOT NULL, owner TEXT NOT NULL, name TEXT NOT NULL, type TEXT NOT NULL,"
                              " PRIMARY KEY(zone, owner, name));"
                              "CREATE TABLE IF NOT EXISTS record_values("
                              " zone TEXT NOT NULL, owner TEXT NOT NULL, name TEXT NOT NULL, key TEXT NOT NULL,"
                              " kind INTEGER NOT NULL, value,"
                              " PRIMARY KEY(zone, owner, name, key));"
                              "CREATE INDEX IF NOT EXISTS record_values_by_key ON record_values(key, value);");
                !s)
                return s;
            return tx.commit();
        };
        if (auto s = setUp(); !s) {
            sqlite3_close_v2(handle);
            return s;
        }
        db = handle;
        return ok();
    }

    std::optional<CloudValue> decode(const Statement& st, int kindColumn, int valueColumn) const {
        switch (st.integer(kindColumn)) {
            case kString: return CloudValue(st.text(valueColumn));
            case kDouble: return CloudValue(st.real(valueColumn));
            case kInteger: return CloudValue(st.int64(valueColumn));
            case kDate: return CloudValue(Date::fromTimeIntervalSinceReferenceDate(st.real(valueColumn)));
            case kAsset: {
                const std::string name = st.text(valueColumn);
                if (!isPlainFileName(name)) return std::nullopt;
                return CloudValue(CloudAsset{Url::fromFilePath(assetsFolder() / name)});
            }
        }
        return std::nullopt;
    }

    // The stored record, with only `keys` when given; nothing when it does not exist.
    Result<std::optional<CloudRecord>> load(const CloudRecordID& id, const std::optional<std::vector<std::string>>& keys) {
        Statement head(db, "SELECT type FROM records WHERE zone=?1 AND owner=?2 AND name=?3");
        if (auto s = head.prepared(); !s) return fail(s.error());
        head.bindName(id);
        auto row = head.step();
        if (!row) return fail(row.error());
        if (!*row) return std::optional<CloudRecord>();
        CloudRecord record(head.text(0), id);
        if (keys && keys->empty()) return std::optional<CloudRecord>(std::move(record));

        Statement values(db, "SELECT key, kind, value FROM record_values WHERE zone=?1 AND owner=?2 AND name=?3");
        if (auto s = values.prepared(); !s) return fail(s.error());
        values.bindName(id);
        const std::set<std::string> wanted = keys ? std::set<std::string>(keys->begin(), keys->end())
                                                  : std::set<std::string>();
        for (;;) {
            auto next = values.step();
            if (!next) return fail(next.error());
            if (!*next) break;
            std::string key = values.text(0);
            if (keys && !wanted.count(key)) continue;
            if (auto v = decode(values, 1, 2)) record.set(key, std::move(*v));
        }
        return std::optional<CloudRecord>(std::move(record));
    }

    void removeAssetFiles(const std::vector<std::string>& names) const {
        for (const auto& name : names) {
            if (!isPlainFileName(name)) continue;
            std::error_code ec;
            fs::remove(assetsFolder() / name, ec);
        }
    }

    Status deleteValues(const CloudRecordID& id) {
        Statement st(db, "DELETE FROM record_values WHERE zone=?1 AND owner=?2 AND name=?3");
        if (auto s = st.prepared(); !s) return s;
        st.bindName(id);
        return st.run();
    }

    Status writeValue(const CloudRecordID& id, const std::string& key, const CloudValue& value,
                      const std::map<std::string, std::string>& copiedAssets) {
        Statement st(db,
                     "INSERT OR REPLACE INTO record_values(zone, owner, name, key, kind, value) "
                     "VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
        if (auto s = st.prepared(); !s) return s;
        st.bindName(id);
        st.bind(4, key);
        std::visit(
            [&](const auto& v) {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, std::string>) {
                    st.bind(5, std::int64_t{kString});
                    st.bind(6, v);
                } else if constexpr (std::is_same_v<T, double>) {
                    st.bind(5, std::int64_t{kDouble});
                    st.bind(6, v);
                } else if constexpr (std::is_same_v<T, std::int64_t>) {
                    st.bind(5, std::int64_t{kInteger});
                    st.bind(6, v);
                } else if constexpr (std::is_same_v<T, Date>) {
                    st.bind(5, std::int64_t{kDate});
                    st.bind(6, v.timeIntervalSinceReferenceDate());
                } else {
                    st.bind(5, std::int64_t{kAsset});
                    st.bind(6, copiedAssets.at(key));
                }
            },
            value);
        return st.run();
    }

    // Copies the record's asset files into the assets folder: key -> stored name.
    Result<std::map<std::string, std::string>> copyAssets(const CloudRecord& record) const {
        std::map<std::string, std::string> copied;
        for (const auto& [key, value] : record.values()) {
            const auto* asset = std::get_if<CloudAsset>(&value);
            if (!asset) continue;
            const fs::path source = asset->fileURL.filePath();
            const std::string name = freshAssetName(source);
            std::error_code ec;
            fs::copy_file(source, assetsFolder() / name, ec);
            if (ec) {
                std::vector<std::string> made;
                for (const auto& [k, n] : copied) made.push_back(n);
                removeAssetFiles(made);
                return fail(assetFileNotFoundError(key));
            }
            copied.emplace(key, name);
        }
        return copied;
    }

    Result<std::vector<CloudRecordResult>> save(const std::vector<CloudRecord>& records) {
        std::lock_guard lock(mutex);
        if (auto s = openLocked(); !s) return fail(s.error());

        // Files are copied before the write lock is taken, so the other process waits less.
        std::vector<std::optional<Error>> failures(records.size());
        std::vector<std::map<std::string, std::string>> copies(records.size());
        std::vector<std::string> newFiles;
        for (std::size_t i = 0; i < records.size(); ++i) {
            if (auto key = missingAssetKey(records[i])) {
                failures[i] = assetFileNotFoundError(*key);
                continue;
            }
            auto copied = copyAssets(records[i]);
            if (!copied) {
                failures[i] = copied.error();
                continue;
            }
            for (const auto& [k, n] : *copied) newFiles.push_back(n);
            copies[i] = std::move(*copied);
        }

        std::vector<std::string> replacedFiles;
        auto write = [&]() -> Result<std::vector<CloudRecordResult>> {
            Transaction tx(db, true);
            if (!tx.began()) return fail(tx.began().error());
            std::vector<CloudRecordResult> results;
            for (std::size_t i = 0; i < records.size(); ++i) {
                const CloudRecord& record = records[i];
                const CloudRecordID& id = record.recordID();
                if (failures[i]) {
                    results.push_back({id, fail(*failures[i])});
                    continue;
                }
                auto stored = load(id, std::nullopt);
                if (!stored) return fail(stored.error());
                // A new record, or one of another type, is replaced whole; otherwise
                // only the assets under the saved keys are.
                const bool whole = !*stored || (*stored)->recordType() != record.recordType();
                if (*stored) {
                    auto replaced = assetFileNames(**stored, whole ? nullptr : &record);
                    replacedFiles.insert(replacedFiles.end(), replaced.begin(), replaced.end());
                }
                if (whole) {
                    if (auto s = deleteValues(id); !s) return fail(s.error());
                    Statement put(db, "INSERT OR REPLACE INTO records(zone, owner, name, type) VALUES(?1, ?2, ?3, ?4)");
                    if (auto s = put.prepared(); !s) return fail(s.error());
                    put.bindName(id);
                    put.bind(4, record.recordType());
                    if (auto s = put.run(); !s) return fail(s.error());
                }
                for (const auto& [key, value] : record.values())
                    if (auto s = writeValue(id, key, value, copies[i]); !s) return fail(s.error());
                auto saved = load(id, std::nullopt);
                if (!saved) return fail(saved.error());
                results.push_back({id, std::move(**saved)});
            }
            if (auto s = tx.commit(); !s) return fail(s.error());
            return results;
        };
        auto results = write();
        if (!results) {
            removeAssetFiles(newFiles);
            return results;
        }
        removeAssetFiles(replacedFiles);
        return results;
    }

    Status remove(const CloudRecordID& id) {
        std::lock_guard lock(mutex);
        if (auto s = openLocked(); !s) return s;
        std::vector<std::string> files;
        {
            Transaction tx(db, true);
            if (!tx.began()) return tx.began();
            auto existing = load(id, std::nullopt);
            if (!existing) return fail(existing.error());
            if (!*existing) return fail(cloudError(CloudErrorCode::unknownItem));
            files = assetFileNames(**existing);
            if (auto s = deleteValues(id); !s) return s;
            Statement st(db, "DELETE FROM records WHERE zone=?1 AND owner=?2 AND name=?3");
            if (auto s = st.prepared(); !s) return s;
            st.bindName(id);
            if (auto s = st.run(); !s) return s;
            if (auto s = tx.commit(); !s) return s;
        }
        removeAssetFiles(files);
        return ok();
    }

    Result<std::vector<CloudRecordResult>> fetch(const std::vector<CloudRecordID>& ids,
                                                 const std::optional<std::vector<std::string>>& keys) {
        std::lock_guard lock(mutex);
        if (auto s = openLocked(); !s) return fail(s.error());
        Transaction tx(db, false);
        if (!tx.began()) return fail(tx.began().error());
        std::vector<CloudRecordResult> results;
        for (const auto& id : ids) {
            auto record = load(id, keys);
            if (!record) return fail(record.error());
            if (*record)
                results.push_back({id, std::move(**record)});
            else
                results.push_back({id, fail(cloudError(CloudErrorCode::unknownItem))});
        }
        if (auto s = tx.commit(); !s) return fail(s.error());
        return results;
    }

    Result<CloudQueryResult> query(const CloudQuery& q, const CloudZoneID& zone,
                                   const std::optional<std::vector<std::string>>& keys, std::size_t resultsLimit) {
        std::lock_guard lock(mutex);
        if (auto s = openLocked(); !s) return fail(s.error());
        Transaction tx(db, false);
        if (!tx.began()) return fail(tx.began().error());

        // Narrow down in SQL, then match and order with the same rules as every
        // other implementation, reading only the keys that decide.
        std::string sql = "SELECT r.name FROM records r WHERE r.type=?1 AND r.zone=?2 AND r.owner=?3";
        const CloudValue* predicateValue = q.predicate ? &q.predicate->value : nullptr;
        if (predicateValue) {
            sql += " AND EXISTS(SELECT 1 FROM record_values v WHERE v.zone=r.zone AND v.owner=r.owner"
                   " AND v.name=r.name AND v.key=?4";
            if (std::holds_alternative<std::string>(*predicateValue))
                sql += " AND v.kind=0 AND v.value=?5";
            else if (std::holds_alternative<double>(*predicateValue) ||
                     std::holds_alternative<std::int64_t>(*predicateValue))
                sql += " AND v.kind IN (1, 2) AND v.value=?5";
            else if (std::holds_alternative<Date>(*predicateValue))
                sql += " AND v.kind=3 AND v.value=?5";
            sql += ")";
        }
        sql += " ORDER BY r.name";
        Statement select(db, sql);
        if (auto s = select.prepared(); !s) return fail(s.error());
        select.bind(1, q.recordType);
        select.bind(2, zone.zoneName);
        select.bind(3, zone.ownerName);
        if (predicateValue) {
            select.bind(4, q.predicate->key);
            std::visit(
                [&](const auto& v) {
                    using T = std::decay_t<decltype(v)>;
                    if constexpr (std::is_same_v<T, Date>)
                        select.bind(5, v.timeIntervalSinceReferenceDate());
                    else if constexpr (!std::is_same_v<T, CloudAsset>)
                        select.bind(5, v);
                },
                *predicateValue);
        }
        std::vector<std::string> deciding;
        if (q.predicate) deciding.push_back(q.predicate->key);
        for (const auto& d : q.sortDescriptors) deciding.push_back(d.key);

        std::vector<CloudRecord> found;
        for (;;) {
            auto next = select.step();
            if (!next) return fail(next.error());
            if (!*next) break;
            CloudRecordID id{select.text(0), zone};
            auto record = load(id, deciding);
            if (!record) return fail(record.error());
            if (*record && recordMatches(**record, q, zone)) found.push_back(std::move(**record));
        }
        std::stable_sort(found.begin(), found.end(), [&](const CloudRecord& a, const CloudRecord& b) {
            return recordSortsBefore(a, b, q.sortDescriptors);
        });

        const std::size_t limit = queryBatchLimit(batchSize, resultsLimit);
        CloudQueryResult out;
        out.moreComing = found.size() > limit;
        if (found.size() > limit) found.erase(found.begin() + static_cast<std::ptrdiff_t>(limit), found.end());
        for (const auto& r : found) {
            auto record = load(r.recordID(), keys);
            if (!record) return fail(record.error());
            if (*record) out.matchResults.push_back({r.recordID(), std::move(**record)});
        }
        if (auto s = tx.commit(); !s) return fail(s.error());
        return out;
    }
};

namespace {

// Runs `work` (which holds the store) on `background`, unless the task was
// cancelled before it got there.
template <class Work>
Task<std::invoke_result_t<Work&>> onBackground(Executor& background, Work work) {
    co_await resumeOn(background);
    const std::stop_token stop = co_await currentStopToken();
    if (stop.stop_requested()) co_return fail(Error::cancelled());
    co_return work();
}

}  // namespace

std::filesystem::path SqliteCloudDatabase::containerFolder(const XdgDirs& dirs, const std::string& containerIdentifier) {
    return dirs.dataHome() / containerIdentifier;
}

SqliteCloudDatabase::SqliteCloudDatabase(Executor& background, std::filesystem::path folder, std::size_t batchSize)
    : background_(background), store_(std::make_shared<Store>(std::move(folder), batchSize)) {}

SqliteCloudDatabase::~SqliteCloudDatabase() = default;

const std::filesystem::path& SqliteCloudDatabase::folder() const { return store_->folder; }
std::filesystem::path SqliteCloudDatabase::databaseFile() const { return store_->folder / kDatabaseFileName; }

Task<Result<std::vector<CloudRecordResult>>> SqliteCloudDatabase::saveRecords(std::vector<CloudRecord> records) {
    return onBackground(background_, [store = store_, records = std::move(records)] { return store->save(records); });
}

Task<Status> SqliteCloudDatabase::deleteRecord(CloudRecordID recordID) {
    return onBackground(background_, [store = store_, id = std::move(recordID)] { return store->remove(id); });
}

Task<Result<std::vector<CloudRecordResult>>> SqliteCloudDatabase::fetchRecords(
    std::vector<CloudRecordID> recordIDs, std::optional<std::vector<std::string>> desiredKeys) {
    return onBackground(background_, [store = store_, ids = std::move(recordIDs), keys = std::move(desiredKeys)] {
        return store->fetch(ids, keys);
    });
}

Task<Result<CloudQueryResult>> SqliteCloudDatabase::queryRecords(CloudQuery query, std::optional<CloudZoneID> zone,
                                                                 std::optional<std::vector<std::string>> desiredKeys,
                                                                 std::size_t resultsLimit) {
    return onBackground(background_, [store = store_, query = std::move(query),
                                      zone = zone.value_or(CloudZoneID::defaultZone()),
                                      keys = std::move(desiredKeys), resultsLimit] {
        return store->query(query, zone, keys, resultsLimit);
    });
}

}  // namespace platform
