#include "platform/ui/ScreenshotTesting.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

#include "platform/ui/Buttons.h"
#include "platform/ui/Contrast.h"
#include "platform/ui/Finders.h"
#include "platform/ui/ThemeScope.h"

namespace platform::ui::testing {
namespace {

struct ShownText {
    QString text;
    QColor color;
};

// The text a widget shows and the colour it draws it in; none for widgets
// without text.
std::optional<ShownText> shownText(const QWidget* w) {
    if (auto* button = dynamic_cast<const PushButton*>(w)) {
        if (button->text().isEmpty()) return std::nullopt;
        return ShownText{button->text(), button->textColor()};
    }
    if (auto* label = qobject_cast<const QLabel*>(w)) {
        if (label->text().trimmed().isEmpty()) return std::nullopt;
        return ShownText{label->text(), label->palette().color(label->foregroundRole())};
    }
    if (auto* field = qobject_cast<const QLineEdit*>(w)) {
        if (!field->text().isEmpty()) return ShownText{field->text(), field->palette().color(QPalette::Text)};
        if (!field->placeholderText().isEmpty())
            return ShownText{field->placeholderText(), field->palette().color(QPalette::PlaceholderText)};
        return std::nullopt;
    }
    if (auto* combo = qobject_cast<const QComboBox*>(w)) {
        if (combo->currentText().isEmpty()) return std::nullopt;
        return ShownText{combo->currentText(), combo->palette().color(QPalette::ButtonText)};
    }
    if (auto* button = qobject_cast<const QAbstractButton*>(w)) {
        if (button->text().isEmpty()) return std::nullopt;
        return ShownText{button->text(), button->palette().color(QPalette::ButtonText)};
    }
    return std::nullopt;
}

bool isLargeText(const QWidget* w) {
    const QFontInfo info(w->font());
    const double px = info.pixelSize();
    return px >= 24 || (px >= 18.66 && info.weight() >= QFont::Bold);
}

std::string pathOf(const QWidget* w, const QWidget* root) {
    std::string path;
    for (const QWidget* p = w; p && p != root; p = p->parentWidget()) {
        if (p->objectName().isEmpty()) continue;
        path = p->objectName().toStdString() + (path.empty() ? "" : "/" + path);
    }
    return path.empty() ? std::string(w->metaObject()->className()) : path;
}

bool exempt(const QWidget* w, const QWidget* root) {
    for (const QWidget* p = w; p; p = p->parentWidget()) {
        if (!contrastExemption(p).isEmpty()) return true;
        if (p == root) break;
    }
    return false;
}

// The part of `w` that shows inside every ancestor up to `root`, in root
// coordinates.
QRect visibleRect(const QWidget* w, const QWidget* root) {
    QRect r(w->mapTo(root, QPoint(0, 0)), w->size());
    for (const QWidget* p = w->parentWidget(); p && p != root; p = p->parentWidget())
        r &= QRect(p->mapTo(root, QPoint(0, 0)), p->size());
    return r & root->rect();
}

// The most common colour of the rectangle (colours binned at 5 bits per
// channel, then averaged within the winning bin).
Color dominantColour(const QImage& image, const QRect& rect) {
    struct Bin {
        long count = 0;
        double r = 0, g = 0, b = 0;
    };
    std::map<int, Bin> bins;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QRgb px = line[x];
            const int key = (qRed(px) >> 3) << 10 | (qGreen(px) >> 3) << 5 | (qBlue(px) >> 3);
            auto& bin = bins[key];
            ++bin.count;
            bin.r += qRed(px);
            bin.g += qGreen(px);
            bin.b += qBlue(px);
        }
    }
    const Bin* best = nullptr;
    for (const auto& [_, bin] : bins)
        if (!best || bin.count > best->count) best = &bin;
    if (!best) return Color::white();
    return Color{best->r / best->count / 255.0, best->g / best->count / 255.0, best->b / best->count / 255.0, 1};
}

std::string hex(const Color& c) { return toQColor(c).name().toStdString(); }

}  // namespace

void settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QApplication::processEvents();
    }
}

QImage saveScreenshot(QWidget* widget, const std::filesystem::path& file) {
    if (!widget->isVisible()) widget->show();
    settle();
    const QImage image = widget->grab().toImage();
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    image.save(QString::fromStdString(file.string()), "PNG");
    return image;
}

std::vector<ContrastFailure> contrastFailures(QWidget* root, const QImage& grab) {
    std::vector<ContrastFailure> failures;
    const QImage image = grab.convertToFormat(QImage::Format_RGB32);
    const qreal dpr = grab.devicePixelRatio() > 0 ? grab.devicePixelRatio() : 1;
    std::vector<QWidget*> widgets{root};
    for (auto* child : root->findChildren<QWidget*>()) widgets.push_back(child);
    for (QWidget* w : widgets) {
        if (!w->isVisibleTo(root) && w != root) continue;
        if (!w->isEnabled() || exempt(w, root)) continue;
        const auto shown = shownText(w);
        if (!shown) continue;
        const QRect visible = visibleRect(w, root);
        if (visible.isEmpty()) continue;
        const QRect pixels = QRect(QPoint(int(visible.left() * dpr), int(visible.top() * dpr)),
                                   QSize(int(visible.width() * dpr), int(visible.height() * dpr))) &
                             image.rect();
        if (pixels.isEmpty()) continue;
        const Color background = dominantColour(image, pixels);
        const Color foreground = composite(fromQColor(shown->color), background);
        const double required = isLargeText(w) ? kLargeTextContrast : kTextContrast;
        const double ratio = contrastRatio(foreground, background);
        // A hundredth of slack for the rounding of 8-bit pixels.
        if (ratio + 0.01 < required)
            failures.push_back({pathOf(w, root), shown->text.toStdString(), ratio, required, hex(foreground),
                                hex(background)});
    }
    return failures;
}

void expectReadable(QWidget* root, const QImage& grab, const std::filesystem::path& file) {
    for (const auto& f : contrastFailures(root, grab)) {
        ADD_FAILURE() << file.filename().string() << ": \"" << f.text << "\" (" << f.widget << ") is "
                      << f.foreground << " on " << f.background << ", contrast " << f.ratio << ":1, needs "
                      << f.required << ":1";
    }
}

void expectScreenshot(QWidget* widget, const std::filesystem::path& file, const std::vector<std::string>& names) {
    const QImage image = saveScreenshot(widget, file);
    ASSERT_FALSE(image.isNull()) << file;
    EXPECT_GT(image.width(), 0);
    EXPECT_GT(image.height(), 0);
    bool varied = false;
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height() && !varied; y += 2)
        for (int x = 0; x < image.width() && !varied; x += 2) varied = image.pixel(x, y) != first;
    EXPECT_TRUE(varied) << file << " is one flat colour";
    EXPECT_TRUE(std::filesystem::exists(file)) << file;
    for (const auto& name : names) {
        QWidget* child = findNamed(widget, name);
        EXPECT_NE(child, nullptr) << "no child named " << name;
        if (child) {
            EXPECT_TRUE(isShownWithSize(child))
                << name << " hidden or empty: " << child->width() << "x" << child->height();
        }
    }
    expectReadable(widget, image, file);
}

}  // namespace platform::ui::testing
