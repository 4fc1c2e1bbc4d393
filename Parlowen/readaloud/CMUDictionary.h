#pragma once

// English pronunciations from the CMU Pronouncing Dictionary ("cmudict.dict"),
// for the on-device voice's phonemizer: it awaits loadIfNeeded() once its own
// lexicon is loaded and then asks ipa() for each word its lexicon lacks.
//
// All state belongs to the main executor. The load is lazy and single-flight:
// callers that arrive while it runs wait for the same load, and the file is
// read once. A missing resource counts as loaded (every lookup then gives
// nothing); a failed read does not, so the next call tries again.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/log/Log.h"
#include "platform/runtime/Environment.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Task.h"
#include "platform/values/Bytes.h"

namespace parlowen {

class CMUDictionary {
public:
    // Where the resource is, or nothing when it is not there.
    using Locator = std::function<std::optional<std::filesystem::path>()>;
    using FileReader = std::function<platform::Result<platform::Bytes>(const std::filesystem::path&)>;

    static constexpr const char* kErrorDomain = "Parlowen.CMUDictionary";
    static constexpr int kInvalidUtf8Code = 1;

    // Finds the resource through platform::resourcePath: "CMUDict/cmudict.dict",
    // else "cmudict.dict".
    CMUDictionary(platform::Executor& main, platform::Environment environment);
    CMUDictionary(platform::Executor& main, Locator locate, FileReader read);
    CMUDictionary(const CMUDictionary&) = delete;
    CMUDictionary& operator=(const CMUDictionary&) = delete;

    // Returns at once when loaded; otherwise starts or joins the one load.
    // Fails with the read error or the invalid-UTF-8 error (domain kErrorDomain,
    // code 1, "cmudict.dict is not valid UTF-8").
    platform::Task<platform::Status> loadIfNeeded();

    // The IPA text of a word (looked up lower-cased); nothing while not loaded,
    // when the word is absent, or when its phones convert to nothing.
    std::optional<std::string> ipa(std::string_view word) const;

    bool didLoad() const { return didLoad_; }
    std::size_t entryCount() const { return entries_.size(); }

    // ARPAbet phones ("HH", "AH0", "L", "OW1") to the on-device voice's
    // IPA-based phoneme text ("həlˈO"). Unknown symbols are dropped. Any thread.
    static std::string arpabetToIPA(std::span<const std::string> phones);

    // One line of the resource: comments (";;;"), alternates ("word(2)") and
    // lines without a space or tab are skipped; the first line of a word wins.
    static void parseLine(std::string_view line, std::unordered_map<std::string, std::string>& entries);

private:
    struct Flight {
        platform::JoinHandle<void> done;
        std::shared_ptr<platform::Status> outcome;
    };

    static platform::Task<void> runLoad(CMUDictionary* self, std::shared_ptr<platform::Status> outcome);
    platform::Status load();

    platform::Executor& main_;
    Locator locate_;
    FileReader read_;
    std::unordered_map<std::string, std::string> entries_;
    bool didLoad_ = false;
    std::optional<Flight> loadTask_;
    platform::Logger log_{"com.kelvatrum.Parlowen", "engine.tts.cmu"};
};

}  // namespace parlowen
