#pragma once

// The file names of every model family: the compiled models (folders ending
// in ".mlmodelc"), vocabularies, weight files and asset folders a loader opens
// inside a repository's cache folder, and the sets that must be present
// before a family can load. Every name is relative to the repository's cache
// folder (after the remote sub-path is stripped) and may contain a slash.

#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Auralith/foundation/PocketTtsPrecision.h"
#include "Auralith/foundation/Repo.h"
#include "Auralith/foundation/SortformerConfig.h"

namespace auralith {

using ModelNameSet = std::set<std::string, std::less<>>;

// The Parakeet TDT v3 encoder's weight precision.
enum class ParakeetEncoderPrecision { int8, int4 };
std::span<const ParakeetEncoderPrecision> allParakeetEncoderPrecisions();
std::string_view rawValue(ParakeetEncoderPrecision precision);  // "int8", "int4"
// Exact and case-sensitive.
std::optional<ParakeetEncoderPrecision> parakeetEncoderPrecisionFromRawValue(std::string_view raw);
// "Encoder.mlmodelc" for int8, "EncoderInt4.mlmodelc" for int4.
std::string_view encoderFileName(ParakeetEncoderPrecision precision);

struct ModelNames {
    // The names a repository (and variant) must provide: what a download
    // fetches and what the loader checks before loading. The variant is
    // compared exactly and ignored where a repository has no variants.
    static ModelNameSet getRequiredModelNames(Repo repo, std::optional<std::string_view> variant = std::nullopt);

    // Segmentation-and-embedding diarizer.
    struct Diarizer {
        static constexpr std::string_view segmentation = "pyannote_segmentation";
        static constexpr std::string_view segmentationFile = "pyannote_segmentation.mlmodelc";
        static constexpr std::string_view embedding = "wespeaker_v2";
        static constexpr std::string_view embeddingFile = "wespeaker_v2.mlmodelc";
        static const ModelNameSet& requiredModels();
    };

    struct OfflineDiarizer {
        static constexpr std::string_view segmentation = "Segmentation";
        static constexpr std::string_view segmentationFile = "Segmentation.mlmodelc";
        static constexpr std::string_view segmentationPath = segmentationFile;
        static constexpr std::string_view fbank = "FBank";
        static constexpr std::string_view fbankFile = "FBank.mlmodelc";
        static constexpr std::string_view fbankPath = fbankFile;
        static constexpr std::string_view embedding = "Embedding";
        static constexpr std::string_view embeddingFile = "Embedding.mlmodelc";
        static constexpr std::string_view embeddingPath = embeddingFile;
        static constexpr std::string_view pldaRho = "PldaRho";
        static constexpr std::string_view pldaRhoFile = "PldaRho.mlmodelc";
        static constexpr std::string_view pldaRhoPath = pldaRhoFile;
        static constexpr std::string_view pldaParameters = "plda-parameters.json";
        static const ModelNameSet& requiredModels();
    };

    // Parakeet TDT recognisers.
    struct ASR {
        static constexpr std::string_view preprocessor = "Preprocessor";
        static constexpr std::string_view preprocessorFile = "Preprocessor.mlmodelc";
        static constexpr std::string_view encoder = "Encoder";
        static constexpr std::string_view encoderFile = "Encoder.mlmodelc";
        static constexpr std::string_view decoder = "Decoder";
        static constexpr std::string_view decoderFile = "Decoder.mlmodelc";
        static constexpr std::string_view joint = "JointDecision";
        static constexpr std::string_view jointFile = "JointDecision.mlmodelc";
        static constexpr std::string_view ctcHead = "CtcHead";
        static constexpr std::string_view ctcHeadFile = "CtcHead.mlmodelc";
        static constexpr std::string_view jointV3File = "JointDecisionv3.mlmodelc";
        static constexpr std::string_view encoderInt4File = "EncoderInt4.mlmodelc";
        static constexpr std::string_view vocabularyFile = "parakeet_vocab.json";
        static const ModelNameSet& requiredModels();
        // Without an encoder bundle: the fused model carries it.
        static const ModelNameSet& requiredModelsFused();
        static ModelNameSet requiredModelsV3(ParakeetEncoderPrecision precision);
        static std::string_view vocabulary(Repo repo);
    };

