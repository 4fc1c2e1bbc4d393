#include <gtest/gtest.h>

#include "platform/http/HttpTypes.h"

using namespace platform;

namespace {

TEST(HttpHeaders, LookupIgnoresCaseAndKeepsOrderAndRepeats) {
    HttpHeaders h;
    h.add("Content-Type", "text/plain");
    h.add("Set-Cookie", "a=1");
    h.add("set-cookie", "b=2");
    EXPECT_EQ(h.value("content-type"), "text/plain");
    EXPECT_EQ(h.value("CONTENT-TYPE"), "text/plain");
    EXPECT_EQ(h.values("Set-Cookie"), (std::vector<std::string>{"a=1", "b=2"}));
    EXPECT_FALSE(h.value("Content-Typ"));

    h.set("SET-COOKIE", "c=3");  // replaces both, where the first one stood
    ASSERT_EQ(h.size(), 2u);
    EXPECT_EQ(h.fields()[1], (HttpHeaders::Field{"SET-COOKIE", "c=3"}));
    h.remove("content-TYPE");
    EXPECT_EQ(h.fields(), (std::vector<HttpHeaders::Field>{{"SET-COOKIE", "c=3"}}));
}

TEST(HttpError, CodesAreDistinctAndNamed) {
    Error timedOut = toError(HttpError::timedOut);
    Error transport = toError(HttpError::transport, "Connection refused");
    EXPECT_EQ(timedOut.domain, "http");
    EXPECT_EQ(timedOut.caseName, "timedOut");
    EXPECT_EQ(transport.caseName, "transport");
    EXPECT_NE(timedOut.code, transport.code);
    EXPECT_EQ(transport.description, "The network connection failed: Connection refused");
    EXPECT_TRUE(isHttpError(timedOut, HttpError::timedOut));
    EXPECT_FALSE(isHttpError(Error::cancelled(), HttpError::timedOut));
}

}  // namespace
