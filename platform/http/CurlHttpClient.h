#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/http/HttpClient.h"

namespace platform {

// How the client reaches the network. Proxies come only from here: the
// process's proxy variables are never consulted, so a stray one cannot
// redirect traffic (loopback tests included).
struct HttpClientConfig {
    // Proxy for http:// and for https:// URLs ("http://host:port"); none connects directly.
    std::optional<std::string> httpProxy;
    std::optional<std::string> httpsProxy;
};

// libcurl's multi interface on one thread of its own. Every request of every
// caller is a transfer on that thread; results are handed back by resuming the
// awaiting task on its own executor. Redirects are followed.
//
// Requests that keep cookies share one in-memory cookie jar (libcurl's share
// interface), which lives as long as the client.
//
// Destroying the client cancels whatever is still in flight.
class CurlHttpClient final : public HttpClient {
public:
    explicit CurlHttpClient(HttpClientConfig config = {});
    ~CurlHttpClient() override;
    CurlHttpClient(const CurlHttpClient&) = delete;
    CurlHttpClient& operator=(const CurlHttpClient&) = delete;

    Task<Result<HttpResponse>> send(HttpRequest request) override;
    Task<Result<HttpStream>> stream(HttpRequest request) override;
    Task<Result<DownloadResult>> download(HttpRequest request, std::filesystem::path destination,
                                          ProgressCallback progress = {}) override;

    struct Core;
    struct Transfer;
    struct CookieJar;

private:
    HttpClientConfig config_;
    std::shared_ptr<CookieJar> cookies_;
    std::shared_ptr<Core> core_;
};

}  // namespace platform
