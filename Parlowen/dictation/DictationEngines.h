#pragma once

#include "Parlowen/dictation/AppleSpeechEngine.h"
#include "Parlowen/dictation/DictationCoordinator.h"
#include "Parlowen/dictation/GroqTranscriptionEngine.h"

namespace parlowen {

// The application's engines: the system recogniser engine on the recogniser
// a locale gets, and the cloud engine on the application's one HTTP client.
class AppDictationEngineFactory : public DictationEngineFactory {
public:
    AppDictationEngineFactory(AppleSpeechEngine::RecognizerFactory recognizers, platform::Executor& background,
                              platform::HttpClient& http, GroqTranscriptionConfig cloudConfig = {});

    platform::Result<std::shared_ptr<TranscriptionEngine>> makeSystemEngine(const std::string& locale) override;
    std::shared_ptr<TranscriptionEngine> makeCloudEngine(const std::string& apiKey,
                                                         GroqTranscriptionModel model) override;
    void setContextualStrings(TranscriptionEngine& systemEngine, std::vector<std::string> strings) override;

private:
    AppleSpeechEngine::RecognizerFactory recognizers_;
    platform::Executor& background_;
    platform::HttpClient& http_;
    GroqTranscriptionConfig cloudConfig_;
};

}  // namespace parlowen
