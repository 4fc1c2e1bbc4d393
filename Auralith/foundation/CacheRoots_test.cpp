#include "Auralith/foundation/CacheRoots.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/testsupport/TempHome.h"

namespace auralith {
namespace {

namespace fs = std::filesystem;

TEST(CacheRootsTest, ModelsDirectoryIsBuiltWithoutTouchingTheDisk) {
    testsupport::TempDir home;
    const auto env = platform::Environment({{"HOME", home.path().string()}});
    const auto dir = MLModelConfigurationUtils::defaultModelsDirectory(env);
    EXPECT_EQ(dir, home.path() / ".local/share/Auralith/Models");
    EXPECT_EQ(MLModelConfigurationUtils::defaultModelsDirectory(env, "parakeet-tdt"), dir / "parakeet-tdt");
    EXPECT_FALSE(fs::exists(dir));

    const auto xdg = platform::Environment({{"HOME", home.path().string()}, {"XDG_DATA_HOME", (home / "data").string()}});
    EXPECT_EQ(MLModelConfigurationUtils::defaultModelsDirectory(xdg), home / "data/Auralith/Models");

    const auto config = MLModelConfigurationUtils::defaultConfiguration(platform::ml::ComputeUnits::cpuOnly);
    EXPECT_EQ(config.computeUnits, platform::ml::ComputeUnits::cpuOnly);
    EXPECT_TRUE(config.allowLowPrecisionAccumulationOnGPU);
}

TEST(CacheRootsTest, SynthesisRootsAreCreatedUnderTheHomeFolder) {
    testsupport::TempDir home;
    // The synthesis caches stay under ~/.cache whatever XDG_CACHE_HOME says.
    const auto env = platform::Environment({{"HOME", home.path().string()}, {"XDG_CACHE_HOME", (home / "xdg").string()}});
    auto root = ttsCacheRoot(env);
    ASSERT_TRUE(root);
    EXPECT_EQ(*root, home / ".cache/auralith");
    EXPECT_TRUE(fs::is_directory(*root));
    EXPECT_EQ(*ttsCacheRoot(env), *root);
    auto models = ttsModelsCacheDirectory(env);
    ASSERT_TRUE(models);
    EXPECT_EQ(*models, home / ".cache/auralith/Models");
    EXPECT_TRUE(fs::is_directory(*models));
}

TEST(CacheRootsTest, AnExistingFileCountsAsPresentAndABlockedPathFails) {
    testsupport::TempDir home;
    fs::create_directories(home / ".cache");
    std::ofstream(home / ".cache/auralith") << "x";
    const auto env = platform::Environment({{"HOME", home.path().string()}});
    EXPECT_EQ(*ttsCacheRoot(env), home / ".cache/auralith");
    auto models = ttsModelsCacheDirectory(env);  // its parent is a file
    ASSERT_FALSE(models);
    EXPECT_EQ(models.error().domain, "file");
}

}  // namespace
}  // namespace auralith
