#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/runtime/Environment.h"
#include "platform/speech/SpeechRecognizer.h"

namespace platform {

// The files of one PocketSphinx model: an acoustic model folder, a
// pronouncing dictionary, and either a statistical language model or a
// JSGF grammar (which narrows recognition to the phrases it allows).
struct PocketSphinxModel {
    std::string localeIdentifier;  // "en-US"
    std::filesystem::path acousticModel;
    std::filesystem::path dictionary;
    std::filesystem::path languageModel;
    std::optional<std::filesystem::path> grammar;

    static constexpr const char* kDefaultRoot = "/usr/share/pocketsphinx/model";

    // The installed model for a locale ("en_US.UTF-8", "en-US", "en"): the
    // folder <root>/<language>-<region> with its acoustic model, "*.lm.bin"
    // and "*.dict" (for a bare language, the first such folder of that
    // language). None when no complete model is installed.
    static std::optional<PocketSphinxModel> forLocale(const std::string& locale,
                                                      const std::filesystem::path& root = kDefaultRoot);
    // The locale of the system's default language (LC_ALL, LC_MESSAGES, LANG;
    // "C" and "POSIX" count as en-US), as "en-US".
    static std::string defaultLocaleIdentifier(const Environment& env);

    // Every file is there.
    bool isInstalled() const;
    // Whether PocketSphinx can load the model; tried once per model and remembered.
    bool loads() const;
    // What loads() has found so far, without trying.
    std::optional<bool> knownToLoad() const;
};

// The recogniser on PocketSphinx (Debian's 0.8 API: ps_start_utt,
// ps_process_raw, ps_get_hyp). One decoder, loaded on first use on the
// recogniser's own thread, serves its tasks one after the other. Audio is
// mixed down to mono and resampled to 16 kHz there. A task reports a partial
// result whenever the hypothesis changes, and ends with a final result after
// endAudio or once `endpointSilence` of silence follows speech.
class PocketSphinxRecognizer : public SpeechRecognizer {
public:
    struct Options {
        // Silence after speech that ends a task with a final result; zero turns it off.
        double endpointSilence = 1.5;
        // How much audio one request holds before the recogniser takes it (seconds at 48 kHz).
        double requestBufferSeconds = 4.0;
    };

    explicit PocketSphinxRecognizer(PocketSphinxModel model);
    PocketSphinxRecognizer(PocketSphinxModel model, Options options);
    ~PocketSphinxRecognizer() override;

    // The recogniser for a locale's installed model; none when there is none.
    static std::unique_ptr<PocketSphinxRecognizer> forLocale(
        const std::string& locale, const std::filesystem::path& root = PocketSphinxModel::kDefaultRoot);

    std::string localeIdentifier() const override;
    bool supportsOnDeviceRecognition() const override { return true; }
    // A pause ends the task with a final result; within a task the
    // hypothesis is only ever revised.
    bool resetsTranscriptSilently() const override { return false; }
    std::shared_ptr<SpeechAudioRequest> makeRequest(SpeechRequestOptions options) override;
    std::shared_ptr<SpeechRecognitionTask> recognitionTask(std::shared_ptr<SpeechAudioRequest> request,
                                                           SpeechResultHandler handler) override;

    struct Core;

private:
    std::shared_ptr<Core> core_;
};

}  // namespace platform
