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

void SentenceListEngine::apply(SentenceSkip skip) {
    switch (skip.kind) {
        case SentenceSkip::Kind::none: return;
        case SentenceSkip::Kind::restart: restartSentence(skip.index); return;
        case SentenceSkip::Kind::finish: finishAfterSkip(); return;
    }
}

void SentenceListEngine::skipForwardSentence() {
    apply(parlowen::skipForwardSentence(skipSentences(), skipCurrentIndex()));
}
void SentenceListEngine::skipBackSentence() { apply(parlowen::skipBackSentence(skipSentences(), skipCurrentIndex())); }
void SentenceListEngine::skipForwardParagraph() {
    apply(parlowen::skipForwardParagraph(skipSentences(), skipCurrentIndex()));
}
void SentenceListEngine::skipBackParagraph() {
    apply(parlowen::skipBackParagraph(skipSentences(), skipCurrentIndex()));
}
void SentenceListEngine::skipForward(double seconds) {
    apply(parlowen::skipForward(skipSentences(), skipCurrentIndex(), seconds, skipRate()));
}
void SentenceListEngine::skipBack(double seconds) {
    apply(parlowen::skipBack(skipSentences(), skipCurrentIndex(), seconds, skipRate()));
}

}  // namespace parlowen
