// The live-transcript panel's level path: one level pushed through
// LivePartialHUD::pushAmplitude with one subscriber that keeps the levels
// (as the panel's content does), against a bare shift of 30 floats in the
// same run. It runs for every captured buffer and must not allocate.

#include <benchmark/benchmark.h>

#include <array>
#include <cstring>

#include "Parlowen/dictation/LivePartialHUD.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "bench/AllocationFree.h"
#include "bench/BenchMain.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/ui/RecordingAnnouncer.h"

namespace {

using parlowen::AmplitudeRing;

class NoWindow final : public parlowen::LivePartialHUDPanel {
public:
    double width() const override { return 540; }
    double height() const override { return 200; }
    void setTopLeft(platform::ui::Point) override {}
    void orderFrontRegardless() override {}
    void orderOut() override {}
    bool isVisible() const override { return false; }
    bool isKeyWindow() const override { return false; }
    bool applicationIsActive() const override { return false; }
    std::optional<platform::ui::Rect> mainScreenVisibleFrame() const override { return std::nullopt; }
};

float nextLevel(float& level) {
    level = level > 0.95f ? 0.05f : level + 0.0137f;
    return level;
}

void BM_BareShift30(benchmark::State& state) {
    std::array<float, AmplitudeRing::kCount> levels{};
    float level = 0;
    auto step = [&] {
        std::memmove(levels.data(), levels.data() + 1, (levels.size() - 1) * sizeof(float));
        levels.back() = nextLevel(level);
        benchmark::DoNotOptimize(levels.data());
        benchmark::ClobberMemory();
    };
    if (bench::allocationFree(state, step, "levels"))
        for (auto _ : state) step();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareShift30)->UseRealTime();

void BM_PushAmplitude(benchmark::State& state) {
    platform::ManualExecutor main;
    platform::FakeAudioHardware hardware;
    parlowen::AudioDeviceCatalog catalog(hardware, main);
    platform::InMemoryUserDefaults defaults;
    parlowen::PreferencesStore preferences(defaults, {});
    platform::ui::RecordingAnnouncer announcer;
    parlowen::LivePartialHUD hud(preferences, catalog, main, announcer,
                                 [](parlowen::LivePartialHUD&, parlowen::LivePartialHUD::SelectionCallback) {
                                     return std::make_unique<NoWindow>();
                                 });
    // One subscriber keeping the levels, as a view would.
    AmplitudeRing::Levels seen{};
    auto subscription = hud.model().amplitudes.subscribe([&](const AmplitudeRing::Levels& levels) { seen = levels; });
    float level = 0;
    auto step = [&] {
        hud.pushAmplitude(nextLevel(level));
        benchmark::DoNotOptimize(seen.data());
        benchmark::ClobberMemory();
    };
    if (bench::allocationFree(state, step, "levels"))
        for (auto _ : state) step();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PushAmplitude)->UseRealTime();

}  // namespace

PARLOWEN_RATIO_TARGET("BM_PushAmplitude/real_time", "BM_BareShift30/real_time", 3.0);
