#include <gtest/gtest.h>

#include "Parlowen/notepad/AppleIntelligenceRefinementClient.h"
#include "Parlowen/notepad/ModelChoice.h"
#include "platform/http/FakeHttpClient.h"
#include "platform/languagemodel/ScriptedLanguageModel.h"
#include "platform/runtime/ManualExecutor.h"

using namespace parlowen;
using platform::LanguageModelAvailability;
using Model = ClaudeRefinementClient::Model;

namespace {

struct Services {
    platform::ScriptedLanguageModel languageModel;
    platform::InMemorySecretStore secrets;  // no key stored: clients are made anyway
    platform::ManualExecutor work;
    KeychainStore keychain{secrets, work};
    platform::FakeHttpClient http;
    RefinementServices services{languageModel, keychain, http};
};

// "on-device", "none", or the Claude model identifier.
std::string describe(const std::unique_ptr<RefinementClient>& client) {
    if (!client) return "none";
    if (dynamic_cast<AppleIntelligenceRefinementClient*>(client.get())) return client->isOnDevice() ? "on-device" : "?";
    if (auto* claude = dynamic_cast<ClaudeRefinementClient*>(client.get()))
        return client->isOnDevice() ? "?" : std::string(rawValue(claude->model()));
    return "?";
}

TEST(ModelChoice, ClientPerModelToneAndAgent) {
    struct Row {
        CleanUpModel model;
        bool onDeviceAvailable;
        std::string make, tone, agent;
    };
    const Row rows[] = {
        {CleanUpModel::appleIntelligence, true, "on-device", "on-device", "on-device"},
        {CleanUpModel::appleIntelligence, false, "none", "none", "none"},
        {CleanUpModel::sonnet46, true, "claude-sonnet-4-6", "claude-haiku-4-5-20251001", "claude-sonnet-4-6"},
        {CleanUpModel::sonnet46, false, "claude-sonnet-4-6", "claude-haiku-4-5-20251001", "claude-sonnet-4-6"},
        {CleanUpModel::opus47, true, "claude-opus-4-7", "claude-haiku-4-5-20251001", "claude-opus-4-7"},
        {CleanUpModel::opus47, false, "claude-opus-4-7", "claude-haiku-4-5-20251001", "claude-opus-4-7"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(rawValue(row.model)) + (row.onDeviceAvailable ? " available" : " unavailable"));
        Services s;
        s.languageModel.setAvailability(row.onDeviceAvailable ? LanguageModelAvailability::available
                                                              : LanguageModelAvailability::modelNotReady);
        EXPECT_EQ(describe(makeClient(row.model, s.services)), row.make);
        EXPECT_EQ(describe(rewriteClient(row.model, false, s.services)), row.tone);
        EXPECT_EQ(describe(rewriteClient(row.model, true, s.services)), row.agent);
    }
}

TEST(ModelChoice, AvailabilityTestIsAskedAfreshEveryTime) {
    Services s;
    for (auto availability : {LanguageModelAvailability::systemTooOld, LanguageModelAvailability::deviceNotEligible,
                              LanguageModelAvailability::notEnabled, LanguageModelAvailability::modelNotReady}) {
        s.languageModel.setAvailability(availability);
        EXPECT_FALSE(isOnDeviceModelAvailable(s.languageModel)) << caseName(availability);
        EXPECT_EQ(onDeviceClient(s.services), nullptr);
    }
    s.languageModel.setAvailability(LanguageModelAvailability::available);
    EXPECT_TRUE(isOnDeviceModelAvailable(s.languageModel));
    auto client = onDeviceClient(s.services);
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->displayName(), "Apple Intelligence");
    EXPECT_GE(s.languageModel.availabilityQueries(), 10u);
}

TEST(ModelChoice, RawValuesMatchExactly) {
    EXPECT_EQ(fromRawValue<CleanUpModel>("claude-opus-4-7"), CleanUpModel::opus47);
    for (const char* raw : {"Claude-Opus-4-7", "", "claude-haiku-4-5-20251001", "apple intelligence"})
        EXPECT_FALSE(fromRawValue<CleanUpModel>(raw)) << raw;
    EXPECT_EQ(fromRawValue<Model>("claude-haiku-4-5-20251001"), Model::haiku45);
}

}  // namespace
