#pragma once

// The Preferences window: a sidebar of the eleven tabs and the selected
// tab's page on the themed background. Built once by the application
// coordinator's factory and kept; every later opening only selects a tab and
// brings the window forward. Only the selected page exists: leaving a tab
// discards what was typed there.
//
// Pages and sections come from the page table. The issues that build a page
// register it there; a tab without a page shows the background only.

#include <functional>
#include <map>
#include <memory>

#include <QWidget>

#include "Parlowen/preferences/PreferencesTab.h"
#include "Parlowen/shell/AppCoordinator.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"

class QListWidget;

namespace platform {
class Workspace;
}
namespace platform::ui {
class PageHost;
class WindowHost;
}  // namespace platform::ui

namespace parlowen {

class PermissionsManager;
class PreferencesStore;

// What the pages are given.
struct PreferencesContext {
    PreferencesStore& preferences;
    PermissionsManager& permissions;
    platform::Workspace& workspace;
    platform::Executor& main;
    // The Tips tab's restart action: onboarding from its welcome step, in
    // front of this window.
    std::function<void()> replayOnboarding;
    // The Read-Aloud tab's preview: the sample sentence in the chosen voice.
    std::function<void()> previewVoice;
};

// The sections of the four pages this window composes.
enum class PreferencesSection {
    dictationEngineMode, groq, recognitionHints, vocabularySuggestions, voiceCommands,  // Dictation
    readAloud, pronunciations,                                                          // Read-Aloud
    aiRefinement,                                                                       // AI Refinement
    perAppRules,                                                                        // Per-App Rules
};

class PreferencesPages {
public:
    using Builder = std::function<QWidget*(const PreferencesContext&)>;

    // The Permissions page, and the four composed pages over their sections.
    PreferencesPages();

    void setPage(PreferencesTab tab, Builder builder);
    void setSection(PreferencesSection section, Builder builder);
    bool hasSection(PreferencesSection section) const { return sections_.count(section) != 0; }

    // The page of `tab`, built now; an empty page when none is registered.
    QWidget* build(PreferencesTab tab, const PreferencesContext& context) const;
    // A registered section, or null.
    QWidget* buildSection(PreferencesSection section, const PreferencesContext& context) const;

private:
    std::map<PreferencesTab, Builder> pages_;
    std::map<PreferencesSection, Builder> sections_;
};

// The selected tab; the root view follows it.
class TabSelection {
public:
    explicit TabSelection(PreferencesTab initial) : current(initial) {}
    platform::Observable<PreferencesTab> current;
};

// The root view: sidebar and detail. Children: "sidebar" ("sidebarHeader",
// "tabs", "company"), "detail" ("pages").
class PreferencesView : public QWidget {
public:
    PreferencesView(PreferencesContext context, const PreferencesPages& pages, TabSelection& selection,
                    QWidget* parent = nullptr);
    ~PreferencesView() override;

    void replayOnboarding() const;
    void onPreviewVoice() const;

    QListWidget* tabList() const { return list_; }
    platform::ui::PageHost* pageHost() const { return host_; }

private:
    void show(PreferencesTab tab);

    PreferencesContext context_;
    const PreferencesPages& pages_;
    TabSelection& selection_;
    QListWidget* list_;
    platform::ui::PageHost* host_;
    bool showing_ = false;
    platform::SubscriptionSet subscriptions_;
};

class PreferencesWindowController : public PreferencesWindow {
public:
    static constexpr int kWidth = 820;
    static constexpr int kHeight = 560;

    // Builds the window at `initialTab`, centred; does not show it.
    PreferencesWindowController(PreferencesContext context, std::shared_ptr<const PreferencesPages> pages,
                                PreferencesTab initialTab);
    ~PreferencesWindowController() override;

    void setTab(PreferencesTab tab) override;
    void showAndActivate() override;

    platform::ui::WindowHost* window() const { return window_.get(); }
    PreferencesView* view() const { return view_; }
    TabSelection& tabSelection() { return tabSelection_; }

private:
    std::shared_ptr<const PreferencesPages> pages_;
    TabSelection tabSelection_;
    std::unique_ptr<platform::ui::WindowHost> window_;
    PreferencesView* view_;
};

}  // namespace parlowen
