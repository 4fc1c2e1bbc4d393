#pragma once

// The model repositories the package can fetch from the model hub: one case
// per downloadable model or variant folder, with where it lies remotely and
// which folder holds it in the local model cache. Pure data.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

namespace auralith {

class Repo {
public:
    enum Value : std::uint8_t {
        vad,
        parakeetV3,
        parakeetV2,
        parakeetCtc110m,
        parakeetCtc06b,
        parakeetCtcZhCn,
        parakeetJa,
        parakeetEou160,
        parakeetEou320,
        parakeetEou1280,
        nemotronStreaming1120,
        nemotronStreaming560,
        nemotronStreaming160,
        nemotronStreaming80,
        diarizer,
        kokoro,
        kokoroAne,
        kokoroAneZh,
        sortformer,
        lseendAmi,
        lseendCallHome,
        lseendDihard2,
        lseendDihard3,
        pocketTts,
        qwen3Asr,
        qwen3AsrInt8,
        multilingualG2p,
        parakeetTdtCtc110m,
        cosyvoice3,
        cohereTranscribeCoreml,
        magpieTts,
        styletts2,
    };

    constexpr Repo(Value value) : value_(value) {}
    constexpr operator Value() const { return value_; }

    // Every case, in declaration order.
    static std::span<const Repo> allCases();
    // Exact, case-sensitive match of a raw value.
    static std::optional<Repo> fromRawValue(std::string_view rawValue);

    // "Corvexa/" + name.
    std::string_view rawValue() const;
    // The repository name with its variant folder, without the organisation.
    std::string_view name() const;
    // "Corvexa/" + the name up to its first slash: the repository the hub lists and serves.
    std::string_view remotePath() const;
    // The folder inside the remote repository that holds this case's files;
    // nothing (never an empty text) for a case without one.
    std::optional<std::string_view> subPath() const;
    // The folder under a models root; may name a nested folder ("a/b").
    std::string_view folderName() const;

private:
    Value value_;
};

}  // namespace auralith

template <>
struct std::hash<auralith::Repo> {
    std::size_t operator()(auralith::Repo repo) const noexcept {
        return std::hash<std::string_view>{}(repo.rawValue());
    }
};
