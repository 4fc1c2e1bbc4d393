#include "platform/values/Files.h"

#include <filesystem>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/testsupport/TempHome.h"

namespace {

using namespace platform;
namespace fs = std::filesystem;

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool failsWith(const auto& result, FileErrorCode code) {
    return !result && result.error().domain == kFileErrorDomain && result.error().code == static_cast<int>(code);
}

TEST(AtomicWrite, CreatesFoldersReplacesContentAndLeavesNoTemporaryFile) {
    testsupport::TempDir dir;
    const fs::path file = dir / "a/b/settings.json";
    ASSERT_TRUE(writeFileAtomically(file, std::string_view("first, longer content")));
    ASSERT_TRUE(writeFileAtomically(file, std::string_view("second")));
    EXPECT_EQ(toString(readFile(file).value()), "second");
    EXPECT_EQ(namesIn(dir / "a/b"), std::vector<std::string>{"settings.json"});

    ASSERT_TRUE(writeFileAtomically(file, Bytes{}));
    EXPECT_TRUE(readFile(file).value().empty());
}

TEST(AtomicWrite, KeepsThePermissionsOfTheFileItReplaces) {
    testsupport::TempDir dir;
    const fs::path file = dir / "secret";
    ASSERT_TRUE(writeFileAtomically(file, std::string_view("v1")));
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(writeFileAtomically(file, std::string_view("v2")));
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

TEST(AtomicWrite, FailureLeavesTheOldStateAndNoTemporaryFile) {
    testsupport::TempDir dir;
    fs::create_directories(dir / "taken/child");  // a folder where the file should go: rename fails
    auto status = writeFileAtomically(dir / "taken", std::string_view("data"));
    EXPECT_TRUE(failsWith(status, FileErrorCode::writeFailed));
    EXPECT_NE(status.error().description.find("taken"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(dir / "taken/child"));
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"taken"});

    // A parent that is a file cannot become a folder.
    ASSERT_TRUE(writeFileAtomically(dir / "plain", std::string_view("x")));
    EXPECT_TRUE(failsWith(writeFileAtomically(dir / "plain/inner", std::string_view("y")), FileErrorCode::writeFailed));
}

TEST(ReadFile, TellsMissingFromUnreadable) {
    testsupport::TempDir dir;
    EXPECT_TRUE(failsWith(readFile(dir / "absent"), FileErrorCode::notFound));
    EXPECT_TRUE(failsWith(readFile(dir.path()), FileErrorCode::readFailed));
    Bytes big(200000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(writeFileAtomically(dir / "big.bin", big));
    EXPECT_EQ(readFile(dir / "big.bin").value(), big);
}

TEST(ReadFile, Sha256OfAFileReadInParts) {
    testsupport::TempDir dir;
    std::string content;
    for (int i = 0; i < 200000; ++i) content.push_back(static_cast<char>(i * 7 % 251));  // several read parts
    ASSERT_TRUE(writeFileAtomically(dir / "big.bin", content));
    EXPECT_EQ(sha256HexOfFile(dir / "big.bin"), sha256Hex(std::string_view(content)));
    ASSERT_TRUE(writeFileAtomically(dir / "empty.bin", std::string_view()));
    EXPECT_EQ(sha256HexOfFile(dir / "empty.bin"), sha256Hex(std::string_view()));
    auto missing = sha256HexOfFile(dir / "none.bin");
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().is(kFileErrorDomain, static_cast<int>(FileErrorCode::notFound)));
}

TEST(MoveAside, KeepsEveryEarlierCopy) {
    testsupport::TempDir dir;
    const fs::path file = dir / "usage.json";
    const std::string suffix = corruptSuffix(Date::fromTimeIntervalSince1970(1741515300));
    EXPECT_EQ(suffix, "corrupt-20250309T101500Z");

    ASSERT_TRUE(writeFileAtomically(file, std::string_view("{broken")));
    auto first = moveAside(file, suffix);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->filename(), "usage.json.corrupt-20250309T101500Z");
    EXPECT_FALSE(fs::exists(file));

    ASSERT_TRUE(writeFileAtomically(file, std::string_view("{broken again")));
    auto second = moveAside(file, suffix);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->filename(), "usage.json.corrupt-20250309T101500Z-2");
    EXPECT_EQ(toString(readFile(*first).value()), "{broken");
    EXPECT_EQ(toString(readFile(*second).value()), "{broken again");

    EXPECT_TRUE(failsWith(moveAside(dir / "absent", "x"), FileErrorCode::moveFailed));
}

}  // namespace
