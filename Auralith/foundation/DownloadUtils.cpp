#include "Auralith/foundation/DownloadUtils.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <set>
#include <system_error>
#include <utility>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "Auralith/foundation/CacheRoots.h"
#include "Auralith/foundation/ModelNames.h"
#include "platform/text/Unicode.h"
#include "platform/values/Files.h"
#include "platform/values/Json.h"
#include "platform/values/XdgDirs.h"

namespace auralith {

namespace fs = std::filesystem;
using platform::Error;
using platform::Result;
using platform::Status;
using platform::Task;

// ---- Errors

Error HuggingFaceDownloadError::makeRateLimited(int statusCode, std::string message) {
    (void)statusCode;
    return Error::make(kDomain, rateLimited, "rateLimited", "Hugging Face rate limit encountered: " + message);
}

Error HuggingFaceDownloadError::makeDownloadFailed(std::string path, Error underlying) {
    auto description = fmt::format("Failed to download {}: {}", path, underlying.description);
    return Error::make(kDomain, downloadFailed, "downloadFailed", std::move(description))
        .withUnderlying(std::move(underlying));
}

Error HuggingFaceDownloadError::makeModelNotFound(std::string path) {
    return Error::make(kDomain, modelNotFound, "modelNotFound", "Model file not found: " + path);
}

Error HuggingFaceDownloadError::makeHtmlErrorResponse(std::string path, std::string snippet) {
    return Error::make(kDomain, htmlErrorResponse, "htmlErrorResponse",
                       fmt::format("HuggingFace returned HTML instead of JSON for {} (rate limit or server issue): {}",
                                   path, snippet));
}

Error HuggingFaceDownloadError::makeInvalidResponse() {
    return Error::make(kDomain, invalidResponse, "invalidResponse", "Received an invalid response from Hugging Face.");
}

namespace {

Error httpStatusError(int status) {
    return Error::make("HTTP", status, "httpStatus",
                       fmt::format("The operation couldn\u2019t be completed. (HTTP error {}.)", status));
}

Error modelFileError(ModelFileError::Code code, std::string description) {
    return Error::make(ModelFileError::kDomain, code,
                       code == ModelFileError::fileNoSuchFile ? "fileNoSuchFile" : "fileReadCorruptFile",
                       std::move(description));
}

bool isRateLimit(int status) { return status == 429 || status == 503; }

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }
bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool existsAt(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// A repository path from the hub that may become a local path: relative,
// with no empty, "." or ".." segment, so that it can only name something
// inside the folder it is joined to.
bool isSafeRepositoryPath(std::string_view path) {
    if (path.empty() || path.front() == '/' || path.find('\0') != std::string_view::npos) return false;
    std::size_t start = 0;
    while (true) {
        const auto slash = path.find('/', start);
        const auto segment = path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (segment.empty() || segment == "." || segment == "..") return false;
        if (slash == std::string_view::npos) return true;
        start = slash + 1;
    }
}

bool isInside(const fs::path& folder, const fs::path& candidate) {
    const auto base = folder.lexically_normal();
    const auto rel = candidate.lexically_normal().lexically_relative(base);
    return !rel.empty() && *rel.begin() != ".." && *rel.begin() != ".";
}

// The body must be JSON, not an error page: HTML (it begins with "<" or
// carries a doctype) fails with the first 100 characters as the snippet.
Status htmlCheck(const platform::Bytes& body, const std::string& path) {
    const std::string text(body.begin(), body.end());
    if (!platform::text::isValidUtf8(text)) return platform::ok();
    const std::string trimmed = platform::text::trim(text);
    std::string lower = trimmed;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (startsWith(trimmed, "<") || lower.find("<!doctype html") != std::string::npos)
        return platform::fail(
            HuggingFaceDownloadError::makeHtmlErrorResponse(path, platform::text::graphemePrefix(trimmed, 100)));
    return platform::ok();
}

// The listing's objects; anything but an array of objects is an invalid response.
Result<platform::Json> parseListing(const platform::Bytes& body) {
    auto json = platform::decodeJson(platform::ByteView(body));
    if (!json) return platform::fail(json.error());
    if (!json->is_array()) return platform::fail(HuggingFaceDownloadError::makeInvalidResponse());
    for (const auto& item : *json)
        if (!item.is_object()) return platform::fail(HuggingFaceDownloadError::makeInvalidResponse());
    return json;
}

std::int64_t listedSize(const platform::Json& item) {
    const auto it = item.find("size");
    if (it == item.end()) return -1;
    if (it->is_number_unsigned()) {
        const auto v = it->get<std::uint64_t>();
        return v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ? -1
                                                                                         : static_cast<std::int64_t>(v);
    }
    if (it->is_number_integer()) return it->get<std::int64_t>();
    return -1;
}

// The content hash of a large file: the hub lists it as "lfs": {"oid": <sha256>}.
std::optional<std::string> listedSha256(const platform::Json& item) {
    const auto lfs = item.find("lfs");
    if (lfs == item.end() || !lfs->is_object()) return std::nullopt;
    const auto oid = lfs->find("oid");
    if (oid == lfs->end() || !oid->is_string()) return std::nullopt;
    std::string hex = oid->get<std::string>();
    if (startsWith(hex, "sha256:")) hex = hex.substr(7);
    const auto isHex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    if (hex.size() != 64 || !std::all_of(hex.begin(), hex.end(), isHex)) return std::nullopt;
    std::transform(hex.begin(), hex.end(), hex.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return hex;
}

struct ListedItem {
    std::string path;
    bool isDirectory = false;
    std::int64_t size = -1;
    std::optional<std::string> sha256;
};

// The usable entries of a listing: files and folders with text paths that
// stay inside the repository; anything else is skipped (unsafe paths logged).
std::vector<ListedItem> usableEntries(const platform::Json& listing, const AppLogger& logger) {
    std::vector<ListedItem> out;
    for (const auto& item : listing) {
        const auto p = item.find("path");
        const auto t = item.find("type");
        if (p == item.end() || t == item.end() || !p->is_string() || !t->is_string()) continue;
        const auto entryPath = p->get<std::string>();
        const auto type = t->get<std::string>();
        if (type != "directory" && type != "file") continue;
        if (!isSafeRepositoryPath(entryPath)) {
            logger.warning("Refusing listing entry outside the repository: " + entryPath);
            continue;
        }
        out.push_back({entryPath, type == "directory", listedSize(item), listedSha256(item)});
    }
    return out;
}

// One listing page: the response checked for rate limiting and for an error
// page instead of JSON, then its usable entries.
Task<Result<std::vector<ListedItem>>> readListing(platform::HttpClient& session, platform::HttpRequest request,
                                                  std::string path, std::string rateLimitMessage,
                                                  const AppLogger& logger) {
    auto response = co_await session.send(std::move(request));
    if (!response) co_return platform::fail(response.error());
    if (isRateLimit(response->status))
        co_return platform::fail(HuggingFaceDownloadError::makeRateLimited(response->status, std::move(rateLimitMessage)));
    if (auto html = htmlCheck(response->body, path); !html) co_return platform::fail(html.error());
    auto listing = parseListing(response->body);
    if (!listing) co_return platform::fail(listing.error());
    co_return usableEntries(*listing, logger);
}

// A folder entry is walked only when it lies below the folder being listed,
// so a listing that names itself (or a parent) cannot make the walk endless.
bool isBelow(std::string_view entryPath, std::string_view listedPath) {
    if (listedPath.empty()) return true;
    return entryPath.size() > listedPath.size() + 1 && startsWith(entryPath, listedPath) &&
           entryPath[listedPath.size()] == '/';
}

// ---- Which listing entries a repository download takes

struct AdmitRules {
    std::optional<std::string> subPath;
    const std::vector<std::string>& prefixes;

    bool underSubPath(std::string_view path) const { return startsWith(path, *subPath + "/"); }
    bool beginsWithPrefix(std::string_view path) const {
        return std::any_of(prefixes.begin(), prefixes.end(), [&](const auto& p) { return startsWith(path, p); });
    }
    // On the way to a required folder, or inside one.
    bool matchesPrefix(std::string_view path) const {
        const std::string withSlash = std::string(path) + "/";
        return std::any_of(prefixes.begin(), prefixes.end(),
                           [&](const auto& p) { return startsWith(path, p) || startsWith(p, withSlash); });
    }
    bool anyOrPrefixed(std::string_view path) const { return prefixes.empty() || beginsWithPrefix(path); }

    bool directory(std::string_view path) const {
        if (subPath) return path == *subPath || underSubPath(path) || matchesPrefix(path);
        return prefixes.empty() || matchesPrefix(path);
    }
    bool file(std::string_view path) const {
        if (endsWith(path, ".json")) return subPath ? underSubPath(path) : true;
        if (endsWith(path, ".model") || endsWith(path, ".bin"))
            return subPath ? underSubPath(path) : anyOrPrefixed(path);
        if (endsWith(path, ".txt") && !subPath) return true;
        if (subPath) return underSubPath(path) && anyOrPrefixed(path);
        return anyOrPrefixed(path);
    }
};


// ---- What a download wrote, and what a bundle needs

// Beside the repository folder: "<folder><suffix>".
fs::path besideFolder(const fs::path& repoFolder, std::string_view suffix) {
    return repoFolder.parent_path() / (repoFolder.filename().string() + std::string(suffix));
}
fs::path recordFileFor(const fs::path& repoFolder) { return besideFolder(repoFolder, ".auralith-downloads"); }
fs::path repairFolderFor(const fs::path& repoFolder) { return besideFolder(repoFolder, ".auralith-repair"); }

// The top-level entries of the repository folder that a download created
// (a JSON array of names). Anything else in the folder was put there by the
// user. A missing or unreadable record names nothing.
std::set<std::string> readRecord(const fs::path& repoFolder) {
    std::set<std::string> names;
    auto bytes = platform::readFile(recordFileFor(repoFolder));
    if (!bytes) return names;
    auto json = platform::decodeJson(platform::ByteView(*bytes));
    if (!json || !json->is_array()) return names;
    for (const auto& item : *json)
        if (item.is_string()) names.insert(item.get<std::string>());
    return names;
}

Status writeRecord(const fs::path& repoFolder, const std::set<std::string>& names) {
    platform::Json list = platform::Json::array();
    for (const auto& name : names) list.push_back(name);
    return platform::writeFileAtomically(recordFileFor(repoFolder), list.dump());
}

// The first component of a path inside the repository folder.
std::string topLevelName(std::string_view relative) { return std::string(relative.substr(0, relative.find('/'))); }

// Whether a compiled model folder holds what it needs. A manifest declares
// the bundle's files under "files" (other keys are the runtime's business);
// a folder without a manifest is judged by the compiled-format marker.
struct BundleCheck {
    enum class Kind { complete, incomplete, foreignFormat };
    Kind kind = Kind::complete;
    std::string reason;          // why it is incomplete or foreign
    bool compiledKind = true;    // the manifest's "kind" is "compiled" (or absent)
};

BundleCheck checkBundle(const fs::path& modelPath, const std::string& name) {
    using Kind = BundleCheck::Kind;
    const fs::path manifest = modelPath / platform::ml::kManifestFileName;
    if (!existsAt(manifest)) {
        if (!existsAt(modelPath / "coremldata.bin"))
            return {Kind::incomplete, "Missing coremldata.bin in model: " + name};
        return {Kind::foreignFormat,
                fmt::format("{} is compiled for another platform: it has no {} naming a runtime", name,
                            platform::ml::kManifestFileName)};
    }
    const std::string invalid = fmt::format("Invalid {} in model: {}", platform::ml::kManifestFileName, name);
    auto bytes = platform::readFile(manifest);
    if (!bytes) return {Kind::incomplete, invalid};
    auto json = platform::decodeJson(platform::ByteView(*bytes));
    if (!json || !json->is_object()) return {Kind::incomplete, invalid};
    BundleCheck check;
    if (const auto kind = json->find("kind"); kind != json->end())
        check.compiledKind = kind->is_string() && kind->get<std::string>() == "compiled";
    const auto files = json->find("files");
    if (files == json->end()) return check;
    if (!files->is_array()) return {Kind::incomplete, invalid};
    for (const auto& file : *files) {
        if (!file.is_string() || !isSafeRepositoryPath(file.get<std::string>())) return {Kind::incomplete, invalid};
        if (!existsAt(modelPath / file.get<std::string>()))
            return {Kind::incomplete, fmt::format("Missing {} in model: {}", file.get<std::string>(), name)};
    }
    return check;
}

// A staging file open for writing; closed (and checked) by close().
class StagingFile {
public:
    StagingFile(const fs::path& path, bool append) : file_(std::fopen(path.c_str(), append ? "ab" : "wb")) {}
    ~StagingFile() {
        if (file_) std::fclose(file_);
    }
    StagingFile(const StagingFile&) = delete;
    StagingFile& operator=(const StagingFile&) = delete;
    bool isOpen() const { return file_ != nullptr; }
    bool write(const platform::Bytes& bytes) {
        return std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
    }
    bool close() {
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        return closed;
    }

private:
    std::FILE* file_;
};

// The first byte of a 206 answer's "Content-Range: bytes <first>-<last>/<total>".
std::optional<std::uint64_t> rangeStart(const platform::HttpHeaders& headers) {
    const auto value = headers.value("Content-Range");
    if (!value || !startsWith(*value, "bytes ")) return std::nullopt;
    std::uint64_t first = 0;
    std::size_t at = 6;
    if (at >= value->size() || !std::isdigit(static_cast<unsigned char>((*value)[at]))) return std::nullopt;
    for (; at < value->size() && std::isdigit(static_cast<unsigned char>((*value)[at])); ++at)
        first = first * 10 + static_cast<std::uint64_t>((*value)[at] - '0');
    return first;
}

}  // namespace

// ---- Repository lock

RepositoryLock::RepositoryLock(RepositoryLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

RepositoryLock& RepositoryLock::operator=(RepositoryLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

RepositoryLock::~RepositoryLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the descriptor releases the lock
}

fs::path RepositoryLock::lockFileFor(const fs::path& repoFolder) { return besideFolder(repoFolder, ".auralith-lock"); }

Result<std::optional<RepositoryLock>> RepositoryLock::tryAcquire(const fs::path& repoFolder) {
    if (auto made = createFolders(repoFolder.parent_path()); !made) return platform::fail(made.error());
    const fs::path file = lockFileFor(repoFolder);
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int error = errno;
        return platform::fail(platform::fileError(platform::FileErrorCode::writeFailed, "Could not create", file,
                                                  std::strerror(error)));
    }
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) return std::optional<RepositoryLock>();
        return platform::fail(platform::fileError(platform::FileErrorCode::writeFailed, "Could not lock", file,
                                                  std::strerror(error)));
    }
    return std::optional<RepositoryLock>(RepositoryLock(fd));
}

