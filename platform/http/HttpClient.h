#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

#include "platform/http/HttpTypes.h"
#include "platform/runtime/Task.h"

namespace platform {

// The HTTP client that services are given (the real one or a double).
//
// Every operation is a task: it resumes on the executor of the task that
// awaits it, and the task's stop token cancels the transfer (the result is
// then `Error::cancelled()`). An HTTP error status is not a failure: the
// response carries it and the caller judges it.
class HttpClient {
public:
    // Bytes received so far and the expected total (-1 when the server did not
    // say). Called on the awaiting task's executor, never after the download
    // has returned.
    using ProgressCallback = std::function<void(std::int64_t bytesReceived, std::int64_t expectedTotal)>;

    virtual ~HttpClient() = default;

    // The whole response, body included.
    virtual Task<Result<HttpResponse>> send(HttpRequest request) = 0;

    // Returns once the head has arrived; the body follows through the stream.
    virtual Task<Result<HttpStream>> stream(HttpRequest request) = 0;

    // Writes the body to a temporary file beside `destination` and moves it
    // into place only when the whole body arrived with a 2xx status. The
    // destination's folder must exist.
    virtual Task<Result<DownloadResult>> download(HttpRequest request, std::filesystem::path destination,
                                                  ProgressCallback progress = {}) = 0;
};

}  // namespace platform
