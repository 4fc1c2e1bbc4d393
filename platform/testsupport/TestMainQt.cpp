#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "platform/testsupport/TempHome.h"

// Widget tests run offscreen unless a test folder asks for a real display.
int main(int argc, char** argv) {
    testsupport::isolateHome();
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
