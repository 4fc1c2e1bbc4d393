#include "Auralith/foundation/Repo.h"

#include <array>
#include <utility>

namespace auralith {

namespace {

struct Row {
    Repo::Value repo;
    std::string_view rawValue;
    std::string_view name;
    std::string_view remotePath;
    std::string_view subPath;  // empty: none
    std::string_view folderName;
};

// Kept as the literal catalogue rather than derived, so that every value can
// be read off and checked against what the hub holds.
constexpr std::array<Row, 32> kRows{{
    {Repo::vad, "Corvexa/silero-vad-coreml", "silero-vad-coreml", "Corvexa/silero-vad-coreml", "", "silero-vad"},
    {Repo::parakeetV3, "Corvexa/parakeet-tdt-0.6b-v3-coreml", "parakeet-tdt-0.6b-v3-coreml",
     "Corvexa/parakeet-tdt-0.6b-v3-coreml", "", "parakeet-tdt-0.6b-v3"},
    {Repo::parakeetV2, "Corvexa/parakeet-tdt-0.6b-v2-coreml", "parakeet-tdt-0.6b-v2-coreml",
     "Corvexa/parakeet-tdt-0.6b-v2-coreml", "", "parakeet-tdt-0.6b-v2"},
    {Repo::parakeetCtc110m, "Corvexa/parakeet-ctc-110m-coreml", "parakeet-ctc-110m-coreml",
     "Corvexa/parakeet-ctc-110m-coreml", "", "parakeet-ctc-110m-coreml"},
    {Repo::parakeetCtc06b, "Corvexa/parakeet-ctc-0.6b-coreml", "parakeet-ctc-0.6b-coreml",
     "Corvexa/parakeet-ctc-0.6b-coreml", "", "parakeet-ctc-0.6b-coreml"},
    {Repo::parakeetCtcZhCn, "Corvexa/parakeet-ctc-0.6b-zh-cn-coreml", "parakeet-ctc-0.6b-zh-cn-coreml",
     "Corvexa/parakeet-ctc-0.6b-zh-cn-coreml", "", "parakeet-ctc-zh-cn"},
    {Repo::parakeetJa, "Corvexa/parakeet-0.6b-ja-coreml", "parakeet-0.6b-ja-coreml", "Corvexa/parakeet-0.6b-ja-coreml",
     "", "parakeet-ja"},
    {Repo::parakeetEou160, "Corvexa/parakeet-realtime-eou-120m-coreml/160ms", "parakeet-realtime-eou-120m-coreml/160ms",
     "Corvexa/parakeet-realtime-eou-120m-coreml", "160ms", "parakeet-eou-streaming/160ms"},
    {Repo::parakeetEou320, "Corvexa/parakeet-realtime-eou-120m-coreml/320ms", "parakeet-realtime-eou-120m-coreml/320ms",
     "Corvexa/parakeet-realtime-eou-120m-coreml", "320ms", "parakeet-eou-streaming/320ms"},
    {Repo::parakeetEou1280, "Corvexa/parakeet-realtime-eou-120m-coreml/1280ms",
     "parakeet-realtime-eou-120m-coreml/1280ms", "Corvexa/parakeet-realtime-eou-120m-coreml", "1280ms",
     "parakeet-eou-streaming/1280ms"},
    {Repo::nemotronStreaming1120, "Corvexa/nemotron-speech-streaming-en-0.6b-coreml/1120ms",
     "nemotron-speech-streaming-en-0.6b-coreml/1120ms", "Corvexa/nemotron-speech-streaming-en-0.6b-coreml",
     "nemotron_coreml_1120ms", "nemotron-streaming/1120ms"},
    {Repo::nemotronStreaming560, "Corvexa/nemotron-speech-streaming-en-0.6b-coreml/560ms",
     "nemotron-speech-streaming-en-0.6b-coreml/560ms", "Corvexa/nemotron-speech-streaming-en-0.6b-coreml",
     "nemotron_coreml_560ms", "nemotron-streaming/560ms"},
    {Repo::nemotronStreaming160, "Corvexa/nemotron-speech-streaming-en-0.6b-coreml/160ms",
     "nemotron-speech-streaming-en-0.6b-coreml/160ms", "Corvexa/nemotron-speech-streaming-en-0.6b-coreml",
     "nemotron_coreml_160ms", "nemotron-streaming/160ms"},
    {Repo::nemotronStreaming80, "Corvexa/nemotron-speech-streaming-en-0.6b-coreml/80ms",
     "nemotron-speech-streaming-en-0.6b-coreml/80ms", "Corvexa/nemotron-speech-streaming-en-0.6b-coreml",
     "nemotron_coreml_80ms", "nemotron-streaming/80ms"},
    {Repo::diarizer, "Corvexa/speaker-diarization-coreml", "speaker-diarization-coreml",
     "Corvexa/speaker-diarization-coreml", "", "speaker-diarization"},
    {Repo::kokoro, "Corvexa/kokoro-82m-coreml", "kokoro-82m-coreml", "Corvexa/kokoro-82m-coreml", "", "kokoro"},
    {Repo::kokoroAne, "Corvexa/kokoro-82m-coreml/ANE", "kokoro-82m-coreml/ANE", "Corvexa/kokoro-82m-coreml", "ANE",
     "kokoro-82m-coreml/ANE"},
    {Repo::kokoroAneZh, "Corvexa/kokoro-82m-coreml/ANE-zh", "kokoro-82m-coreml/ANE-zh", "Corvexa/kokoro-82m-coreml",
     "ANE-zh", "kokoro-82m-coreml/ANE-zh"},
    {Repo::sortformer, "Corvexa/diar-streaming-sortformer-coreml", "diar-streaming-sortformer-coreml",
     "Corvexa/diar-streaming-sortformer-coreml", "", "sortformer"},
    {Repo::lseendAmi, "Corvexa/ls-eend-coreml/optimized/ami", "ls-eend-coreml/optimized/ami", "Corvexa/ls-eend-coreml",
     "optimized/ami", "ls-eend/ami"},
    {Repo::lseendCallHome, "Corvexa/ls-eend-coreml/optimized/ch", "ls-eend-coreml/optimized/ch",
     "Corvexa/ls-eend-coreml", "optimized/ch", "ls-eend/ch"},
    {Repo::lseendDihard2, "Corvexa/ls-eend-coreml/optimized/dih2", "ls-eend-coreml/optimized/dih2",
     "Corvexa/ls-eend-coreml", "optimized/dih2", "ls-eend/dih2"},
    {Repo::lseendDihard3, "Corvexa/ls-eend-coreml/optimized/dih3", "ls-eend-coreml/optimized/dih3",
     "Corvexa/ls-eend-coreml", "optimized/dih3", "ls-eend/dih3"},
    {Repo::pocketTts, "Corvexa/pocket-tts-coreml", "pocket-tts-coreml", "Corvexa/pocket-tts-coreml", "", "pocket-tts"},
    {Repo::qwen3Asr, "Corvexa/qwen3-asr-0.6b-coreml/f32", "qwen3-asr-0.6b-coreml/f32", "Corvexa/qwen3-asr-0.6b-coreml",
     "f32", "qwen3-asr-0.6b/f32"},
    {Repo::qwen3AsrInt8, "Corvexa/qwen3-asr-0.6b-coreml/int8", "qwen3-asr-0.6b-coreml/int8",
     "Corvexa/qwen3-asr-0.6b-coreml", "int8", "qwen3-asr-0.6b/int8"},
    {Repo::multilingualG2p, "Corvexa/charsiu-g2p-byt5-coreml", "charsiu-g2p-byt5-coreml",
     "Corvexa/charsiu-g2p-byt5-coreml", "", "charsiu-g2p-byt5"},
    {Repo::parakeetTdtCtc110m, "Corvexa/parakeet-tdt-ctc-110m-coreml", "parakeet-tdt-ctc-110m-coreml",
     "Corvexa/parakeet-tdt-ctc-110m-coreml", "", "parakeet-tdt-ctc-110m"},
    {Repo::cosyvoice3, "Corvexa/CosyVoice3-0.5B-coreml", "CosyVoice3-0.5B-coreml", "Corvexa/CosyVoice3-0.5B-coreml", "",
     "cosyvoice3"},
    {Repo::cohereTranscribeCoreml, "Corvexa/cohere-transcribe-03-2026-coreml/q8", "cohere-transcribe-03-2026-coreml/q8",
     "Corvexa/cohere-transcribe-03-2026-coreml", "q8", "cohere-transcribe/q8"},
    {Repo::magpieTts, "Corvexa/magpie-tts-multilingual-357m-coreml", "magpie-tts-multilingual-357m-coreml",
     "Corvexa/magpie-tts-multilingual-357m-coreml", "", "magpie-tts"},
    {Repo::styletts2, "Corvexa/StyleTTS-2-coreml/iteration_3/compiled", "StyleTTS-2-coreml/iteration_3/compiled",
     "Corvexa/StyleTTS-2-coreml", "iteration_3/compiled", "styletts2"},
}};

constexpr bool rowsInCaseOrder() {
    for (std::size_t i = 0; i < kRows.size(); ++i)
        if (static_cast<std::size_t>(kRows[i].repo) != i) return false;
    return true;
}
static_assert(rowsInCaseOrder(), "the catalogue rows must follow the case order");

template <std::size_t... I>
constexpr std::array<Repo, sizeof...(I)> makeAllCases(std::index_sequence<I...>) {
    return {Repo(kRows[I].repo)...};
}
constexpr std::array<Repo, 32> kAllCases = makeAllCases(std::make_index_sequence<32>());

const Row& row(Repo repo) { return kRows[static_cast<std::size_t>(static_cast<Repo::Value>(repo))]; }

}  // namespace

std::span<const Repo> Repo::allCases() { return kAllCases; }

std::optional<Repo> Repo::fromRawValue(std::string_view rawValue) {
    for (const auto& r : kRows)
        if (r.rawValue == rawValue) return Repo(r.repo);
    return std::nullopt;
}

std::string_view Repo::rawValue() const { return row(*this).rawValue; }
std::string_view Repo::name() const { return row(*this).name; }
std::string_view Repo::remotePath() const { return row(*this).remotePath; }
std::optional<std::string_view> Repo::subPath() const {
    const auto sub = row(*this).subPath;
    if (sub.empty()) return std::nullopt;
    return sub;
}
std::string_view Repo::folderName() const { return row(*this).folderName; }

}  // namespace auralith
