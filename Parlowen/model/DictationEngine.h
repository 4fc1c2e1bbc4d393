#pragma once

#include "Parlowen/model/RawEnum.h"

namespace parlowen {

// The dictation engine the user chooses (setting and per-application rule).
enum class DictationEngineMode { speed, groq };

// The kind of engine object actually built for a mode.
enum class EngineKind { appleSpeech, groq };

// The cloud transcription model; the engine class names it `Model`. The raw
// value is also what is sent to the service.
enum class GroqTranscriptionModel { largeV3Turbo, largeV3, distilLargeV3 };

template <>
struct EnumCases<DictationEngineMode> {
    static constexpr std::string_view typeName = "DictationEngineMode";
    static constexpr std::array cases{EnumCase{DictationEngineMode::speed, "speed"},
                                      EnumCase{DictationEngineMode::groq, "groq"}};
};

template <>
struct EnumCases<EngineKind> {
    static constexpr std::string_view typeName = "EngineKind";
    static constexpr std::array cases{EnumCase{EngineKind::appleSpeech, "appleSpeech"},
                                      EnumCase{EngineKind::groq, "groq"}};
};

template <>
struct EnumCases<GroqTranscriptionModel> {
    static constexpr std::string_view typeName = "Model";
    static constexpr std::array cases{
        EnumCase{GroqTranscriptionModel::largeV3Turbo, "whisper-large-v3-turbo"},
        EnumCase{GroqTranscriptionModel::largeV3, "whisper-large-v3"},
        EnumCase{GroqTranscriptionModel::distilLargeV3, "distil-whisper-large-v3-en"},
    };
};

}  // namespace parlowen
