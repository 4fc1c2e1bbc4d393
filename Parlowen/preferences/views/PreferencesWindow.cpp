#include "Parlowen/preferences/views/PreferencesWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QVBoxLayout>

#include "Parlowen/brand/BrandColors.h"
#include "Parlowen/brand/BrandFonts.h"
#include "Parlowen/brand/MascotArtwork.h"
#include "Parlowen/preferences/views/PermissionsTab.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/IconRegistry.h"
#include "platform/ui/PageHost.h"
#include "platform/ui/Surfaces.h"
#include "platform/ui/ThemeScope.h"
#include "platform/ui/WindowHost.h"

namespace parlowen {

using namespace platform::ui;

namespace {

QString q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

// A page's column of sections, scrolled, over the window's background.
QWidget* scrollingColumn(const char* name, QWidget* column) {
    auto* scroll = new QScrollArea;
    scroll->setObjectName(name);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The gradient shows through.
    scroll->setAutoFillBackground(false);
    scroll->viewport()->setAutoFillBackground(false);
    column->setAutoFillBackground(false);
    scroll->setWidget(column);
    return scroll;
}

QVBoxLayout* columnLayout(QWidget* column) {
    auto* box = new QVBoxLayout(column);
    box->setContentsMargins(24, 24, 24, 24);
    box->setSpacing(20);
    return box;
}

// The Groq section, present only while the dictation engine is Groq.
class GroqSlot : public QWidget {
public:
    GroqSlot(const PreferencesPages& pages, const PreferencesContext& context) {
        setObjectName("groqSlot");
        auto* box = new QVBoxLayout(this);
        box->setContentsMargins(0, 0, 0, 0);
        subscription_ = context.preferences.dictationEngineMode.stream().subscribe(
            [this, &pages, context](const DictationEngineMode& mode) {
                const bool want = mode == DictationEngineMode::groq;
                if (want && !section_) {
                    section_ = pages.buildSection(PreferencesSection::groq, context);
                    if (section_) layout()->addWidget(section_);
                } else if (!want && section_) {
                    delete section_;
                    section_ = nullptr;
                }
                setVisible(section_ != nullptr);
            });
    }

private:
    QWidget* section_ = nullptr;
    platform::Subscription subscription_;
};

}  // namespace

// ---- page table ----

PreferencesPages::PreferencesPages() {
    pages_[PreferencesTab::permissions] = [](const PreferencesContext& c) -> QWidget* {
        return scrollingColumn("permissionsPage", new PermissionsTab(c.permissions, c.workspace, c.main));
    };
    auto composed = [this](const char* name, std::vector<PreferencesSection> sections) {
        return [this, name, sections](const PreferencesContext& c) -> QWidget* {
            auto* column = new QWidget;
            auto* box = columnLayout(column);
            for (auto s : sections) {
                if (s == PreferencesSection::groq) {
                    box->addWidget(new GroqSlot(*this, c));
                } else if (auto* w = buildSection(s, c)) {
                    box->addWidget(w);
                }
            }
            box->addStretch(1);
            return scrollingColumn(name, column);
        };
    };
    using S = PreferencesSection;
    pages_[PreferencesTab::dictation] = composed(
        "dictationPage", {S::dictationEngineMode, S::groq, S::recognitionHints, S::vocabularySuggestions, S::voiceCommands});
    pages_[PreferencesTab::readAloud] = composed("readAloudPage", {S::readAloud, S::pronunciations});
    pages_[PreferencesTab::aiRefinement] = composed("aiRefinementPage", {S::aiRefinement});
    pages_[PreferencesTab::perApp] = composed("perAppPage", {S::perAppRules});
}

void PreferencesPages::setPage(PreferencesTab tab, Builder builder) { pages_[tab] = std::move(builder); }

void PreferencesPages::setSection(PreferencesSection section, Builder builder) {
    sections_[section] = std::move(builder);
}

QWidget* PreferencesPages::build(PreferencesTab tab, const PreferencesContext& context) const {
    QWidget* page = nullptr;
    if (auto it = pages_.find(tab); it != pages_.end()) page = it->second(context);
    if (!page) page = new QWidget;  // the background only
    if (page->objectName().isEmpty()) page->setObjectName(q(rawValue(tab)) + "Page");
    return page;
}

QWidget* PreferencesPages::buildSection(PreferencesSection section, const PreferencesContext& context) const {
    auto it = sections_.find(section);
    return it == sections_.end() ? nullptr : it->second(context);
}

// ---- root view ----

PreferencesView::PreferencesView(PreferencesContext context, const PreferencesPages& pages, TabSelection& selection,
                                 QWidget* parent)
    : QWidget(parent), context_(std::move(context)), pages_(pages), selection_(selection) {
    setObjectName("preferencesView");
    setMinimumSize(780, 520);
    auto* split = new QHBoxLayout(this);
    split->setContentsMargins(0, 0, 0, 0);
    split->setSpacing(0);

    // Sidebar.
    auto* sidebar = new QWidget;
    sidebar->setObjectName("sidebar");
    sidebar->setMinimumWidth(200);
    sidebar->setMaximumWidth(260);
    sidebar->setFixedWidth(220);
    sidebar->setAutoFillBackground(true);
    auto* side = new QVBoxLayout(sidebar);
    side->setContentsMargins(0, 0, 0, 0);
    side->setSpacing(0);

    auto* header = new QWidget;
    header->setObjectName("sidebarHeader");
    auto* headerBox = new QHBoxLayout(header);
    headerBox->setContentsMargins(14, 18, 14, 12);
    headerBox->setSpacing(10);
    auto* mascot = new QLabel;
    mascot->setObjectName("mascot");
    mascot->setFixedSize(34, 34);
    {
        ensureMascotArtwork();
        QPixmap picture = IconRegistry::shared().pixmap("quon-listening", {34, 34}, devicePixelRatioF());
        QPixmap clipped(picture.size());
        clipped.setDevicePixelRatio(picture.devicePixelRatio());
        clipped.fill(Qt::transparent);
        QPainter painter(&clipped);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(0, 0, 34, 34), 8, 8);
        painter.setClipPath(path);
        painter.drawPixmap(0, 0, picture);
        painter.end();
        mascot->setPixmap(clipped);
    }
    headerBox->addWidget(mascot);
    auto* names = new QVBoxLayout;
    names->setSpacing(0);
    auto* product = new QLabel(QStringLiteral("Parlowen"));
    product->setObjectName("product");
    QFont productFont = brandBody();
    productFont.setWeight(QFont::DemiBold);
    product->setFont(productFont);
    {
        QPalette p = product->palette();
        p.setColor(QPalette::WindowText, toQColor(brandAmber()));
        product->setPalette(p);
    }
    exemptFromContrastCheck(product, QStringLiteral("the product's wordmark in the brand amber"));
    auto* settings = new QLabel(QStringLiteral("Settings"));
    settings->setObjectName("settingsCaption");
    settings->setFont(brandCaption());
    settings->setForegroundRole(QPalette::PlaceholderText);
    names->addWidget(product);
    names->addWidget(settings);
    headerBox->addLayout(names);
    headerBox->addStretch(1);
    side->addWidget(header);

