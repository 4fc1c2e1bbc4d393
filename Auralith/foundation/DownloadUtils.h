#pragma once

// The package's one service for model repositories: lists a repository on
// the model hub, downloads the files a model family needs into the per-user
// model cache with progress, loads compiled models from that cache (repairing
// a damaged repository folder once), downloads whole folders, and fetches
// single files with retries.
//
// One instance per process, owned by the composition root with the HTTP
// client, registry and host reporter it is given. Operations run on the
// calling task and handle one file at a time; the task's stop token cancels
// them. Progress callbacks may be called from any thread.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Auralith/foundation/AppLogger.h"
#include "Auralith/foundation/ModelRegistry.h"
#include "Auralith/foundation/Repo.h"
#include "Auralith/foundation/SystemInfo.h"
#include "platform/http/HttpClient.h"
#include "platform/ml/Model.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/Task.h"

namespace auralith {

// Errors of hub downloads: domain "DownloadUtils.HuggingFaceDownloadError".
struct HuggingFaceDownloadError {
    static constexpr const char* kDomain = "DownloadUtils.HuggingFaceDownloadError";
    enum Code { rateLimited = 1, downloadFailed = 2, modelNotFound = 3, htmlErrorResponse = 4, invalidResponse = 5 };

    // "Hugging Face rate limit encountered: " + message
    static platform::Error makeRateLimited(int statusCode, std::string message);
    // "Failed to download " + path + ": " + the underlying description (kept as underlying)
    static platform::Error makeDownloadFailed(std::string path, platform::Error underlying);
    // "Model file not found: " + path
    static platform::Error makeModelNotFound(std::string path);
    // "HuggingFace returned HTML instead of JSON for " + path + " (rate limit or server issue): " + snippet
    static platform::Error makeHtmlErrorResponse(std::string path, std::string snippet);
    // "Received an invalid response from Hugging Face."
    static platform::Error makeInvalidResponse();
};

// An exclusive lock on one repository folder of the model cache, shared by
// every process that uses the cache (the application and the share
// extension): an advisory lock on "<folder>.auralith-lock" beside it, held
// while the repository is downloaded, repaired or loaded. Released when
// dropped (or when the process ends).
class RepositoryLock {
public:
    RepositoryLock(RepositoryLock&& other) noexcept;
    RepositoryLock& operator=(RepositoryLock&& other) noexcept;
    ~RepositoryLock();

    static std::filesystem::path lockFileFor(const std::filesystem::path& repoFolder);
    // The lock, or nothing while another holder has it. Fails when the lock
    // file cannot be made.
    static platform::Result<std::optional<RepositoryLock>> tryAcquire(const std::filesystem::path& repoFolder);

private:
    explicit RepositoryLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// The file errors of model loading, in the system's Cocoa domain and codes.
struct ModelFileError {
    static constexpr const char* kDomain = "NSCocoaErrorDomain";
    enum Code { fileNoSuchFile = 4, fileReadCorruptFile = 259 };
};

class DownloadUtils {
public:
    struct DownloadPhase {
        enum class Kind { downloading, compiling, listing };
        Kind kind = Kind::listing;
        int completedFiles = 0;  // downloading
        int totalFiles = 0;      // downloading
        std::string modelName;   // compiling

        static DownloadPhase downloading(int completedFiles, int totalFiles) {
            return {Kind::downloading, completedFiles, totalFiles, {}};
        }
        static DownloadPhase compiling(std::string modelName) { return {Kind::compiling, 0, 0, std::move(modelName)}; }
        static DownloadPhase listing() { return {}; }
        friend bool operator==(const DownloadPhase&, const DownloadPhase&) = default;
    };

    // A load reports its download half from 0 to 0.5 and its compile half
    // from 0.5 to 1; a repository download alone never goes above 0.5.
    struct DownloadProgress {
        double fractionCompleted = 0;
        DownloadPhase phase;
        friend bool operator==(const DownloadProgress&, const DownloadProgress&) = default;
    };
    using ProgressHandler = std::function<void(const DownloadProgress&)>;

    struct DownloadConfig {
        double timeout = 1800;  // seconds
    };

    // One entry of a repository listing; size -1 when the hub gives none;
    // the content's SHA-256 (lower-case hex) when the hub gives one (large
    // files stored through LFS).
    struct ListingEntry {
        std::string path;
        std::int64_t size = -1;
        std::optional<std::string> sha256;
        friend bool operator==(const ListingEntry&, const ListingEntry&) = default;
    };

    using LoadedModels = std::map<std::string, platform::ml::Model, std::less<>>;

    // Every request of the service waits at most this long without data.
    static constexpr double kRequestTimeoutSeconds = 1800;

    DownloadUtils(platform::HttpClient& session, const ModelRegistry& registry, SystemInfoReporter& systemInfo);

    // The shared client for the hub: libcurl with the registry's proxies.
    static std::unique_ptr<platform::HttpClient> makeSharedSession(const ModelRegistry& registry);

    // The access token: the first of HF_TOKEN, HUGGING_FACE_HUB_TOKEN and
    // HUGGINGFACEHUB_API_TOKEN that is set (even when empty).
    std::optional<std::string> huggingFaceToken() const;

    // Lists the repository (its sub-path only, when it has one), fetches every
    // admitted file that is not already in <directory>/<folder name> (files
    // of the sub-path are stored without it), and checks that every required
    // name of the repository and variant is there. A file arrives in a staging
    // file beside its destination: a transfer that breaks off leaves it there
    // and the next download resumes it with a range request; a file whose
    // listing gives a SHA-256 is checked against it before it is moved into
    // place. What the download wrote is recorded beside the folder
    // ("<folder>.auralith-downloads"); top-level entries it did not write are
    // the user's, and nothing is fetched into them. Holds the repository's
    // lock while it runs.
    platform::Task<platform::Status> downloadRepo(Repo repo, std::filesystem::path directory,
                                                  std::optional<std::string> variant = std::nullopt,
                                                  ProgressHandler progress = {});

