#include "Parlowen/listenlater/render/ListenLaterRenderer.h"

namespace parlowen {

std::string ListenLaterRendererError::description() const {
    switch (kind) {
        case Kind::engineUnavailable: return "Engine unavailable: " + detail;
        case Kind::synthesisFailed: return "Synthesis failed: " + detail;
        case Kind::fileWriteFailed: return "File write failed: " + detail;
    }
    return detail;
}

platform::Error toError(const ListenLaterRendererError& error) {
    const char* caseName = error.kind == ListenLaterRendererError::Kind::engineUnavailable ? "engineUnavailable"
                           : error.kind == ListenLaterRendererError::Kind::synthesisFailed ? "synthesisFailed"
                                                                                           : "fileWriteFailed";
    return platform::Error::make(kListenLaterRendererErrorDomain, static_cast<int>(error.kind), caseName,
                                 error.description());
}

std::string fullErrorDescription(const platform::Error& error) {
    std::string text = error.description;
    for (auto cause = error.underlying; cause; cause = cause->underlying)
        if (text.find(cause->description) == std::string::npos) text += ": " + cause->description;
    return text;
}

}  // namespace parlowen