// ---- Service

DownloadUtils::DownloadUtils(platform::HttpClient& session, const ModelRegistry& registry,
                             SystemInfoReporter& systemInfo)
    : session_(session), registry_(registry), systemInfo_(systemInfo), logger_("DownloadUtils") {}

std::optional<std::string> DownloadUtils::huggingFaceToken() const {
    const auto& env = registry_.environment();
    for (const char* name : {"HF_TOKEN", "HUGGING_FACE_HUB_TOKEN", "HUGGINGFACEHUB_API_TOKEN"})
        if (auto token = env.get(name)) return token;
    return std::nullopt;
}

platform::HttpRequest DownloadUtils::makeRequest(std::string url) const {
    auto request = platform::HttpRequest::get(std::move(url), platform::seconds(kRequestTimeoutSeconds));
    if (auto token = huggingFaceToken()) request.headers.set("Authorization", "Bearer " + *token);
    return request;
}

Status DownloadUtils::createDirectoryRemovingBlockingFile(const fs::path& url) const {
    fs::path partial = url.root_path();
    const fs::path relative = url.relative_path();
    if (relative.empty()) return platform::ok();
    std::error_code ec;
    for (const auto& component : relative) {
        partial /= component;
        if (fs::is_directory(fs::status(partial, ec))) continue;
        if (existsAt(partial)) {
            logger_.warning("Removing file blocking directory creation: " + partial.string());
            if (!fs::remove(partial, ec) || ec)
                return platform::fail(platform::fileError(platform::FileErrorCode::writeFailed,
                                                fmt::format("Cannot remove {}: {}", partial.string(), ec.message())));
            if (!fs::create_directory(partial, ec) && ec)
                return platform::fail(platform::fileError(platform::FileErrorCode::writeFailed,
                                                fmt::format("Cannot create the folder {}: {}", partial.string(),
                                                            ec.message())));
            continue;
        }
        return createFolders(url);
    }
    return platform::ok();
}

