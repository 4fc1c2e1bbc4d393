#include "Parlowen/notepad/ModelChoice.h"

#include "Parlowen/notepad/AppleIntelligenceRefinementClient.h"

namespace parlowen {
namespace {

std::unique_ptr<RefinementClient> claude(ClaudeRefinementClient::Model model, const RefinementServices& services) {
    return std::make_unique<ClaudeRefinementClient>(model, services.keychain, services.http,
                                                    services.anthropicBaseUrl);
}

}  // namespace

bool isOnDeviceModelAvailable(const platform::LanguageModel& model) {
    return model.availability() == platform::LanguageModelAvailability::available;
}

std::unique_ptr<RefinementClient> onDeviceClient(const RefinementServices& services) {
    if (!isOnDeviceModelAvailable(services.languageModel)) return nullptr;
    return std::make_unique<AppleIntelligenceRefinementClient>(services.languageModel);
}

std::unique_ptr<RefinementClient> makeClient(CleanUpModel model, const RefinementServices& services) {
    switch (model) {
        case CleanUpModel::appleIntelligence: return onDeviceClient(services);
        case CleanUpModel::sonnet46: return claude(ClaudeRefinementClient::Model::sonnet46, services);
        case CleanUpModel::opus47: return claude(ClaudeRefinementClient::Model::opus47, services);
    }
    return nullptr;
}

std::unique_ptr<RefinementClient> rewriteClient(CleanUpModel model, bool isAgent, const RefinementServices& services) {
    if (model == CleanUpModel::appleIntelligence || isAgent) return makeClient(model, services);
    return claude(ClaudeRefinementClient::Model::haiku45, services);
}

}  // namespace parlowen