    list_ = new QListWidget;
    list_->setObjectName("tabs");
    list_->setAccessibleName(QStringLiteral("Settings sections"));
    list_->setFrameShape(QFrame::NoFrame);
    list_->setIconSize({16, 16});
    list_->setFont(brandBody());
    list_->setAutoFillBackground(false);
    list_->viewport()->setAutoFillBackground(false);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    {
        // The sidebar keeps the brand amber whatever the theme.
        QPalette p = list_->palette();
        p.setColor(QPalette::Highlight, toQColor(brandAmber()));
        p.setColor(QPalette::HighlightedText, toQColor(brandInk()));
        list_->setPalette(p);
    }
    for (const auto& tab : preferencesTabs) {
        auto* item = new QListWidgetItem(
            QIcon(IconRegistry::shared().templatePixmap(std::string(tab.symbol), {16, 16}, toQColor(brandAmberDeep()))),
            q(tab.title));
        item->setData(Qt::UserRole, static_cast<int>(tab.tab));
        item->setSizeHint({0, 28});
        list_->addItem(item);
    }
    auto* listInset = new QHBoxLayout;
    listInset->setContentsMargins(8, 0, 8, 0);
    listInset->addWidget(list_);
    side->addLayout(listInset, 1);
    auto* company = new QLabel(QStringLiteral("Vant & Quon"));
    company->setObjectName("company");
    company->setFont(brandCaption());
    company->setForegroundRole(QPalette::PlaceholderText);
    company->setContentsMargins(14, 0, 14, 12);
    side->addWidget(company);
    split->addWidget(sidebar);

    // Detail.
    auto* detail = new ThemedBackground;
    detail->setObjectName("detail");
    auto* detailBox = new QVBoxLayout(detail);
    detailBox->setContentsMargins(0, 0, 0, 0);
    host_ = new PageHost;
    host_->setObjectName("pages");
    host_->setMinimumWidth(540);
    for (const auto& tab : preferencesTabs) {
        const auto which = tab.tab;
        host_->addPage(std::string(tab.rawValue), [this, which] { return pages_.build(which, context_); });
    }
    detailBox->addWidget(host_);
    split->addWidget(detail, 1);

    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0 || showing_) return;
        const auto tab = static_cast<PreferencesTab>(list_->item(row)->data(Qt::UserRole).toInt());
        if (tab != selection_.current.get()) selection_.current.set(tab);
    });
    subscriptions_ += selection_.current.stream().subscribe([this](const PreferencesTab& tab) { show(tab); });
    subscriptions_ += followTheme(this, context_.preferences.selectedTheme.stream());
}

PreferencesView::~PreferencesView() = default;

void PreferencesView::show(PreferencesTab tab) {
    showing_ = true;
    const int row = static_cast<int>(tab);
    if (list_->currentRow() != row) list_->setCurrentRow(row);
    showing_ = false;
    host_->showPage(std::string(rawValue(tab)));
}

void PreferencesView::replayOnboarding() const {
    if (context_.replayOnboarding) context_.replayOnboarding();
}

void PreferencesView::onPreviewVoice() const {
    if (context_.previewVoice) context_.previewVoice();
}

// ---- controller ----

PreferencesWindowController::PreferencesWindowController(PreferencesContext context,
                                                         std::shared_ptr<const PreferencesPages> pages,
                                                         PreferencesTab initialTab)
    : pages_(std::move(pages)), tabSelection_(initialTab) {
    window_ = std::make_unique<WindowHost>(QStringLiteral("Parlowen"), WindowHost::Options{.size = {kWidth, kHeight}});
    window_->setObjectName("preferencesWindow");
    window_->setMinimumSize(780, 520);
    view_ = new PreferencesView(std::move(context), *pages_, tabSelection_);
    window_->setContent(view_);
}

PreferencesWindowController::~PreferencesWindowController() = default;

void PreferencesWindowController::setTab(PreferencesTab tab) { tabSelection_.current.set(tab); }

void PreferencesWindowController::showAndActivate() { window_->showAndActivate(); }

}  // namespace parlowen