Task<Status> DownloadUtils::listRepoFiles(std::string path, Repo repo, std::optional<std::string> subPath,
                                          std::shared_ptr<const std::vector<std::string>> prefixes,
                                          std::vector<ListingEntry>* entries) {
    const std::string listingPath =
        path.empty() ? "tree/main" : "tree/main/" + platform::percentEncode(path, platform::UrlCharacterSet::path);
    auto url = registry_.apiModels(repo.remotePath(), listingPath);
    if (!url) co_return platform::fail(url.error());
    auto listing = co_await readListing(session_, makeRequest(url->absoluteString()), path,
                                        "Rate limited while listing files", logger_);
    if (!listing) co_return platform::fail(listing.error());

    const AdmitRules admit{subPath, *prefixes};
    for (const auto& entry : *listing) {
        if (entry.isDirectory) {
            if (!admit.directory(entry.path) || !isBelow(entry.path, path)) continue;
            auto nested = co_await listRepoFiles(entry.path, repo, subPath, prefixes, entries);
            if (!nested) co_return nested;
        } else if (admit.file(entry.path)) {
            entries->push_back({entry.path, entry.size, entry.sha256});
        }
    }
    co_return platform::ok();
}

Task<Status> DownloadUtils::fetchFile(std::string repositoryPath, Repo repo, fs::path destination,
                                      std::int64_t listedSize, std::optional<std::string> sha256,
                                      platform::HttpClient::ProgressCallback byteProgress) {
    auto url = registry_.resolveModel(repo.remotePath(),
                                      platform::percentEncode(repositoryPath, platform::UrlCharacterSet::path));
    if (!url) co_return platform::fail(url.error());
    // The body lands beside the destination first, so that only a complete
    // (and, when the listing gives its hash, verified) file ever takes its
    // place. A transfer that breaks off leaves the staging file for the next
    // attempt to resume; content known to be wrong is removed.
    const fs::path staging = destination.parent_path() / ("." + destination.filename().string() + ".auralith-download");
    std::error_code ec;
    const auto discard = [&staging](Error error) {
        std::error_code ignored;
        fs::remove(staging, ignored);
        return platform::fail(std::move(error));
    };
    const auto failed = [&repositoryPath](std::string caseName, std::string description) {
        return HuggingFaceDownloadError::makeDownloadFailed(
            repositoryPath, Error::make("DownloadUtils", 1, std::move(caseName), std::move(description)));
    };

    // A second round only after the server refused the staged part's range.
    for (int round = 0; round < 2; ++round) {
        std::uint64_t have = existsAt(staging) ? fs::file_size(staging, ec) : 0;
        if (ec || (listedSize >= 0 && have > static_cast<std::uint64_t>(listedSize))) {
            fs::remove(staging, ec);
            have = 0;
        }
        const bool staged = listedSize > 0 && have == static_cast<std::uint64_t>(listedSize);
        if (!staged) {
            auto request = makeRequest(url->absoluteString());
            if (have > 0) {
                request.headers.set("Range", fmt::format("bytes={}-", have));
                logger_.info(fmt::format("Resuming {} from byte {}", repositoryPath, have));
            }
            auto opened = co_await session_.stream(std::move(request));
            if (!opened) co_return platform::fail(opened.error());
            platform::HttpStream stream = std::move(*opened);
            if (isRateLimit(stream.status))
                co_return platform::fail(HuggingFaceDownloadError::makeRateLimited(
                    stream.status, "Rate limited while downloading " + repositoryPath));
            if (stream.status == 416 && have > 0) {
                stream.cancel();
                fs::remove(staging, ec);
                continue;
            }
            if (!stream.isSuccess())
                co_return platform::fail(
                    HuggingFaceDownloadError::makeDownloadFailed(repositoryPath, httpStatusError(stream.status)));
            // 206 continues the staged bytes; any other success is the whole file.
            const bool resumed = stream.status == 206;
            if (resumed && rangeStart(stream.headers) != have)
                co_return discard(failed("unexpectedRange",
                                         fmt::format("the server sent a range other than bytes {}-", have)));
            if (!resumed) have = 0;
            const std::int64_t total = listedSize;
            StagingFile file(staging, resumed);
            if (!file.isOpen())
                co_return platform::fail(platform::fileError(platform::FileErrorCode::writeFailed, "Could not write",
                                                             staging, std::strerror(errno)));
            for (;;) {
                auto next = co_await stream.body.next();
                if (!next) {
                    file.close();
                    co_return platform::fail(next.error());
                }
                if (!*next) break;
                if (!file.write(**next)) {
                    const int error = errno;
                    file.close();
                    co_return discard(platform::fileError(platform::FileErrorCode::writeFailed, "Could not write",
                                                          staging, std::strerror(error)));
                }
                have += (*next)->size();
                if (byteProgress) byteProgress(static_cast<std::int64_t>(have), total);
            }
            if (!file.close())
                co_return discard(platform::fileError(platform::FileErrorCode::writeFailed, "Could not write",
                                                      staging, std::strerror(errno)));
        }

        const auto received = fs::file_size(staging, ec);
        if (ec || (listedSize >= 0 && received != static_cast<std::uintmax_t>(listedSize)))
            co_return discard(failed("sizeMismatch", fmt::format("received {} bytes where the listing gave {}",
                                                                 ec ? 0 : received, listedSize)));
        if (sha256) {
            auto digest = platform::sha256HexOfFile(staging);
            if (!digest) co_return discard(digest.error());
            if (*digest != *sha256)
                co_return discard(failed("sha256Mismatch",
                                         fmt::format("the content's SHA-256 is {} where the listing gave {}", *digest,
                                                     *sha256)));
        }
        fs::remove_all(destination, ec);
        fs::rename(staging, destination, ec);
        if (ec) {
            const auto reason = ec.message();
            co_return discard(platform::fileError(
                platform::FileErrorCode::moveFailed,
                fmt::format("Cannot move the download to {}: {}", destination.string(), reason)));
        }
        co_return platform::ok();
    }
    co_return platform::fail(failed("rangeRefused", "the server refused every range of the file"));
}

