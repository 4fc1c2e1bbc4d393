#pragma once

// Shared fixture of the Notepad's tests: a coordinator on a manual executor
// with fake recognisers, a fake microphone, scripted permissions, language
// model, HTTP, notes and pasteboard.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Parlowen/notepad/NotepadCoordinator.h"
#include "Parlowen/shell/PermissionsManager.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/audio/AudioInputEngine.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/http/FakeHttpClient.h"
#include "platform/keychain/SecretStore.h"
#include "platform/languagemodel/ScriptedLanguageModel.h"
#include "platform/log/CaptureSink.h"
#include "platform/pasteboard/InMemoryPasteboard.h"
#include "platform/runtime/ManualExecutor.h"

namespace notepadtest {

using namespace std::chrono_literals;

// A recogniser engine the test speaks through. Starting takes `startDelay`
// of virtual time.
struct FakeEngine : parlowen::TranscriptionEngine {
    explicit FakeEngine(std::vector<std::string> h) : hints(std::move(h)) {}

    std::string name() const override { return "Fake"; }
    PartialCallback onPartial() const override { return callback; }
    void setOnPartial(PartialCallback c) override { callback = std::move(c); }
    void prepare(const platform::PcmFormat& format) override { prepared = format; }
    platform::Task<platform::Status> start() override { return startImpl(this); }
    void append(const platform::PcmBuffer&) override { ++appended; }
    platform::Task<platform::Result<std::string>> finish() override { return finishImpl(); }
    void cancel() override { ++cancels; }

    // A partial from the recogniser's thread (here: the test's).
    void say(const std::string& text) const { callback(text); }

    static platform::Task<platform::Status> startImpl(FakeEngine* self) {
        ++self->starts;
        if (self->startDelay > platform::Duration::zero()) {
            auto slept = co_await platform::sleepFor(self->startDelay);
            if (!slept) co_return slept;
        }
        co_return self->startResult;
    }
    static platform::Task<platform::Result<std::string>> finishImpl() { co_return std::string(); }

    std::vector<std::string> hints;
    PartialCallback callback;
    std::optional<platform::PcmFormat> prepared;
    platform::Duration startDelay{};
    platform::Status startResult;
    int starts = 0;
    int cancels = 0;
    std::atomic<int> appended{0};
};

inline std::string claudeAnswer(const std::string& text) {
    return nlohmann::json{{"content", {{{"type", "text"}, {"text", text}}}}}.dump();
}

class NotepadFixture : public ::testing::Test {
protected:
    static constexpr const char* kClaudeUrl = "https://api.anthropic.com/v1/messages";

    NotepadFixture() {
        permissions.refresh();
        languageModel.setAvailability(platform::LanguageModelAvailability::available);
        prefs.aiRefinementEnabled.set(true);
        prefs.polishPunctuationEnabled.set(true);
        EXPECT_TRUE(keychain.write(parlowen::KeychainStore::Key::anthropic, "sk-ant-test"));
        auto input = std::make_unique<platform::FakeAudioInputEngine>();
        microphone = input.get();
        auto exporter = std::make_unique<parlowen::NotesExporter>(parlowen::NotesExporter::Dependencies{
            notes, defaults, main, main, clock, "en_US", platform::text::TimeZone::utc()});
        notepad = std::make_unique<parlowen::NotepadCoordinator>(parlowen::NotepadCoordinator::Dependencies{
            .preferences = prefs,
            .permissions = permissions,
            .workspace = workspace,
            .pasteboard = pasteboard,
            .refinement = {languageModel, keychain, http},
            .audio = std::make_unique<parlowen::AudioCapture>(std::move(input), hardware, defaults, main),
            .notesExporter = std::move(exporter),
            .makeEngine = [this](std::vector<std::string> hints)
                -> platform::Result<std::shared_ptr<parlowen::TranscriptionEngine>> {
                if (engineInitError) return platform::fail(*engineInitError);
                auto e = std::make_shared<FakeEngine>(std::move(hints));
                e->startDelay = nextStartDelay;
                engines.push_back(e);
                return e;
            },
            .main = main,
        });
    }

    void openRecording() {
        notepad->open();
        main.runUntilIdle();
        ASSERT_TRUE(notepad->isRecording().get());
    }
    FakeEngine& engine() { return *engines.back(); }
    // A partial of the current run, handled on the main executor.
    void say(const std::string& text) {
        engine().say(text);
        main.runUntilIdle();
    }
    void type(const std::string& text) { notepad->setDisplayedText(text); }
    std::string text() const { return notepad->displayedText().get(); }
    bool polishing() const { return notepad->isPolishing().get(); }

    platform::ScopedLogCapture logs;
    platform::ManualExecutor main;
    platform::InMemoryUserDefaults defaults;
    parlowen::PreferencesStore prefs{defaults, {}};
    platform::ScriptedPermissionSource micPermission{3}, speechPermission{3}, axPermission{1}, inputPermission{0};
    parlowen::PermissionsManager permissions{{micPermission, speechPermission, axPermission, inputPermission}, main};
    platform::ScriptedWorkspace workspace;
    platform::InMemoryPasteboard pasteboard;
    platform::ScriptedLanguageModel languageModel;
    platform::InMemorySecretStore secrets;
    parlowen::KeychainStore keychain{secrets, main};
    platform::FakeHttpClient http;
    platform::FakeAudioHardware hardware;
    platform::FakeAudioInputEngine* microphone = nullptr;
    platform::ScriptedNotesScripting notes;
    platform::FixedClock clock{platform::Date::fromTimeIntervalSince1970(1741529100)};
    std::vector<std::shared_ptr<FakeEngine>> engines;
    std::optional<platform::Error> engineInitError;
    platform::Duration nextStartDelay{};
    std::unique_ptr<parlowen::NotepadCoordinator> notepad;
};

}  // namespace notepadtest
