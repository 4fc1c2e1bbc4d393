#include "Parlowen/readaloud/ReadAloudEngines.h"

#include "Parlowen/readaloud/AppleSpeechSynthesisEngine.h"
#include "Parlowen/readaloud/KokoroEngine.h"

namespace parlowen {

namespace {
platform::Task<void> nothingToWarmUp() { co_return; }
}  // namespace

AppReadAloudEngineFactory::AppReadAloudEngineFactory(
    CloudVoiceServices services, std::function<std::unique_ptr<platform::SpeechSynthesizer>()> makeSynthesizer,
    Hosts hosts)
    : services_(services), makeSynthesizer_(std::move(makeSynthesizer)), hosts_(std::move(hosts)) {}

AppReadAloudEngineFactory::~AppReadAloudEngineFactory() = default;

std::unique_ptr<SpeechSynthesisEngine> AppReadAloudEngineFactory::makeEngine(ReadAloudEngineKind kind) {
    switch (kind) {
        case ReadAloudEngineKind::appleSpeech:
            return std::make_unique<AppleSpeechSynthesisEngine>(services_.main, makeSynthesizer_());
        case ReadAloudEngineKind::kokoro: return std::make_unique<KokoroEngine>(services_.main);
        case ReadAloudEngineKind::openai: return std::make_unique<OpenAITTSEngine>(services_, hosts_.openAI);
        case ReadAloudEngineKind::cartesia: return std::make_unique<CartesiaTTSEngine>(services_, hosts_.cartesia);
        case ReadAloudEngineKind::elevenlabs:
            return std::make_unique<ElevenLabsTTSEngine>(services_, hosts_.elevenLabs);
    }
    return std::make_unique<AppleSpeechSynthesisEngine>(services_.main, makeSynthesizer_());
}

platform::Task<void> AppReadAloudEngineFactory::warmUpConnection(ReadAloudEngineKind kind) {
    switch (kind) {
        case ReadAloudEngineKind::openai: return OpenAITTSEngine::warmUpConnection(services_.http, hosts_.openAI);
        case ReadAloudEngineKind::cartesia:
            return CartesiaTTSEngine::warmUpConnection(services_.http, hosts_.cartesia);
        case ReadAloudEngineKind::elevenlabs:
            return ElevenLabsTTSEngine::warmUpConnection(services_.http, hosts_.elevenLabs);
        case ReadAloudEngineKind::appleSpeech:
        case ReadAloudEngineKind::kokoro: break;
    }
    return nothingToWarmUp();
}

std::vector<platform::SpeechVoice> AppReadAloudEngineFactory::systemVoices() {
    if (!voiceLister_) voiceLister_ = makeSynthesizer_();
    return voiceLister_ ? voiceLister_->voices() : std::vector<platform::SpeechVoice>{};
}

}  // namespace parlowen