Task<Result<RepositoryLock>> DownloadUtils::lockRepository(fs::path repoFolder) {
    bool waited = false;
    for (;;) {
        auto attempt = RepositoryLock::tryAcquire(repoFolder);
        if (!attempt) co_return platform::fail(attempt.error());
        if (*attempt) {
            if (waited) logger_.info("Took over " + repoFolder.string() + " from another process");
            co_return std::move(**attempt);
        }
        if (!waited) logger_.info("Waiting for another process to finish with " + repoFolder.string());
        waited = true;
        if (auto slept = co_await platform::sleepFor(platform::milliseconds(200)); !slept)
            co_return platform::fail(slept.error());
    }
}

void DownloadUtils::recoverInterruptedRepair(const fs::path& repoFolder) const {
    const fs::path aside = repairFolderFor(repoFolder);
    if (!existsAt(aside)) return;
    std::error_code ec;
    if (!fs::is_directory(aside, ec)) {
        fs::remove(aside, ec);
        return;
    }
    // What the repair had already fetched again stays; what it had not is put back.
    int restored = 0;
    fs::create_directories(repoFolder, ec);
    for (const auto& entry : fs::directory_iterator(aside, ec)) {
        const fs::path back = repoFolder / entry.path().filename();
        std::error_code moved;
        if (!existsAt(back)) {
            fs::rename(entry.path(), back, moved);
            if (!moved) ++restored;
        }
    }
    fs::remove_all(aside, ec);
    logger_.info(fmt::format("Finished an interrupted repair of {} ({} entries put back)", repoFolder.string(),
                             restored));
}

