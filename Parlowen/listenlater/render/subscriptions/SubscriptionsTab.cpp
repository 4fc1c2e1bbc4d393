#include "Parlowen/listenlater/render/subscriptions/SubscriptionsTab.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QVBoxLayout>

#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/ui/Bindings.h"
#include "platform/ui/Buttons.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/Forms.h"
#include "platform/ui/IconRegistry.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {

using namespace platform::ui;

namespace {

constexpr int kSymbolSize = 16;
constexpr const char* kSymbolName = "parlowen.symbol";  // the symbol a label shows, for tinting

QString qs(const std::string& s) { return QString::fromStdString(s); }

QLabel* symbolLabel(const char* symbol) {
    auto* label = new QLabel;
    label->setObjectName(QStringLiteral("symbol"));
    label->setFixedSize(kSymbolSize, kSymbolSize);
    label->setProperty(kSymbolName, QString::fromLatin1(symbol));
    return label;
}

// Return in the custom-site field opens nothing: only "Go" does. The field
// keeps the key, so no default action of the window sees it either.
class SwallowReturn : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
            const auto key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                event->accept();
                return event->type() == QEvent::KeyPress;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

SubscriptionsTab::SubscriptionsTab(Dependencies dependencies, QWidget* parent)
    : QWidget(parent), deps_(dependencies), model_(dependencies.defaults) {
    setObjectName(QStringLiteral("subscriptionsTab"));

    auto* form = new QWidget;
    form->setObjectName(QStringLiteral("form"));
    auto* stack = new QVBoxLayout(form);
    stack->setContentsMargins(20, 20, 20, 20);
    stack->setSpacing(20);

    connected_ = new Section(QString::fromUtf8(kConnectedPublishersHeader));
    connected_->setObjectName(QStringLiteral("connectedPublishers"));
    connected_->setFooter(kSubscriptionsFooter);
    stack->addWidget(connected_);

    add_ = new Section(QString::fromUtf8(kAddPublisherHeader));
    add_->setObjectName(QStringLiteral("addPublisher"));
    for (const auto& preset : model_.presets()) {
        auto* button = new PushButton(QString(), ButtonStyle::plain);
        button->setObjectName(QStringLiteral("preset"));
        button->setAccessibleName(qs(preset.name));
        auto* row = new QHBoxLayout(button);
        row->setContentsMargins(0, 2, 0, 2);
        auto* name = new QLabel(qs(preset.name));
        name->setObjectName(QStringLiteral("name"));
        name->setAttribute(Qt::WA_TransparentForMouseEvents);
        row->addWidget(name, 0, Qt::AlignVCenter);
        row->addStretch(1);
        auto* symbol = symbolLabel("arrow.up.right.square");
        symbol->setAttribute(Qt::WA_TransparentForMouseEvents);
        row->addWidget(symbol, 0, Qt::AlignVCenter);
        button->setMinimumHeight(row->sizeHint().height());
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        const auto id = preset.id;
        connect(button, &QPushButton::clicked, this, [this, id] {
            for (const auto& p : model_.presets())
                if (p.id == id) model_.open(p);
        });
        add_->addRow(button);
    }

    auto* custom = new QWidget;
    custom->setObjectName(QStringLiteral("customSite"));
    auto* customRow = new QHBoxLayout(custom);
    customRow->setContentsMargins(0, 0, 0, 0);
    customURL_ = new QLineEdit;
    customURL_->setObjectName(QStringLiteral("customURL"));
    customURL_->setPlaceholderText(QString::fromUtf8(kCustomSitePlaceholder));
    customURL_->installEventFilter(new SwallowReturn(customURL_));
    customRow->addWidget(customURL_, 1, Qt::AlignVCenter);
    go_ = new PushButton(QString::fromLatin1(kGoText), ButtonStyle::bordered);
    go_->setObjectName(QStringLiteral("go"));
    go_->setAutoDefault(false);
    connect(go_, &QPushButton::clicked, this, [this] { model_.openCustomSite(); });
    customRow->addWidget(go_, 0, Qt::AlignVCenter);
    add_->addRow(custom);
    stack->addWidget(add_);
    stack->addStretch(1);

    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("scroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    form->setAutoFillBackground(false);
    scroll->setWidget(form);
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(scroll);

    bindText(customURL_, platform::ui::Property<std::string>(model_.customURL));
    subscriptions_ += model_.customURL.subscribe(
        [this](const std::string& text) { go_->setEnabled(SubscriptionsTabModel::normalizedCustomURL(text).has_value()); });
    subscriptions_ +=
        model_.connectedHosts.subscribe([this](const std::vector<std::string>& hosts) { showHosts(hosts); });
    subscriptions_ +=
        model_.signInTarget.subscribe([this](const std::optional<SignInTarget>& target) { present(target); });
    tint();
}

SubscriptionsTab::~SubscriptionsTab() {
    subscriptions_.clear();
    lifetime_.end();
    delete sheet_.data();
}

void SubscriptionsTab::showHosts(const std::vector<std::string>& hosts) {
    connected_->clearRows();
    if (hosts.empty()) {
        auto* none = new QLabel(QString::fromUtf8(kNoPublishersText));
        none->setObjectName(QStringLiteral("noPublishers"));
        none->setForegroundRole(QPalette::PlaceholderText);  // the theme's secondary text
        connected_->addRow(none);
    }
    for (const auto& host : hosts) {
        auto* row = new QWidget;
        row->setObjectName(QStringLiteral("connectedHost"));
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        line->addWidget(symbolLabel("checkmark.seal.fill"), 0, Qt::AlignVCenter);
        auto* text = new QLabel(qs(host));
        text->setObjectName(QStringLiteral("host"));
        text->setTextFormat(Qt::PlainText);
        line->addWidget(text, 0, Qt::AlignVCenter);
        line->addStretch(1);
        auto* remove = new PushButton(QString::fromLatin1(kRemoveText), ButtonStyle::plain);
        remove->setObjectName(QStringLiteral("remove"));
        remove->setAutoDefault(false);
        connect(remove, &QPushButton::clicked, this, [this, host] { model_.remove(host); });
        line->addWidget(remove, 0, Qt::AlignVCenter);
        connected_->addRow(row);
    }
    tint();
}

void SubscriptionsTab::present(const std::optional<SignInTarget>& target) {
    if (!target) {
        // The sheet is gone (or going): nothing to keep.
        sheetId_.reset();
        if (auto* sheet = sheet_.data()) {
            sheet_ = nullptr;
            sheet->close();
        }
        return;
    }
    if (sheetId_ == target->id) return;
    sheetId_ = target->id;  // first, so that the replaced sheet's closing is not taken for this one's
    if (auto* old = sheet_.data()) {
        sheet_ = nullptr;
        old->close();
    }
    auto guardedConnected = lifetime_.guard([this](const std::string& host) { model_.signInConnected(host); });
    auto* sheet = new MacPublisherSignInView(deps_, target->url, guardedConnected, window());
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet_ = sheet;
    const auto id = target->id;
    connect(sheet, &QDialog::finished, this, [this, id] {
        if (sheetId_ != id) return;  // a sheet this page already replaced
        sheet_ = nullptr;
        model_.signInClosed();
    });
    sheet->open();
}

// The symbols take the theme's colours, known once the page is in its window.
void SubscriptionsTab::tint() {
    const auto palette = themePalette(this);
    const auto colors = systemColors(palette);
    for (auto* label : findChildren<QLabel*>(QStringLiteral("symbol"))) {
        const auto symbol = label->property(kSymbolName).toString().toStdString();
        const QColor color = toQColor(symbol == "checkmark.seal.fill" ? colors.green : colors.secondary);
        label->setPixmap(
            IconRegistry::shared().templatePixmap(symbol, {kSymbolSize, kSymbolSize}, color, devicePixelRatioF()));
    }
}

void SubscriptionsTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    model_.refreshConnectedHosts();  // tints the symbols too
}

}  // namespace parlowen
