#pragma once

// The API key field: one design for the five cloud services' keys (Anthropic,
// OpenAI, Cartesia, ElevenLabs, Groq). The keys live in the keychain only;
// this model holds what the field shows while its section is on screen (the
// text being typed, whether a key is stored, the last save error and
// connection test) and runs the field's actions.
//
// Main thread only. Keychain calls go through the keychain's own executor
// (they may wait for an unlock prompt), so every action that touches the
// keychain finishes later, on the main executor; a result that arrives after
// the field is gone is dropped.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "Parlowen/readaloud/SpeechSynthesisEngine.h"
#include "Parlowen/shell/KeychainStore.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/runtime/Task.h"

namespace platform {
class Pasteboard;
class Workspace;
}  // namespace platform

namespace parlowen {

class PreferencesStore;

enum class ApiKeyMember { anthropic, openAI, cartesia, elevenLabs, groq };

// The fixed data of one member.
struct ApiKeyMemberInfo {
    ApiKeyMember member;
    KeychainStore::Key key;
    std::string_view name;  // "OpenAI"
    // The provider's key format: what a key begins with, and a longer prefix
    // of another provider's keys that begins the same way.
    std::string_view prefix;
    std::string_view excludedPrefix;  // empty: none
    std::size_t minLength;            // characters of the trimmed text, inclusive
    std::size_t maxLength;
    std::string_view linkLabel;
    bool hasConnectionTest;
    bool hasRemove;
    bool hasTerminalCommand;
};

const ApiKeyMemberInfo& info(ApiKeyMember member);

// The addresses of the providers' API-key pages, one table.
struct ApiKeyPages {
    std::string anthropic = "https://console.anthropic.com/settings/keys";
    std::string openAI = "https://platform.openai.com/api-keys";
    std::string cartesia = "https://play.cartesia.ai/keys";
    std::string elevenLabs = "https://elevenlabs.io/app/settings/api-keys";
    std::string groq = "https://console.groq.com/keys";
    const std::string& of(ApiKeyMember member) const;
};

// Whether a clipboard text (already trimmed) looks like a key of `member`.
bool clipboardRuleAccepts(ApiKeyMember member, std::string_view trimmed);

// The header's and block's texts.
struct ApiKeyFieldText {
    static std::string titleConfigured(ApiKeyMember member);  // Groq: "Groq key — stored in Keychain"
    static std::string keychainNote(ApiKeyMember member);
    static std::string titleMissing(ApiKeyMember member);
    static std::string titleReplacing(ApiKeyMember member);  // Groq: its configured title
    static std::string caption(ApiKeyMember member);
    // The command that stores a key without echo and outside shell history
    // (Groq has none).
    static std::string terminalCommand(ApiKeyMember member);
    static std::string placeholder(ApiKeyMember member);  // prefix + "…"
};

// A voice member's key test: the key text in, the outcome out, never failing.
using ConnectionTest = std::function<platform::Task<ConnectionTestResult>(std::string apiKey)>;

class ApiKeyField {
public:
    struct Dependencies {
        KeychainStore& keychain;
        platform::Pasteboard& pasteboard;
        platform::Workspace& workspace;
        platform::Executor& main;
        // Remove turns polishing punctuation off (Anthropic).
        PreferencesStore* preferences = nullptr;
        // Voice members; without one, Test connection does nothing.
        ConnectionTest connectionTest = {};
        ApiKeyPages pages = {};
    };

    ApiKeyField(ApiKeyMember member, Dependencies dependencies);
    ~ApiKeyField();
    ApiKeyField(const ApiKeyField&) = delete;
    ApiKeyField& operator=(const ApiKeyField&) = delete;

    ApiKeyMember member() const { return member_; }

    // The state the block shows.
    bool keyPresent() const { return keyPresent_; }
    const std::string& keyEntry() const { return keyEntry_; }
    bool replacing() const { return replacing_; }
    const std::optional<std::string>& saveError() const { return saveError_; }
    bool pastedFromClipboard() const { return pastedFromClipboard_; }
    const std::optional<ConnectionTestResult>& testResult() const { return testResult_; }
    bool isTesting() const { return isTesting_; }
    bool configured() const { return keyPresent_ && !replacing_; }
    bool entryShown() const { return !keyPresent_ || replacing_; }
    // Save is offered: the trimmed entry is not empty.
    bool canSave() const;

    // Emits after every change of the state above.
    platform::Stream<std::uint64_t> changes() const { return revision_.stream().dropFirst(); }

    // The text field's edits; emptying it clears the paste note.
    void setKeyEntry(std::string text);

    // Re-reads whether a key is stored; then, when asked, runs the clipboard
    // check (a section coming on screen does both, in this order).
    void refreshPresence(bool thenCheckClipboard = false);
    // May fill the entry from the clipboard; never saves.
    void clipboardCheck();

    void save();
    void cancel();
    void replace();
    void remove();  // Anthropic only
    void testConnection();  // voice members only
    void openKeyPage();

    // True while a keychain call of an action is out (tests wait on it).
    bool isBusy() const { return pending_ > 0; }

private:
    static platform::Task<void> presenceTask(ApiKeyField* self, std::weak_ptr<void> alive, bool thenCheck);
    static platform::Task<void> saveTask(ApiKeyField* self, std::weak_ptr<void> alive, std::string text);
    static platform::Task<void> removeTask(ApiKeyField* self, std::weak_ptr<void> alive);
    static platform::Task<void> testTask(ApiKeyField* self, std::weak_ptr<void> alive);
    void changed();

    ApiKeyMember member_;
    Dependencies deps_;
    bool keyPresent_ = false;
    std::string keyEntry_;
    bool replacing_ = false;
    std::optional<std::string> saveError_;
    bool pastedFromClipboard_ = false;
    std::optional<ConnectionTestResult> testResult_;
    bool isTesting_ = false;
    int pending_ = 0;
    platform::Observable<std::uint64_t> revision_{0};
    platform::Lifetime lifetime_;
};

}  // namespace parlowen