    // CTC models of the vocabulary booster.
    struct CTC {
        static constexpr std::string_view melSpectrogram = "MelSpectrogram";
        static constexpr std::string_view melSpectrogramPath = "MelSpectrogram.mlmodelc";
        static constexpr std::string_view audioEncoder = "AudioEncoder";
        static constexpr std::string_view audioEncoderPath = "AudioEncoder.mlmodelc";
        static constexpr std::string_view vocabularyPath = "vocab.json";
        static const ModelNameSet& requiredModels();
    };

    // Mandarin CTC recogniser; both encoders are required.
    struct CTCZhCn {
        static constexpr std::string_view preprocessor = "Preprocessor";
        static constexpr std::string_view preprocessorFile = "Preprocessor.mlmodelc";
        static constexpr std::string_view encoder = "Encoder-v2-int8";
        static constexpr std::string_view encoderFile = "Encoder-v2-int8.mlmodelc";
        static constexpr std::string_view encoderFp32 = "Encoder-v1-fp32";
        static constexpr std::string_view encoderFp32File = "Encoder-v1-fp32.mlmodelc";
        static constexpr std::string_view decoder = "Decoder";
        static constexpr std::string_view decoderFile = "Decoder.mlmodelc";
        static constexpr std::string_view vocabularyFile = "vocab.json";
        static const ModelNameSet& requiredModels();
    };

    // Japanese TDT recogniser.
    struct TDTJa {
        static constexpr std::string_view preprocessor = "Preprocessor";
        static constexpr std::string_view preprocessorFile = "Preprocessor.mlmodelc";
        static constexpr std::string_view encoder = "Encoder";
        static constexpr std::string_view encoderFile = "Encoder.mlmodelc";
        static constexpr std::string_view decoder = "Decoderv2";
        static constexpr std::string_view decoderFile = "Decoderv2.mlmodelc";
        static constexpr std::string_view joint = "Jointerv2";
        static constexpr std::string_view jointFile = "Jointerv2.mlmodelc";
        static constexpr std::string_view vocabularyFile = "vocab.json";
        static const ModelNameSet& requiredModels();
    };

    struct VAD {
        static constexpr std::string_view sileroVad = "silero-vad-unified-256ms-v6.0.0";
        static constexpr std::string_view sileroVadFile = "silero-vad-unified-256ms-v6.0.0.mlmodelc";
        static const ModelNameSet& requiredModels();
    };

    // End-of-utterance streaming recogniser.
    struct ParakeetEOU {
        static constexpr std::string_view encoder = "streaming_encoder";
        static constexpr std::string_view encoderFile = "streaming_encoder.mlmodelc";
        static constexpr std::string_view decoder = "decoder";
        static constexpr std::string_view decoderFile = "decoder.mlmodelc";
        static constexpr std::string_view joint = "joint_decision";
        static constexpr std::string_view jointFile = "joint_decision.mlmodelc";
        static constexpr std::string_view vocab = "vocab.json";
        static const ModelNameSet& requiredModels();
    };

    // The required encoder is the 8-bit one inside the folder "encoder".
    struct NemotronStreaming {
        static constexpr std::string_view preprocessor = "preprocessor";
        static constexpr std::string_view preprocessorFile = "preprocessor.mlmodelc";
        static constexpr std::string_view encoder = "encoder";
        static constexpr std::string_view encoderFile = "encoder.mlmodelc";
        static constexpr std::string_view decoder = "decoder";
        static constexpr std::string_view decoderFile = "decoder.mlmodelc";
        static constexpr std::string_view joint = "joint";
        static constexpr std::string_view jointFile = "joint.mlmodelc";
        static constexpr std::string_view encoderInt8File = "encoder/encoder_int8.mlmodelc";
        static constexpr std::string_view tokenizer = "tokenizer.json";
        static constexpr std::string_view metadata = "metadata.json";
        static const ModelNameSet& requiredModels();
    };

    // Streaming Sortformer diarizer: one bundle per published variant.
    struct Sortformer {
        using Variant = SortformerVariant;
        static std::span<const Variant> allVariants();
        // "Sortformer_v2", "Sortformer_v2.1", "SortformerNvidiaLow_v2", ...
        static std::string_view name(Variant variant);
        // name + ".mlmodelc".
        static std::string fileName(Variant variant);
        static SortformerConfig defaultConfiguration(Variant variant);
        // Whether the variant's bundle accepts the configuration: the same
        // total chunk span in mel frames, the same FIFO length and a speaker
        // cache of 188 frames.
        static bool isCompatible(Variant variant, const SortformerConfig& config);
        static std::string bundle(Variant variant);
        // Nothing for a configuration without a model variant.
        static std::optional<std::string> bundle(const SortformerConfig& config);
        static constexpr Variant defaultVariant = Variant::fastV2_1;
        static std::string defaultBundle();
        // The six variant bundles.
        static ModelNameSet requiredModels();
    };

