// The dictation coordinator's buffer path: one 1024-frame microphone buffer
// through DictationCoordinator::onBuffer (the feed lock, the engine pointer,
// the engine's append) to a stub engine, against the bare pattern in the
// same run (lock an uncontended mutex, copy a pointer, call a
// std::function). It runs on the audio thread and must not allocate.

#include <benchmark/benchmark.h>

#include <functional>
#include <mutex>

#include "Parlowen/dictation/AudioCapture.h"
#include "Parlowen/dictation/DictationCoordinator.h"
#include "Parlowen/shell/KeychainStore.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "bench/AllocationFree.h"
#include "bench/BenchMain.h"
#include "platform/accessibility/ScriptedAccessibility.h"
#include "platform/audio/AudioHardware.h"
#include "platform/audio/AudioInputEngine.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/keychain/SecretStore.h"
#include "platform/permissions/PermissionSource.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/x11/Workspace.h"

namespace {

using namespace parlowen;

// Counts the samples it is handed, as a real engine's copy would touch them.
class StubEngine final : public TranscriptionEngine {
public:
    std::string name() const override { return "Stub"; }
    PartialCallback onPartial() const override { return {}; }
    void setOnPartial(PartialCallback) override {}
    platform::Task<platform::Status> start() override { return started(); }
    void append(const platform::PcmBuffer& buffer) override { frames += buffer.frameLength(); }
    platform::Task<platform::Result<std::string>> finish() override { return finished(); }
    void cancel() override {}
    std::uint64_t frames = 0;

private:
    static platform::Task<platform::Status> started() { co_return platform::ok(); }
    static platform::Task<platform::Result<std::string>> finished() { co_return std::string(); }
};

class StubFactory final : public DictationEngineFactory {
public:
    platform::Result<std::shared_ptr<TranscriptionEngine>> makeSystemEngine(const std::string&) override {
        return std::shared_ptr<TranscriptionEngine>(engine);
    }
    std::shared_ptr<TranscriptionEngine> makeCloudEngine(const std::string&, GroqTranscriptionModel) override {
        return engine;
    }
    void setContextualStrings(TranscriptionEngine&, std::vector<std::string>) override {}
    std::shared_ptr<StubEngine> engine = std::make_shared<StubEngine>();
};

class NoHUD final : public DictationHUD {
public:
    void show(std::string) override {}
    void updatePartial(std::string) override {}
    void pushAmplitude(float) override {}
    void showThrottleNotice(std::string_view) override {}
    void setSessionRemainingSeconds(std::optional<int>) override {}
    void hide() override {}
};

class NoInserter final : public DictationTextInsertion {
public:
    void insert(const std::string&, std::optional<FocusSnapshot>) override {}
};

platform::PcmBuffer microphoneBuffer() {
    platform::PcmBuffer buffer(platform::PcmFormat::float32(48000, 1), AudioCapture::kTapBufferFrames);
    buffer.setFrameLength(AudioCapture::kTapBufferFrames);
    return buffer;
}

void BM_BareLockedCall(benchmark::State& state) {
    std::mutex mutex;
    StubEngine engine;
    StubEngine* target = &engine;
    const std::function<void(StubEngine*, const platform::PcmBuffer&)> call =
        [](StubEngine* e, const platform::PcmBuffer& b) { e->append(b); };
    const auto buffer = microphoneBuffer();
    auto step = [&] {
        StubEngine* e;
        {
            std::lock_guard lock(mutex);
            e = target;
        }
        benchmark::DoNotOptimize(e);
        call(e, buffer);
        benchmark::ClobberMemory();
    };
    if (bench::allocationFree(state, step, "buffers"))
        for (auto _ : state) step();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareLockedCall)->UseRealTime();

void BM_CoordinatorOnBuffer(benchmark::State& state) {
    platform::ManualExecutor main;
    platform::ScriptedPermissionSource mic{3}, speech{3}, ax{1}, input{0};
    PermissionsManager permissions({mic, speech, ax, input}, main);
    platform::InMemoryUserDefaults defaults;
    PreferencesStore preferences(defaults, {});
    platform::FakeAudioHardware hardware;
    AudioCapture audio(std::make_unique<platform::FakeAudioInputEngine>(), hardware, defaults, main);
    NoHUD hud;
    NoInserter inserter;
    StubFactory engines;
    platform::InMemorySecretStore secrets;
    KeychainStore keychain(secrets, main);
    platform::ScriptedAccessibility accessibility;
    platform::ScriptedWorkspace workspace;
    DictationCoordinator coordinator({.permissions = permissions, .preferences = preferences, .hud = hud,
                                      .audio = audio, .inserter = inserter, .engines = engines,
                                      .keychain = keychain, .accessibility = accessibility,
                                      .workspace = workspace, .main = main});
    coordinator.toggle();
    main.runUntilIdle();
    if (coordinator.feedTarget() != engines.engine.get()) {
        state.SkipWithError("no session is recording");
        return;
    }
    const auto buffer = microphoneBuffer();
    auto step = [&] {
        coordinator.onBuffer(buffer);
        benchmark::ClobberMemory();
    };
    if (bench::allocationFree(state, step, "buffers"))
        for (auto _ : state) step();
    state.SetItemsProcessed(state.iterations());
    coordinator.cancel();
}
BENCHMARK(BM_CoordinatorOnBuffer)->UseRealTime();

}  // namespace

PARLOWEN_RATIO_TARGET("BM_CoordinatorOnBuffer/real_time", "BM_BareLockedCall/real_time", 1.5);
