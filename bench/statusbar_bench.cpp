// The status item's listening pulse: one tick (phase, alpha, swap to the
// kept faded frame on the tray icon) against painting one badge frame with
// QPainter, in the same run. The tick runs 30 times a second while the user
// dictates, so it must stay far below the cost of painting.

#include <benchmark/benchmark.h>

#include <QApplication>

#include "Parlowen/dictation/DictationHistory.h"
#include "Parlowen/shell/StatusBarController.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "bench/BenchMain.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/pasteboard/InMemoryPasteboard.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/statusitem/QtStatusItem.h"
#include "platform/statusitem/StatusIconArt.h"
#include "platform/ui/RecordingAnnouncer.h"
#include "platform/ui/ReduceMotion.h"

namespace {

QApplication& application() {
    static int argc = 1;
    static char name[] = "bench_statusbar";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    platform::registerMenuBarIconArtwork();
    return *app;
}

void BM_PaintBadgeFrame(benchmark::State& state) {
    application();
    const auto colors = platform::StatusIconColors::fromApplicationPalette();
    const platform::StatusIcon badge{platform::StatusIconImage::permissionBadge, platform::StatusIconTint::none, ""};
    for (auto _ : state) {
        QImage frame = platform::drawStatusIcon(badge, QSize(22, 22), colors);
        benchmark::DoNotOptimize(frame.constBits());
    }
}
BENCHMARK(BM_PaintBadgeFrame)->UseRealTime();

void BM_PulseTick(benchmark::State& state) {
    application();
    platform::ManualExecutor main;
    platform::FixedClock clock;
    platform::InMemoryUserDefaults defaults;
    parlowen::PreferencesStore preferences(defaults, {});
    parlowen::DictationHistory history(clock);
    platform::QtStatusItem item;
    platform::InMemoryPasteboard pasteboard;
    platform::ui::RecordingAnnouncer announcer;
    platform::ui::ReduceMotionSwitch reduceMotion(false);
    parlowen::StatusBarController controller(
        {.item = item, .preferences = preferences, .history = history, .systemDefaultInputUID = {},
         .inputDevices = {}, .pasteboard = pasteboard, .announcer = announcer, .reduceMotion = reduceMotion,
         .main = main, .clock = clock},
        {});
    controller.setState(parlowen::StatusIconState::listening);
    // A whole cycle first: each faded frame is painted once and kept.
    for (int i = 0; i < 60; ++i) controller.pulseTick();
    for (auto _ : state) {
        controller.pulseTick();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PulseTick)->UseRealTime();

}  // namespace

PARLOWEN_RATIO_TARGET("BM_PulseTick/real_time", "BM_PaintBadgeFrame/real_time", 0.1);
