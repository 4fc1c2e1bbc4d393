#include "Parlowen/listenlater/render/subscriptions/MacPublisherSignInView.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPropertyAnimation>
#include <QVBoxLayout>

#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/ui/Animations.h"
#include "platform/ui/Buttons.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/IconRegistry.h"
#include "platform/ui/Surfaces.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {

using namespace platform::ui;

namespace {

constexpr int kInset = 12;
constexpr int kSymbolSize = 16;

QString qs(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

MacPublisherSignInView::MacPublisherSignInView(PublisherSignInViewModel::Dependencies dependencies,
                                               platform::Url startURL,
                                               std::function<void(const std::string&)> onConnected, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("publisherSignIn"));
    if (parent) {
        setWindowModality(Qt::WindowModal);
        setThemePalette(this, themePalette(parent));
    }
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    viewModel_ = std::make_unique<PublisherSignInViewModel>(dependencies, std::move(startURL), std::move(onConnected),
                                                            [this] { accept(); });
    setWindowTitle(qs(viewModel_->displayHost()));

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    // Header.
    auto* header = new QWidget;
    header->setObjectName(QStringLiteral("header"));
    auto* headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(kInset, kInset, kInset, kInset);
    title_ = new QLabel;
    title_->setObjectName(QStringLiteral("title"));
    title_->setFont(systemFont(TextStyle::headline));
    title_->setTextFormat(Qt::PlainText);
    headerRow->addWidget(title_, 0, Qt::AlignVCenter);
    headerRow->addStretch(1);
    auto* done = new PushButton(QString::fromLatin1(kSignInDone), ButtonStyle::bordered);
    done->setObjectName(QStringLiteral("done"));
    done->setAutoDefault(false);
    connect(done, &QPushButton::clicked, this, [this] { viewModel_->done(); });
    headerRow->addWidget(done, 0, Qt::AlignVCenter);
    stack->addWidget(header);
    stack->addWidget(new Divider);

    // The web view, built once: the sheet's changes never reload it.
    webView_ = viewModel_->makeWebView();
    QWidget* page = webView_->widget();
    if (!page) page = new QWidget;  // the test double draws nothing
    page->setObjectName(QStringLiteral("webView"));
    page->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    stack->addWidget(page, 1);
    stack->addWidget(new Divider);

    // Footer: the prompt (with Connect anyway once a page has finished) or the signed-in notice with Connect.
    footer_ = new QWidget;
    footer_->setObjectName(QStringLiteral("footer"));
    auto* footerRow = new QHBoxLayout(footer_);
    footerRow->setContentsMargins(kInset, kInset, kInset, kInset);
    footerRow->setSpacing(10);

    prompt_ = new QLabel(qs(signInPrompt(viewModel_->displayHost())));
    prompt_->setObjectName(QStringLiteral("prompt"));
    prompt_->setTextFormat(Qt::PlainText);
    prompt_->setFont(systemFont(TextStyle::callout));
    prompt_->setForegroundRole(QPalette::PlaceholderText);  // the theme's secondary text
    prompt_->setWordWrap(true);
    footerRow->addWidget(prompt_, 1, Qt::AlignVCenter);

    signedIn_ = new QWidget;
    signedIn_->setObjectName(QStringLiteral("signedIn"));
    auto* signedInRow = new QHBoxLayout(signedIn_);
    signedInRow->setContentsMargins(0, 0, 0, 0);
    signedInRow->setSpacing(6);
    signedInSymbol_ = new QLabel;
    signedInSymbol_->setObjectName(QStringLiteral("signedInSymbol"));
    signedInSymbol_->setFixedSize(kSymbolSize, kSymbolSize);
    signedInRow->addWidget(signedInSymbol_, 0, Qt::AlignVCenter);
    signedInText_ = new QLabel(QString::fromUtf8(kSignedInText));
    signedInText_->setObjectName(QStringLiteral("signedInText"));
    signedInRow->addWidget(signedInText_, 0, Qt::AlignVCenter);
    footerRow->addWidget(signedIn_, 0, Qt::AlignVCenter);
    // Without a factor of its own: the prompt, while shown, takes the width and wraps only when it must.
    footerRow->addStretch(0);

    connectAnyway_ = new PushButton(QString::fromUtf8(kConnectAnyway), ButtonStyle::bordered);
    connectAnyway_->setObjectName(QStringLiteral("connectAnyway"));
    connectAnyway_->setAutoDefault(false);
    connect(connectAnyway_, &QPushButton::clicked, this, [this] { viewModel_->connect(); });
    footerRow->addWidget(connectAnyway_, 0, Qt::AlignVCenter);

    connect_ = new PushButton(qs(signInConnectLabel(viewModel_->displayHost())), ButtonStyle::borderedProminent);
    connect_->setObjectName(QStringLiteral("connect"));
    connect_->setAutoDefault(false);
    connect(connect_, &QPushButton::clicked, this, [this] { viewModel_->connect(); });
    footerRow->addWidget(connect_, 0, Qt::AlignVCenter);
    stack->addWidget(footer_);

    tint();
    subscription_ = viewModel_->state().subscribe([this](const PublisherSignInState& state) { render(state); });
}

MacPublisherSignInView::~MacPublisherSignInView() {
    // No change reaches the widgets while they go.
    subscription_.reset();
}

bool MacPublisherSignInView::isFooterFading() const {
    return fade_ && fade_->state() == QAbstractAnimation::Running;
}

void MacPublisherSignInView::render(const PublisherSignInState& state) {
    title_->setText(qs(state.title));
    const bool signedIn = state.footer == SignInFooter::signedIn;
    prompt_->setVisible(!signedIn);
    connectAnyway_->setVisible(state.footer == SignInFooter::signInPromptWithConnectAnyway);
    signedIn_->setVisible(signedIn);
    connect_->setVisible(signedIn);

    // The footer's content eases in when the signed-in state turns (not for the Connect-anyway button alone).
    const bool turned = shownSignedIn_ && *shownSignedIn_ != signedIn;
    shownSignedIn_ = signedIn;
    if (!turned || !animationsEnabled()) return;
    auto* effect = new QGraphicsOpacityEffect(footer_);
    footer_->setGraphicsEffect(effect);  // replaces (and deletes) a running fade's effect
    fade_ = new QPropertyAnimation(effect, "opacity", effect);
    fade_->setDuration(kFooterFadeMs);
    fade_->setEasingCurve(QEasingCurve::InOutQuad);
    fade_->setStartValue(0.0);
    fade_->setEndValue(1.0);
    connect(fade_, &QPropertyAnimation::finished, footer_, [this] {
        fade_ = nullptr;
        footer_->setGraphicsEffect(nullptr);
    });
    fade_->start();
}

// The green and the symbols follow the theme, known once the sheet is in its window.
void MacPublisherSignInView::tint() {
    const auto palette = themePalette(this);
    const QColor green = toQColor(systemColors(palette).green);
    signedInSymbol_->setPixmap(IconRegistry::shared().templatePixmap("checkmark.seal.fill", {kSymbolSize, kSymbolSize},
                                                                     green, devicePixelRatioF()));
    QPalette text = signedInText_->palette();
    text.setColor(QPalette::WindowText, green);
    signedInText_->setPalette(text);
    connect_->setTint(palette.accent);
}

void MacPublisherSignInView::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    tint();
}

}  // namespace parlowen
