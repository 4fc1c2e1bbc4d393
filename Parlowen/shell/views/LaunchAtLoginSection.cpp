#include "Parlowen/shell/views/LaunchAtLoginSection.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/ui/Bindings.h"
#include "platform/ui/Buttons.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/Forms.h"
#include "platform/ui/IconRegistry.h"
#include "platform/ui/ThemeScope.h"
#include "platform/x11/Workspace.h"

namespace parlowen {

using namespace platform::ui;

namespace {
constexpr int kSymbolSize = 16;
}

LaunchAtLoginSection::LaunchAtLoginSection(platform::LoginItemService& service, platform::Workspace& workspace,
                                           QWidget* parent)
    : QWidget(parent), manager_(service), workspace_(workspace) {
    setObjectName(QStringLiteral("launchAtLoginSection"));
    section_ = new Section(QStringLiteral("Startup"));
    section_->setObjectName(QStringLiteral("startup"));
    section_->setFooter(
        "When enabled, Parlowen launches automatically and lives in the menu bar after you log in. No window "
        "appears — Quon's icon shows up in your menu bar, ready for your dictation and read-aloud hotkeys.");

    // The switch, the notice and the button share one row, so the notice
    // comes and goes without a stray divider.
    auto* row = new QWidget;
    row->setObjectName(QStringLiteral("launchAtLoginRow"));
    auto* rowBox = new QVBoxLayout(row);
    rowBox->setContentsMargins(0, 0, 0, 0);
    rowBox->setSpacing(8);

    toggle_ = new ToggleRow(QStringLiteral("Launch Parlowen at login"));
    toggle_->setObjectName(QStringLiteral("launchAtLogin"));
    rowBox->addWidget(toggle_);
    LoginItemManager* manager = &manager_;
    bindToggle(toggle_->toggle(),
               Property<bool>([manager] { return manager->isEnabled(); },
                              [manager](bool on) { manager->setIsEnabled(on); }, manager_.isEnabledStream()));

    notice_ = new QWidget;
    notice_->setObjectName(QStringLiteral("approvalNotice"));
    auto* noticeBox = new QHBoxLayout(notice_);
    noticeBox->setContentsMargins(0, 0, 0, 0);
    noticeBox->setSpacing(8);
    symbol_ = new QLabel;
    symbol_->setObjectName(QStringLiteral("approvalSymbol"));
    symbol_->setFixedSize(kSymbolSize, kSymbolSize);
    noticeBox->addWidget(symbol_, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    auto* title = new QLabel(QStringLiteral("Approval required"));
    title->setObjectName(QStringLiteral("approvalTitle"));
    title->setFont(systemFont(TextStyle::callout));
    auto* text = new QLabel(QStringLiteral("macOS needs you to enable Parlowen in System Settings → General → Login "
                                           "Items. Until then, automatic launch is off."));
    text->setObjectName(QStringLiteral("approvalText"));
    text->setFont(systemFont(TextStyle::caption));
    text->setForegroundRole(QPalette::PlaceholderText);  // the theme's secondary text
    text->setWordWrap(true);
    texts->addWidget(title, 0, Qt::AlignLeft);
    texts->addWidget(text);
    noticeBox->addLayout(texts, 1);
    rowBox->addWidget(notice_);

    buttonRow_ = new QWidget;
    buttonRow_->setObjectName(QStringLiteral("approvalButtonRow"));
    auto* buttonBox = new QHBoxLayout(buttonRow_);
    buttonBox->setContentsMargins(0, 0, 0, 0);
    openButton_ = new PushButton(QStringLiteral("Open Login Items…"), ButtonStyle::bordered, ControlSize::small);
    openButton_->setObjectName(QStringLiteral("openLoginItems"));
    connect(openButton_, &QPushButton::clicked, this, [this] { workspace_.openURL(kLoginItemsURL); });
    buttonBox->addWidget(openButton_);
    buttonBox->addStretch(1);
    rowBox->addWidget(buttonRow_);

    section_->addRow(row);
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(section_);

    statusSubscription_ =
        manager_.statusStream().subscribe([this](const platform::LoginItemStatus& s) { showStatus(s); });
}

LaunchAtLoginSection::~LaunchAtLoginSection() = default;

void LaunchAtLoginSection::showStatus(platform::LoginItemStatus status) {
    const bool approval = status == platform::LoginItemStatus::requiresApproval;
    notice_->setVisible(approval);
    buttonRow_->setVisible(approval);
}

// The symbols take the theme's colours, known once the section is in its window.
void LaunchAtLoginSection::tintSymbol() {
    const QColor orange = toQColor(systemColors(themePalette(this)).orange);
    symbol_->setPixmap(IconRegistry::shared().templatePixmap("exclamationmark.triangle.fill",
                                                             {kSymbolSize, kSymbolSize}, orange, devicePixelRatioF()));
    openButton_->setIcon(QIcon(IconRegistry::shared().templatePixmap("link", {12, 12}, openButton_->textColor(),
                                                                     devicePixelRatioF())));
}

void LaunchAtLoginSection::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    tintSymbol();
    manager_.refresh();
}

}  // namespace parlowen
