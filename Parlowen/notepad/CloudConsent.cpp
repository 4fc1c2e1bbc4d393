#include "Parlowen/notepad/CloudConsent.h"

#include "Parlowen/shell/settings/PreferencesStore.h"

namespace parlowen {
namespace {

using platform::ui::Alert;
using platform::ui::AlertPresenter;
using platform::ui::AlertStyle;

constexpr const char* kAccept = "I understand, continue";
constexpr const char* kProvider = "Anthropic";

bool present(std::string title, std::string body, const char* decline, bool infoOnly, AlertPresenter& alerts) {
    Alert alert;
    alert.messageText = std::move(title) + " — heads up";
    alert.informativeText = std::move(body);
    alert.style = AlertStyle::informational;
    if (infoOnly) {
        alert.buttons = {"OK"};
        alerts.run(alert);
        return true;
    }
    alert.buttons = {kAccept, decline};
    return alerts.run(alert) == 0;
}

// The rest of every gate, once the choice is known to be a cloud one: an
// acknowledged service passes, else the alert decides and an acceptance is kept.
template <class Show>
bool gate(const std::string& identifier, PreferencesStore& settings, Show show) {
    if (settings.acknowledgedCloudProviders().contains(identifier)) return true;
    if (!show()) return false;
    auto acknowledged = settings.acknowledgedCloudProviders();
    acknowledged.insert(identifier);
    settings.acknowledgedCloudProviders.set(std::move(acknowledged));  // written to the defaults at once
    return true;
}

}  // namespace

std::string cloudConsentIdentifier(ReadAloudEngineKind engine) { return std::string(rawValue(engine)); }
std::string cloudConsentIdentifier(CleanUpModel model) { return std::string(rawValue(model)); }

std::string cloudReadAloudConsentText(ReadAloudEngineKind engine) {
    const std::string n(displayName(engine));
    return n + " is a cloud service — picking it means:\n\n• You'll need an API key from " + n +
           ". Parlowen never sees it; it stays in your Keychain.\n• You pay " + n +
           " directly based on usage (typically fractions of a cent per word). Parlowen isn't in the billing "
           "loop.\n• Anything you read aloud gets sent to " + n +
           "'s servers, where they process it under their own terms. If that matters, Apple Speech and Kokoro "
           "stay entirely on your Mac.";
}

std::string cloudModelConsentText(std::string_view providerName) {
    const std::string p(providerName);
    return "Picking this cloud model means:\n\n• Quon Notepad text gets sent to " + p +
           "'s servers when you click a tone or agent. Direct dictation (hold-to-talk to the cursor) is never "
           "affected — that always stays on your Mac.\n• Background punctuation polish stays on Apple "
           "Intelligence regardless of this setting — the every-pause path never sends text off-device.\n• "
           "You'll need an API key from " + p + ". Parlowen never sees it; it stays in your Keychain. You pay " + p +
           " directly based on usage.\n\nApple Intelligence runs entirely on your Mac and is the default — pick "
           "this only if you want a specific cloud model's quality for big Quon Notepad rewrites.";
}

std::string cloudDictationConsentText(std::string_view transcriptionHost) {
    return "Cloud dictation means your audio leaves your Mac:\n\n• Each press POSTs a short WAV (your speech) to " +
           std::string(transcriptionHost) +
           ". Groq transcribes it on their LPU stack and returns the text within a second or two.\n• You'll need a "
           "Groq API key. Parlowen never sees it; it stays in your Keychain. You pay Groq directly.\n• Apple Speech "
           "(the default) stays entirely on your Mac. Switch back if voice-leaving-device matters to you.\n\nYou "
           "can switch back any time. Existing transcripts already pasted aren't affected.";
}

bool presentCloudReadAloudConsent(ReadAloudEngineKind engine, bool infoOnly, AlertPresenter& alerts) {
    return present(std::string(displayName(engine)), cloudReadAloudConsentText(engine), "Stay on-device", infoOnly, alerts);
}

bool presentCloudModelConsent(CleanUpModel model, std::string_view providerName, bool infoOnly,
                              AlertPresenter& alerts) {
    return present(std::string(displayName(model)), cloudModelConsentText(providerName), "Stay on Apple Intelligence",
                   infoOnly, alerts);
}

bool presentCloudDictationConsent(bool infoOnly, std::string_view transcriptionHost, AlertPresenter& alerts) {
    return present("Cloud dictation (Groq)", cloudDictationConsentText(transcriptionHost), "Stay on-device", infoOnly,
                   alerts);
}

bool confirmCloudReadAloudEngine(ReadAloudEngineKind engine, PreferencesStore& settings, AlertPresenter& alerts) {
    if (!isCloud(engine)) return true;
    return gate(cloudConsentIdentifier(engine), settings,
                [&] { return presentCloudReadAloudConsent(engine, false, alerts); });
}

bool confirmCloudModel(CleanUpModel model, PreferencesStore& settings, AlertPresenter& alerts) {
    if (isOnDevice(model)) return true;
    return gate(cloudConsentIdentifier(model), settings,
                [&] { return presentCloudModelConsent(model, kProvider, false, alerts); });
}

bool confirmCloudDictation(DictationEngineMode mode, PreferencesStore& settings, AlertPresenter& alerts,
                           std::string_view transcriptionHost) {
    if (mode == DictationEngineMode::speed) return true;
    return gate(kCloudDictationConsentIdentifier, settings,
                [&] { return presentCloudDictationConsent(false, transcriptionHost, alerts); });
}

}  // namespace parlowen
