#pragma once

#include "Parlowen/model/RawEnum.h"

namespace parlowen {

// The read-aloud engine the user chose. The order matters: every kind after
// `kokoro` is a cloud engine.
enum class ReadAloudEngineKind { appleSpeech, kokoro, openai, cartesia, elevenlabs };

template <>
struct EnumCases<ReadAloudEngineKind> {
    static constexpr std::string_view typeName = "ReadAloudEngineKind";
    static constexpr std::array cases{
        EnumCase{ReadAloudEngineKind::appleSpeech, "appleSpeech"}, EnumCase{ReadAloudEngineKind::kokoro, "kokoro"},
        EnumCase{ReadAloudEngineKind::openai, "openai"}, EnumCase{ReadAloudEngineKind::cartesia, "cartesia"},
        EnumCase{ReadAloudEngineKind::elevenlabs, "elevenlabs"},
    };
};

// The engine's name in the alerts ("Apple Speech", "Kokoro", "OpenAI",
// "Cartesia", "ElevenLabs"): the cloud-consent alert, and the cost guard for
// the cloud engines.
std::string_view displayName(ReadAloudEngineKind kind);

// True for the engines that send the text to a cloud service.
constexpr bool isCloud(ReadAloudEngineKind kind) {
    return static_cast<int>(kind) > static_cast<int>(ReadAloudEngineKind::kokoro);
}

// The OpenAI voices, in picker order.
enum class OpenAITTSVoice { alloy, echo, fable, onyx, nova, shimmer, ash, ballad, coral, sage, verse };

template <>
struct EnumCases<OpenAITTSVoice> {
    static constexpr std::string_view typeName = "OpenAITTSVoice";
    static constexpr std::array cases{
        EnumCase{OpenAITTSVoice::alloy, "alloy"},   EnumCase{OpenAITTSVoice::echo, "echo"},
        EnumCase{OpenAITTSVoice::fable, "fable"},   EnumCase{OpenAITTSVoice::onyx, "onyx"},
        EnumCase{OpenAITTSVoice::nova, "nova"},     EnumCase{OpenAITTSVoice::shimmer, "shimmer"},
        EnumCase{OpenAITTSVoice::ash, "ash"},       EnumCase{OpenAITTSVoice::ballad, "ballad"},
        EnumCase{OpenAITTSVoice::coral, "coral"},   EnumCase{OpenAITTSVoice::sage, "sage"},
        EnumCase{OpenAITTSVoice::verse, "verse"},
    };
};

// The picker text, e.g. "Coral — warm, animated".
std::string_view displayLabel(OpenAITTSVoice voice);

}  // namespace parlowen
