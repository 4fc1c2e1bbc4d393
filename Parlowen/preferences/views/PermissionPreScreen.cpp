#include "Parlowen/preferences/views/PermissionPreScreen.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "Parlowen/preferences/PermissionSettings.h"
#include "Parlowen/preferences/PermissionTexts.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/ui/Buttons.h"
#include "platform/ui/DefaultActions.h"
#include "platform/ui/Finders.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/Surfaces.h"
#include "platform/ui/SymbolLabel.h"
#include "platform/ui/ThemeScope.h"
#include "platform/ui/WindowHost.h"
#include "platform/x11/Workspace.h"

namespace parlowen {

using namespace platform::ui;

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

Color accentOf(const Palette& p) { return p.accent; }
Color greenOf(const Palette& p) { return systemColors(p).green; }

// The primary text at 85 % over the surface, as one opaque colour.
Color bodyColor(const Palette& p) {
    const auto& a = p.primaryText;
    const auto& b = p.surfaceBackground;
    return Color{a.red * 0.85 + b.red * 0.15, a.green * 0.85 + b.green * 0.15, a.blue * 0.85 + b.blue * 0.15, 1.0};
}

QWidget* explanationRow(const char* name, const std::string& symbol, SymbolLabel::Tint tint, const QString& title,
                        const QString& body) {
    auto* row = new QWidget;
    row->setObjectName(name);
    auto* box = new QHBoxLayout(row);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(10);
    auto* icon = new SymbolLabel(symbol, 16, std::move(tint));
    icon->setObjectName("symbol");
    box->addWidget(symbolColumn(icon, 18, 1));
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* t = new QLabel(title);
    t->setObjectName("title");
    t->setFont(systemFont(TextStyle::callout, QFont::Bold));
    auto* b = new ThemedLabel(body, bodyColor);
    b->setObjectName("body");
    b->setFont(systemFont(TextStyle::callout));
    b->setWordWrap(true);
    texts->addWidget(t);
    texts->addWidget(b);
    box->addLayout(texts, 1);
    return row;
}

}  // namespace

std::string PermissionPreScreen::expectationText(PermissionKind kind, PermissionState state) {
    return PermissionPreScreenText::expectationText(kind, state);
}

PermissionPreScreen::PermissionPreScreen(PermissionKind kind, PermissionState currentState,
                                         std::function<void()> onConfirm, std::function<void()> onCancel,
                                         QWidget* parent)
    : QWidget(parent), kind_(kind), currentState_(currentState) {
    setObjectName("permissionPreScreen");
    setFixedWidth(kWidth);
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(20, 20, 20, 20);
    box->setSpacing(16);

    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    auto* symbolFrame = new QWidget;
    symbolFrame->setFixedSize(36, 36);
    auto* symbolBox = new QVBoxLayout(symbolFrame);
    symbolBox->setContentsMargins(0, 0, 0, 0);
    auto* symbol = new SymbolLabel(PermissionPreScreenText::headerSymbol(kind), 28, accentOf);
    symbol->setObjectName("headerSymbol");
    symbolBox->addWidget(symbol, 0, Qt::AlignCenter);
    header->addWidget(symbolFrame, 0, Qt::AlignVCenter);
    auto* headerTexts = new QVBoxLayout;
    headerTexts->setSpacing(2);
    auto* heading = new QLabel(q(PermissionPreScreenText::heading(kind)));
    heading->setObjectName("heading");
    heading->setFont(systemFont(TextStyle::title3, QFont::DemiBold));
    auto* subtitle = new QLabel(q(PermissionPreScreenText::subtitle()));
    subtitle->setObjectName("subtitle");
    subtitle->setFont(systemFont(TextStyle::caption));
    subtitle->setForegroundRole(QPalette::PlaceholderText);
    subtitle->setWordWrap(true);
    headerTexts->addWidget(heading);
    headerTexts->addWidget(subtitle);
    header->addLayout(headerTexts, 1);
    box->addLayout(header);

    box->addWidget(explanationRow("expectation", "rectangle.on.rectangle", accentOf, QStringLiteral("What you'll see"),
                                  q(expectationText(kind, currentState))));
    box->addWidget(explanationRow("why", "info.circle", accentOf, QStringLiteral("Why Parlowen needs this"),
                                  q(PermissionPreScreenText::whyText(kind))));
    box->addWidget(explanationRow("doesnt", "lock.shield", greenOf, QStringLiteral("What Parlowen doesn't do"),
                                  q(PermissionPreScreenText::doesntText(kind))));

    auto* buttons = new QHBoxLayout;
    notNow_ = new PushButton(QStringLiteral("Not now"));
    notNow_->setObjectName("notNow");
    setCancelAction(notNow_);
    primary_ = new PushButton(q(PermissionPreScreenText::primaryLabel(currentState)), ButtonStyle::borderedProminent);
    primary_->setObjectName("primary");
    primary_->setDefault(true);
    setDefaultAction(primary_);
    buttons->addWidget(notNow_);
    buttons->addStretch(1);
    buttons->addWidget(primary_);
    box->addLayout(buttons);
    connect(notNow_, &QPushButton::clicked, this, [onCancel = std::move(onCancel)] {
        if (onCancel) onCancel();
    });
    connect(primary_, &QPushButton::clicked, this, [onConfirm = std::move(onConfirm)] {
        if (onConfirm) onConfirm();
    });
}

