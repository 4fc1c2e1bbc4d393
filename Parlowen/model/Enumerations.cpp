#include "Parlowen/model/CleanUpModel.h"
#include "Parlowen/model/ReadAloudEngineKind.h"
#include "Parlowen/model/VoiceCommand.h"

namespace parlowen {

std::string_view displayName(ReadAloudEngineKind kind) {
    switch (kind) {
        case ReadAloudEngineKind::appleSpeech: return "Apple Speech";
        case ReadAloudEngineKind::kokoro: return "Kokoro";
        case ReadAloudEngineKind::openai: return "OpenAI";
        case ReadAloudEngineKind::cartesia: return "Cartesia";
        case ReadAloudEngineKind::elevenlabs: return "ElevenLabs";
    }
    return {};
}

std::string_view displayLabel(OpenAITTSVoice voice) {
    switch (voice) {
        case OpenAITTSVoice::alloy: return "Alloy — balanced, neutral";
        case OpenAITTSVoice::echo: return "Echo — warm, conversational";
        case OpenAITTSVoice::fable: return "Fable — expressive, British";
        case OpenAITTSVoice::onyx: return "Onyx — deep, authoritative";
        case OpenAITTSVoice::nova: return "Nova — bright, friendly";
        case OpenAITTSVoice::shimmer: return "Shimmer — soft, calm";
        case OpenAITTSVoice::ash: return "Ash — steady, neutral";
        case OpenAITTSVoice::ballad: return "Ballad — measured, narrative";
        case OpenAITTSVoice::coral: return "Coral — warm, animated";
        case OpenAITTSVoice::sage: return "Sage — calm, deliberate";
        case OpenAITTSVoice::verse: return "Verse — expressive, dynamic";
    }
    return {};
}

std::string_view spokenPhrase(VoiceCommand command) {
    return command == VoiceCommand::scratchThat ? "scratch that" : "delete that";
}

std::string_view title(VoiceCommand command) {
    return command == VoiceCommand::scratchThat ? "“Scratch that”" : "“Delete that”";
}

std::string_view description(VoiceCommand command) {
    return command == VoiceCommand::scratchThat ? "Deletes the previous sentence." : "Deletes the previous word.";
}

std::string_view displayName(CleanUpModel model) {
    switch (model) {
        case CleanUpModel::appleIntelligence: return "Apple Intelligence";
        case CleanUpModel::sonnet46: return "Claude Sonnet 4.6";
        case CleanUpModel::opus47: return "Claude Opus 4.7";
    }
    return {};
}

}  // namespace parlowen
