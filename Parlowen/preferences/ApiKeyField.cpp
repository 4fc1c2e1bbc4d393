#include "Parlowen/preferences/ApiKeyField.h"

#include <array>

#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/pasteboard/Pasteboard.h"
#include "platform/text/Unicode.h"
#include "platform/x11/Workspace.h"

namespace parlowen {

namespace {

using Key = KeychainStore::Key;

constexpr std::array<ApiKeyMemberInfo, 5> kMembers{{
    {ApiKeyMember::anthropic, Key::anthropic, "Anthropic", "sk-ant-", "", 40, 200, "Get an Anthropic API key", false,
     true, true},
    {ApiKeyMember::openAI, Key::openAI, "OpenAI", "sk-", "sk-ant-", 20, 200, "Get an OpenAI API key", true, false,
     true},
    {ApiKeyMember::cartesia, Key::cartesia, "Cartesia", "sk_car_", "", 20, 200, "Get a Cartesia API key", true, false,
     true},
    {ApiKeyMember::elevenLabs, Key::elevenLabs, "ElevenLabs", "sk_", "sk_car_", 20, 200, "Get an ElevenLabs API key",
     true, false, true},
    {ApiKeyMember::groq, Key::groq, "Groq", "gsk_", "", 20, 200, "Get a Groq API key", false, false, false},
}};

std::string name(ApiKeyMember m) { return std::string(info(m).name); }
std::string service(ApiKeyMember m) { return KeychainStore::service(info(m).key); }

}  // namespace

const ApiKeyMemberInfo& info(ApiKeyMember member) { return kMembers[static_cast<std::size_t>(member)]; }

const std::string& ApiKeyPages::of(ApiKeyMember member) const {
    switch (member) {
        case ApiKeyMember::anthropic: return anthropic;
        case ApiKeyMember::openAI: return openAI;
        case ApiKeyMember::cartesia: return cartesia;
        case ApiKeyMember::elevenLabs: return elevenLabs;
        case ApiKeyMember::groq: return groq;
    }
    return openAI;
}

bool clipboardRuleAccepts(ApiKeyMember member, std::string_view trimmed) {
    const auto& m = info(member);
    if (!trimmed.starts_with(m.prefix)) return false;
    if (!m.excludedPrefix.empty() && trimmed.starts_with(m.excludedPrefix)) return false;
    const auto length = platform::text::graphemeCount(trimmed);
    return length >= m.minLength && length <= m.maxLength;
}

std::string ApiKeyFieldText::titleConfigured(ApiKeyMember m) {
    if (m == ApiKeyMember::groq) return "Groq key — stored in Keychain";
    return name(m) + " key — Configured";
}

std::string ApiKeyFieldText::keychainNote(ApiKeyMember m) {
    return "Stored in macOS Keychain (account: Parlowen, service: " + service(m) + ").";
}

std::string ApiKeyFieldText::titleMissing(ApiKeyMember m) { return name(m) + " key — Missing"; }

std::string ApiKeyFieldText::titleReplacing(ApiKeyMember m) {
    if (m == ApiKeyMember::groq) return titleConfigured(m);
    return "Replace " + name(m) + " key";
}

std::string ApiKeyFieldText::caption(ApiKeyMember m) {
    switch (m) {
        case ApiKeyMember::anthropic: return "Bring your own Anthropic key — stored only in your Mac's Keychain.";
        case ApiKeyMember::groq:
            return "Bring your own Groq API key — stored only in your Mac's Keychain under account Parlowen / service "
                   "groq.";
        default: return "Bring your own " + name(m) + " API key — stored only in your Mac's Keychain.";
    }
}

std::string ApiKeyFieldText::terminalCommand(ApiKeyMember m) {
    if (!info(m).hasTerminalCommand) return {};
    // secret-tool reads the secret from the terminal without echo, and the
    // command line carries no secret, so nothing reaches the shell history.
    const auto s = service(m);
    return "secret-tool store --label=\"Parlowen: " + s + "\" account Parlowen service " + s;
}

std::string ApiKeyFieldText::placeholder(ApiKeyMember m) { return std::string(info(m).prefix) + "…"; }

ApiKeyField::ApiKeyField(ApiKeyMember member, Dependencies dependencies)
    : member_(member), deps_(std::move(dependencies)) {}

ApiKeyField::~ApiKeyField() { lifetime_.end(); }

void ApiKeyField::changed() { revision_.set(revision_.get() + 1); }

bool ApiKeyField::canSave() const { return !platform::text::trim(keyEntry_).empty(); }

void ApiKeyField::setKeyEntry(std::string text) {
    if (text == keyEntry_) return;
    keyEntry_ = std::move(text);
    if (keyEntry_.empty()) pastedFromClipboard_ = false;
    changed();
}

void ApiKeyField::refreshPresence(bool thenCheckClipboard) {
    ++pending_;
    platform::spawn(deps_.main, presenceTask(this, lifetime_.weak(), thenCheckClipboard));
}

platform::Task<void> ApiKeyField::presenceTask(ApiKeyField* self, std::weak_ptr<void> alive, bool thenCheck) {
    auto& keychain = self->deps_.keychain;
    const auto key = info(self->member_).key;
    bool present = false;
    if (self->member_ == ApiKeyMember::groq) {
        // An item holding an empty text is no key; a read error counts as none.
        auto text = co_await keychain.readAsync(key);
        present = text && !text->empty();
    } else {
        present = co_await keychain.existsAsync(key);
    }
    if (alive.expired()) co_return;
    --self->pending_;
    self->keyPresent_ = present;
    self->changed();
    if (thenCheck) self->clipboardCheck();
}

void ApiKeyField::clipboardCheck() {
    if (keyPresent_ && !replacing_) return;
    if (!keyEntry_.empty()) return;
    auto text = deps_.pasteboard.string();
    if (!text) return;
    auto trimmed = platform::text::trim(*text);
    if (!clipboardRuleAccepts(member_, trimmed)) return;
    keyEntry_ = std::move(trimmed);
    pastedFromClipboard_ = true;
    changed();
}

void ApiKeyField::save() {
    auto trimmed = platform::text::trim(keyEntry_);
    if (trimmed.empty() || pending_ > 0) return;
    ++pending_;
    changed();
    platform::spawn(deps_.main, saveTask(this, lifetime_.weak(), std::move(trimmed)));
}

platform::Task<void> ApiKeyField::saveTask(ApiKeyField* self, std::weak_ptr<void> alive, std::string text) {
    auto& keychain = self->deps_.keychain;
    const auto key = info(self->member_).key;
    auto written = co_await keychain.writeAsync(key, std::move(text));
    if (alive.expired()) co_return;
    if (!written) {
        --self->pending_;
        // Entry, replacing and the paste note stay, so the user can retry.
        self->saveError_ = written.error().description;
        self->changed();
        co_return;
    }
    self->keyEntry_.clear();
    self->replacing_ = false;
    self->saveError_.reset();
    self->pastedFromClipboard_ = false;
    if (self->member_ == ApiKeyMember::groq) {
        --self->pending_;
        self->keyPresent_ = true;
        self->changed();
        co_return;
    }
    self->changed();
    const bool present = co_await keychain.existsAsync(key);
    if (alive.expired()) co_return;
    --self->pending_;
    self->keyPresent_ = present;
    self->changed();
}

void ApiKeyField::cancel() {
    replacing_ = false;
    keyEntry_.clear();
    saveError_.reset();
    pastedFromClipboard_ = false;
    changed();
}

void ApiKeyField::replace() {
    replacing_ = true;
    if (member_ != ApiKeyMember::groq) {
        keyEntry_.clear();
        saveError_.reset();
        if (info(member_).hasConnectionTest) testResult_.reset();
    }
    changed();
}

void ApiKeyField::remove() {
    if (!info(member_).hasRemove || pending_ > 0) return;
    ++pending_;
    changed();
    platform::spawn(deps_.main, removeTask(this, lifetime_.weak()));
}

platform::Task<void> ApiKeyField::removeTask(ApiKeyField* self, std::weak_ptr<void> alive) {
    auto& keychain = self->deps_.keychain;
    const auto key = info(self->member_).key;
    auto removed = co_await keychain.removeAsync(key);
    if (alive.expired()) co_return;
    if (!removed) {
        // The key stays stored; say so under the header until Replace or a
        // successful Remove.
        --self->pending_;
        self->saveError_ = removed.error().description;
        self->changed();
        co_return;
    }
    const bool present = co_await keychain.existsAsync(key);
    if (alive.expired()) co_return;
    --self->pending_;
    self->saveError_.reset();
    self->keyPresent_ = present;
    if (self->deps_.preferences) self->deps_.preferences->polishPunctuationEnabled.set(false);
    self->changed();
}

void ApiKeyField::testConnection() {
    if (!info(member_).hasConnectionTest || !deps_.connectionTest || isTesting_) return;
    isTesting_ = true;
    changed();
    platform::spawn(deps_.main, testTask(this, lifetime_.weak()));
}

platform::Task<void> ApiKeyField::testTask(ApiKeyField* self, std::weak_ptr<void> alive) {
    // The stored key is tested, never the text of the entry field.
    auto key = co_await self->deps_.keychain.readAsync(info(self->member_).key);
    if (alive.expired()) co_return;
    if (!key) {
        self->testResult_ = ConnectionTestResult::failure("Couldn't read key from Keychain: " + key.error().description);
        self->isTesting_ = false;
        self->changed();
        co_return;
    }
    auto test = self->deps_.connectionTest;
    auto result = co_await test(std::move(*key));
    if (alive.expired()) co_return;
    self->testResult_ = std::move(result);
    self->isTesting_ = false;
    self->changed();
}

void ApiKeyField::openKeyPage() {
    const auto& url = deps_.pages.of(member_);
    if (url.starts_with("https://")) deps_.workspace.openURL(url);
}

}  // namespace parlowen