Task<Status> DownloadUtils::downloadRepo(Repo repo, fs::path directory, std::optional<std::string> variant,
                                         ProgressHandler progress) {
    const fs::path repoFolder = directory / std::string(repo.folderName());
    auto lock = co_await lockRepository(repoFolder);
    if (!lock) co_return platform::fail(lock.error());
    recoverInterruptedRepair(repoFolder);
    co_return co_await downloadRepoLocked(std::move(repo), std::move(directory), std::move(variant),
                                          std::move(progress));
}

Task<Status> DownloadUtils::downloadRepoLocked(Repo repo, fs::path directory, std::optional<std::string> variant,
                                               ProgressHandler progress) {
    const std::string folderName(repo.folderName());
    logger_.info(fmt::format("Downloading {} from HuggingFace...", folderName));
    const fs::path repoFolder = directory / folderName;
    if (auto made = createFolders(repoFolder); !made) co_return made;

    const auto required = ModelNames::getRequiredModelNames(
        repo, variant ? std::optional<std::string_view>(*variant) : std::nullopt);
    std::optional<std::string> subPath;
    if (auto sub = repo.subPath()) subPath = std::string(*sub);
    auto prefixes = std::make_shared<std::vector<std::string>>();
    for (const auto& name : required) prefixes->push_back((subPath ? *subPath + "/" : std::string()) + name + "/");

    if (progress) progress({0.0, DownloadPhase::listing()});
    std::vector<ListingEntry> entries;
    if (auto listed = co_await listRepoFiles(subPath.value_or(""), repo, subPath, prefixes, &entries); !listed)
        co_return listed;
    logger_.info(fmt::format("Found {} files to download", entries.size()));

    const int count = static_cast<int>(entries.size());
    std::int64_t totalBytes = 0;
    for (const auto& e : entries) totalBytes += std::max<std::int64_t>(0, e.size);
    std::int64_t doneBytes = 0;
    std::set<std::string> record = readRecord(repoFolder);

    for (int i = 0; i < count; ++i) {
        if ((co_await platform::currentStopToken()).stop_requested()) co_return platform::fail(Error::cancelled());
        const auto& entry = entries[static_cast<std::size_t>(i)];
        std::string relative = entry.path;
        if (subPath && startsWith(relative, *subPath + "/")) relative = relative.substr(subPath->size() + 1);
        const fs::path destination = repoFolder / relative;
        if (!isInside(repoFolder, destination)) continue;  // cannot happen after the listing's checks

        if (existsAt(destination)) {
            doneBytes += std::max<std::int64_t>(0, entry.size);
            continue;
        }
        // Noted before anything is written, so that an interrupted download
        // still counts as the download's own.
        const std::string top = topLevelName(relative);
        if (!record.contains(top) && !existsAt(repoFolder / top)) {
            record.insert(top);
            if (auto noted = writeRecord(repoFolder, record); !noted) co_return noted;
        }
        if (auto made = createDirectoryRemovingBlockingFile(destination.parent_path()); !made) co_return made;
        if (entry.size == 0) {
            if (auto written = platform::writeFileAtomically(destination, std::string_view()); !written)
                co_return written;
            continue;
        }

        platform::HttpClient::ProgressCallback byteProgress;
        if (progress) {
            byteProgress = [progress, doneBefore = doneBytes, totalBytes, i, count](std::int64_t written,
                                                                                    std::int64_t) {
                if (totalBytes < 1) return;
                const double fraction =
                    std::min(0.5, static_cast<double>(doneBefore + written) * 0.5 / static_cast<double>(totalBytes));
                progress({fraction, DownloadPhase::downloading(i, count)});
            };
        }
        if (auto fetched =
                co_await fetchFile(entry.path, repo, destination, entry.size, entry.sha256, std::move(byteProgress));
            !fetched)
            co_return fetched;

        doneBytes += std::max<std::int64_t>(0, entry.size);
        const int completed = i + 1;
        if (completed % 10 == 0 || completed == count)
            logger_.info(fmt::format("Downloaded {}/{} files", completed, count));
        if (progress) {
            const double fraction = totalBytes < 1
                                        ? completed * 0.5 / count
                                        : static_cast<double>(doneBytes) * 0.5 / static_cast<double>(totalBytes);
            progress({std::min(0.5, fraction), DownloadPhase::downloading(completed, count)});
        }
    }

    for (const auto& name : required)
        if (!existsAt(repoFolder / name)) co_return platform::fail(HuggingFaceDownloadError::makeModelNotFound(name));
    logger_.info(fmt::format("Downloaded all required models for {}", folderName));
    co_return platform::ok();
}

