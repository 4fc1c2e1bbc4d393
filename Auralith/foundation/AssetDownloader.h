#pragma once

// Downloads of single described files (a vocabulary, an embedding table, a
// voice prompt) to a fixed local path, skipped when the file is already there.

#include <filesystem>
#include <functional>
#include <string>
#include <variant>

#include "Auralith/foundation/AppLogger.h"
#include "platform/http/HttpClient.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/Task.h"
#include "platform/values/Bytes.h"
#include "platform/values/Url.h"

namespace auralith {

struct AssetDownloader {
    // A response outside 200–299 (or not an HTTP response: status -1).
    struct Error {
        std::string description;
        int statusCode = 0;
        // "Unexpected response (status 404) while downloading <description>"
        std::string localizedDescription() const;
    };
    static constexpr const char* kErrorDomain = "AssetDownloader.Error";
    static platform::Error toError(const Error& error);
    // The status code of an invalidResponse error, if `error` is one.
    static std::optional<int> invalidResponseStatus(const platform::Error& error);

    // Store steps may run on any thread and keep no state.
    using DataStore = std::function<platform::Status(const platform::Bytes& data, const std::filesystem::path& destination)>;
    using FileStore =
        std::function<platform::Status(const std::filesystem::path& temporaryFile, const std::filesystem::path& destination)>;

    // The body in memory handed to a DataStore, or a temporary file handed to a FileStore.
    struct TransferMode {
        std::variant<DataStore, FileStore> store;
        static TransferMode data(DataStore store) { return {std::move(store)}; }
        static TransferMode file(FileStore store) { return {std::move(store)}; }
    };

    struct Descriptor {
        std::string description;
        platform::Url remoteURL;
        std::filesystem::path destinationURL;
        bool skipIfExists = true;
        TransferMode transferMode;
    };

    // The destination once the file is in place. With skipIfExists and an item
    // (file or folder) already there, returns at once: nothing is created,
    // logged or fetched. Otherwise creates the parent folder (its failure ends
    // the call before any request), fetches, checks the status and stores.
    static platform::Task<platform::Result<std::filesystem::path>> ensure(Descriptor descriptor,
                                                                         platform::HttpClient& session,
                                                                         const AppLogger& logger);
    // The response body of `url`, after the same status check.
    static platform::Task<platform::Result<platform::Bytes>> fetchData(platform::Url url, std::string description,
                                                                      platform::HttpClient& session,
                                                                      const AppLogger& logger);

    // Writes through a temporary file renamed into place.
    static platform::Status writeDataAtomically(const platform::Bytes& data, const std::filesystem::path& destination);
    // Removes whatever is at the destination, then moves the file there.
    static platform::Status moveReplacingItem(const std::filesystem::path& temporaryFile,
                                              const std::filesystem::path& destination);
};

}  // namespace auralith
