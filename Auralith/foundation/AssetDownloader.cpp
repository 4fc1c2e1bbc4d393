#include "Auralith/foundation/AssetDownloader.h"

#include <fmt/format.h>

#include <random>
#include <system_error>

#include "Auralith/foundation/CacheRoots.h"
#include "platform/values/Files.h"

namespace auralith {

namespace fs = std::filesystem;

namespace {

// A session that sits idle this long gives up, like the platform session's default.
constexpr auto kIdleTimeout = std::chrono::seconds(60);

bool isHttp(const platform::Url& url) { return url.scheme() == "http" || url.scheme() == "https"; }

fs::path temporaryBeside(const fs::path& destination) {
    std::random_device rd;
    return destination.parent_path() /
           fmt::format(".{}.download-{:08x}{:08x}", destination.filename().string(), rd(), rd());
}

// The body of a 2xx answer; any other answer fails with its status.
platform::Task<platform::Result<platform::Bytes>> fetchChecked(platform::Url url, std::string description,
                                                               platform::HttpClient& session) {
    // Only HTTP responses carry a status; anything else counts as -1.
    if (!isHttp(url)) co_return platform::fail(AssetDownloader::toError({std::move(description), -1}));
    auto response = co_await session.send(platform::HttpRequest::get(url.absoluteString(), kIdleTimeout));
    if (!response) co_return platform::fail(response.error());
    if (!response->isSuccess())
        co_return platform::fail(AssetDownloader::toError({std::move(description), response->status}));
    co_return std::move(response->body);
}

}  // namespace

std::string AssetDownloader::Error::localizedDescription() const {
    return fmt::format("Unexpected response (status {}) while downloading {}", statusCode, description);
}

platform::Error AssetDownloader::toError(const Error& error) {
    return platform::Error::make(kErrorDomain, error.statusCode, "invalidResponse", error.localizedDescription());
}

std::optional<int> AssetDownloader::invalidResponseStatus(const platform::Error& error) {
    if (error.domain != kErrorDomain) return std::nullopt;
    return error.code;
}

platform::Status AssetDownloader::writeDataAtomically(const platform::Bytes& data, const fs::path& destination) {
    return platform::writeFileAtomically(destination, data);
}

platform::Status AssetDownloader::moveReplacingItem(const fs::path& temporaryFile, const fs::path& destination) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(destination, ec))) {
        fs::remove_all(destination, ec);
        if (ec)
            return platform::fail(platform::fileError(platform::FileErrorCode::writeFailed,
                                            fmt::format("Cannot remove {}: {}", destination.string(), ec.message())));
    }
    fs::rename(temporaryFile, destination, ec);
    if (ec)
        return platform::fail(platform::fileError(platform::FileErrorCode::moveFailed,
                                        fmt::format("Cannot move {} to {}: {}", temporaryFile.string(),
                                                    destination.string(), ec.message())));
    return platform::ok();
}

platform::Task<platform::Result<fs::path>> AssetDownloader::ensure(Descriptor descriptor, platform::HttpClient& session,
                                                                   const AppLogger& logger) {
    const fs::path destination = descriptor.destinationURL;
    std::error_code ec;
    if (descriptor.skipIfExists && fs::exists(destination, ec)) co_return destination;

    if (auto made = createFolders(destination.parent_path()); !made) co_return platform::fail(made.error());

    logger.info("Downloading " + descriptor.description + "\u2026");

    if (auto* store = std::get_if<DataStore>(&descriptor.transferMode.store)) {
        auto body = co_await fetchChecked(descriptor.remoteURL, descriptor.description, session);
        if (!body) co_return platform::fail(body.error());
        if (auto stored = (*store)(*body, destination); !stored) co_return platform::fail(stored.error());
    } else {
        const auto& fileStore = std::get<FileStore>(descriptor.transferMode.store);
        if (!isHttp(descriptor.remoteURL)) co_return platform::fail(toError({descriptor.description, -1}));
        const fs::path temporary = temporaryBeside(destination);
        auto request = platform::HttpRequest::get(descriptor.remoteURL.absoluteString(), kIdleTimeout);
        auto result = co_await session.download(std::move(request), temporary);
        if (!result) co_return platform::fail(result.error());
        if (!result->isSuccess() || !result->stored) {
            fs::remove(temporary, ec);
            co_return platform::fail(toError({descriptor.description, result->status}));
        }
        auto stored = fileStore(temporary, destination);
        fs::remove(temporary, ec);  // gone already when the store moved it
        if (!stored) co_return platform::fail(stored.error());
    }

    logger.info("Cached " + descriptor.description + " at " + destination.string());
    co_return destination;
}

platform::Task<platform::Result<platform::Bytes>> AssetDownloader::fetchData(platform::Url url, std::string description,
                                                                           platform::HttpClient& session,
                                                                           const AppLogger& logger) {
    logger.debug("Fetching " + description + " from " + url.absoluteString());
    co_return co_await fetchChecked(std::move(url), std::move(description), session);
}

}  // namespace auralith
