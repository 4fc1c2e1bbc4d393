#pragma once

// The Preferences window's tabs in sidebar order, with their titles and
// symbols. Header-only and Qt-free, so the application coordinator can name
// a tab without linking the window.

#include <array>
#include <optional>
#include <string_view>

namespace parlowen {

enum class PreferencesTab {
    general, tips, dictation, readAloud, subscriptions, aiRefinement, perApp, appearance, permissions, privacy, about
};

struct PreferencesTabInfo {
    PreferencesTab tab;
    std::string_view rawValue;  // the case name
    std::string_view title;     // the sidebar title
    std::string_view symbol;    // the sidebar symbol
};

// Every tab, in sidebar order.
inline constexpr std::array<PreferencesTabInfo, 11> preferencesTabs{{
    {PreferencesTab::general, "general", "General", "gear"},
    {PreferencesTab::tips, "tips", "Tips", "lightbulb"},
    {PreferencesTab::dictation, "dictation", "Dictation", "mic"},
    {PreferencesTab::readAloud, "readAloud", "Read-Aloud", "speaker.wave.2"},
    {PreferencesTab::subscriptions, "subscriptions", "Subscriptions", "key.horizontal"},
    {PreferencesTab::aiRefinement, "aiRefinement", "AI Refinement", "sparkles"},
    {PreferencesTab::perApp, "perApp", "Per-App Rules", "app.badge"},
    {PreferencesTab::appearance, "appearance", "Appearance", "paintpalette"},
    {PreferencesTab::permissions, "permissions", "Permissions", "lock.shield"},
    {PreferencesTab::privacy, "privacy", "Privacy", "hand.raised"},
    {PreferencesTab::about, "about", "About", "info.circle"},
}};

constexpr const PreferencesTabInfo& info(PreferencesTab tab) { return preferencesTabs[static_cast<std::size_t>(tab)]; }
constexpr std::string_view rawValue(PreferencesTab tab) { return info(tab).rawValue; }
constexpr std::string_view title(PreferencesTab tab) { return info(tab).title; }
constexpr std::string_view systemSymbol(PreferencesTab tab) { return info(tab).symbol; }

// Only the eleven exact case names give a tab.
constexpr std::optional<PreferencesTab> preferencesTabFromRawValue(std::string_view raw) {
    for (const auto& i : preferencesTabs)
        if (i.rawValue == raw) return i.tab;
    return std::nullopt;
}

}  // namespace parlowen
