#include "Parlowen/preferences/views/ApiKeyFieldView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QEvent>
#include <QVBoxLayout>

#include "platform/ui/BecameActive.h"
#include "platform/ui/Buttons.h"
#include "platform/ui/DefaultActions.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/IconRegistry.h"
#include "platform/ui/SymbolLabel.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {

using namespace platform::ui;

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

Color green(const Palette& p) { return systemColors(p).green; }
Color orange(const Palette& p) { return systemColors(p).orange; }
Color red(const Palette& p) { return systemColors(p).red; }
Color secondary(const Palette& p) { return systemColors(p).secondary; }

QLabel* note(const QString& text, const char* name) {
    auto* l = new QLabel(text);
    l->setObjectName(name);
    l->setFont(systemFont(TextStyle::caption));
    l->setForegroundRole(QPalette::PlaceholderText);
    l->setWordWrap(true);
    return l;
}

PushButton* smallButton(const QString& text, const char* name) {
    auto* b = new PushButton(text, ButtonStyle::bordered, ControlSize::small);
    b->setObjectName(name);
    return b;
}

}  // namespace

ApiKeyFieldView::ApiKeyFieldView(ApiKeyField& field, QWidget* parent) : QWidget(parent), field_(field) {
    const auto member = field.member();
    const auto& m = info(member);
    const bool groq = member == ApiKeyMember::groq;
    setObjectName(QString::fromUtf8(m.name.data(), static_cast<int>(m.name.size())).toLower() + "KeyField");
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(8);

    // Header.
    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    headerSymbol_ = new SymbolLabel("key.fill", 16, secondary);
    headerSymbol_->setObjectName("headerSymbol");
    header->addWidget(headerSymbol_, 0, groq ? Qt::AlignVCenter : Qt::AlignTop);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    title_ = new QLabel;
    title_->setObjectName("title");
    title_->setFont(systemFont(TextStyle::callout));
    caption_ = note({}, "caption");
    titles->addWidget(title_);
    titles->addWidget(caption_);
    header->addLayout(titles, 1);
    testButton_ = smallButton(QStringLiteral("Test connection"), "testConnection");
    replaceKeyButton_ = smallButton(QStringLiteral("Replace key…"), "replaceKey");
    removeButton_ = smallButton(QStringLiteral("Remove"), "remove");
    groqReplaceButton_ = smallButton(QStringLiteral("Replace"), "replace");
    for (auto* b : {testButton_, replaceKeyButton_, removeButton_, groqReplaceButton_})
        header->addWidget(b, 0, groq ? Qt::AlignVCenter : Qt::AlignTop);
    box->addLayout(header);
    connect(testButton_, &QPushButton::clicked, this, [this] { field_.testConnection(); });
    connect(replaceKeyButton_, &QPushButton::clicked, this, [this] { field_.replace(); });
    connect(groqReplaceButton_, &QPushButton::clicked, this, [this] { field_.replace(); });
    connect(removeButton_, &QPushButton::clicked, this, [this] { field_.remove(); });

    // A failed Remove, shown while the key is still configured.
    headerError_ = new ThemedLabel({}, red);
    headerError_->setObjectName("headerError");
    headerError_->setFont(systemFont(TextStyle::caption));
    headerError_->setWordWrap(true);
    box->addWidget(headerError_);

    // Test status.
    testStatus_ = new QWidget;
    testStatus_->setObjectName("testStatus");
    auto* status = new QHBoxLayout(testStatus_);
    status->setContentsMargins(0, 0, 0, 0);
    status->setSpacing(6);
    testProgress_ = new QProgressBar;
    testProgress_->setObjectName("testProgress");
    testProgress_->setRange(0, 0);
    testProgress_->setTextVisible(false);
    testProgress_->setFixedSize(40, 8);
    testSymbol_ = new SymbolLabel("checkmark.circle.fill", 12, green);
    testSymbol_->setObjectName("testSymbol");
    testText_ = new ThemedLabel({}, secondary);
    testText_->setObjectName("testText");
    testText_->setFont(systemFont(TextStyle::caption));
    testText_->setWordWrap(true);
    testText_->setTextFormat(Qt::PlainText);
    status->addWidget(testProgress_, 0, Qt::AlignVCenter);
    status->addWidget(testSymbol_, 0, Qt::AlignTop);
    status->addWidget(testText_, 1);
    box->addWidget(testStatus_);

    // Entry controls.
    entryArea_ = new QWidget;
    entryArea_->setObjectName("entryArea");
    auto* entryBox = new QVBoxLayout(entryArea_);
    entryBox->setContentsMargins(0, 0, 0, 0);
    entryBox->setSpacing(8);
    auto* entryRow = new QHBoxLayout;
    entryRow->setSpacing(8);
    entry_ = new QLineEdit;
    entry_->setObjectName("entry");
    entry_->setEchoMode(QLineEdit::Password);
    entry_->setPlaceholderText(q(ApiKeyFieldText::placeholder(member)));
    entry_->setAccessibleName(q(std::string(m.name) + " API key"));
    save_ = new PushButton(QStringLiteral("Save"));
    save_->setObjectName("save");
    setDefaultAction(save_);
    cancel_ = new PushButton(QStringLiteral("Cancel"));
    cancel_->setObjectName("cancel");
    entryRow->addWidget(entry_, 1);
    entryRow->addWidget(save_);
    entryRow->addWidget(cancel_);
    entryBox->addLayout(entryRow);
    connect(entry_, &QLineEdit::textEdited, this, [this](const QString& text) { field_.setKeyEntry(text.toStdString()); });
    // Return in the field saves; an entry of spaces changes nothing.
    connect(entry_, &QLineEdit::returnPressed, this, [this] { field_.save(); });
    connect(save_, &QPushButton::clicked, this, [this] { field_.save(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { field_.cancel(); });

    pasteNote_ = note(QStringLiteral("Pasted from your clipboard — review the value above and click Save."), "pasteNote");
    entryBox->addWidget(pasteNote_);
    saveError_ = new ThemedLabel({}, red);
    saveError_->setObjectName("saveError");
    saveError_->setFont(systemFont(TextStyle::caption));
    saveError_->setWordWrap(true);
    entryBox->addWidget(saveError_);

    auto* linkRow = new QHBoxLayout;
    auto* link = smallButton(q(std::string(m.linkLabel)), "keyPage");
    link_ = link;
    connect(link, &QPushButton::clicked, this, [this] { field_.openKeyPage(); });
    linkRow->addWidget(link);
    linkRow->addStretch(1);
    entryBox->addLayout(linkRow);
    if (m.hasTerminalCommand) {
        entryBox->addWidget(note(QStringLiteral("Or add via terminal (won't echo to shell history):"), "terminalHint"));
        auto* command = new QLabel(q(ApiKeyFieldText::terminalCommand(member)));
        command->setObjectName("terminalCommand");
        command->setFont(systemFont(TextStyle::caption, std::nullopt, FontDesign::monospaced));
        command->setForegroundRole(QPalette::PlaceholderText);
        command->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        command->setWordWrap(true);
        entryBox->addWidget(command);
    }
    box->addWidget(entryArea_);

    subscriptions_ += field_.changes().subscribe([this](const std::uint64_t&) { sync(); });
    sync();
}

// The link's symbol takes the button's text colour, known once in the window.
void ApiKeyFieldView::tintLink() {
    link_->setIcon(QIcon(IconRegistry::shared().templatePixmap("link", {12, 12}, link_->textColor(), devicePixelRatioF())));
}

void ApiKeyFieldView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    tintLink();
}

void ApiKeyFieldView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) tintLink();
}