    // Streaming LS-EEND diarizer: four training variants, five step sizes,
    // each step size in its own folder.
    struct LSEEND {
        enum class Variant { ami, callhome, dihard2, dihard3 };
        enum class StepSize : int { step100ms = 1, step200ms = 2, step300ms = 3, step400ms = 4, step500ms = 5 };

        static std::span<const Variant> allVariants();
        static std::span<const StepSize> allStepSizes();
        // "ls_eend_ami", "ls_eend_ch", "ls_eend_dih2", "ls_eend_dih3" (also the description).
        static std::string_view name(Variant variant);
        static std::string_view description(Variant variant) { return name(variant); }
        static Repo repo(Variant variant);
        // 1 to 5 only.
        static std::optional<StepSize> stepSizeFromRawValue(int raw);
        // "100ms" ... "500ms".
        static std::string description(StepSize step);
        // "ls_eend_ami_300ms".
        static std::string name(Variant variant, StepSize step);
        // "300ms/ls_eend_ami_300ms.mlmodelc".
        static std::string fileName(Variant variant, StepSize step);
        static std::vector<std::string> bundle(Variant variant, StepSize step);
        static constexpr Variant defaultVariant = Variant::dihard3;
        static constexpr StepSize defaultStep = StepSize::step100ms;
        static std::vector<std::string> defaultBundle();
        // All 20 bundles.
        static ModelNameSet requiredModels();
    };

    struct Qwen3ASR {
        static constexpr std::string_view audioEncoderFile = "qwen3_asr_audio_encoder_v2.mlmodelc";
        static constexpr std::string_view embeddingFile = "qwen3_asr_embedding.mlmodelc";
        static constexpr std::string_view decoderStatefulFile = "qwen3_asr_decoder_stateful.mlmodelc";
        static constexpr std::string_view embeddingsFile = "qwen3_asr_embeddings.bin";
        static constexpr std::string_view decoderFullFile = "qwen3_asr_decoder_full.mlmodelc";
        static constexpr std::string_view lmHeadFile = "qwen3_asr_lm_head.mlmodelc";
        static constexpr std::string_view decoderStackFile = "qwen3_asr_decoder_stack.mlmodelc";
        static constexpr std::string_view decoderPrefillFile = "qwen3_asr_decoder_prefill.mlmodelc";
        static const ModelNameSet& requiredModels();
        // With the embedding table file instead of the embedding model.
        static const ModelNameSet& requiredModelsFull();
    };

    struct PocketTTS {
        static constexpr std::string_view condStep = "cond_step";
        static constexpr std::string_view condStepFile = "cond_step.mlmodelc";
        static constexpr std::string_view flowlmStep = "flowlm_step";
        static constexpr std::string_view flowlmStepFile = "flowlm_step.mlmodelc";
        static constexpr std::string_view flowlmStepV2 = "flowlm_stepv2";
        static constexpr std::string_view flowlmStepV2File = "flowlm_stepv2.mlmodelc";
        static constexpr std::string_view flowDecoder = "flow_decoder";
        static constexpr std::string_view flowDecoderFile = "flow_decoder.mlmodelc";
        static constexpr std::string_view mimiDecoder = "mimi_decoder";
        static constexpr std::string_view mimiDecoderFile = "mimi_decoder.mlmodelc";
        static constexpr std::string_view mimiEncoder = "mimi_encoder";
        static constexpr std::string_view mimiEncoderFile = "mimi_encoder.mlmodelc";
        static constexpr std::string_view constantsBinDir = "constants_bin";
        static const ModelNameSet& requiredModels();
        static std::string_view flowlmStepFileFor(PocketTtsPrecision precision);
        static ModelNameSet requiredModels(PocketTtsPrecision precision);
    };

    struct CosyVoice3 {
        static constexpr std::string_view llmPrefill = "LLM-Prefill-T256-M768-fp16";
        static constexpr std::string_view llmPrefillFile = "LLM-Prefill-T256-M768-fp16.mlmodelc";
        static constexpr std::string_view llmDecode = "LLM-Decode-M768-fp16";
        static constexpr std::string_view llmDecodeFile = "LLM-Decode-M768-fp16.mlmodelc";
        static constexpr std::string_view flow = "Flow-N250-fp16";
        static constexpr std::string_view flowFile = "Flow-N250-fp16.mlmodelc";
        static constexpr std::string_view hift = "HiFT-T500-fp16";
        static constexpr std::string_view hiftFile = "HiFT-T500-fp16.mlmodelc";
        static constexpr std::string_view speechEmbeddings = "speech_embedding-fp16.safetensors";
        static const ModelNameSet& requiredModels();

