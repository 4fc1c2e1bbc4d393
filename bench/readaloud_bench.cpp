// The read-aloud panel's snapshot at the last sentence of a 500,000-character
// reading with marks against one grapheme count of that text: finding the
// sentence's marks may walk the text once, never once per mark or sentence.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "Parlowen/readaloud/FakeSpeechEngine.h"
#include "Parlowen/readaloud/ReadAloudCoordinator.h"
#include "Parlowen/readaloud/ReadAloudCostGuard.h"
#include "Parlowen/shell/KeychainStore.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "bench/BenchMain.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/keychain/SecretStore.h"
#include "platform/permissions/PermissionSource.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/text/Unicode.h"
#include "platform/ui/ScriptedAlertPresenter.h"
#include "platform/x11/Workspace.h"

namespace {

using namespace parlowen;

class SilentFactory : public ReadAloudEngineFactory {
public:
    std::unique_ptr<SpeechSynthesisEngine> makeEngine(ReadAloudEngineKind) override {
        return std::make_unique<FakeSpeechEngine>("silent");
    }
    platform::Task<void> warmUpConnection(ReadAloudEngineKind) override { return nothing(); }
    std::vector<platform::SpeechVoice> systemVoices() override { return {{"en", "English", "en-US", "default"}}; }

private:
    static platform::Task<void> nothing() { co_return; }
};

// Prose with a link and a path in every paragraph, "é" as a two-byte grapheme.
std::string readingText() {
    const std::string block =
        "The café opened at https://example.com/menu today. Files live in ~/projects/app/main.cpp for now.\n\n";
    std::string text;
    while (text.size() + block.size() < 495'000) text += block;
    return text + "The last sentence is here.";
}

platform::Task<std::optional<std::string>> captured(std::string text) { co_return text; }

struct Rig {
    platform::ManualExecutor ex;
    platform::InMemoryUserDefaults defaults;
    PreferencesStore preferences{defaults, {}};
    platform::ScriptedPermissionSource mic{3}, speech{3}, ax{1}, input{0};
    PermissionsManager permissions{PermissionSources{mic, speech, ax, input}, ex};
    SilentFactory factory;
    platform::InMemorySecretStore secrets;
    KeychainStore keychain{secrets, ex};
    platform::ScriptedWorkspace workspace;
    platform::ui::ScriptedAlertPresenter alerts;
    ReadAloudCostGuard guard{alerts, "en_US"};
    std::string selection = readingText();
    std::unique_ptr<ReadAloudCoordinator> coordinator;

    Rig() {
        preferences.readAloudEngine.set(ReadAloudEngineKind::appleSpeech);
        coordinator = std::make_unique<ReadAloudCoordinator>(ReadAloudCoordinator::Dependencies{
            .preferences = preferences, .permissions = permissions, .engines = factory, .keychain = keychain,
            .workspace = workspace, .costGuard = guard, .record = {}, .main = ex, .background = ex,
            .captureSelection = [this] { return captured(selection); }, .onDeviceClient = {},
            .presentPermissionPreScreen = {}, .openReadAloudPreferences = {}});
        coordinator->handlePress(false);
        ex.runUntilIdle();
        const std::string spoken = coordinator->lastSpeakText().value_or("");
        static_cast<FakeSpeechEngine&>(coordinator->engine())
            .report(SpeechSynthesisState::speaking(999, 1000, "The last sentence is here."));
        if (coordinator->spokenMarks().empty() || spoken.size() < 400'000) std::abort();
    }
};

void BM_MakeUIStateAtLastSentence(benchmark::State& state) {
    Rig rig;
    benchmark::DoNotOptimize(rig.coordinator->makeUIState());
    for (auto _ : state) {
        auto ui = rig.coordinator->makeUIState();
        benchmark::DoNotOptimize(ui);
    }
}
BENCHMARK(BM_MakeUIStateAtLastSentence)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GraphemeCountOfReading(benchmark::State& state) {
    Rig rig;
    const std::string text = *rig.coordinator->lastSpeakText();
    for (auto _ : state) benchmark::DoNotOptimize(platform::text::graphemeCount(text));
}
BENCHMARK(BM_GraphemeCountOfReading)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

PARLOWEN_RATIO_TARGET("BM_MakeUIStateAtLastSentence/real_time", "BM_GraphemeCountOfReading/real_time", 1.5);
