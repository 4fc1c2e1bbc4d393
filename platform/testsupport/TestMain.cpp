#include <gtest/gtest.h>

#include "platform/testsupport/TempHome.h"

int main(int argc, char** argv) {
    testsupport::isolateHome();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