    // Makes sure the repository is cached (downloading it when a required
    // name is missing), checks each requested compiled model folder and loads
    // it with the compute units. A folder is complete when it has every file
    // its manifest ("manifest.json") declares under "files"; a folder without
    // a manifest needs "coremldata.bin". Finishes or undoes a repair that an
    // earlier process left behind, under the repository's lock.
    platform::Task<platform::Result<LoadedModels>> loadModelsOnce(Repo repo, std::vector<std::string> modelNames,
                                                                  std::filesystem::path directory,
                                                                  platform::ml::ComputeUnits computeUnits,
                                                                  std::optional<std::string> variant = std::nullopt,
                                                                  ProgressHandler progress = {});

    // loadModelsOnce; when downloaded files fail their check or their load,
    // what the download wrote is moved aside ("<folder>.auralith-repair") and
    // the repository loaded (so downloaded) once more. A failed download or a
    // cancellation is returned as it is and the files already downloaded stay
    // for the next attempt; when the download of the repair itself fails that
    // way, the previous files are put back. Never repaired: a model that
    // cannot run here (its runtime is not available, or it has no manifest
    // but the compiled format of another platform), which a download cannot
    // change, and a folder the user put in place; both are reported with
    // their reason.
    platform::Task<platform::Result<LoadedModels>> loadModels(Repo repo, std::vector<std::string> modelNames,
                                                              std::filesystem::path directory,
                                                              platform::ml::ComputeUnits computeUnits,
                                                              std::optional<std::string> variant = std::nullopt,
                                                              ProgressHandler progress = {});

    // Deletes both models roots (Application Support and ~/.cache/auralith). Never fails.
    void clearAllModelCaches() const;
    // Deletes one repository folder under a models root. Never fails.
    void clearModelCache(Repo repo, const std::filesystem::path& directory) const;

    // Every file of one remote folder, unfiltered, to <directory>/<its full
    // repository path>; `directory` is the repository's local folder. Files
    // already there are left alone. Progress runs from 0 to 1 by file count.
    // Holds the lock of `directory` while it runs.
    platform::Task<platform::Status> downloadSubdirectory(Repo repo, std::string subdirectory,
                                                          std::filesystem::path directory,
                                                          ProgressHandler progress = {});

    // One URL with up to `maxAttempts` attempts, waiting minBackoff · 2^(n−1)
    // seconds after the n-th failure. Returns the body of a 2xx answer.
    platform::Task<platform::Result<platform::Bytes>> fetchHuggingFaceFile(std::string url, std::string description,
                                                                           int maxAttempts, double minBackoff);
    // One authorised fetch; the status is the caller's to judge.
    platform::Task<platform::Result<platform::HttpResponse>> fetchWithAuth(std::string url);

    // Makes the folder at `url`, replacing any plain file that stands where
    // one of its folders (or itself) belongs.
    platform::Status createDirectoryRemovingBlockingFile(const std::filesystem::path& url) const;

    const AppLogger& logger() const { return logger_; }

private:
    platform::HttpRequest makeRequest(std::string url) const;
    platform::Task<platform::Status> listRepoFiles(std::string path, Repo repo,
                                                   std::optional<std::string> subPath,
                                                   std::shared_ptr<const std::vector<std::string>> prefixes,
                                                   std::vector<ListingEntry>* entries);
    platform::Task<platform::Status> listSubdirectoryFiles(std::string path, Repo repo,
                                                           std::vector<ListingEntry>* entries);
    // Where a failed load went wrong: fetching the repository (network,
    // hub, cancellation), a requested model that is not there at all, or
    // cached files that are present but fail their check or their load.
    enum class LoadFailure { download, missingModel, damagedCache, cannotRunHere, userBundle };
    platform::Task<platform::Result<RepositoryLock>> lockRepository(std::filesystem::path repoFolder);
    platform::Task<platform::Status> downloadRepoLocked(Repo repo, std::filesystem::path directory,
                                                        std::optional<std::string> variant, ProgressHandler progress);
    platform::Task<platform::Result<LoadedModels>> repairAndLoad(Repo repo, std::vector<std::string> modelNames,
                                                                 std::filesystem::path directory,
                                                                 platform::ml::ComputeUnits computeUnits,
                                                                 std::optional<std::string> variant,
                                                                 ProgressHandler progress);
    // Puts back what an interrupted repair moved aside, where nothing took its place.
    void recoverInterruptedRepair(const std::filesystem::path& repoFolder) const;
    platform::Task<platform::Result<LoadedModels>> loadOnce(Repo repo, std::vector<std::string> modelNames,
                                                            std::filesystem::path directory,
                                                            platform::ml::ComputeUnits computeUnits,
                                                            std::optional<std::string> variant,
                                                            ProgressHandler progress, LoadFailure* failure);
    platform::Task<platform::Status> fetchFile(std::string repositoryPath, Repo repo,
                                               std::filesystem::path destination, std::int64_t listedSize,
                                               std::optional<std::string> sha256,
                                               platform::HttpClient::ProgressCallback byteProgress);

    platform::HttpClient& session_;
    const ModelRegistry& registry_;
    SystemInfoReporter& systemInfo_;
    AppLogger logger_;
};

}  // namespace auralith