void ApiKeyFieldView::checkClipboardWhenActive(BecameActiveSource& source) {
    subscriptions_ += source.subscribe([this] { field_.clipboardCheck(); });
}

void ApiKeyFieldView::sync() {
    const auto member = field_.member();
    const bool groq = member == ApiKeyMember::groq;
    const bool configured = field_.configured();
    const bool present = field_.keyPresent();
    const bool hasTest = info(member).hasConnectionTest;

    if (groq) {
        if (present) headerSymbol_->setSymbol("key.fill", secondary);
        else headerSymbol_->setSymbol("exclamationmark.triangle.fill", orange);
        title_->setText(q(present ? ApiKeyFieldText::titleConfigured(member) : ApiKeyFieldText::titleMissing(member)));
        caption_->setText(q(ApiKeyFieldText::caption(member)));
    } else if (configured) {
        headerSymbol_->setSymbol("checkmark.circle.fill", green);
        title_->setText(q(ApiKeyFieldText::titleConfigured(member)));
        caption_->setText(q(ApiKeyFieldText::keychainNote(member)));
    } else {
        if (present) headerSymbol_->setSymbol("key.fill", secondary);
        else headerSymbol_->setSymbol("exclamationmark.triangle.fill", orange);
        title_->setText(q(present ? ApiKeyFieldText::titleReplacing(member) : ApiKeyFieldText::titleMissing(member)));
        caption_->setText(q(ApiKeyFieldText::caption(member)));
    }
    testButton_->setVisible(configured && hasTest);
    testButton_->setEnabled(!field_.isTesting());
    replaceKeyButton_->setVisible(configured && !groq);
    removeButton_->setVisible(configured && info(member).hasRemove);
    removeButton_->setEnabled(!field_.isBusy());
    groqReplaceButton_->setVisible(configured && groq);

    const bool headerError = configured && field_.saveError().has_value();
    headerError_->setVisible(headerError);
    if (headerError) headerError_->setText(QStringLiteral("Save failed: ") + q(*field_.saveError()));

    // Test status: testing, then the last result.
    const auto& result = field_.testResult();
    const bool testing = hasTest && field_.isTesting();
    testStatus_->setVisible(hasTest && (testing || result.has_value()));
    testProgress_->setVisible(testing);
    testSymbol_->setVisible(!testing && result.has_value());
    if (testing) {
        testText_->setText(QStringLiteral("Testing connection…"));
    } else if (result && result->isSuccess()) {
        testSymbol_->setSymbol("checkmark.circle.fill", green);
        testText_->setText(QStringLiteral("Connected — key works."));
    } else if (result) {
        testSymbol_->setSymbol("xmark.circle.fill", red);
        testText_->setText(q(result->message));
    }
    // The failure is red and at most three lines; the others are quiet.
    const bool failed = !testing && result && !result->isSuccess();
    testText_->setMaximumHeight(failed ? testText_->fontMetrics().lineSpacing() * 3 : QWIDGETSIZE_MAX);
    testText_->setInk(failed ? red : secondary);

    entryArea_->setVisible(field_.entryShown());
    if (entry_->text().toStdString() != field_.keyEntry()) entry_->setText(q(field_.keyEntry()));
    save_->setEnabled(field_.canSave() && !field_.isBusy());
    cancel_->setVisible(present);
    pasteNote_->setVisible(field_.pastedFromClipboard() && !field_.keyEntry().empty());
    const bool entryError = field_.saveError().has_value() && !configured;
    saveError_->setVisible(entryError);
    if (entryError) saveError_->setText(QStringLiteral("Save failed: ") + q(*field_.saveError()));
}

}  // namespace parlowen
