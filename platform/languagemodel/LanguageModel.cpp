#include "platform/languagemodel/LanguageModel.h"

namespace platform {

std::string_view caseName(LanguageModelAvailability availability) {
    switch (availability) {
        case LanguageModelAvailability::available: return "available";
        case LanguageModelAvailability::systemTooOld: return "systemTooOld";
        case LanguageModelAvailability::deviceNotEligible: return "deviceNotEligible";
        case LanguageModelAvailability::notEnabled: return "notEnabled";
        case LanguageModelAvailability::modelNotReady: return "modelNotReady";
    }
    return "unknown";
}

Error toError(LanguageModelError code, std::string detail) {
    switch (code) {
        case LanguageModelError::unavailable:
            return Error::make(kLanguageModelErrorDomain, static_cast<int>(code), "unavailable",
                               detail.empty() ? "The on-device language model is unavailable"
                                              : "The on-device language model is unavailable: " + detail);
        case LanguageModelError::generation:
            return Error::make(kLanguageModelErrorDomain, static_cast<int>(code), "generation",
                               detail.empty() ? "The language model could not answer"
                                              : "The language model could not answer: " + detail);
    }
    return Error::make(kLanguageModelErrorDomain, static_cast<int>(code), "unknown", detail);
}

}  // namespace platform
