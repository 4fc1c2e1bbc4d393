#include "Parlowen/listenlater/render/cleaner/ConnectedPublishers.h"

#include <algorithm>
#include <set>

#include "platform/text/Unicode.h"

namespace parlowen::ConnectedPublishers {

namespace {

std::string dropPrefix(std::string text, std::string_view prefix) {
    if (text.starts_with(prefix)) text.erase(0, prefix.size());
    return text;
}

std::string normalize(std::string_view host) { return dropPrefix(platform::text::lowercased(host), "www."); }

bool endsWithLabel(std::string_view host, std::string_view domain) {
    return host.size() > domain.size() + 1 && host.ends_with(domain) && host[host.size() - domain.size() - 1] == '.';
}

// A missing value, or one that is not an array of strings only, is the empty set.
std::set<std::string> stored(const platform::UserDefaults& defaults) {
    auto hosts = defaults.stringArrayForKey(kHostsKey);
    if (!hosts) return {};
    return {hosts->begin(), hosts->end()};
}

void store(platform::UserDefaults& defaults, const std::set<std::string>& hosts) {
    platform::DefaultsArray array;
    for (const auto& h : hosts) array.emplace_back(h);
    defaults.set(kHostsKey, platform::DefaultsValue(std::move(array)));
}

}  // namespace

std::vector<std::string> hosts(const platform::UserDefaults& defaults) {
    auto set = stored(defaults);
    return {set.begin(), set.end()};  // a std::set is already in ascending order
}

std::optional<std::string> normalizedHost(const std::optional<std::string>& host) {
    if (!host || host->empty()) return std::nullopt;
    return normalize(*host);
}

bool isConnected(const platform::UserDefaults& defaults, const std::optional<std::string>& host) {
    if (!host || host->empty()) return false;
    const auto h = normalize(*host);
    for (const auto& s : stored(defaults))
        if (h == s || endsWithLabel(h, s)) return true;
    return false;
}

void connect(platform::UserDefaults& defaults, const std::optional<std::string>& host) {
    if (!host || host->empty()) return;
    auto set = stored(defaults);
    set.insert(normalize(*host));
    store(defaults, set);
}

void disconnect(platform::UserDefaults& defaults, const std::string& host) {
    if (host.empty()) return;
    auto set = stored(defaults);
    set.erase(normalize(host));
    store(defaults, set);
}

bool hasSessionCookie(const std::vector<platform::WebCookie>& cookies, const std::optional<std::string>& host) {
    if (!host || host->empty()) return false;
    const auto h = normalize(*host);
    for (const auto& cookie : cookies) {
        const auto domain = dropPrefix(dropPrefix(platform::text::lowercased(cookie.domain), "."), "www.");
        if (!(domain == h || endsWithLabel(domain, h) || endsWithLabel(h, domain))) continue;
        if (platform::text::graphemeCount(cookie.value) < 16) continue;
        const auto name = platform::text::lowercased(cookie.name);
        if (std::any_of(std::begin(sessionCookieMarkers), std::end(sessionCookieMarkers),
                        [&](const char* marker) { return name.find(marker) != std::string::npos; }))
            return true;
    }
    return false;
}

}  // namespace parlowen::ConnectedPublishers
