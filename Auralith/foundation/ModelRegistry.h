#pragma once

// Where the package fetches its models from: the model hub's base address
// (an override, then REGISTRY_URL, then MODEL_REGISTRY_URL, then the public
// hub), the hub's listing and download addresses, and the proxies of the
// package's HTTP client from https_proxy and http_proxy.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "Auralith/foundation/AppLogger.h"
#include "platform/http/CurlHttpClient.h"
#include "platform/runtime/Environment.h"
#include "platform/runtime/Error.h"
#include "platform/values/Url.h"

namespace auralith {

// Errors of the registry: domain "ModelRegistry.Error".
struct ModelRegistryError {
    static constexpr const char* kDomain = "ModelRegistry.Error";
    enum Code { invalidURL = 1 };
    // "Invalid URL construction: " + the rejected text.
    static platform::Error makeInvalidURL(std::string text);
};

// One proxy: where to connect for requests of one scheme.
struct ProxyEndpoint {
    std::string host;
    int port = 0;
    friend bool operator==(const ProxyEndpoint&, const ProxyEndpoint&) = default;
};

// The proxy settings of the package's HTTP client. A scheme that is present is
// enabled; its proxy host and port come with it.
struct ProxyConfiguration {
    std::optional<ProxyEndpoint> https;
    std::optional<ProxyEndpoint> http;

    // The client settings that route requests through these proxies.
    platform::HttpClientConfig clientConfig() const;
    friend bool operator==(const ProxyConfiguration&, const ProxyConfiguration&) = default;
};

class ModelRegistry {
public:
    // The public hub's root, used when nothing overrides it.
    static constexpr const char* kDefaultBaseURL = "https://huggingface.co";

    explicit ModelRegistry(platform::Environment environment);

    // The override, else REGISTRY_URL, else MODEL_REGISTRY_URL, else the
    // public hub; evaluated on every read. A variable that is set is used as
    // it is, even when empty.
    std::string baseURL() const;
    // Overrides the base address for good. Set it before downloads start.
    void setBaseURL(std::string url);

    // base + "/api/models/" + repository + "/" + path. The arguments are
    // appended verbatim (no encoding, no slash handling); fails with
    // invalidURL when the result is not a URL.
    platform::Result<platform::Url> apiModels(std::string_view repository, std::string_view path) const;
    // base + "/" + repository + "/resolve/main/" + path.
    platform::Result<platform::Url> resolveModel(std::string_view repository, std::string_view path) const;
    // base + "/api/datasets/" + repository + "/" + path.
    platform::Result<platform::Url> apiDatasets(std::string_view repository, std::string_view path) const;
    // base + "/datasets/" + repository + "/resolve/main/" + path.
    platform::Result<platform::Url> resolveDataset(std::string_view repository, std::string_view path) const;
    // base + "/datasets/" + repository + "/resolve/main" (no trailing slash).
    std::string resolveDatasetBase(std::string_view repository) const;

    // Proxies from "https_proxy" and "http_proxy" (lower case only). Each must
    // be a URL with a host and an explicit port; one that is not is logged and
    // left out. Nothing when neither gives a proxy.
    std::optional<ProxyConfiguration> proxyConfiguration() const;

    // The environment the registry (and the download service) reads.
    const platform::Environment& environment() const { return environment_; }

private:
    platform::Result<platform::Url> build(std::string text) const;
    std::optional<ProxyEndpoint> proxyEntry(const std::string& value, std::string_view label) const;
    const AppLogger& logger() const;

    platform::Environment environment_;
    mutable std::mutex mutex_;
    std::optional<std::string> override_;
    mutable std::once_flag loggerOnce_;
    mutable std::unique_ptr<AppLogger> logger_;
};

// The proxy value as it may be logged: any user name and password replaced by "***".
std::string redactProxyCredentials(std::string_view value);

}  // namespace auralith
