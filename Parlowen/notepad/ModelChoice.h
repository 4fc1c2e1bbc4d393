#pragma once

#include <memory>
#include <string>

#include "Parlowen/model/CleanUpModel.h"
#include "Parlowen/notepad/ClaudeRefinementClient.h"
#include "Parlowen/notepad/RefinementClient.h"
#include "platform/languagemodel/LanguageModel.h"

namespace parlowen {

// What the client factories build from. Everything is borrowed from the
// composition root and must outlive the clients.
struct RefinementServices {
    platform::LanguageModel& languageModel;
    const KeychainStore& keychain;
    platform::HttpClient& http;
    std::string anthropicBaseUrl = ClaudeRefinementClient::kDefaultBaseUrl;
};

// The on-device availability test, asked afresh every time: the system
// language model reports itself available.
bool isOnDeviceModelAvailable(const platform::LanguageModel& model);

// A new on-device client when the test passes, else none.
std::unique_ptr<RefinementClient> onDeviceClient(const RefinementServices& services);

// The client for the model (podcast scripts): the on-device client (or none)
// for `appleIntelligence`, else a Claude client of that model, even when no
// key is stored (the call reports that).
std::unique_ptr<RefinementClient> makeClient(CleanUpModel model, const RefinementServices& services);

// The client for a Notepad rewrite: as makeClient, except that tones
// (`isAgent` false) always use the small Haiku model when a cloud model is chosen.
std::unique_ptr<RefinementClient> rewriteClient(CleanUpModel model, bool isAgent, const RefinementServices& services);

}  // namespace parlowen