// ---- the window ----

PermissionPreScreenWindowController::PermissionPreScreenWindowController(PermissionsManager& permissions,
                                                                         platform::Workspace& workspace,
                                                                         platform::Executor& main,
                                                                         PreferencesStore* preferences)
    : permissions_(permissions), workspace_(workspace), main_(main), preferences_(preferences) {}

PermissionPreScreenWindowController::~PermissionPreScreenWindowController() {
    lifetime_.end();
    theme_.reset();
    delete window_.data();
}

PermissionPreScreen* PermissionPreScreenWindowController::view() const {
    if (!window_) return nullptr;
    return platform::ui::findNamed<PermissionPreScreen>(window_.data(), "permissionPreScreen");
}

void PermissionPreScreenWindowController::present(PermissionKind kind, std::function<void()> completion) {
    const auto state = permissions_.currentState(kind);
    const auto generation = ++generation_;
    auto alive = lifetime_.weak();
    auto* view = new PermissionPreScreen(
        kind, state,
        [this, alive, kind, state, generation, completion] {
            if (!alive.expired()) confirm(kind, state, generation, completion);
        },
        [this, alive, completion] {
            if (!alive.expired()) cancel(completion);
        });
    // The view sits on the themed background of the window.
    auto* backdrop = new ThemedBackground;
    auto* box = new QVBoxLayout(backdrop);
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(view, 0, Qt::AlignTop | Qt::AlignHCenter);
    if (!window_) {
        window_ = new WindowHost(QStringLiteral("Permission needed"),
                                 {.size = {PermissionPreScreen::kWidth, 460}, .resizable = false,
                                  .minimizable = false, .stayOnTop = true});
        window_->setObjectName("permissionPreScreenWindow");
        if (preferences_) theme_ = followTheme(window_, preferences_->selectedTheme.stream());
        QObject::connect(window_, &WindowHost::willClose, window_, [this, alive] {
            if (!alive.expired()) windowWillClose();
        });
    }
    window_->setContent(backdrop);
    window_->showAndActivate();
}

void PermissionPreScreenWindowController::confirm(PermissionKind kind, PermissionState state,
                                                  std::uint64_t generation, std::function<void()> completion) {
    // Hidden at once, but still present until the request has answered.
    if (window_) window_->hide();
    platform::spawn(main_, confirmTask(this, lifetime_.weak(), &permissions_, &workspace_, &main_, kind, state,
                                       generation, std::move(completion)));
}

platform::Task<void> PermissionPreScreenWindowController::confirmTask(
    PermissionPreScreenWindowController* self, std::weak_ptr<void> alive, PermissionsManager* permissions,
    platform::Workspace* workspace, platform::Executor* main, PermissionKind kind, PermissionState state,
    std::uint64_t generation, std::function<void()> completion) {
    switch (state) {
        case PermissionState::granted: break;
        case PermissionState::denied: openPermissionSettings(kind, *permissions, *workspace, *main); break;
        case PermissionState::unknown:
        case PermissionState::notDetermined: co_await permissions->request(kind); break;
    }
    if (!alive.expired()) {
        self->finish(generation, std::move(completion));
    } else if (completion) {
        completion();
    }
}

void PermissionPreScreenWindowController::finish(std::uint64_t generation, std::function<void()> completion) {
    if (window_ && generation == generation_) window_->close();
    if (completion) completion();
}

void PermissionPreScreenWindowController::cancel(std::function<void()> completion) {
    if (window_) window_->close();
    if (completion) completion();
}

void PermissionPreScreenWindowController::windowWillClose() {
    // The next presentation builds and centres a new window.
    if (auto* w = window_.data()) {
        window_ = nullptr;
        theme_.reset();
        w->deleteLater();
    }
}

}  // namespace parlowen
