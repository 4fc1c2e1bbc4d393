#pragma once

// The desktop notification server the tests use: dunst, started by D-Bus
// activation on a fixture's session bus, and what it has shown.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/testsupport/Services.h"

namespace testsupport {

// Debian installs dunst for D-Bus activation, which is how a request finds a
// server that is not running.
inline platform::Status dunstInstalled() {
    if (std::filesystem::exists("/usr/share/dbus-1/services/org.knopwob.dunst.service")) return platform::ok();
    return platform::fail(
        platform::Error::make("test", 1, "missing", "dunst is not installed (scripts/setup installs it)"));
}

// The summaries and bodies dunst keeps in its history, newest first (only
// closed notifications are there).
inline std::vector<std::pair<std::string, std::string>> notificationHistory(const ServiceFixture& session) {
    auto result = session.run({"dunstctl", "history"});
    EXPECT_TRUE(result.ok()) << result.describe();
    std::vector<std::pair<std::string, std::string>> out;
    auto json = nlohmann::json::parse(result.out, nullptr, false);
    if (json.is_discarded()) return out;
    for (const auto& n : json["data"][0])
        out.emplace_back(n["summary"]["data"].get<std::string>(), n["body"]["data"].get<std::string>());
    return out;
}

}  // namespace testsupport
