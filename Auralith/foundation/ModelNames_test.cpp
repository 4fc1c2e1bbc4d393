#include "Auralith/foundation/ModelNames.h"

#include <gtest/gtest.h>

namespace auralith {
namespace {

ModelNameSet set(std::initializer_list<const char*> names) {
    ModelNameSet s;
    for (auto n : names) s.emplace(n);
    return s;
}

TEST(ModelNamesTest, RequiredNamesPerRepositoryAndVariant) {
    struct Case {
        Repo repo;
        std::optional<std::string> variant;
        ModelNameSet expected;
    };
    const auto g2p = set({"G2PEncoder.mlmodelc", "G2PDecoder.mlmodelc", "g2p_vocab.json"});
    const auto v3Int8 =
        set({"Preprocessor.mlmodelc", "Encoder.mlmodelc", "Decoder.mlmodelc", "JointDecisionv3.mlmodelc"});
    const auto styleBase = ModelNames::StyleTTS2::requiredModels();
    const Case cases[] = {
        {Repo::vad, std::nullopt, set({"silero-vad-unified-256ms-v6.0.0.mlmodelc"})},
        // Only the exact text "int4" picks the 4-bit encoder.
        {Repo::parakeetV3, "int4",
         set({"Preprocessor.mlmodelc", "EncoderInt4.mlmodelc", "Decoder.mlmodelc", "JointDecisionv3.mlmodelc"})},
        {Repo::parakeetV3, "INT4", v3Int8},
        {Repo::parakeetV3, "int8", v3Int8},
        {Repo::parakeetV3, std::nullopt, v3Int8},
        {Repo::parakeetV2, "int4",
         set({"Preprocessor.mlmodelc", "Encoder.mlmodelc", "Decoder.mlmodelc", "JointDecision.mlmodelc"})},
        {Repo::parakeetCtc06b, std::nullopt, set({"MelSpectrogram.mlmodelc", "AudioEncoder.mlmodelc"})},
        {Repo::parakeetCtcZhCn, std::nullopt,
         set({"Preprocessor.mlmodelc", "Encoder-v2-int8.mlmodelc", "Encoder-v1-fp32.mlmodelc", "Decoder.mlmodelc"})},
        {Repo::parakeetJa, std::nullopt,
         set({"Preprocessor.mlmodelc", "Encoder.mlmodelc", "Decoderv2.mlmodelc", "Jointerv2.mlmodelc"})},
        {Repo::parakeetEou320, std::nullopt,
         set({"streaming_encoder.mlmodelc", "decoder.mlmodelc", "joint_decision.mlmodelc", "vocab.json"})},
        {Repo::nemotronStreaming80, std::nullopt,
         set({"preprocessor.mlmodelc", "encoder/encoder_int8.mlmodelc", "decoder.mlmodelc", "joint.mlmodelc",
              "tokenizer.json", "metadata.json"})},
        {Repo::diarizer, std::nullopt, set({"pyannote_segmentation.mlmodelc", "wespeaker_v2.mlmodelc"})},
        {Repo::diarizer, "Offline", set({"pyannote_segmentation.mlmodelc", "wespeaker_v2.mlmodelc"})},
        {Repo::diarizer, "offline",
         set({"Segmentation.mlmodelc", "FBank.mlmodelc", "Embedding.mlmodelc", "PldaRho.mlmodelc",
              "plda-parameters.json"})},
        {Repo::kokoro, std::nullopt,
         set({"kokoro_21_5s.mlmodelc", "kokoro_21_15s.mlmodelc", "G2PEncoder.mlmodelc", "G2PDecoder.mlmodelc",
              "g2p_vocab.json", "MultilingualG2PEncoder.mlmodelc", "MultilingualG2PDecoder.mlmodelc"})},
        {Repo::kokoro, "g2p-only", g2p},
        {Repo::kokoro, "kokoro_21_5s.mlmodelc",
         set({"kokoro_21_5s.mlmodelc", "G2PEncoder.mlmodelc", "G2PDecoder.mlmodelc", "g2p_vocab.json",
              "MultilingualG2PEncoder.mlmodelc", "MultilingualG2PDecoder.mlmodelc"})},
        {Repo::kokoroAne, std::nullopt,
         set({"KokoroAlbert.mlmodelc", "KokoroPostAlbert.mlmodelc", "KokoroAlignment.mlmodelc",
              "KokoroProsody.mlmodelc", "KokoroNoise.mlmodelc", "KokoroVocoder.mlmodelc", "KokoroTail.mlmodelc",
              "vocab.json", "af_heart.bin"})},
        {Repo::kokoroAneZh, "anything",
         set({"KokoroAlbert.mlmodelc", "KokoroPostAlbert.mlmodelc", "KokoroAlignment.mlmodelc",
              "KokoroProsody.mlmodelc", "KokoroNoise.mlmodelc", "KokoroVocoder.mlmodelc", "KokoroTail.mlmodelc",
              "vocab.json", "voices/zf_001.bin", "g2pw/g2pw.mlmodelc"})},
        // A Sortformer variant is a whole bundle name; an LS-EEND one gets the extension.
        {Repo::sortformer, "Sortformer_v2.1.mlmodelc", set({"Sortformer_v2.1.mlmodelc"})},
        {Repo::lseendAmi, "100ms/ls_eend_ami_100ms", set({"100ms/ls_eend_ami_100ms.mlmodelc"})},
        {Repo::pocketTts, std::nullopt,
         set({"cond_step.mlmodelc", "flowlm_step.mlmodelc", "flow_decoder.mlmodelc", "mimi_decoder.mlmodelc",
              "constants_bin"})},
        {Repo::qwen3AsrInt8, "f32",
         set({"qwen3_asr_audio_encoder_v2.mlmodelc", "qwen3_asr_decoder_stateful.mlmodelc",
              "qwen3_asr_embeddings.bin"})},
        {Repo::multilingualG2p, std::nullopt,
         set({"MultilingualG2PEncoder.mlmodelc", "MultilingualG2PDecoder.mlmodelc"})},
        {Repo::parakeetTdtCtc110m, std::nullopt,
         set({"Preprocessor.mlmodelc", "Decoder.mlmodelc", "JointDecision.mlmodelc"})},
        {Repo::cosyvoice3, std::nullopt,
         set({"LLM-Prefill-T256-M768-fp16.mlmodelc", "LLM-Decode-M768-fp16.mlmodelc", "Flow-N250-fp16.mlmodelc",
              "HiFT-T500-fp16.mlmodelc"})},
        {Repo::cohereTranscribeCoreml, std::nullopt,
         set({"cohere_encoder.mlmodelc", "cohere_decoder_cache_external_v2.mlmodelc", "vocab.json"})},
        {Repo::magpieTts, std::nullopt,
         set({"text_encoder.mlmodelc", "decoder_step.mlmodelc", "nanocodec_decoder_v3.mlmodelc", "constants"})},
        {Repo::styletts2, "t128", set({"bert_fp16_t128.mlmodelc", "fused_diffusion_sampler_fp16_t128.mlmodelc"})},
        {Repo::styletts2, "t96", styleBase},
        {Repo::styletts2, std::nullopt, styleBase},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.repo.rawValue()) + " variant " + c.variant.value_or("(none)"));
        const auto got = ModelNames::getRequiredModelNames(
            c.repo, c.variant ? std::optional<std::string_view>(*c.variant) : std::nullopt);
        EXPECT_EQ(got, c.expected);
    }
}

