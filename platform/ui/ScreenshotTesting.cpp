#include "platform/ui/ScreenshotTesting.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>

#include "platform/ui/Finders.h"

namespace platform::ui::testing {

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
}

}  // namespace platform::ui::testing
