// Focus queries on a desktop (Xvfb, window manager, AT-SPI bus) whose
// focused field belongs to the Qt test window.
//
// The search through the applications (what a query does when no focus
// event answers it), against the same search once this process has its own
// Qt accessibility bridge on the bus (registered before the test window, so
// a walk in bus order meets it first): asking our own bridge would cost the
// whole messaging timeout; the target keeps the two close. And a query
// answered from the focus events, which asks no application: the target
// keeps it far below a search.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QWidget>

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <optional>

#include "bench/BenchMain.h"
#include "platform/accessibility/AtspiAccessibility.h"
#include "platform/accessibility/TestTextWindow.h"
#include "platform/testsupport/Services.h"

namespace {

using namespace std::chrono_literals;

struct Desktop {
    testsupport::DesktopSession session;
    std::optional<testsupport::TestTextWindow> window;
    // Answers from the focus events where it can.
    std::unique_ptr<platform::AtspiAccessibility> ax;
    // Always searches: it takes our own process for the frontmost one, and
    // no focus event of ours counts.
    std::unique_ptr<platform::AtspiAccessibility> searching;
    std::unique_ptr<QApplication> app;
    std::unique_ptr<QWidget> own;
    std::string failure;

    // Torn down from the exit handlers, the application object crashes in
    // Qt's own teardown; the process is ending, so it is left to the exit.
    // The window and the desktop session still stop.
    ~Desktop() {
        (void)own.release();
        (void)app.release();
    }

    Desktop() {
        if (auto s = session.start(); !s) {
            failure = s.error().description;
            return;
        }
        session.exportToProcess();
        ax = std::make_unique<platform::AtspiAccessibility>(session.environment());
        searching = std::make_unique<platform::AtspiAccessibility>(session.environment(),
                                                                   [] { return std::optional<pid_t>(::getpid()); });
        if (!ax->requestTrust()) failure = "assistive technology did not switch on";
        ax->setMessagingTimeout(2s);
        searching->setMessagingTimeout(2s);
        // Listening for focus events before the window opens.
        (void)ax->focusedElement();
    }

    // (Re)starts the test window, focused, and waits until a query finds it.
    bool openWindow() {
        window.reset();
        static int opened = 0;
        auto w = testsupport::openFocusedTestTextWindow(session, "bench-window-" + std::to_string(++opened),
                                                        {"--focus", "line"});
        if (!w) {
            failure = w.error().description;
            return false;
        }
        window.emplace(std::move(*w));
        const pid_t pid = window->process.pid();
        return testsupport::waitUntil(
            [&] {
                if (app) QApplication::processEvents();
                auto e = searching->focusedElement();
                return e && *e && (*e)->processIdentifier() == pid;
            },
            30s);
    }

    // Puts this process's own Qt bridge on the bus, then the window after it.
    bool withOwnBridge() {
        if (app) return true;
        static int argc = 1;
        static char name[] = "accessibility_bench";
        static char* argv[] = {name, nullptr};
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
        app = std::make_unique<QApplication>(argc, argv);
        own = std::make_unique<QWidget>();
        own->setAttribute(Qt::WA_ShowWithoutActivating);
        own->show();
        for (int i = 0; i < 20; ++i) QApplication::processEvents();
        return openWindow();
    }
};

Desktop& desktop() {
    static Desktop d;
    return d;
}

void query(benchmark::State& state, platform::AtspiAccessibility& ax) {
    for (auto _ : state) {
        auto e = ax.focusedElement();
        if (!e || !*e) {
            state.SkipWithError("no focused element");
            break;
        }
        benchmark::DoNotOptimize(e);
    }
}

void BM_FocusSearchWithoutOwnBridge(benchmark::State& state) {
    auto& d = desktop();
    if (!d.failure.empty() || (!d.window && !d.openWindow())) {
        state.SkipWithError(("no desktop: " + d.failure).c_str());
        return;
    }
    query(state, *d.searching);
}
BENCHMARK(BM_FocusSearchWithoutOwnBridge)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FocusSearchWithOwnBridge(benchmark::State& state) {
    auto& d = desktop();
    if (!d.failure.empty() || !d.withOwnBridge()) {
        state.SkipWithError(("no desktop: " + d.failure).c_str());
        return;
    }
    query(state, *d.searching);
}
BENCHMARK(BM_FocusSearchWithOwnBridge)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FocusQueryFromEvents(benchmark::State& state) {
    auto& d = desktop();
    if (!d.failure.empty() || !d.withOwnBridge()) {
        state.SkipWithError(("no desktop: " + d.failure).c_str());
        return;
    }
    const pid_t pid = d.window->process.pid();
    if (!testsupport::waitUntil(
            [&] {
                auto e = d.ax->focusedElement();
                return e && *e && (*e)->processIdentifier() == pid;
            },
            30s)) {
        state.SkipWithError("no focused element");
        return;
    }
    query(state, *d.ax);
}
BENCHMARK(BM_FocusQueryFromEvents)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

PARLOWEN_RATIO_TARGET("BM_FocusSearchWithOwnBridge/real_time", "BM_FocusSearchWithoutOwnBridge/real_time", 3.0);
PARLOWEN_RATIO_TARGET("BM_FocusQueryFromEvents/real_time", "BM_FocusSearchWithoutOwnBridge/real_time", 0.1);
