#include "Parlowen/readaloud/SpeechSynthesisEngine.h"

namespace parlowen {

std::string_view caseName(SpeechSynthesisState::Case kind) {
    switch (kind) {
        case SpeechSynthesisState::Case::loading: return "loading";
        case SpeechSynthesisState::Case::speaking: return "speaking";
        case SpeechSynthesisState::Case::paused: return "paused";
        case SpeechSynthesisState::Case::idle: return "idle";
        case SpeechSynthesisState::Case::finished: return "finished";
    }
    return "idle";
}

void PrintTo(const SpeechSynthesisState& state, std::ostream* os) {
    *os << caseName(state.kind);
    if (state.hasSentence())
        *os << "(" << state.sentenceIndex << "/" << state.totalSentences << " \"" << state.currentText << "\")";
}

void SpeechSynthesisEngine::setState(SpeechSynthesisState state) {
    if (state == state_) return;
    state_ = std::move(state);
    // A copy: the callback may replace or clear itself.
    if (auto callback = onStateChange) callback(state_);
}

}  // namespace parlowen