TEST(ModelNamesTest, SetsThatCoverWholeFamilies) {
    const auto lseend = ModelNames::getRequiredModelNames(Repo::lseendAmi);
    EXPECT_EQ(lseend.size(), 20u);
    EXPECT_TRUE(lseend.contains("300ms/ls_eend_dih3_300ms.mlmodelc"));  // other training variants too
    EXPECT_EQ(ModelNames::getRequiredModelNames(Repo::lseendDihard2), lseend);
    EXPECT_EQ(ModelNames::getRequiredModelNames(Repo::sortformer).size(), 6u);
    EXPECT_TRUE(ModelNames::getRequiredModelNames(Repo::sortformer).contains("SortformerNvidiaHigh_v2.1.mlmodelc"));
    EXPECT_EQ(ModelNames::getRequiredModelNames(Repo::styletts2, "all").size(), 14u);
    EXPECT_EQ(ModelNames::StyleTTS2::requiredModels().size(), 8u);
    EXPECT_TRUE(ModelNames::StyleTTS2::bucketModels(96).empty());
    EXPECT_EQ(ModelNames::StyleTTS2::bucketModels(64),
              set({"bert_fp16_t64.mlmodelc", "fused_diffusion_sampler_fp16_t64.mlmodelc"}));
    EXPECT_EQ(ModelNames::PocketTTS::requiredModels(PocketTtsPrecision::int8),
              set({"cond_step.mlmodelc", "flowlm_stepv2.mlmodelc", "flow_decoder.mlmodelc", "mimi_decoder.mlmodelc",
                   "constants_bin"}));
    EXPECT_EQ(ModelNames::Qwen3ASR::requiredModels(),
              set({"qwen3_asr_audio_encoder_v2.mlmodelc", "qwen3_asr_embedding.mlmodelc",
                   "qwen3_asr_decoder_stateful.mlmodelc"}));
    EXPECT_EQ(ModelNames::CohereTranscribe::requiredModelsLegacy(),
              set({"cohere_encoder.mlmodelc", "cohere_decoder_cache_external.mlmodelc", "vocab.json"}));
}

