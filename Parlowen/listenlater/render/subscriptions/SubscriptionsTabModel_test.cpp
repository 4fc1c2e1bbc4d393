#include "Parlowen/listenlater/render/subscriptions/SubscriptionsTabModel.h"

#include <gtest/gtest.h>

#include "Parlowen/listenlater/render/cleaner/ConnectedPublishers.h"
#include "platform/defaults/InMemoryUserDefaults.h"

using namespace parlowen;
using namespace platform;

namespace {

TEST(SubscriptionsTabModel, CustomAddressesNeedAHostAndGetHttpsOnlyWithoutAnHttpStart) {
    struct Case {
        const char* typed;
        std::optional<std::string> url;  // none: "Go" stays disabled
    };
    const Case cases[] = {
        {"   news.example  ", "https://news.example/"},
        {"\n\tnews.example/world?page=2 \n", "https://news.example/world?page=2"},
        {"HTTPS://Example.org/x", "https://Example.org/x"},  // kept as typed, no second scheme
        {"http://news.example/", "http://news.example/"},
        {"httpbin.org", std::nullopt},  // starts like "http": no prefix, and no host without one
        {"", std::nullopt},
        {"     ", std::nullopt},
        {"https://", std::nullopt},
        {"news example", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        const auto url = SubscriptionsTabModel::normalizedCustomURL(c.typed);
        ASSERT_EQ(url.has_value(), c.url.has_value()) << (url ? url->absoluteString() : "");
        if (c.url) {
            EXPECT_EQ(url->absoluteString(), *c.url);
        }
    }
    EXPECT_EQ(SubscriptionsTabModel::normalizedCustomURL("HTTPS://Example.org/x")->host(), "Example.org");
}

TEST(SubscriptionsTabModel, GoOpensAFreshTargetAndClearsTheFieldOnlyWithAnAddress) {
    InMemoryUserDefaults defaults;
    SubscriptionsTabModel tab(defaults);
    tab.customURL.set("httpbin.org");
    tab.openCustomSite();
    EXPECT_FALSE(tab.signInTarget.get());
    EXPECT_EQ(tab.customURL.get(), "httpbin.org");

    tab.customURL.set("  news.example ");
    tab.openCustomSite();
    const auto first = tab.signInTarget.get();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->url.absoluteString(), "https://news.example/");
    EXPECT_EQ(tab.customURL.get(), "");

    // Closing the sheet resets the target and leaves the field alone.
    tab.customURL.set("half typed");
    tab.signInClosed();
    EXPECT_FALSE(tab.signInTarget.get());
    EXPECT_EQ(tab.customURL.get(), "half typed");
}

TEST(SubscriptionsTabModel, PresetsAreFiveHttpsHomePagesAndEachOpeningIsNew) {
    InMemoryUserDefaults defaults;
    SubscriptionsTabModel tab(defaults);
    const auto& presets = tab.presets();
    ASSERT_EQ(presets.size(), 5u);
    const char* names[] = {"The New York Times", "The Wall Street Journal", "The Washington Post", "The Atlantic",
                           "The Economist"};
    for (std::size_t i = 0; i < presets.size(); ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(presets[i].name, names[i]);
        EXPECT_EQ(presets[i].url.scheme(), "https");
        EXPECT_EQ(presets[i].url.percentEncodedPath(), "/");
        EXPECT_TRUE(ConnectedPublishers::normalizedHost(presets[i].url.host()));
        for (std::size_t j = 0; j < i; ++j) EXPECT_NE(presets[i].id, presets[j].id);
    }

    tab.open(presets[1]);
    const auto first = tab.signInTarget.get();
    tab.signInClosed();
    tab.open(presets[1]);
    const auto second = tab.signInTarget.get();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->url, presets[1].url);
    EXPECT_EQ(second->url, presets[1].url);
    EXPECT_NE(first->id, second->id);
}

TEST(SubscriptionsTabModel, HostsAreReadOnlyAtTheirMomentsAndRemoveTouchesOnlyTheStoredOnes) {
    InMemoryUserDefaults defaults;
    ConnectedPublishers::connect(defaults, "wsj.com");
    ConnectedPublishers::connect(defaults, "economist.com");
    SubscriptionsTabModel tab(defaults);
    EXPECT_EQ(tab.connectedHosts.get(), (std::vector<std::string>{"economist.com", "wsj.com"}));

    // The store changing by itself shows only at the next moment.
    ConnectedPublishers::connect(defaults, "nytimes.com");
    EXPECT_EQ(tab.connectedHosts.get().size(), 2u);
    tab.signInConnected("nytimes.com");
    EXPECT_EQ(tab.connectedHosts.get(), (std::vector<std::string>{"economist.com", "nytimes.com", "wsj.com"}));

    const auto stored = defaults.object(ConnectedPublishers::kHostsKey);
    tab.remove("theatlantic.com");
    EXPECT_EQ(defaults.object(ConnectedPublishers::kHostsKey), stored);
    EXPECT_EQ(tab.connectedHosts.get().size(), 3u);

    tab.remove("nytimes.com");
    EXPECT_EQ(tab.connectedHosts.get(), (std::vector<std::string>{"economist.com", "wsj.com"}));
    EXPECT_EQ(ConnectedPublishers::hosts(defaults), tab.connectedHosts.get());

    // A stored value of another type lists nothing.
    defaults.set(ConnectedPublishers::kHostsKey, DefaultsValue(std::string("nytimes.com")));
    tab.refreshConnectedHosts();
    EXPECT_TRUE(tab.connectedHosts.get().empty());
    SubscriptionsTabModel fresh(defaults);
    EXPECT_TRUE(fresh.connectedHosts.get().empty());
}

}  // namespace
