#include "Parlowen/dictation/DictationShortcutChecker.h"

#include "platform/defaults/ForeignPreferences.h"
#include "platform/keyevents/KeyEventSource.h"
#include "platform/log/Log.h"
#include "platform/x11/Workspace.h"

namespace parlowen {

using platform::DefaultsArray;
using platform::DefaultsDictionary;
using platform::DefaultsValue;

namespace {

const platform::Logger& hygieneLog() {
    static const platform::Logger log("com.kelvatrum.Parlowen", "dictation-hygiene");
    return log;
}

// A number of the preferences (Boolean, integer or real) as an unsigned
// 64-bit value; none for anything else.
std::optional<std::uint64_t> number(const DefaultsValue& v) {
    if (auto b = v.get<bool>()) return *b ? 1u : 0u;
    if (auto i = v.get<std::int64_t>()) return static_cast<std::uint64_t>(*i);
    if (auto f = v.get<float>()) return static_cast<std::uint64_t>(static_cast<std::int64_t>(*f));
    if (auto d = v.get<double>()) return static_cast<std::uint64_t>(static_cast<std::int64_t>(*d));
    return std::nullopt;
}

// The Boolean value of a number (any non-zero value is true); none for anything else.
std::optional<bool> boolean(const DefaultsValue& v) {
    if (auto f = v.get<float>()) return *f != 0;
    if (auto d = v.get<double>()) return *d != 0;
    if (auto n = number(v)) return *n != 0;
    return std::nullopt;
}

const DefaultsValue* member(const DefaultsDictionary& dict, const char* key) {
    auto it = dict.find(key);
    return it == dict.end() ? nullptr : &it->second;
}

// "type" and the numeric "parameters" (non-empty) of a "value" dictionary.
struct Binding {
    std::string type;
    std::vector<std::uint64_t> parameters;
};

std::optional<Binding> bindingOf(const DefaultsDictionary* value) {
    if (!value) return std::nullopt;
    const auto* type = member(*value, "type");
    const auto* params = member(*value, "parameters");
    if (!type || !type->get<std::string>() || !params || !params->get<DefaultsArray>()) return std::nullopt;
    Binding out{*type->get<std::string>(), {}};
    for (const auto& p : *params->get<DefaultsArray>()) {
        auto n = number(p);
        if (!n) return std::nullopt;
        out.parameters.push_back(*n);
    }
    if (out.parameters.empty()) return std::nullopt;
    return out;
}

// The modifier bit a hold key sets (Command, Option or Control).
std::uint64_t modifierOf(Hotkey key) { return platform::modifierKeyFlags(keyCode(key)) & ModifierFlags::comboMask; }

// The hot-key dictionary and its entry 164, when both are dictionaries.
struct Entry {
    DefaultsDictionary all;
    DefaultsDictionary entry;
};

std::optional<Entry> readEntry(platform::ForeignPreferences& preferences) {
    auto value = preferences.copyAppValue(DictationShortcutChecker::kHotKeysKey, DictationShortcutChecker::kDomain);
    if (!value || !value->get<DefaultsDictionary>()) return std::nullopt;
    const auto& all = *value->get<DefaultsDictionary>();
    const auto* entry = member(all, DictationShortcutChecker::kDictationEntry);
    if (!entry || !entry->get<DefaultsDictionary>()) return std::nullopt;
    return Entry{all, *entry->get<DefaultsDictionary>()};
}

}  // namespace

platform::Error DictationShortcutChecker::toError(DisableError e) {
    const int code = e == DisableError::entryNotFound ? 0 : 1;
    return platform::Error::make(
        "DictationShortcutChecker.DisableError", code,
        e == DisableError::entryNotFound ? "entryNotFound" : "writeFailed",
        "The operation couldn’t be completed. (Parlowen.DictationShortcutChecker.DisableError error " +
            std::to_string(code) + ".)");
}

DictationShortcutChecker::DictationShortcutChecker(std::function<std::vector<Hotkey>()> watched,
                                                   platform::ForeignPreferences& preferences,
                                                   platform::Workspace& workspace)
    : watchedHotkeys(std::move(watched)), preferences_(preferences), workspace_(workspace) {}

std::string DictationShortcutChecker::symbols(std::uint64_t mask) {
    return ((mask & ModifierFlags::function) ? "fn" : "") + KeyCombo::modifierSymbols(mask);
}

std::optional<std::uint64_t> DictationShortcutChecker::boundModifierMask(const DefaultsDictionary* value) {
    auto binding = bindingOf(value);
    if (!binding) return std::nullopt;
    if (binding->type == "modifier") return binding->parameters[0];
    if (binding->type == "standard" && binding->parameters.size() >= 3) return binding->parameters[2];
    return std::nullopt;
}

std::string DictationShortcutChecker::describeShortcut(const DefaultsDictionary* value) {
    auto binding = bindingOf(value);
    if (!binding) return {};
    if (binding->type == "modifier") return symbols(binding->parameters[0]);
    if (binding->type == "standard") {
        const std::string mods = binding->parameters.size() >= 3 ? symbols(binding->parameters[2]) : std::string();
        return mods.empty() ? "key" : mods + "+key";
    }
    return {};
}

DictationShortcutChecker::State DictationShortcutChecker::currentState() const {
    auto read = readEntry(preferences_);
    if (!read) return {};
    State state;
    if (const auto* enabled = member(read->entry, "enabled"))
        state.isShortcutEnabled = boolean(*enabled).value_or(false);
    const auto* valueMember = member(read->entry, "value");
    const DefaultsDictionary* value = valueMember ? valueMember->get<DefaultsDictionary>() : nullptr;
    state.boundShortcutDescription = describeShortcut(value);
    if (auto mask = boundModifierMask(value); mask && watchedHotkeys) {
        for (Hotkey key : watchedHotkeys())
            if (modifierOf(key) == *mask) state.collidesWith.push_back(key);
    }
    return state;
}

platform::Status DictationShortcutChecker::disableSystemShortcut() {
    auto read = readEntry(preferences_);
    if (!read) return platform::fail(toError(DisableError::entryNotFound));
    read->entry.insert_or_assign("enabled", DefaultsValue(false));
    read->all.insert_or_assign(kDictationEntry, DefaultsValue(std::move(read->entry)));
    preferences_.setAppValue(kHotKeysKey, DefaultsValue(std::move(read->all)), kDomain);
    if (!preferences_.synchronize(kDomain)) return platform::fail(toError(DisableError::writeFailed));
    preferences_.postDistributedNotification(kChangedNotification);
    hygieneLog().info("disabled system dictation shortcut (symbolic hotkey 164)");
    return platform::ok();
}

void DictationShortcutChecker::openKeyboardSettings() { workspace_.openURL(kKeyboardSettingsURL); }

}  // namespace parlowen
