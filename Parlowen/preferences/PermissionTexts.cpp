#include "Parlowen/preferences/PermissionTexts.h"

namespace parlowen {

std::string title(PermissionKind kind) {
    switch (kind) {
        case PermissionKind::microphone: return "Microphone";
        case PermissionKind::speech: return "Speech Recognition";
        case PermissionKind::accessibility: return "Accessibility";
        case PermissionKind::inputMonitoring: return "Input Monitoring";
    }
    return {};
}

std::string permissionExplanation(PermissionKind kind) {
    switch (kind) {
        case PermissionKind::microphone: return "Capture your voice for transcription.";
        case PermissionKind::speech: return "Convert captured audio into text using on-device speech recognition.";
        case PermissionKind::accessibility: return "Paste the transcribed text at your cursor in the active app.";
        case PermissionKind::inputMonitoring: return "Detect the hold-to-talk hotkey from anywhere in the system.";
    }
    return {};
}

std::string PermissionPreScreenText::headerSymbol(PermissionKind kind) {
    switch (kind) {
        case PermissionKind::microphone: return "mic.fill";
        case PermissionKind::speech: return "waveform";
        case PermissionKind::accessibility: return "hand.point.up.left.fill";
        case PermissionKind::inputMonitoring: return "keyboard";
    }
    return {};
}

std::string PermissionPreScreenText::heading(PermissionKind kind) { return title(kind) + " — heads up"; }

std::string PermissionPreScreenText::subtitle() {
    return "macOS is about to ask for permission. Here's what's coming.";
}

std::string PermissionPreScreenText::whyText(PermissionKind kind) {
    switch (kind) {
        case PermissionKind::microphone:
            return "Records your voice only while you're holding the dictation key. The instant you release the key, "
                   "recording stops.";
        case PermissionKind::speech:
            return "Turns the audio into text on-device using Apple Speech. Your voice never leaves your Mac for "
                   "transcription.";
        case PermissionKind::accessibility:
            return "Lets Quon paste the transcribed text at your cursor in whatever app you're typing in. That's it — "
                   "no reading other apps' content.";
        case PermissionKind::inputMonitoring:
            return "Lets Quon detect the specific hotkey you bound, from anywhere on your Mac. Only the keys you bind, "
                   "not everything you type.";
    }
    return {};
}

std::string PermissionPreScreenText::doesntText(PermissionKind kind) {
    switch (kind) {
        case PermissionKind::microphone:
            return "Parlowen never records when the hotkey isn't held, never streams audio anywhere, and never stores "
                   "recordings to disk.";
        case PermissionKind::speech:
            return "On-device transcription only — your audio doesn't leave the Mac. The cloud-AI rewrites in the "
                   "Notepad use text, never the original recording.";
        case PermissionKind::accessibility:
            return "Parlowen doesn't read your screen, snoop other apps' contents, or click things on your behalf. It "
                   "only pastes at the cursor.";
        case PermissionKind::inputMonitoring:
            return "Parlowen isn't a keylogger. The CGEventTap watches only for the modifier keys + combos you've "
                   "assigned — every other keystroke is ignored.";
    }
    return {};
}

std::string PermissionPreScreenText::expectationText(PermissionKind kind, PermissionState state) {
    if (state == PermissionState::denied)
        return "macOS opens System Settings → Privacy & Security → " + title(kind) +
               ". Flip the Parlowen switch on. Parlowen will detect the change automatically.";
    switch (kind) {
        case PermissionKind::microphone:
            return "A macOS sheet asking \"Parlowen would like to access the microphone.\" Click Allow.";
        case PermissionKind::speech:
            return "A macOS sheet asking \"Parlowen would like to access speech recognition.\" Click OK.";
        case PermissionKind::accessibility:
            return "macOS opens System Settings → Privacy & Security → Accessibility. Flip the Parlowen switch on.";
        case PermissionKind::inputMonitoring:
            return "macOS opens System Settings → Privacy & Security → Input Monitoring. Flip the Parlowen switch on.";
    }
    return {};
}

std::string PermissionPreScreenText::primaryLabel(PermissionState state) {
    switch (state) {
        case PermissionState::granted: return "Got it";
        case PermissionState::denied: return "Open Settings";
        case PermissionState::unknown:
        case PermissionState::notDetermined: return "Show me the prompt";
    }
    return {};
}

}  // namespace parlowen
