#pragma once

// The publishers the user signed in to, kept in the user defaults, and the
// cookie rule that tells whether a sign-in took.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/defaults/UserDefaults.h"
#include "platform/webview/WebView.h"

namespace parlowen::ConnectedPublishers {

inline constexpr const char* kHostsKey = "connectedPublisherHosts";

// Substrings of a cookie name that mark a session, in the order they are tried.
inline constexpr const char* sessionCookieMarkers[] = {"session", "sessionid",  "sess",     "sid",
                                                       "auth",    "token",      "login",    "logged",
                                                       "member",  "subscriber", "remember", "-s"};

// The stored hosts, sorted.
std::vector<std::string> hosts(const platform::UserDefaults& defaults);
// Lower case with one leading "www." removed; nothing for nothing or an empty host.
std::optional<std::string> normalizedHost(const std::optional<std::string>& host);
// True for a stored host and for its subdomains.
bool isConnected(const platform::UserDefaults& defaults, const std::optional<std::string>& host);
void connect(platform::UserDefaults& defaults, const std::optional<std::string>& host);
void disconnect(platform::UserDefaults& defaults, const std::string& host);
// Whether a cookie of `host` (or of its subdomains or parent domains) with a
// value of at least 16 characters has a session marker in its name.
bool hasSessionCookie(const std::vector<platform::WebCookie>& cookies, const std::optional<std::string>& host);

}  // namespace parlowen::ConnectedPublishers
