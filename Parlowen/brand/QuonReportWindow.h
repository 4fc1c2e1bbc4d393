#pragma once

// The weekly report: a floating window that sums up the last seven days of the
// usage log. Built once, on the first opening, and kept for the life of the
// process; closing only hides it. Main thread only.

#include <memory>
#include <string>

#include <QWidget>

#include "Parlowen/brand/UsageLog.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/ui/WindowHost.h"
#include "platform/values/Date.h"

class QScrollArea;
class QVBoxLayout;

namespace parlowen {

class PreferencesStore;
struct QuonReportCopy;
class ReportInk;

struct QuonReportDependencies {
    platform::Executor& main;
    const platform::Clock& clock;
    // The user's locale for the week's numbers ("en_US", "de_DE").
    std::string locale;
};

// The report's root view. Redrawn from the log on every change of its days or
// hourly counts, and re-tinted when the selected theme changes.
class QuonReportView : public QWidget {
public:
    QuonReportView(UsageLog& usageLog, PreferencesStore& preferences, QuonReportDependencies deps,
                   QWidget* parent = nullptr);
    ~QuonReportView() override;

    UsageLog& usageLog() const { return usageLog_; }
    // Rebuilds the header and body from the log now.
    void rebuild();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void scheduleRebuild();
    QWidget* makeHeader(const QuonReportCopy& copy, const ReportInk& ink);
    QWidget* makeCards(const QuonReportCopy& copy, const ReportInk& ink);
    QWidget* makeEmptyState(const ReportInk& ink);

    UsageLog& usageLog_;
    PreferencesStore& preferences_;
    QuonReportDependencies deps_;
    QWidget* backdrop_;
    QScrollArea* scroll_;
    QWidget* column_ = nullptr;
    bool rebuildPosted_ = false;
    platform::SubscriptionSet subscriptions_;
    platform::Lifetime lifetime_;
};

class QuonReportWindowController {
public:
    QuonReportWindowController(UsageLog& usageLog, PreferencesStore& preferences, QuonReportDependencies deps);
    ~QuonReportWindowController();
    QuonReportWindowController(const QuonReportWindowController&) = delete;
    QuonReportWindowController& operator=(const QuonReportWindowController&) = delete;

    platform::ui::WindowHost* window() const { return window_.get(); }
    QuonReportView* view() const { return view_; }
    PreferencesStore& preferences() const { return preferences_; }

private:
    std::unique_ptr<platform::ui::WindowHost> window_;
    QuonReportView* view_;
    PreferencesStore& preferences_;
};

// What the application coordinator keeps: the lazily built controller and the
// one open operation the status menu and the read-aloud panel call.
class QuonReportOpener {
public:
    QuonReportOpener(UsageLog& usageLog, PreferencesStore& preferences, QuonReportDependencies deps);
    ~QuonReportOpener();

    // Builds the controller on first use.
    QuonReportWindowController& quonReportWindowController();
    bool isBuilt() const { return controller_ != nullptr; }
    // Stamps lastQuonReportOpenedAt, then shows the window at the front and activates it.
    void openQuonReport();

private:
    UsageLog& usageLog_;
    PreferencesStore& preferences_;
    QuonReportDependencies deps_;
    std::unique_ptr<QuonReportWindowController> controller_;
};

}  // namespace parlowen