// ---- Loading

Task<Result<DownloadUtils::LoadedModels>> DownloadUtils::loadOnce(Repo repo, std::vector<std::string> modelNames,
                                                                   fs::path directory,
                                                                   platform::ml::ComputeUnits computeUnits,
                                                                   std::optional<std::string> variant,
                                                                   ProgressHandler progress, LoadFailure* failure) {
    *failure = LoadFailure::download;
    co_await systemInfo_.logSystemInfo(logger_);
    if (auto made = createFolders(directory); !made) co_return platform::fail(made.error());
    const fs::path repoFolder = directory / std::string(repo.folderName());

    const auto required = ModelNames::getRequiredModelNames(
        repo, variant ? std::optional<std::string_view>(*variant) : std::nullopt);
    const bool missing =
        std::any_of(required.begin(), required.end(), [&](const auto& name) { return !existsAt(repoFolder / name); });
    if (missing) {
        logger_.info("Models not found in cache at " + repoFolder.string());
        if (auto downloaded = co_await downloadRepoLocked(repo, directory, variant, progress); !downloaded)
            co_return platform::fail(downloaded.error());
    } else {
        logger_.info(fmt::format("Found {} locally, no download needed", repo.folderName()));
        if (progress) progress({0.5, DownloadPhase::downloading(0, 0)});
    }

    const auto configuration = MLModelConfigurationUtils::defaultConfiguration(computeUnits);
    const std::set<std::string> record = readRecord(repoFolder);
    LoadedModels models;
    const double count = static_cast<double>(modelNames.size());
    std::error_code ec;
    for (std::size_t i = 0; i < modelNames.size(); ++i) {
        const auto& name = modelNames[i];
        const fs::path modelPath = repoFolder / name;
        if (!fs::exists(modelPath, ec)) {
            *failure = LoadFailure::missingModel;
            co_return platform::fail(modelFileError(ModelFileError::fileNoSuchFile, "Model file not found: " + name));
        }
        // A folder the user put in place is never repaired: its failure is final, with its reason.
        const bool usersOwn = !record.contains(topLevelName(name));
        const auto damaged = [&](Error error) {
            *failure = usersOwn ? LoadFailure::userBundle : LoadFailure::damagedCache;
            if (usersOwn) logger_.error(fmt::format("{} was put in place by the user; not repairing it: {}", name,
                                                    error.description));
            return platform::fail(std::move(error));
        };
        const auto cannotRun = [&](Error error) {
            *failure = LoadFailure::cannotRunHere;
            logger_.error(fmt::format("{} cannot run here: {}", name, error.description));
            return platform::fail(std::move(error));
        };
        if (!fs::is_directory(modelPath, ec))
            co_return damaged(
                modelFileError(ModelFileError::fileReadCorruptFile, "Model path is not a directory: " + name));
        const BundleCheck check = checkBundle(modelPath, name);
        if (check.kind == BundleCheck::Kind::incomplete) {
            logger_.error(check.reason.starts_with("Missing coremldata.bin") ? "Missing coremldata.bin in " + name
                                                                            : check.reason);
            co_return damaged(modelFileError(ModelFileError::fileReadCorruptFile, check.reason));
        }
        // A download cannot change the format of a bundle, nor the runtimes of this build.
        if (check.kind == BundleCheck::Kind::foreignFormat)
            co_return cannotRun(platform::ml::mlError(platform::ml::MLErrorCode::runtimeUnavailable, check.reason));
        if (progress)
            progress({static_cast<double>(i) * 0.5 / count + 0.5, DownloadPhase::compiling(name)});
        const auto started = std::chrono::steady_clock::now();
        auto model = platform::ml::Model::load(modelPath, configuration);
        if (!model) {
            const bool unavailable = model.error().is(platform::ml::kMLErrorDomain,
                                                      static_cast<int>(platform::ml::MLErrorCode::runtimeUnavailable));
            if (unavailable || !check.compiledKind) co_return cannotRun(model.error());
            co_return damaged(model.error());
        }
        models.insert_or_assign(name, std::move(*model));
        const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - started;
        logger_.info(fmt::format("Compiled model {} in {:.2f} ms :: {}", name, elapsed.count(), SystemInfo::summary()));
    }
    if (progress) progress({1.0, DownloadPhase::compiling("")});
    co_return models;
}

