#include "platform/ui/WindowHost.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "platform/ui/BecameActive.h"
#include "platform/ui/ScreenshotTesting.h"
#include "platform/ui/Sheet.h"

namespace platform::ui {
namespace {

void pressKey(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(target, &release);
}

TEST(WindowHost, CentredOnceAndClosingOnlyHides) {
    WindowHost host("Host", {.size = {400, 300}});
    auto* field = new QLineEdit;
    host.setContent(field);
    QRect expected(QPoint(), QSize(400, 300));
    expected.moveCenter(QGuiApplication::primaryScreen()->availableGeometry().center());
    EXPECT_EQ(host.pos(), expected.topLeft());
    int willClose = 0;
    QObject::connect(&host, &WindowHost::willClose, [&] { ++willClose; });

    host.showAndActivate();
    testing::settle();
    host.move(host.pos() + QPoint(25, 10));
    const QPoint moved = host.pos();
    host.close();
    EXPECT_FALSE(host.isVisible());
    EXPECT_EQ(willClose, 1);
    host.showAndActivate();
    EXPECT_EQ(host.pos(), moved) << "not centred again";
    EXPECT_EQ(host.content(), field) << "the content is kept";

    pressKey(field, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(host.isVisible());
    EXPECT_EQ(willClose, 2);
}

TEST(Sheet, EscapeCancelsAndReturnPressesTheDefaultButton) {
    WindowHost host("Host", {.size = {400, 300}});
    host.showAndActivate();
    for (bool escape : {true, false}) {
        auto* content = new QWidget;
        auto* box = new QVBoxLayout(content);
        auto* ok = new QPushButton("OK");
        ok->setDefault(true);
        box->addWidget(ok);
        int cancelled = 0, pressed = 0;
        QObject::connect(ok, &QPushButton::clicked, [&] { ++pressed; });
        auto* sheet = new Sheet(&host, content);
        sheet->setOnCancel([&] { ++cancelled; });
        sheet->present();
        testing::settle();
        EXPECT_TRUE(sheet->isVisible());
        EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
        pressKey(content, escape ? Qt::Key_Escape : Qt::Key_Return);
        EXPECT_EQ(cancelled, escape ? 1 : 0);
        EXPECT_EQ(pressed, escape ? 0 : 1);
        if (escape) EXPECT_FALSE(sheet->isVisible());
        else sheet->dismiss();
        testing::settle();
    }
}

TEST(BecameActive, TheDoubleFiresEveryLiveHandler) {
    ManualBecameActiveSource source;
    int a = 0, b = 0;
    auto first = source.subscribe([&] { ++a; });
    {
        auto second = source.subscribe([&] { ++b; });
        source.fire();
    }
    source.fire();
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(source.subscriberCount(), 1u);
}

}  // namespace
}  // namespace platform::ui
