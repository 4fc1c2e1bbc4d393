#include "Parlowen/listenlater/render/cleaner/ConnectedPublishers.h"

#include <gtest/gtest.h>

#include "platform/defaults/InMemoryUserDefaults.h"

using namespace parlowen;
using platform::WebCookie;

namespace {

TEST(ConnectedPublishers, StoresHostsNormalisedOnceAndSorted) {
    platform::InMemoryUserDefaults defaults;
    ConnectedPublishers::connect(defaults, "WWW.NYTimes.com");
    ConnectedPublishers::connect(defaults, "nytimes.com");
    ConnectedPublishers::connect(defaults, "economist.com");
    ConnectedPublishers::connect(defaults, std::nullopt);
    ConnectedPublishers::connect(defaults, "");
    EXPECT_EQ(ConnectedPublishers::hosts(defaults), (std::vector<std::string>{"economist.com", "nytimes.com"}));
    ConnectedPublishers::disconnect(defaults, "www.nytimes.com");
    ConnectedPublishers::disconnect(defaults, "");
    EXPECT_EQ(ConnectedPublishers::hosts(defaults), (std::vector<std::string>{"economist.com"}));
}

TEST(ConnectedPublishers, AStoredHostConnectsItselfAndItsSubdomainsOnly) {
    platform::InMemoryUserDefaults defaults;
    ConnectedPublishers::connect(defaults, "news.example");
    struct Case {
        std::optional<std::string> host;
        bool connected;
    };
    const Case cases[] = {
        {"news.example", true},     {"NEWS.EXAMPLE", true},
        {"www.news.example", true}, {"edition.news.example", true},
        {"badnews.example", false}, {"news.example.org", false},
        {std::nullopt, false},      {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ConnectedPublishers::isConnected(defaults, c.host), c.connected) << c.host.value_or("<none>");
}

TEST(ConnectedPublishers, AWronglyTypedStoredValueReadsAsEmptyAndTheNextConnectReplacesIt) {
    for (const platform::DefaultsValue& stored :
         {platform::DefaultsValue(std::string("news.example")),
          platform::DefaultsValue(platform::DefaultsArray{platform::DefaultsValue(std::string("a.example")),
                                                          platform::DefaultsValue(std::int64_t{3})})}) {
        platform::InMemoryUserDefaults defaults;
        defaults.set(ConnectedPublishers::kHostsKey, stored);
        EXPECT_TRUE(ConnectedPublishers::hosts(defaults).empty());
        EXPECT_FALSE(ConnectedPublishers::isConnected(defaults, "news.example"));
        ConnectedPublishers::connect(defaults, "b.example");
        EXPECT_EQ(ConnectedPublishers::hosts(defaults), (std::vector<std::string>{"b.example"}));
    }
}

TEST(ConnectedPublishers, SessionCookieRule) {
    const std::string twenty = "abcdefghij0123456789";
    struct Case {
        const char* what;
        WebCookie cookie;
        std::optional<std::string> host;
        bool qualifies;
    };
    const Case cases[] = {
        {"dotted domain, name in capitals", {"SESSIONID", twenty, ".news.example"}, "www.news.example", true},
        {"15 characters", {"sessionid", twenty.substr(0, 15), ".news.example"}, "news.example", false},
        {"16 characters", {"sessionid", twenty.substr(0, 16), ".news.example"}, "news.example", true},
        {"www. domain", {"auth", twenty, "www.news.example"}, "news.example", true},
        {"subdomain cookie", {"token", twenty, "login.news.example"}, "news.example", true},
        {"parent domain cookie", {"token", twenty, ".news.example"}, "edition.news.example", true},
        {"same letters, other domain", {"token", twenty, "badnews.example"}, "news.example", false},
        {"SID", {"SID", twenty, "news.example"}, "news.example", true},
        {"ends in -s", {"nyt-s", twenty, "news.example"}, "news.example", true},
        {"no marker", {"preferences", twenty + twenty, "news.example"}, "news.example", false},
        {"no host", {"sessionid", twenty, "news.example"}, std::nullopt, false},
        {"empty host", {"sessionid", twenty, "news.example"}, "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ConnectedPublishers::hasSessionCookie({c.cookie}, c.host), c.qualifies) << c.what;
}

}  // namespace
