#include "Auralith/foundation/ModelRegistry.h"

#include <fmt/format.h>

namespace auralith {

platform::Error ModelRegistryError::makeInvalidURL(std::string text) {
    auto description = "Invalid URL construction: " + text;
    return platform::Error::make(kDomain, invalidURL, "invalidURL", std::move(description));
}

namespace {
std::string proxyURL(const ProxyEndpoint& endpoint) {
    // An IPv6 literal needs its brackets back in a URL.
    const bool ipv6 = endpoint.host.find(':') != std::string::npos;
    return fmt::format("http://{}{}{}:{}", ipv6 ? "[" : "", endpoint.host, ipv6 ? "]" : "", endpoint.port);
}
}  // namespace

platform::HttpClientConfig ProxyConfiguration::clientConfig() const {
    platform::HttpClientConfig config;
    if (https) config.httpsProxy = proxyURL(*https);
    if (http) config.httpProxy = proxyURL(*http);
    return config;
}

ModelRegistry::ModelRegistry(platform::Environment environment) : environment_(std::move(environment)) {}

std::string ModelRegistry::baseURL() const {
    {
        std::lock_guard lock(mutex_);
        if (override_) return *override_;
    }
    if (auto url = environment_.get("REGISTRY_URL")) return *url;
    if (auto url = environment_.get("MODEL_REGISTRY_URL")) return *url;
    return kDefaultBaseURL;
}

void ModelRegistry::setBaseURL(std::string url) {
    std::lock_guard lock(mutex_);
    override_ = std::move(url);
}

platform::Result<platform::Url> ModelRegistry::build(std::string text) const {
    if (auto url = platform::Url::parse(text)) return *url;
    return platform::fail(ModelRegistryError::makeInvalidURL(std::move(text)));
}

platform::Result<platform::Url> ModelRegistry::apiModels(std::string_view repository, std::string_view path) const {
    return build(fmt::format("{}/api/models/{}/{}", baseURL(), repository, path));
}

platform::Result<platform::Url> ModelRegistry::resolveModel(std::string_view repository,
                                                            std::string_view path) const {
    return build(fmt::format("{}/{}/resolve/main/{}", baseURL(), repository, path));
}

platform::Result<platform::Url> ModelRegistry::apiDatasets(std::string_view repository,
                                                           std::string_view path) const {
    return build(fmt::format("{}/api/datasets/{}/{}", baseURL(), repository, path));
}

platform::Result<platform::Url> ModelRegistry::resolveDataset(std::string_view repository,
                                                              std::string_view path) const {
    return build(fmt::format("{}/datasets/{}/resolve/main/{}", baseURL(), repository, path));
}

std::string ModelRegistry::resolveDatasetBase(std::string_view repository) const {
    return fmt::format("{}/datasets/{}/resolve/main", baseURL(), repository);
}

const AppLogger& ModelRegistry::logger() const {
    std::call_once(loggerOnce_, [this] { logger_ = std::make_unique<AppLogger>("ModelRegistry"); });
    return *logger_;
}

std::optional<ProxyEndpoint> ModelRegistry::proxyEntry(const std::string& value, std::string_view label) const {
    const auto url = platform::Url::parse(value);
    if (!url || !url->host() || url->host()->empty() || !url->port()) {
        // The value may carry a user name and password; they stay out of the log.
        logger().warning(fmt::format("Invalid {} proxy URL: {}", label, redactProxyCredentials(value)));
        return std::nullopt;
    }
    logger().info(fmt::format("Configured {} proxy: {}:{}", label, *url->host(), *url->port()));
    return ProxyEndpoint{*url->host(), *url->port()};
}

std::optional<ProxyConfiguration> ModelRegistry::proxyConfiguration() const {
    ProxyConfiguration config;
    if (auto value = environment_.get("https_proxy")) config.https = proxyEntry(*value, "HTTPS");
    if (auto value = environment_.get("http_proxy")) config.http = proxyEntry(*value, "HTTP");
    if (!config.https && !config.http) return std::nullopt;
    return config;
}

std::string redactProxyCredentials(std::string_view value) {
    const auto at = value.rfind('@');
    if (at == std::string_view::npos) return std::string(value);
    const auto scheme = value.find("://");
    const std::size_t start = scheme != std::string_view::npos && scheme < at ? scheme + 3 : 0;
    return std::string(value.substr(0, start)) + "***" + std::string(value.substr(at));
}

}  // namespace auralith
