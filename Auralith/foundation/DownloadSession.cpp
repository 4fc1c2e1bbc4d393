#include "Auralith/foundation/DownloadUtils.h"
#include "platform/http/CurlHttpClient.h"

namespace auralith {

std::unique_ptr<platform::HttpClient> DownloadUtils::makeSharedSession(const ModelRegistry& registry) {
    const auto proxies = registry.proxyConfiguration();
    return std::make_unique<platform::CurlHttpClient>(proxies ? proxies->clientConfig() : platform::HttpClientConfig{});
}

}  // namespace auralith