        // Files beside the models, fetched by the synthesiser's own downloader.
        struct Sidecar {
            static constexpr std::string_view embeddingsDir = "embeddings";
            static constexpr std::string_view tokenizerDir = "tokenizer";
            static constexpr std::string_view voicesDir = "voices";
            static constexpr std::string_view speechEmbeddings = "speech_embedding-fp16.safetensors";
            static constexpr std::string_view runtimeEmbeddings = "embeddings-runtime-fp32.safetensors";
            static constexpr std::string_view specialTokens = "special_tokens.json";
            static constexpr std::string_view vocab = "vocab.json";
            static constexpr std::string_view merges = "merges.txt";
            static constexpr std::string_view tokenizerConfig = "tokenizer_config.json";
            static constexpr std::string_view defaultVoiceId = "cosyvoice3-default-zh";
        };
    };

    struct Magpie {
        static constexpr std::string_view textEncoder = "text_encoder";
        static constexpr std::string_view textEncoderFile = "text_encoder.mlmodelc";
        static constexpr std::string_view decoderPrefill = "decoder_prefill";
        static constexpr std::string_view decoderPrefillFile = "decoder_prefill.mlmodelc";
        static constexpr std::string_view decoderStep = "decoder_step";
        static constexpr std::string_view decoderStepFile = "decoder_step.mlmodelc";
        static constexpr std::string_view nanocodecDecoder = "nanocodec_decoder";
        static constexpr std::string_view nanocodecDecoderFile = "nanocodec_decoder.mlmodelc";
        static constexpr std::string_view nanocodecDecoderV2 = "nanocodec_decoder_v2";
        static constexpr std::string_view nanocodecDecoderV2File = "nanocodec_decoder_v2.mlmodelc";
        static constexpr std::string_view nanocodecDecoderV3 = "nanocodec_decoder_v3";
        static constexpr std::string_view nanocodecDecoderV3File = "nanocodec_decoder_v3.mlmodelc";
        static constexpr std::string_view nanocodecDecoderV4 = "nanocodec_decoder_v4";
        static constexpr std::string_view nanocodecDecoderV4File = "nanocodec_decoder_v4.mlmodelc";
        static constexpr std::string_view constantsDir = "constants";
        static constexpr std::string_view tokenizerDir = "tokenizer";
        static const ModelNameSet& requiredModels();
    };

    struct StyleTTS2 {
        static constexpr std::string_view textEncoder = "text_encoder_fp16";
        static constexpr std::string_view textEncoderFile = "text_encoder_fp16.mlmodelc";
        static constexpr std::string_view bert = "bert_fp16";
        static constexpr std::string_view bertFile = "bert_fp16.mlmodelc";
        static constexpr std::string_view refEncoder = "ref_encoder_fp16";
        static constexpr std::string_view refEncoderFile = "ref_encoder_fp16.mlmodelc";
        static constexpr std::string_view fusedDiffusionSampler = "fused_diffusion_sampler_fp16";
        static constexpr std::string_view fusedDiffusionSamplerFile = "fused_diffusion_sampler_fp16.mlmodelc";
        static constexpr std::string_view durationPredictor = "duration_predictor_fp16";
        static constexpr std::string_view durationPredictorFile = "duration_predictor_fp16.mlmodelc";
        static constexpr std::string_view fusedF0nHarSource = "fused_f0n_har_source";
        static constexpr std::string_view fusedF0nHarSourceFile = "fused_f0n_har_source.mlmodelc";
        static constexpr std::string_view decoderPre = "decoder_pre_fp16";
        static constexpr std::string_view decoderPreFile = "decoder_pre_fp16.mlmodelc";
        static constexpr std::string_view decoderUpsample = "decoder_upsample_fp16";
        static constexpr std::string_view decoderUpsampleFile = "decoder_upsample_fp16.mlmodelc";
        static constexpr std::string_view bertT64File = "bert_fp16_t64.mlmodelc";
        static constexpr std::string_view bertT128File = "bert_fp16_t128.mlmodelc";
        static constexpr std::string_view bertT256File = "bert_fp16_t256.mlmodelc";
        static constexpr std::string_view fusedDiffusionSamplerT64File = "fused_diffusion_sampler_fp16_t64.mlmodelc";
        static constexpr std::string_view fusedDiffusionSamplerT128File = "fused_diffusion_sampler_fp16_t128.mlmodelc";
        static constexpr std::string_view fusedDiffusionSamplerT256File = "fused_diffusion_sampler_fp16_t256.mlmodelc";
        // The eight base bundles.
        static const ModelNameSet& requiredModels();
        // The base bundles and the six token-bucket bundles.
        static const ModelNameSet& allModels();
        // The bert and sampler bundles of bucket 64, 128 or 256; empty for any other size.
        static ModelNameSet bucketModels(int t);
    };

