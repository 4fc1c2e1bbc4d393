#pragma once

// The Subscriptions page without its widgets: the connected publishers it
// lists, the ready-made publishers and the custom address it offers, and
// the sign-in it asks for. Main executor only.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/defaults/UserDefaults.h"
#include "platform/runtime/Observable.h"
#include "platform/values/Url.h"
#include "platform/values/Uuid.h"

namespace parlowen {

// A ready-made publisher.
struct PublisherPreset {
    platform::Uuid id;  // random, made with the page
    std::string name;
    platform::Url url;  // where its sign-in starts
};

// The publishers offered, in display order: each publisher's https home page.
struct PublisherPresetEntry {
    const char* name;
    const char* url;
};
inline constexpr PublisherPresetEntry kPublisherPresets[] = {
    {"The New York Times", "https://www.nytimes.com/"},
    {"The Wall Street Journal", "https://www.wsj.com/"},
    {"The Washington Post", "https://www.washingtonpost.com/"},
    {"The Atlantic", "https://www.theatlantic.com/"},
    {"The Economist", "https://www.economist.com/"},
};

// One opening of the sign-in sheet; a fresh id each time, so opening the
// same address twice makes two sheets.
struct SignInTarget {
    platform::Uuid id;
    platform::Url url;
    friend bool operator==(const SignInTarget&, const SignInTarget&) = default;
};

inline constexpr const char* kConnectedPublishersHeader = "Connected publishers";
inline constexpr const char* kNoPublishersText = "No publishers connected yet.";
inline constexpr const char* kRemoveText = "Remove";
inline constexpr const char* kSubscriptionsFooter =
    "Sign in to a publisher you subscribe to and Quon can read its paywalled articles with your own account — on "
    "this Mac, for your listening only. Sessions expire occasionally; just sign in again.";
inline constexpr const char* kAddPublisherHeader = "Add a publisher";
inline constexpr const char* kCustomSitePlaceholder = "Other site (paste a URL)";
inline constexpr const char* kGoText = "Go";

class SubscriptionsTabModel {
public:
    // Reads the connected hosts at once.
    explicit SubscriptionsTabModel(platform::UserDefaults& defaults);
    SubscriptionsTabModel(const SubscriptionsTabModel&) = delete;
    SubscriptionsTabModel& operator=(const SubscriptionsTabModel&) = delete;

    // The hosts listed, in the store's (sorted) order; read from the store
    // only at construction, on refresh, after Remove and after a Connect.
    platform::Observable<std::vector<std::string>> connectedHosts;
    // The sheet to show; none while no sheet is open.
    platform::Observable<std::optional<SignInTarget>> signInTarget{std::nullopt};
    // The custom-site field's text.
    platform::Observable<std::string> customURL{std::string()};

    const std::vector<PublisherPreset>& presets() const { return presets_; }

    void refreshConnectedHosts();
    // Takes the host off the list (its cookies stay in the profile).
    void remove(const std::string& host);
    void open(const PublisherPreset& preset);

    // The custom text as an address with a host, or none: trimmed; a text
    // that does not begin with "http" (in any case) gets "https://" in
    // front. "Go" is enabled exactly when this gives an address.
    static std::optional<platform::Url> normalizedCustomURL(std::string_view text);
    std::optional<platform::Url> normalizedCustomURL() const { return normalizedCustomURL(customURL.get()); }
    // Opens the sheet for the custom address and clears the field; nothing without an address.
    void openCustomSite();

    // The sheet's Connect: the list is read again.
    void signInConnected(const std::string& host);
    // The sheet closed, however it closed.
    void signInClosed();

private:
    platform::UserDefaults& defaults_;
    std::vector<PublisherPreset> presets_;
};

}  // namespace parlowen
