#include "platform/keystrokes/ScriptedKeystrokePoster.h"

namespace platform {

Status ScriptedKeystrokePoster::post(SyntheticChord chord) {
    attempts.push_back(chord);
    if (failure) return fail(*failure);
    posted.push_back(chord);
    if (pasteboard_) {
        if (isCopy(chord)) {
            for (int i = 0; i < copyWrites; ++i)
                pasteboard_->writeStringAsAnotherClient(i + 1 == copyWrites ? selection : selection + " (earlier)");
        } else {
            pastes.push_back({pasteboard_->string(), pasteboard_->itemCount() ? pasteboard_->types(0)
                                                                               : std::vector<std::string>{}});
        }
    }
    if (reaction) reaction(chord);
    return {};
}

}  // namespace platform
