#include "Auralith/foundation/Repo.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <unordered_set>

namespace auralith {
namespace {

std::string withoutCoreml(std::string text) {
    for (auto at = text.find("-coreml"); at != std::string::npos; at = text.find("-coreml")) text.erase(at, 7);
    return text;
}

bool isNemotron(Repo r) {
    return r == Repo::nemotronStreaming1120 || r == Repo::nemotronStreaming560 || r == Repo::nemotronStreaming160 ||
           r == Repo::nemotronStreaming80;
}

TEST(RepoTest, EveryCaseFollowsTheCatalogueInvariants) {
    const auto all = Repo::allCases();
    ASSERT_EQ(all.size(), 32u);
    const std::set<Repo::Value> derivedFolders{Repo::vad,       Repo::parakeetV3, Repo::parakeetV2,
                                               Repo::diarizer,  Repo::pocketTts,  Repo::qwen3Asr,
                                               Repo::qwen3AsrInt8, Repo::multilingualG2p};
    std::set<std::string_view> rawValues;
    int withoutSubPath = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Repo r = all[i];
        SCOPED_TRACE(std::string(r.rawValue()));
        EXPECT_EQ(static_cast<std::size_t>(static_cast<Repo::Value>(r)), i);
        const std::string name(r.name());
        EXPECT_EQ(r.rawValue(), "Corvexa/" + name);
        const auto slash = name.find('/');
        EXPECT_EQ(r.remotePath(), "Corvexa/" + name.substr(0, slash));
        if (slash == std::string::npos) {
            EXPECT_FALSE(r.subPath().has_value());
            ++withoutSubPath;
        } else if (isNemotron(r)) {
            EXPECT_EQ(r.subPath(), "nemotron_coreml_" + name.substr(slash + 1));
        } else {
            EXPECT_EQ(r.subPath(), name.substr(slash + 1));
        }
        // A present sub-path is never an empty text.
        if (r.subPath()) {
            EXPECT_FALSE(r.subPath()->empty());
        }
        if (derivedFolders.count(r)) {
            EXPECT_EQ(r.folderName(), withoutCoreml(name));
        }
        EXPECT_EQ(Repo::fromRawValue(r.rawValue()), r);
        EXPECT_TRUE(rawValues.insert(r.rawValue()).second) << "duplicate raw value";
        // A case hashes like its raw value.
        EXPECT_EQ(std::hash<Repo>{}(r), std::hash<std::string_view>{}(r.rawValue()));
    }
    EXPECT_EQ(withoutSubPath, 15);
}

// The folder names are the cache layout on users' disks: changing one
// strands every model already downloaded under the old name.
TEST(RepoTest, FolderNames) {
    const std::pair<Repo, const char*> table[] = {
        {Repo::vad, "silero-vad"},
        {Repo::parakeetV3, "parakeet-tdt-0.6b-v3"},
        {Repo::parakeetV2, "parakeet-tdt-0.6b-v2"},
        {Repo::parakeetCtc110m, "parakeet-ctc-110m-coreml"},
        {Repo::parakeetCtc06b, "parakeet-ctc-0.6b-coreml"},
        {Repo::parakeetCtcZhCn, "parakeet-ctc-zh-cn"},
        {Repo::parakeetJa, "parakeet-ja"},
        {Repo::parakeetEou160, "parakeet-eou-streaming/160ms"},
        {Repo::parakeetEou320, "parakeet-eou-streaming/320ms"},
        {Repo::parakeetEou1280, "parakeet-eou-streaming/1280ms"},
        {Repo::nemotronStreaming1120, "nemotron-streaming/1120ms"},
        {Repo::nemotronStreaming560, "nemotron-streaming/560ms"},
        {Repo::nemotronStreaming160, "nemotron-streaming/160ms"},
        {Repo::nemotronStreaming80, "nemotron-streaming/80ms"},
        {Repo::diarizer, "speaker-diarization"},
        {Repo::kokoro, "kokoro"},
        {Repo::kokoroAne, "kokoro-82m-coreml/ANE"},
        {Repo::kokoroAneZh, "kokoro-82m-coreml/ANE-zh"},
        {Repo::sortformer, "sortformer"},
        {Repo::lseendAmi, "ls-eend/ami"},
        {Repo::lseendCallHome, "ls-eend/ch"},
        {Repo::lseendDihard2, "ls-eend/dih2"},
        {Repo::lseendDihard3, "ls-eend/dih3"},
        {Repo::pocketTts, "pocket-tts"},
        {Repo::qwen3Asr, "qwen3-asr-0.6b/f32"},
        {Repo::qwen3AsrInt8, "qwen3-asr-0.6b/int8"},
        {Repo::multilingualG2p, "charsiu-g2p-byt5"},
        {Repo::parakeetTdtCtc110m, "parakeet-tdt-ctc-110m"},
        {Repo::cosyvoice3, "cosyvoice3"},
        {Repo::cohereTranscribeCoreml, "cohere-transcribe/q8"},
        {Repo::magpieTts, "magpie-tts"},
        {Repo::styletts2, "styletts2"},
    };
    std::unordered_set<Repo> seen;
    for (const auto& [repo, folder] : table) {
        EXPECT_EQ(repo.folderName(), folder) << repo.rawValue();
        seen.insert(repo);
    }
    EXPECT_EQ(seen.size(), 32u);
}

TEST(RepoTest, NamedRows) {
    EXPECT_EQ(Repo::fromRawValue("Corvexa/kokoro-82m-coreml/ANE"), Repo(Repo::kokoroAne));
    for (const char* text : {"kokoro-82m-coreml/ANE", "Corvexa/kokoro-82m-coreml/ANE/", "corvexa/kokoro-82m-coreml/ANE",
                             "Corvexa/Kokoro-82m-coreml/ANE", ""})
        EXPECT_FALSE(Repo::fromRawValue(text)) << text;

    const Repo kokoro = Repo::kokoro, ane = Repo::kokoroAne, aneZh = Repo::kokoroAneZh;
    EXPECT_EQ(kokoro.remotePath(), "Corvexa/kokoro-82m-coreml");
    EXPECT_EQ(ane.remotePath(), "Corvexa/kokoro-82m-coreml");
    EXPECT_EQ(aneZh.remotePath(), "Corvexa/kokoro-82m-coreml");
    EXPECT_FALSE(kokoro.subPath());
    EXPECT_EQ(ane.subPath(), "ANE");
    EXPECT_EQ(aneZh.subPath(), "ANE-zh");

    EXPECT_EQ(Repo(Repo::nemotronStreaming80).subPath(), "nemotron_coreml_80ms");
    EXPECT_EQ(Repo(Repo::styletts2).subPath(), "iteration_3/compiled");
    EXPECT_EQ(Repo(Repo::lseendAmi).subPath(), "optimized/ami");
    EXPECT_EQ(Repo(Repo::lseendAmi).remotePath(), "Corvexa/ls-eend-coreml");
    EXPECT_NE(Repo(Repo::parakeetCtc110m).folderName(), Repo(Repo::parakeetTdtCtc110m).folderName());
}

}  // namespace
}  // namespace auralith
