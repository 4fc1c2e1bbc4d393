#pragma once

// The application's read-aloud engines: the system voice on the platform
// synthesiser, the on-device voice, and the three cloud voices on the shared
// streaming playback, each service's host taken from configuration.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Parlowen/readaloud/CartesiaTTSEngine.h"
#include "Parlowen/readaloud/CloudVoiceEngine.h"
#include "Parlowen/readaloud/ElevenLabsTTSEngine.h"
#include "Parlowen/readaloud/OpenAITTSEngine.h"
#include "Parlowen/readaloud/ReadAloudCoordinator.h"
#include "platform/speechsynth/SpeechSynthesizer.h"

namespace parlowen {

class AppReadAloudEngineFactory final : public ReadAloudEngineFactory {
public:
    struct Hosts {
        std::string openAI = OpenAITTSEngine::kDefaultBaseURL;
        std::string cartesia = CartesiaTTSEngine::kDefaultBaseURL;
        std::string elevenLabs = ElevenLabsTTSEngine::kDefaultBaseURL;
    };

    // `makeSynthesizer` makes one system synthesiser per system voice engine
    // (and one more to list the voices).
    AppReadAloudEngineFactory(CloudVoiceServices services,
                              std::function<std::unique_ptr<platform::SpeechSynthesizer>()> makeSynthesizer,
                              Hosts hosts);
    ~AppReadAloudEngineFactory() override;

    std::unique_ptr<SpeechSynthesisEngine> makeEngine(ReadAloudEngineKind kind) override;
    platform::Task<void> warmUpConnection(ReadAloudEngineKind kind) override;
    std::vector<platform::SpeechVoice> systemVoices() override;

private:
    CloudVoiceServices services_;
    std::function<std::unique_ptr<platform::SpeechSynthesizer>()> makeSynthesizer_;
    Hosts hosts_;
    std::unique_ptr<platform::SpeechSynthesizer> voiceLister_;
};

}  // namespace parlowen
