#include <gtest/gtest.h>

#include <fstream>

#include "platform/runtime/Environment.h"
#include "platform/runtime/Resources.h"
#include "platform/testsupport/TempHome.h"

using namespace platform;

TEST(Environment, ReadsValuesAndFallbacksWithoutTouchingTheProcess) {
    Environment env({{"A", "1"}, {"EMPTY", ""}});
    EXPECT_EQ(env.get("A"), "1");
    EXPECT_EQ(env.get("EMPTY"), "");  // present but empty is not absent
    EXPECT_EQ(env.get("B"), std::nullopt);
    EXPECT_EQ(env.value("B", "x"), "x");
    auto changed = env.with("B", "2").without("A");
    EXPECT_EQ(changed.get("B"), "2");
    EXPECT_FALSE(changed.has("A"));
    EXPECT_TRUE(env.has("A"));
    EXPECT_TRUE(Environment::fromProcess().has("HOME"));
}

TEST(Resources, OverrideFolderComesFirstThenTheSourceTree) {
    testsupport::TempDir dir;
    std::ofstream(dir / "thing.txt") << "x";
    Environment env({{"PARLOWEN_RESOURCE_DIR", dir.path().string()}});
    EXPECT_EQ(resourcePath("thing.txt", env), dir / "thing.txt");
    EXPECT_EQ(resourcePath("missing.txt", env), std::nullopt);
    EXPECT_TRUE(resourcePath("README.md", Environment()).has_value());  // the source tree
}
