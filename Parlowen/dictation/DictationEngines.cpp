#include "Parlowen/dictation/DictationEngines.h"

namespace parlowen {

AppDictationEngineFactory::AppDictationEngineFactory(AppleSpeechEngine::RecognizerFactory recognizers,
                                                     platform::Executor& background, platform::HttpClient& http,
                                                     GroqTranscriptionConfig cloudConfig)
    : recognizers_(std::move(recognizers)), background_(background), http_(http), cloudConfig_(std::move(cloudConfig)) {}

platform::Result<std::shared_ptr<TranscriptionEngine>> AppDictationEngineFactory::makeSystemEngine(
    const std::string& locale) {
    auto made = AppleSpeechEngine::make(locale, recognizers_, background_);
    if (!made) return platform::fail(made.error());
    return std::shared_ptr<TranscriptionEngine>(std::move(*made));
}

std::shared_ptr<TranscriptionEngine> AppDictationEngineFactory::makeCloudEngine(const std::string& apiKey,
                                                                                GroqTranscriptionModel model) {
    return std::make_shared<GroqTranscriptionEngine>(apiKey, model, http_, background_, cloudConfig_);
}

void AppDictationEngineFactory::setContextualStrings(TranscriptionEngine& systemEngine,
                                                     std::vector<std::string> strings) {
    if (auto* apple = dynamic_cast<AppleSpeechEngine*>(&systemEngine)) apple->setContextualStrings(std::move(strings));
}

}  // namespace parlowen
