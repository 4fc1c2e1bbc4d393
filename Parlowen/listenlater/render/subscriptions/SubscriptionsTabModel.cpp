#include "Parlowen/listenlater/render/subscriptions/SubscriptionsTabModel.h"

#include "Parlowen/listenlater/render/cleaner/ConnectedPublishers.h"
#include "platform/text/Unicode.h"

namespace parlowen {

SubscriptionsTabModel::SubscriptionsTabModel(platform::UserDefaults& defaults)
    : connectedHosts(ConnectedPublishers::hosts(defaults)), defaults_(defaults) {
    for (const auto& entry : kPublisherPresets) {
        // The table holds valid addresses; a broken entry would be left out rather than crash the page.
        if (auto url = platform::Url::parse(entry.url))
            presets_.push_back(PublisherPreset{platform::Uuid::random(), entry.name, std::move(*url)});
    }
}

void SubscriptionsTabModel::refreshConnectedHosts() { connectedHosts.set(ConnectedPublishers::hosts(defaults_)); }

void SubscriptionsTabModel::remove(const std::string& host) {
    ConnectedPublishers::disconnect(defaults_, host);
    refreshConnectedHosts();
}

void SubscriptionsTabModel::open(const PublisherPreset& preset) {
    signInTarget.set(SignInTarget{platform::Uuid::random(), preset.url});
}

std::optional<platform::Url> SubscriptionsTabModel::normalizedCustomURL(std::string_view text) {
    auto trimmed = platform::text::trim(text);
    if (trimmed.empty()) return std::nullopt;
    if (!platform::text::lowercased(trimmed).starts_with("http")) trimmed.insert(0, "https://");
    auto url = platform::Url::parse(trimmed);
    if (!url || !url->host() || url->host()->empty()) return std::nullopt;
    return url;
}

void SubscriptionsTabModel::openCustomSite() {
    auto url = normalizedCustomURL();
    if (!url) return;
    signInTarget.set(SignInTarget{platform::Uuid::random(), std::move(*url)});
    customURL.set(std::string());
}

void SubscriptionsTabModel::signInConnected(const std::string&) { refreshConnectedHosts(); }

void SubscriptionsTabModel::signInClosed() { signInTarget.set(std::nullopt); }

}  // namespace parlowen
