#include "Parlowen/readaloud/ChunkedDataStream.h"

namespace parlowen {

platform::Error ChunkedDataStream::nonHttpResponse() {
    return platform::Error::make(kErrorDomain, -1, "nonHttpResponse", "Non-HTTP response");
}

platform::Task<platform::Result<ChunkedDataStream::Response>> ChunkedDataStream::go(platform::HttpRequest request) {
    auto opened = co_await http_.stream(std::move(request));
    if (!opened) co_return platform::fail(opened.error());
    // Every answer of the HTTP layer has a status line; one without (status 0)
    // is not HTTP. Dropping the unread stream cancels the transfer.
    if (opened->status < 100 || opened->status > 999) co_return platform::fail(nonHttpResponse());
    Response response;
    response.http = Head{opened->status, opened->headers};
    response.stream = Body(std::move(*opened));
    co_return std::move(response);
}

}  // namespace parlowen
