#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "Parlowen/listenlater/render/ListenLaterCache.h"
#include "Parlowen/listenlater/render/ListenLaterRenderer.h"
#include "platform/testsupport/TempHome.h"

using namespace parlowen;
using platform::Uuid;
namespace fs = std::filesystem;

namespace {

const Uuid kLive = *Uuid::fromString("11111111-1111-4111-8111-111111111111");
const Uuid kGone = *Uuid::fromString("22222222-2222-4222-8222-222222222222");
const Uuid kOther = *Uuid::fromString("33333333-3333-4333-8333-333333333333");

class ListenLaterCacheTest : public ::testing::Test {
protected:
    testsupport::TempDir caches;
    ListenLaterCache cache{caches.path()};

    void touch(const std::string& name) { std::ofstream(cache.directory() / name) << name; }
    void touch(const platform::Url& url) { std::ofstream(url.filePath()) << url.absoluteString(); }
    std::vector<std::string> remaining() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(caches / "com.kelvatrum.Parlowen/listen-later"))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(ListenLaterCacheTest, NamesEveryFileAfterTheUpperCaseIdentifier) {
    const Uuid id = *Uuid::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    const fs::path folder = caches / "com.kelvatrum.Parlowen" / "listen-later";
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(cache.audioFileURL(id, "caf").filePath(), folder / "E621E1F8-C36C-495A-93FC-0C247A3E6E5F.caf");
    EXPECT_TRUE(fs::is_directory(folder));  // asking for a name creates the folder
    EXPECT_EQ(cache.heroImageURL(id, "webp").filePath(), folder / "E621E1F8-C36C-495A-93FC-0C247A3E6E5F-hero.webp");
    EXPECT_EQ(cache.podcastAudioFileURL(id).filePath(), folder / "E621E1F8-C36C-495A-93FC-0C247A3E6E5F-podcast.caf");
    EXPECT_TRUE(cache.audioFileURL(id, "caf").isFileURL());
}

TEST_F(ListenLaterCacheTest, PruneRemovesOnlyFilesOfIdentifiersThatAreNotLive) {
    touch(cache.audioFileURL(kLive, "caf"));
    touch(cache.heroImageURL(kLive, "webp"));
    touch(cache.podcastAudioFileURL(kLive));
    touch(cache.audioFileURL(kGone, "caf"));
    touch(cache.heroImageURL(kGone, "jpg"));
    touch(cache.podcastAudioFileURL(kGone));
    touch(".DS_Store");                                    // shorter than an identifier
    touch("not-an-identifier-but-forty-chars-long");      // 40 characters, no identifier
    touch("11111111-1111-4111-8111-11111111111x.caf");     // almost an identifier
    touch(std::string("11111111-1111-4111-8111-111111111111").substr(0, 35));
    fs::create_directory(cache.directory() / (kGone.uuidString() + "-parts"));  // a folder goes too
    std::ofstream(cache.directory() / (kGone.uuidString() + "-parts") / "chunk") << "x";

    EXPECT_EQ(cache.pruneOrphans({kLive}), 4u);
    EXPECT_EQ(remaining(), (std::vector<std::string>{
                               ".DS_Store", "11111111-1111-4111-8111-11111111111",
                               "11111111-1111-4111-8111-111111111111-hero.webp",
                               "11111111-1111-4111-8111-111111111111-podcast.caf",
                               "11111111-1111-4111-8111-111111111111.caf",
                               "11111111-1111-4111-8111-11111111111x.caf",
                               "not-an-identifier-but-forty-chars-long"}));
}

TEST_F(ListenLaterCacheTest, PruneComparesTheCanonicalUpperCaseText) {
    const Uuid id = *Uuid::fromString("AAAAAAAA-AAAA-4AAA-8AAA-AAAAAAAAAAAA");
    touch("aaaaaaaa-aaaa-4aaa-8aaa-aaaaaaaaaaaa.caf");
    touch(cache.audioFileURL(id, "caf"));
    EXPECT_EQ(cache.pruneOrphans({id}), 1u);
    EXPECT_EQ(remaining(), std::vector<std::string>{"AAAAAAAA-AAAA-4AAA-8AAA-AAAAAAAAAAAA.caf"});
}

TEST_F(ListenLaterCacheTest, PruneWithNoLiveItemsKeepsOnlyNamesWithoutIdentifiers) {
    touch(cache.audioFileURL(kLive, "caf"));
    touch(cache.heroImageURL(kOther, "png"));
    touch("notes.txt");
    EXPECT_EQ(cache.pruneOrphans({}), 2u);
    EXPECT_EQ(remaining(), std::vector<std::string>{"notes.txt"});
}

TEST_F(ListenLaterCacheTest, PruneAndRemoveDoNothingWithoutAFolder) {
    EXPECT_EQ(cache.pruneOrphans({}), 0u);
    cache.removeFiles(kLive);
    EXPECT_FALSE(fs::exists(caches / "com.kelvatrum.Parlowen" / "listen-later" / kLive.uuidString()));
}

TEST_F(ListenLaterCacheTest, RemoveFilesTakesEveryFileOfOneItemAndNothingElse) {
    touch(cache.audioFileURL(kLive, "caf"));
    touch(cache.heroImageURL(kLive, "gif"));
    touch(cache.podcastAudioFileURL(kLive));
    touch(cache.audioFileURL(kOther, "caf"));
    touch("keep.txt");
    cache.removeFiles(kLive);
    EXPECT_EQ(remaining(), (std::vector<std::string>{"33333333-3333-4333-8333-333333333333.caf", "keep.txt"}));
    cache.removeFiles(kGone);  // no files: nothing happens
    EXPECT_EQ(remaining().size(), 2u);
}

TEST(ListenLaterCacheFolder, AFolderThatCannotBeMadeIsIgnored) {
    testsupport::TempDir dir;
    std::ofstream(dir / "caches") << "a file where the folder should be";
    ListenLaterCache cache(dir / "caches");
    const auto url = cache.audioFileURL(kLive, "caf");  // does not throw or fail
    EXPECT_EQ(url.filePath(), dir / "caches" / "com.kelvatrum.Parlowen" / "listen-later" / (kLive.uuidString() + ".caf"));
    EXPECT_EQ(cache.pruneOrphans({}), 0u);
}

TEST(ListenLaterRendererError, DescriptionsArePrefixAndDetail) {
    EXPECT_EQ(ListenLaterRendererError::engineUnavailable("no model").description(), "Engine unavailable: no model");
    EXPECT_EQ(ListenLaterRendererError::synthesisFailed("no audio").description(), "Synthesis failed: no audio");
    EXPECT_EQ(ListenLaterRendererError::fileWriteFailed("disk full").description(), "File write failed: disk full");
    const platform::Error e = toError(ListenLaterRendererError::synthesisFailed("x"));
    EXPECT_EQ(e.domain, "ListenLaterRendererError");
    EXPECT_EQ(e.caseName, "synthesisFailed");
    EXPECT_EQ(e.description, "Synthesis failed: x");
}

}  // namespace