    struct MultilingualG2P {
        static constexpr std::string_view encoder = "MultilingualG2PEncoder";
        static constexpr std::string_view encoderFile = "MultilingualG2PEncoder.mlmodelc";
        static constexpr std::string_view decoder = "MultilingualG2PDecoder";
        static constexpr std::string_view decoderFile = "MultilingualG2PDecoder.mlmodelc";
        static const ModelNameSet& requiredModels();
    };

    struct CohereTranscribe {
        static constexpr std::string_view encoder = "cohere_encoder";
        static constexpr std::string_view encoderCompiledFile = "cohere_encoder.mlmodelc";
        static constexpr std::string_view decoderCacheExternal = "cohere_decoder_cache_external";
        static constexpr std::string_view decoderCacheExternalCompiledFile = "cohere_decoder_cache_external.mlmodelc";
        static constexpr std::string_view decoderCacheExternalV2 = "cohere_decoder_cache_external_v2";
        static constexpr std::string_view decoderCacheExternalV2CompiledFile =
            "cohere_decoder_cache_external_v2.mlmodelc";
        static constexpr std::string_view vocab = "vocab.json";
        static const ModelNameSet& requiredModels();
        static const ModelNameSet& requiredModelsLegacy();
    };

    // English grapheme-to-phoneme model, kept in the kokoro repository.
    struct G2P {
        static constexpr std::string_view encoder = "G2PEncoder";
        static constexpr std::string_view encoderFile = "G2PEncoder.mlmodelc";
        static constexpr std::string_view decoder = "G2PDecoder";
        static constexpr std::string_view decoderFile = "G2PDecoder.mlmodelc";
        static constexpr std::string_view vocabulary = "g2p_vocab";
        static constexpr std::string_view vocabularyFile = "g2p_vocab.json";
        static const ModelNameSet& requiredModels();
    };

    // Whole-model Kokoro bundles.
    struct TTS {
        enum class Variant { fiveSecond, fifteenSecond };
        static std::span<const Variant> allVariants();
        static int maxDurationSeconds(Variant variant);  // 5, 15
        static std::string_view bundle(Variant variant);  // "kokoro_21_5s.mlmodelc", "kokoro_21_15s.mlmodelc"
        static std::string_view fileName(Variant variant) { return bundle(variant); }
        static constexpr Variant defaultVariant = Variant::fifteenSecond;
        static constexpr std::string_view defaultBundle = "kokoro_21_15s.mlmodelc";
        static ModelNameSet requiredModels();
    };

    // The Neural-Engine Kokoro voice: seven stage bundles, vocabulary and voice pack.
    struct KokoroAne {
        static constexpr std::string_view albert = "KokoroAlbert.mlmodelc";
        static constexpr std::string_view postAlbert = "KokoroPostAlbert.mlmodelc";
        static constexpr std::string_view alignment = "KokoroAlignment.mlmodelc";
        static constexpr std::string_view prosody = "KokoroProsody.mlmodelc";
        static constexpr std::string_view noise = "KokoroNoise.mlmodelc";
        static constexpr std::string_view vocoder = "KokoroVocoder.mlmodelc";
        static constexpr std::string_view tail = "KokoroTail.mlmodelc";
        static constexpr std::string_view vocab = "vocab.json";
        static constexpr std::string_view defaultVoiceFile = "af_heart.bin";
        static constexpr std::string_view defaultVoiceFileZh = "voices/zf_001.bin";
        static constexpr std::string_view g2pwModelZh = "g2pw/g2pw.mlmodelc";
        static const ModelNameSet& requiredCoreMLModels();
        // The stages, the vocabulary and the English voice pack at the top of the folder.
        static ModelNameSet requiredModels();
        // The stages, the vocabulary, the Mandarin voice pack in "voices" and the polyphone model.
        static ModelNameSet requiredModelsZh();
    };
};

}  // namespace auralith