Task<Result<DownloadUtils::LoadedModels>> DownloadUtils::loadModelsOnce(Repo repo, std::vector<std::string> modelNames,
                                                                         fs::path directory,
                                                                         platform::ml::ComputeUnits computeUnits,
                                                                         std::optional<std::string> variant,
                                                                         ProgressHandler progress) {
    const fs::path repoFolder = directory / std::string(repo.folderName());
    auto lock = co_await lockRepository(repoFolder);
    if (!lock) co_return platform::fail(lock.error());
    recoverInterruptedRepair(repoFolder);
    LoadFailure failure{};
    co_return co_await loadOnce(repo, std::move(modelNames), std::move(directory), computeUnits, std::move(variant),
                                std::move(progress), &failure);
}

Task<Result<DownloadUtils::LoadedModels>> DownloadUtils::loadModels(Repo repo, std::vector<std::string> modelNames,
                                                                     fs::path directory,
                                                                     platform::ml::ComputeUnits computeUnits,
                                                                     std::optional<std::string> variant,
                                                                     ProgressHandler progress) {
    co_await systemInfo_.logSystemInfo(logger_);
    const fs::path repoFolder = directory / std::string(repo.folderName());
    auto lock = co_await lockRepository(repoFolder);
    if (!lock) co_return platform::fail(lock.error());
    recoverInterruptedRepair(repoFolder);
    co_return co_await repairAndLoad(std::move(repo), std::move(modelNames), std::move(directory), computeUnits,
                                     std::move(variant), std::move(progress));
}

Task<Result<DownloadUtils::LoadedModels>> DownloadUtils::repairAndLoad(Repo repo, std::vector<std::string> modelNames,
                                                                        fs::path directory,
                                                                        platform::ml::ComputeUnits computeUnits,
                                                                        std::optional<std::string> variant,
                                                                        ProgressHandler progress) {
    LoadFailure failure{};
    auto first = co_await loadOnce(repo, modelNames, directory, computeUnits, variant, progress, &failure);
    if (first) co_return first;
    // Only downloaded files that are here and fail their check or their load
    // justify a repair: after a failed download (offline, rate limited) or a
    // cancellation the files fetched so far are kept for the next try, and a
    // model that cannot run here, or the user's own folder, would fail the
    // same way after any number of downloads.
    const bool stopped = (co_await platform::currentStopToken()).stop_requested();
    if (failure != LoadFailure::damagedCache || stopped || first.error().isCancellation()) co_return first;

    logger_.warning("First load failed: " + first.error().description);
    logger_.info("Deleting cache and re-downloading\u2026");
    const fs::path repoFolder = directory / std::string(repo.folderName());
    // What the download wrote is moved aside until a fresh copy has arrived,
    // so that a repair that cannot download (offline) leaves the user what
    // they had; the user's own entries stay where they are.
    const fs::path aside = repairFolderFor(repoFolder);
    std::error_code ec;
    fs::remove_all(aside, ec);
    const bool haveAside = fs::create_directories(aside, ec) && !ec;
    std::vector<std::string> movedAside;
    for (const auto& name : readRecord(repoFolder)) {
        const fs::path entry = repoFolder / name;
        if (!existsAt(entry)) continue;
        std::error_code moved;
        if (haveAside) fs::rename(entry, aside / name, moved);
        if (haveAside && !moved) {
            movedAside.push_back(name);
            continue;
        }
        moved.clear();
        fs::remove_all(entry, moved);
        if (moved) {
            logger_.warning("Failed to delete cache: " + moved.message());
            logger_.info("Will attempt to overwrite during re-download");
        }
    }

    auto second = co_await loadOnce(repo, std::move(modelNames), std::move(directory), computeUnits,
                                    std::move(variant), std::move(progress), &failure);
    if (!second && failure == LoadFailure::download && !movedAside.empty()) {
        for (const auto& name : movedAside) {
            fs::remove_all(repoFolder / name, ec);
            fs::rename(aside / name, repoFolder / name, ec);
        }
        logger_.info("Kept the previous cache at " + repoFolder.string() + ": the re-download failed");
    } else {
        logger_.info("Successfully deleted corrupted cache at " + repoFolder.string());
    }
    fs::remove_all(aside, ec);
    co_return second;
}

