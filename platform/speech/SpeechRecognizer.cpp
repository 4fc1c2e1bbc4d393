#include "platform/speech/SpeechRecognizer.h"

namespace platform {

Error speechRecognizerError(SpeechRecognizerErrorCode code, std::string description) {
    const char* name = code == SpeechRecognizerErrorCode::modelUnavailable ? "modelUnavailable" : "unsupportedAudio";
    return Error::make("SpeechRecognizer", static_cast<int>(code), name, std::move(description));
}

}  // namespace platform
