#include "Parlowen/preferences/views/PermissionsTab.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "Parlowen/preferences/PermissionSettings.h"
#include "Parlowen/preferences/PermissionTexts.h"
#include "Parlowen/preferences/views/PermissionPreScreen.h"
#include "platform/ui/Buttons.h"
#include "platform/ui/Finders.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/Sheet.h"
#include "platform/ui/SymbolLabel.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {

using namespace platform::ui;

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

struct StatusLook {
    const char* symbol;
    Color (*tint)(const Palette&);
};

StatusLook statusLook(PermissionState state) {
    switch (state) {
        case PermissionState::granted:
            return {"checkmark.circle.fill", [](const Palette& p) { return systemColors(p).green; }};
        case PermissionState::denied:
            return {"xmark.circle.fill", [](const Palette& p) { return systemColors(p).red; }};
        case PermissionState::unknown:
        case PermissionState::notDetermined: break;
    }
    return {"questionmark.circle.fill", [](const Palette& p) { return systemColors(p).orange; }};
}

const char* stateName(PermissionState state) {
    switch (state) {
        case PermissionState::granted: return "granted";
        case PermissionState::denied: return "denied";
        case PermissionState::notDetermined: return "not determined";
        case PermissionState::unknown: break;
    }
    return "unknown";
}

}  // namespace

PermissionRow::PermissionRow(PermissionKind kind, PermissionState state, std::function<void()> onRequest,
                             std::function<void()> onOpenSettings, QWidget* parent)
    : Card(parent),
      kind_(kind),
      state_(state),
      onRequest_(std::move(onRequest)),
      onOpenSettings_(std::move(onOpenSettings)) {
    setObjectName(q(rawValue(kind)));
    setCornerRadius(8);
    auto* content = new QWidget;
    auto* box = new QHBoxLayout(content);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(12);
    const auto look = statusLook(state);
    status_ = new SymbolLabel(look.symbol, 20, look.tint);
    status_->setObjectName("status");
    box->addWidget(symbolColumn(status_, 24));

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* title = new QLabel(q(parlowen::title(kind)));
    title->setObjectName("title");
    title->setFont(systemFont(TextStyle::headline));
    auto* explanation = new QLabel(q(permissionExplanation(kind)));
    explanation->setObjectName("explanation");
    explanation->setForegroundRole(QPalette::PlaceholderText);
    explanation->setWordWrap(true);
    texts->addWidget(title);
    texts->addWidget(explanation);
    box->addLayout(texts, 1);

    granted_ = new QLabel(QStringLiteral("Granted"));
    granted_->setObjectName("granted");
    granted_->setForegroundRole(QPalette::PlaceholderText);
    openSettings_ = new PushButton(QStringLiteral("Open Settings"));
    openSettings_->setObjectName("openSettings");
    request_ = new PushButton(QStringLiteral("Request"));
    request_->setObjectName("request");
    for (QWidget* w : {static_cast<QWidget*>(granted_), static_cast<QWidget*>(openSettings_),
                       static_cast<QWidget*>(request_)})
        box->addWidget(w, 0, Qt::AlignTop);
    connect(openSettings_, &QPushButton::clicked, this, [this] {
        if (onOpenSettings_) onOpenSettings_();
    });
    connect(request_, &QPushButton::clicked, this, [this] { showPreScreen(); });
    setContent(content, QMargins(12, 12, 12, 12));
    setState(state);
}

void PermissionRow::setState(PermissionState state) {
    state_ = state;
    const auto look = statusLook(state);
    status_->setSymbol(look.symbol, look.tint);
    status_->setAccessibleName(q(parlowen::title(kind_)) + QStringLiteral(": ") + QLatin1String(stateName(state)));
    const bool granted = state == PermissionState::granted;
    const bool denied = state == PermissionState::denied;
    granted_->setVisible(granted);
    openSettings_->setVisible(denied);
    request_->setVisible(!granted && !denied);
}

PermissionPreScreen* PermissionRow::preScreen() const {
    return sheet_ ? findNamed<PermissionPreScreen>(sheet_.data(), "permissionPreScreen") : nullptr;
}

void PermissionRow::showPreScreen() {
    if (sheet_) return;
    QPointer<PermissionRow> self(this);
    auto* view = new PermissionPreScreen(
        kind_, state_,
        [self] {
            if (!self) return;
            // The system prompt comes after the sheet was asked to close.
            self->closePreScreen();
            if (self->onRequest_) self->onRequest_();
        },
        [self] {
            if (self) self->closePreScreen();
        });
    auto* themed = new ThemedBackground;
    auto* box = new QVBoxLayout(themed);
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(view);
    sheet_ = new Sheet(this, themed);
    sheet_->setObjectName("preScreenSheet");
    // Escape, or the window manager's close: nothing is requested.
    sheet_->setOnCancel([self] {
        if (self) self->closePreScreen();
    });
    if (auto p = ThemeScope::paletteFor(this)) ThemeScope::apply(sheet_, *p);
    sheet_->present();
}

void PermissionRow::closePreScreen() {
    if (auto* s = sheet_.data()) {
        sheet_ = nullptr;
        s->dismiss();
    }
}

PermissionsTab::PermissionsTab(PermissionsManager& permissions, platform::Workspace& workspace,
                               platform::Executor& main, QWidget* parent)
    : QWidget(parent), permissions_(permissions), workspace_(workspace), main_(main) {
    setObjectName("permissionsTab");
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(24, 24, 24, 24);
    box->setSpacing(12);
    auto* intro = new QLabel(
        QStringLiteral("Parlowen needs the following permissions to work. Grant them in System Settings — Parlowen "
                       "will re-check automatically."));
    intro->setObjectName("intro");
    intro->setForegroundRole(QPalette::PlaceholderText);
    intro->setWordWrap(true);
    box->addWidget(intro);
    for (auto kind : allPermissionKinds) {
        auto* row = new PermissionRow(
            kind, stateOf(kind), [this, kind] { grant(kind); }, [this, kind] { openSettings(kind); });
        rows_[kind] = row;
        box->addWidget(row);
    }
    box->addSpacing(8);
    auto* footer = new QHBoxLayout;
    footer->addStretch(1);
    auto* refreshButton = new PushButton(QStringLiteral("Refresh"));
    refreshButton->setObjectName("refresh");
    connect(refreshButton, &QPushButton::clicked, this, [this] { refresh(); });
    footer->addWidget(refreshButton);
    box->addLayout(footer);
    box->addStretch(1);

    // Each published map makes every row again from it.
    statesSubscription_ = permissions_.states.stream().dropFirst().subscribe([this](const PermissionStates& states) {
        for (auto& [kind, row] : rows_) {
            auto it = states.find(kind);
            row->setState(it == states.end() ? PermissionState::unknown : it->second);
        }
    });
}

PermissionsTab::~PermissionsTab() { onAppear_.cancel(); }

PermissionState PermissionsTab::stateOf(PermissionKind kind) const {
    auto states = permissions_.states.get();
    auto it = states.find(kind);
    return it == states.end() ? PermissionState::unknown : it->second;
}

void PermissionsTab::grant(PermissionKind kind) { platform::spawn(main_, permissions_.request(kind)); }

void PermissionsTab::openSettings(PermissionKind kind) {
    openPermissionSettings(kind, permissions_, workspace_, main_);
}

void PermissionsTab::refresh() { platform::spawn(main_, permissions_.refreshAsync()); }

void PermissionsTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    onAppear_.cancel();
    onAppear_ = platform::spawn(main_, permissions_.refreshAsync());
}

}  // namespace parlowen