TEST(ModelNamesTest, EncoderPrecision) {
    ASSERT_EQ(allParakeetEncoderPrecisions().size(), 2u);
    EXPECT_EQ(allParakeetEncoderPrecisions()[0], ParakeetEncoderPrecision::int8);
    EXPECT_EQ(parakeetEncoderPrecisionFromRawValue("int4"), ParakeetEncoderPrecision::int4);
    EXPECT_FALSE(parakeetEncoderPrecisionFromRawValue("Int4"));
    EXPECT_EQ(rawValue(ParakeetEncoderPrecision::int8), "int8");
    EXPECT_EQ(encoderFileName(ParakeetEncoderPrecision::int4), "EncoderInt4.mlmodelc");
    EXPECT_EQ(encoderFileName(ParakeetEncoderPrecision::int8), "Encoder.mlmodelc");
}

TEST(ModelNamesTest, SortformerVariants) {
    using S = ModelNames::Sortformer;
    ASSERT_EQ(S::allVariants().size(), 6u);
    EXPECT_EQ(S::fileName(SortformerVariant::highContextV2_1), "SortformerNvidiaHigh_v2.1.mlmodelc");
    EXPECT_EQ(S::name(SortformerVariant::balancedV2), "SortformerNvidiaLow_v2");
    EXPECT_EQ(S::defaultBundle(), "Sortformer_v2.1.mlmodelc");

    const auto high = S::defaultConfiguration(SortformerVariant::highContextV2);
    EXPECT_EQ(high.modelVariant, SortformerVariant::highContextV2);
    EXPECT_EQ(high.chunkLen, 340);
    EXPECT_EQ(high.chunkRightContext, 40);
    EXPECT_EQ(high.spkcacheUpdatePeriod, 340);
    EXPECT_EQ(high.spkcacheSilFramesPerSpk, 3);
    EXPECT_EQ(S::defaultConfiguration(SortformerVariant::balancedV2_1).fifoLen, 188);

    SortformerConfig c;
    c.chunkLen = 300;
    c.chunkLeftContext = 1;
    c.chunkRightContext = 80;
    c.subsamplingFactor = 8;
    c.fifoLen = 40;
    c.spkcacheLen = 188;
    EXPECT_TRUE(S::isCompatible(SortformerVariant::highContextV2, c));  // (300 + 1 + 80) · 8 = 3048
    c.spkcacheLen = 187;
    EXPECT_FALSE(S::isCompatible(SortformerVariant::highContextV2, c));
    for (auto v : S::allVariants()) EXPECT_TRUE(S::isCompatible(v, S::defaultConfiguration(v)));
    EXPECT_FALSE(S::isCompatible(SortformerVariant::balancedV2, S::defaultConfiguration(SortformerVariant::fastV2)));

    EXPECT_FALSE(S::bundle(SortformerConfig{}));
    EXPECT_EQ(S::bundle(S::defaultConfiguration(SortformerVariant::fastV2)), "Sortformer_v2.mlmodelc");
}

TEST(ModelNamesTest, LseendVariantsAndSteps) {
    using L = ModelNames::LSEEND;
    EXPECT_FALSE(L::stepSizeFromRawValue(0));
    EXPECT_FALSE(L::stepSizeFromRawValue(6));
    ASSERT_EQ(L::stepSizeFromRawValue(3), L::StepSize::step300ms);
    EXPECT_EQ(L::description(L::StepSize::step300ms), "300ms");
    EXPECT_EQ(L::name(L::Variant::callhome), "ls_eend_ch");
    EXPECT_EQ(L::name(L::Variant::ami, L::StepSize::step300ms), "ls_eend_ami_300ms");
    EXPECT_EQ(L::fileName(L::Variant::ami, L::StepSize::step300ms), "300ms/ls_eend_ami_300ms.mlmodelc");
    EXPECT_EQ(L::defaultBundle(), std::vector<std::string>{"100ms/ls_eend_dih3_100ms.mlmodelc"});
    EXPECT_EQ(L::repo(L::Variant::dihard2), Repo(Repo::lseendDihard2));
}

TEST(ModelNamesTest, WholeModelKokoroVariants) {
    using T = ModelNames::TTS;
    EXPECT_EQ(T::maxDurationSeconds(T::Variant::fiveSecond), 5);
    EXPECT_EQ(T::fileName(T::Variant::fifteenSecond), "kokoro_21_15s.mlmodelc");
    EXPECT_EQ(T::bundle(T::defaultVariant), T::defaultBundle);
}

}  // namespace
}  // namespace auralith