void DownloadUtils::clearAllModelCaches() const {
    const auto& env = registry_.environment();
    std::error_code ec;
    fs::remove_all(MLModelConfigurationUtils::defaultModelsDirectory(env), ec);
    fs::remove_all(platform::XdgDirs(env).homeDir() / ".cache" / "auralith" / "Models", ec);
    logger_.info("All model caches cleared");
}

void DownloadUtils::clearModelCache(Repo repo, const fs::path& directory) const {
    const fs::path repoFolder = directory / std::string(repo.folderName());
    std::error_code ec;
    fs::remove_all(repoFolder, ec);
    fs::remove(recordFileFor(repoFolder), ec);
}

// ---- Folders and single files

Task<Status> DownloadUtils::listSubdirectoryFiles(std::string path, Repo repo, std::vector<ListingEntry>* entries) {
    auto url = registry_.apiModels(repo.remotePath(),
                                   "tree/main/" + platform::percentEncode(path, platform::UrlCharacterSet::path));
    if (!url) co_return platform::fail(url.error());
    auto listing = co_await readListing(session_, makeRequest(url->absoluteString()), path,
                                        "Rate limited while listing files in " + path, logger_);
    if (!listing) co_return platform::fail(listing.error());

    for (const auto& entry : *listing) {
        if (entry.isDirectory) {
            if (!isBelow(entry.path, path)) continue;
            if (auto nested = co_await listSubdirectoryFiles(entry.path, repo, entries); !nested) co_return nested;
        } else {
            entries->push_back({entry.path, entry.size, entry.sha256});
        }
    }
    co_return platform::ok();
}

Task<Status> DownloadUtils::downloadSubdirectory(Repo repo, std::string subdirectory, fs::path directory,
                                                 ProgressHandler progress) {
    auto lock = co_await lockRepository(directory);
    if (!lock) co_return platform::fail(lock.error());
    if (progress) progress({0.0, DownloadPhase::listing()});
    std::vector<ListingEntry> entries;
    if (auto listed = co_await listSubdirectoryFiles(subdirectory, repo, &entries); !listed) co_return listed;
    const int count = static_cast<int>(entries.size());
    logger_.info(fmt::format("Found {} files in {}", count, subdirectory));
    if (progress) progress({count == 0 ? 1.0 : 0.0, DownloadPhase::downloading(0, count)});

    const auto report = [&](int completed) {
        if (progress)
            progress({static_cast<double>(completed) / count, DownloadPhase::downloading(completed, count)});
    };
    const auto logRule = [&](int completed) {
        if (completed % 5 == 0 || completed == count)
            logger_.info(fmt::format("Downloaded {}/{} {} files", completed, count, subdirectory));
    };

    for (int i = 0; i < count; ++i) {
        if ((co_await platform::currentStopToken()).stop_requested()) co_return platform::fail(Error::cancelled());
        const auto& entry = entries[static_cast<std::size_t>(i)];
        const int completed = i + 1;
        const fs::path destination = directory / entry.path;
        if (!isInside(directory, destination)) continue;  // cannot happen after the listing's checks
        if (existsAt(destination)) {
            report(completed);
            continue;
        }
        if (auto made = createFolders(destination.parent_path()); !made) co_return made;
        if (entry.size == 0) {
            if (auto written = platform::writeFileAtomically(destination, std::string_view()); !written)
                co_return written;
        } else if (auto fetched = co_await fetchFile(entry.path, repo, destination, entry.size, entry.sha256, {});
                   !fetched) {
            co_return fetched;
        }
        report(completed);
        logRule(completed);
    }
    logger_.info(fmt::format("Downloaded {} from {}", subdirectory, repo.folderName()));
    co_return platform::ok();
}

Task<Result<platform::Bytes>> DownloadUtils::fetchHuggingFaceFile(std::string url, std::string description,
                                                                  int maxAttempts, double minBackoff) {
    // Callers must ask for at least one attempt and a delay of at least zero;
    // anything else is taken as that.
    maxAttempts = std::max(1, maxAttempts);
    if (!(minBackoff >= 0)) minBackoff = 0;
    const auto request = makeRequest(std::move(url));
    for (int attempt = 1;; ++attempt) {
        Error error;
        auto response = co_await session_.send(request);
        if (!response) {
            if (response.error().isCancellation()) co_return platform::fail(response.error());
            error = response.error();
        } else if (isRateLimit(response->status)) {
            error = HuggingFaceDownloadError::makeRateLimited(response->status,
                                                              fmt::format("HTTP {}", response->status));
        } else if (response->isSuccess()) {
            co_return std::move(response->body);
        } else {
            error = HuggingFaceDownloadError::makeInvalidResponse();
        }
        if (attempt >= maxAttempts) co_return platform::fail(std::move(error));
        const double delay = minBackoff * std::pow(2.0, attempt - 1);
        logger_.warning(fmt::format("Download attempt {}/{} for {} failed: {}. Retrying in {:.1f}s.", attempt,
                                    maxAttempts, description, error.description, delay));
        if (auto slept = co_await platform::sleepFor(platform::seconds(delay)); !slept)
            co_return platform::fail(slept.error());
    }
}

Task<Result<platform::HttpResponse>> DownloadUtils::fetchWithAuth(std::string url) {
    co_return co_await session_.send(makeRequest(std::move(url)));
}

}  // namespace auralith
