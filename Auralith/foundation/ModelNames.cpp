#include "Auralith/foundation/ModelNames.h"

#include <array>

#include <fmt/format.h>

namespace auralith {

namespace {

ModelNameSet names(std::initializer_list<std::string_view> list) {
    ModelNameSet set;
    for (auto n : list) set.emplace(n);
    return set;
}

ModelNameSet unionOf(ModelNameSet a, const ModelNameSet& b) {
    a.insert(b.begin(), b.end());
    return a;
}

constexpr std::array<ParakeetEncoderPrecision, 2> kPrecisions{ParakeetEncoderPrecision::int8,
                                                               ParakeetEncoderPrecision::int4};

constexpr std::array<SortformerVariant, 6> kSortformerVariants{
    SortformerVariant::fastV2,        SortformerVariant::fastV2_1,      SortformerVariant::balancedV2,
    SortformerVariant::balancedV2_1, SortformerVariant::highContextV2, SortformerVariant::highContextV2_1,
};

struct SortformerRow {
    std::string_view name;
    int chunkLen;
    int chunkRightContext;
    int fifoLen;
    int spkcacheUpdatePeriod;
};

SortformerRow sortformerRow(SortformerVariant v) {
    switch (v) {
        case SortformerVariant::fastV2: return {"Sortformer_v2", 6, 7, 40, 31};
        case SortformerVariant::fastV2_1: return {"Sortformer_v2.1", 6, 7, 40, 31};
        case SortformerVariant::balancedV2: return {"SortformerNvidiaLow_v2", 6, 7, 188, 144};
        case SortformerVariant::balancedV2_1: return {"SortformerNvidiaLow_v2.1", 6, 7, 188, 144};
        case SortformerVariant::highContextV2: return {"SortformerNvidiaHigh_v2", 340, 40, 40, 340};
        case SortformerVariant::highContextV2_1: return {"SortformerNvidiaHigh_v2.1", 340, 40, 40, 340};
    }
    return {"Sortformer_v2.1", 6, 7, 40, 31};
}

constexpr std::array<ModelNames::LSEEND::Variant, 4> kLseendVariants{
    ModelNames::LSEEND::Variant::ami, ModelNames::LSEEND::Variant::callhome, ModelNames::LSEEND::Variant::dihard2,
    ModelNames::LSEEND::Variant::dihard3};
constexpr std::array<ModelNames::LSEEND::StepSize, 5> kLseendSteps{
    ModelNames::LSEEND::StepSize::step100ms, ModelNames::LSEEND::StepSize::step200ms,
    ModelNames::LSEEND::StepSize::step300ms, ModelNames::LSEEND::StepSize::step400ms,
    ModelNames::LSEEND::StepSize::step500ms};

constexpr std::array<ModelNames::TTS::Variant, 2> kTtsVariants{ModelNames::TTS::Variant::fiveSecond,
                                                               ModelNames::TTS::Variant::fifteenSecond};

}  // namespace

// ---- ParakeetEncoderPrecision

std::span<const ParakeetEncoderPrecision> allParakeetEncoderPrecisions() { return kPrecisions; }

std::string_view rawValue(ParakeetEncoderPrecision precision) {
    return precision == ParakeetEncoderPrecision::int4 ? "int4" : "int8";
}

std::optional<ParakeetEncoderPrecision> parakeetEncoderPrecisionFromRawValue(std::string_view raw) {
    if (raw == "int8") return ParakeetEncoderPrecision::int8;
    if (raw == "int4") return ParakeetEncoderPrecision::int4;
    return std::nullopt;
}

std::string_view encoderFileName(ParakeetEncoderPrecision precision) {
    return precision == ParakeetEncoderPrecision::int4 ? ModelNames::ASR::encoderInt4File
                                                       : ModelNames::ASR::encoderFile;
}

// ---- Families

const ModelNameSet& ModelNames::Diarizer::requiredModels() {
    static const ModelNameSet set = names({segmentationFile, embeddingFile});
    return set;
}

const ModelNameSet& ModelNames::OfflineDiarizer::requiredModels() {
    static const ModelNameSet set =
        names({segmentationFile, fbankFile, embeddingFile, pldaRhoFile, pldaParameters});
    return set;
}

const ModelNameSet& ModelNames::ASR::requiredModels() {
    static const ModelNameSet set = names({preprocessorFile, encoderFile, decoderFile, jointFile});
    return set;
}

const ModelNameSet& ModelNames::ASR::requiredModelsFused() {
    static const ModelNameSet set = names({preprocessorFile, decoderFile, jointFile});
    return set;
}

ModelNameSet ModelNames::ASR::requiredModelsV3(ParakeetEncoderPrecision precision) {
    return names({preprocessorFile, encoderFileName(precision), decoderFile, jointV3File});
}

std::string_view ModelNames::ASR::vocabulary(Repo) { return vocabularyFile; }

const ModelNameSet& ModelNames::CTC::requiredModels() {
    static const ModelNameSet set = names({melSpectrogramPath, audioEncoderPath});
    return set;
}

const ModelNameSet& ModelNames::CTCZhCn::requiredModels() {
    static const ModelNameSet set = names({preprocessorFile, encoderFile, encoderFp32File, decoderFile});
    return set;
}

const ModelNameSet& ModelNames::TDTJa::requiredModels() {
    static const ModelNameSet set = names({preprocessorFile, encoderFile, decoderFile, jointFile});
    return set;
}

const ModelNameSet& ModelNames::VAD::requiredModels() {
    static const ModelNameSet set = names({sileroVadFile});
    return set;
}

const ModelNameSet& ModelNames::ParakeetEOU::requiredModels() {
    static const ModelNameSet set = names({encoderFile, decoderFile, jointFile, vocab});
    return set;
}

const ModelNameSet& ModelNames::NemotronStreaming::requiredModels() {
    static const ModelNameSet set =
        names({preprocessorFile, encoderInt8File, decoderFile, jointFile, tokenizer, metadata});
    return set;
}

// ---- Sortformer

std::span<const SortformerVariant> ModelNames::Sortformer::allVariants() { return kSortformerVariants; }

std::string_view ModelNames::Sortformer::name(Variant variant) { return sortformerRow(variant).name; }

std::string ModelNames::Sortformer::fileName(Variant variant) {
    return std::string(name(variant)) + ".mlmodelc";
}

SortformerConfig ModelNames::Sortformer::defaultConfiguration(Variant variant) {
    const auto row = sortformerRow(variant);
    SortformerConfig config;
    config.modelVariant = variant;
    config.chunkLen = row.chunkLen;
    config.chunkLeftContext = 1;
    config.chunkRightContext = row.chunkRightContext;
    config.fifoLen = row.fifoLen;
    config.spkcacheLen = 188;
    config.spkcacheUpdatePeriod = row.spkcacheUpdatePeriod;
    config.spkcacheSilFramesPerSpk = 3;
    return config;
}

bool ModelNames::Sortformer::isCompatible(Variant variant, const SortformerConfig& config) {
    const auto row = sortformerRow(variant);
    const long span = static_cast<long>(config.chunkLen + config.chunkLeftContext + config.chunkRightContext) *
                      config.subsamplingFactor;
    const long variantSpan = static_cast<long>(row.chunkLen + 1 + row.chunkRightContext) * 8;
    return span == variantSpan && config.fifoLen == row.fifoLen && config.spkcacheLen == 188;
}

std::string ModelNames::Sortformer::bundle(Variant variant) { return fileName(variant); }

std::optional<std::string> ModelNames::Sortformer::bundle(const SortformerConfig& config) {
    if (!config.modelVariant) return std::nullopt;
    return fileName(*config.modelVariant);
}

std::string ModelNames::Sortformer::defaultBundle() { return fileName(defaultVariant); }

ModelNameSet ModelNames::Sortformer::requiredModels() {
    ModelNameSet set;
    for (auto v : kSortformerVariants) set.insert(fileName(v));
    return set;
}

// ---- LS-EEND

std::span<const ModelNames::LSEEND::Variant> ModelNames::LSEEND::allVariants() { return kLseendVariants; }
std::span<const ModelNames::LSEEND::StepSize> ModelNames::LSEEND::allStepSizes() { return kLseendSteps; }

std::string_view ModelNames::LSEEND::name(Variant variant) {
    switch (variant) {
        case Variant::ami: return "ls_eend_ami";
        case Variant::callhome: return "ls_eend_ch";
        case Variant::dihard2: return "ls_eend_dih2";
        case Variant::dihard3: return "ls_eend_dih3";
    }
    return "ls_eend_dih3";
}

Repo ModelNames::LSEEND::repo(Variant variant) {
    switch (variant) {
        case Variant::ami: return Repo::lseendAmi;
        case Variant::callhome: return Repo::lseendCallHome;
        case Variant::dihard2: return Repo::lseendDihard2;
        case Variant::dihard3: return Repo::lseendDihard3;
    }
    return Repo::lseendDihard3;
}

std::optional<ModelNames::LSEEND::StepSize> ModelNames::LSEEND::stepSizeFromRawValue(int raw) {
    if (raw < 1 || raw > 5) return std::nullopt;
    return static_cast<StepSize>(raw);
}

std::string ModelNames::LSEEND::description(StepSize step) {
    return fmt::format("{}00ms", static_cast<int>(step));
}

std::string ModelNames::LSEEND::name(Variant variant, StepSize step) {
    return fmt::format("{}_{}", name(variant), description(step));
}

std::string ModelNames::LSEEND::fileName(Variant variant, StepSize step) {
    return fmt::format("{}/{}.mlmodelc", description(step), name(variant, step));
}

std::vector<std::string> ModelNames::LSEEND::bundle(Variant variant, StepSize step) {
    return {fileName(variant, step)};
}

std::vector<std::string> ModelNames::LSEEND::defaultBundle() { return bundle(defaultVariant, defaultStep); }

ModelNameSet ModelNames::LSEEND::requiredModels() {
    ModelNameSet set;
    for (auto v : kLseendVariants)
        for (auto s : kLseendSteps) set.insert(fileName(v, s));
    return set;
}

// ---- Other families

const ModelNameSet& ModelNames::Qwen3ASR::requiredModels() {
    static const ModelNameSet set = names({audioEncoderFile, embeddingFile, decoderStatefulFile});
    return set;
}

const ModelNameSet& ModelNames::Qwen3ASR::requiredModelsFull() {
    static const ModelNameSet set = names({audioEncoderFile, decoderStatefulFile, embeddingsFile});
    return set;
}

const ModelNameSet& ModelNames::PocketTTS::requiredModels() {
    static const ModelNameSet set = requiredModels(PocketTtsPrecision::fp16);
    return set;
}

std::string_view ModelNames::PocketTTS::flowlmStepFileFor(PocketTtsPrecision precision) {
    return precision == PocketTtsPrecision::int8 ? flowlmStepV2File : flowlmStepFile;
}

ModelNameSet ModelNames::PocketTTS::requiredModels(PocketTtsPrecision precision) {
    return names({condStepFile, flowlmStepFileFor(precision), flowDecoderFile, mimiDecoderFile, constantsBinDir});
}

const ModelNameSet& ModelNames::CosyVoice3::requiredModels() {
    static const ModelNameSet set = names({llmPrefillFile, llmDecodeFile, flowFile, hiftFile});
    return set;
}

const ModelNameSet& ModelNames::Magpie::requiredModels() {
    static const ModelNameSet set = names({textEncoderFile, decoderStepFile, nanocodecDecoderV3File, constantsDir});
    return set;
}

const ModelNameSet& ModelNames::StyleTTS2::requiredModels() {
    static const ModelNameSet set =
        names({textEncoderFile, bertFile, refEncoderFile, fusedDiffusionSamplerFile, durationPredictorFile,
               fusedF0nHarSourceFile, decoderPreFile, decoderUpsampleFile});
    return set;
}

const ModelNameSet& ModelNames::StyleTTS2::allModels() {
    static const ModelNameSet set =
        unionOf(requiredModels(), names({bertT64File, bertT128File, bertT256File, fusedDiffusionSamplerT64File,
                                         fusedDiffusionSamplerT128File, fusedDiffusionSamplerT256File}));
    return set;
}

ModelNameSet ModelNames::StyleTTS2::bucketModels(int t) {
    switch (t) {
        case 64: return names({bertT64File, fusedDiffusionSamplerT64File});
        case 128: return names({bertT128File, fusedDiffusionSamplerT128File});
        case 256: return names({bertT256File, fusedDiffusionSamplerT256File});
        default: return {};
    }
}

const ModelNameSet& ModelNames::MultilingualG2P::requiredModels() {
    static const ModelNameSet set = names({encoderFile, decoderFile});
    return set;
}

const ModelNameSet& ModelNames::CohereTranscribe::requiredModels() {
    static const ModelNameSet set = names({encoderCompiledFile, decoderCacheExternalV2CompiledFile, vocab});
    return set;
}

const ModelNameSet& ModelNames::CohereTranscribe::requiredModelsLegacy() {
    static const ModelNameSet set = names({encoderCompiledFile, decoderCacheExternalCompiledFile, vocab});
    return set;
}

const ModelNameSet& ModelNames::G2P::requiredModels() {
    static const ModelNameSet set = names({encoderFile, decoderFile, vocabularyFile});
    return set;
}

std::span<const ModelNames::TTS::Variant> ModelNames::TTS::allVariants() { return kTtsVariants; }

int ModelNames::TTS::maxDurationSeconds(Variant variant) { return variant == Variant::fiveSecond ? 5 : 15; }

std::string_view ModelNames::TTS::bundle(Variant variant) {
    return variant == Variant::fiveSecond ? "kokoro_21_5s.mlmodelc" : "kokoro_21_15s.mlmodelc";
}

ModelNameSet ModelNames::TTS::requiredModels() {
    return names({bundle(Variant::fiveSecond), bundle(Variant::fifteenSecond)});
}

const ModelNameSet& ModelNames::KokoroAne::requiredCoreMLModels() {
    static const ModelNameSet set = names({albert, postAlbert, alignment, prosody, noise, vocoder, tail});
    return set;
}

ModelNameSet ModelNames::KokoroAne::requiredModels() {
    return unionOf(requiredCoreMLModels(), names({vocab, defaultVoiceFile}));
}

ModelNameSet ModelNames::KokoroAne::requiredModelsZh() {
    return unionOf(requiredCoreMLModels(), names({vocab, defaultVoiceFileZh, g2pwModelZh}));
}

// ---- The required set of a repository

ModelNameSet ModelNames::getRequiredModelNames(Repo repo, std::optional<std::string_view> variant) {
    switch (repo) {
        case Repo::vad: return VAD::requiredModels();
        case Repo::parakeetV3:
            return ASR::requiredModelsV3(variant == "int4" ? ParakeetEncoderPrecision::int4
                                                           : ParakeetEncoderPrecision::int8);
        case Repo::parakeetV2: return ASR::requiredModels();
        case Repo::parakeetCtc110m:
        case Repo::parakeetCtc06b: return CTC::requiredModels();
        case Repo::parakeetCtcZhCn: return CTCZhCn::requiredModels();
        case Repo::parakeetJa: return TDTJa::requiredModels();
        case Repo::parakeetEou160:
        case Repo::parakeetEou320:
        case Repo::parakeetEou1280: return ParakeetEOU::requiredModels();
        case Repo::nemotronStreaming1120:
        case Repo::nemotronStreaming560:
        case Repo::nemotronStreaming160:
        case Repo::nemotronStreaming80: return NemotronStreaming::requiredModels();
        case Repo::diarizer:
            return variant == "offline" ? OfflineDiarizer::requiredModels() : Diarizer::requiredModels();
        case Repo::kokoro: {
            if (variant == "g2p-only") return G2P::requiredModels();
            ModelNameSet set = variant ? names({*variant}) : TTS::requiredModels();
            set = unionOf(std::move(set), G2P::requiredModels());
            return unionOf(std::move(set), MultilingualG2P::requiredModels());
        }
        case Repo::kokoroAne: return KokoroAne::requiredModels();
        case Repo::kokoroAneZh: return KokoroAne::requiredModelsZh();
        // A Sortformer variant is a complete bundle name.
        case Repo::sortformer: return variant ? names({*variant}) : Sortformer::requiredModels();
        // An LS-EEND variant is a bundle path without its extension.
        case Repo::lseendAmi:
        case Repo::lseendCallHome:
        case Repo::lseendDihard2:
        case Repo::lseendDihard3:
            return variant ? ModelNameSet{std::string(*variant) + ".mlmodelc"} : LSEEND::requiredModels();
        case Repo::pocketTts: return PocketTTS::requiredModels();
        case Repo::qwen3Asr:
        case Repo::qwen3AsrInt8: return Qwen3ASR::requiredModelsFull();
        case Repo::multilingualG2p: return MultilingualG2P::requiredModels();
        case Repo::parakeetTdtCtc110m: return ASR::requiredModelsFused();
        case Repo::cosyvoice3: return CosyVoice3::requiredModels();
        case Repo::cohereTranscribeCoreml: return CohereTranscribe::requiredModels();
        case Repo::magpieTts: return Magpie::requiredModels();
        case Repo::styletts2:
            if (variant == "all") return StyleTTS2::allModels();
            if (variant == "t64") return StyleTTS2::bucketModels(64);
            if (variant == "t128") return StyleTTS2::bucketModels(128);
            if (variant == "t256") return StyleTTS2::bucketModels(256);
            return StyleTTS2::requiredModels();
    }
    return {};
}

}  // namespace auralith
