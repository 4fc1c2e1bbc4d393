#include "platform/memory/ResidentMemory.h"

#include <unistd.h>

#include <fstream>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testsupport/TempHome.h"

namespace platform {
namespace {

TEST(ResidentMemory, TheRealReaderGivesAPlausibleSizeThatGrowsWithTouchedMemory) {
    auto before = procResidentSizeReader()();
    ASSERT_TRUE(before) << before.error().description;
    EXPECT_GT(*before, 1u << 20);   // a test program is at least a megabyte
    EXPECT_LT(*before, 4ull << 30);  // and not gigabytes
    const long page = ::sysconf(_SC_PAGESIZE);
    EXPECT_EQ(*before % static_cast<std::uint64_t>(page), 0u);

    // 64 MiB touched page by page is resident afterwards.
    std::vector<char> block(64u << 20);
    for (std::size_t i = 0; i < block.size(); i += static_cast<std::size_t>(page)) block[i] = 1;
    auto after = readResidentSize();
    ASSERT_TRUE(after);
    EXPECT_GE(*after, *before + (48u << 20));
    EXPECT_EQ(block[page], 1);
}

TEST(ResidentMemory, UnreadableOrMalformedStatmFails) {
    testsupport::TempDir dir;
    EXPECT_FALSE(readResidentSize(dir / "missing"));
    std::ofstream(dir / "bad") << "garbage\n";
    auto bad = readResidentSize(dir / "bad");
    ASSERT_FALSE(bad);
    EXPECT_NE(bad.error().description.find("no resident page count"), std::string::npos);
    std::ofstream(dir / "good") << "1000 25 3 4 0 5 0\n";
    EXPECT_EQ(readResidentSize(dir / "good").value(), 25u * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)));
}

}  // namespace
}  // namespace platform
