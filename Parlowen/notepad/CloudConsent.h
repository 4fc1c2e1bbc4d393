#pragma once

// Consent before a choice sends the user's text or audio to an outside service
// with the user's own key: a cloud read-aloud engine, a Claude model for the
// Notepad, cloud dictation. Each alert is shown once per service; acceptances
// are remembered in `PreferencesStore::acknowledgedCloudProviders` and never
// removed. Main thread only: the alerts are modal.

#include <string>
#include <string_view>

#include "Parlowen/model/CleanUpModel.h"
#include "Parlowen/model/DictationEngine.h"
#include "Parlowen/model/ReadAloudEngineKind.h"
#include "platform/ui/AlertPresenter.h"

namespace parlowen {

class PreferencesStore;

// The gates: true when the choice may take effect. On-device choices pass
// without an alert; an acknowledged service passes without one; otherwise the
// two-button alert decides, and an acceptance is recorded.
bool confirmCloudReadAloudEngine(ReadAloudEngineKind engine, PreferencesStore& settings,
                                 platform::ui::AlertPresenter& alerts);
bool confirmCloudModel(CleanUpModel model, PreferencesStore& settings, platform::ui::AlertPresenter& alerts);
// `transcriptionHost`: the host the cloud dictation engine sends audio to.
bool confirmCloudDictation(DictationEngineMode mode, PreferencesStore& settings, platform::ui::AlertPresenter& alerts,
                           std::string_view transcriptionHost);

// The alerts: true exactly when the first button was pressed (always true in
// the information-only form, which has the single button "OK").
bool presentCloudReadAloudConsent(ReadAloudEngineKind engine, bool infoOnly, platform::ui::AlertPresenter& alerts);
bool presentCloudModelConsent(CleanUpModel model, std::string_view providerName, bool infoOnly,
                              platform::ui::AlertPresenter& alerts);
bool presentCloudDictationConsent(bool infoOnly, std::string_view transcriptionHost,
                                  platform::ui::AlertPresenter& alerts);

// The alert bodies.
std::string cloudReadAloudConsentText(ReadAloudEngineKind engine);
std::string cloudModelConsentText(std::string_view providerName);
std::string cloudDictationConsentText(std::string_view transcriptionHost);

// The identifiers recorded for the acknowledged services.
std::string cloudConsentIdentifier(ReadAloudEngineKind engine);  // "openai", "cartesia", "elevenlabs"
std::string cloudConsentIdentifier(CleanUpModel model);          // the model's raw value
inline constexpr const char* kCloudDictationConsentIdentifier = "dictation-groq";

}  // namespace parlowen
