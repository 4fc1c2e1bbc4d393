#pragma once

#include <string>
#include <vector>

#include "Parlowen/shell/KeychainStore.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/loginitems/LoginItemService.h"
#include "platform/runtime/Environment.h"

namespace parlowen {

// Removes what the application stored outside its own install, so that the
// user only has to remove the program afterwards: the cloud-service API
// keys, the preferences, the caches, the downloaded speech models and the
// login item. Files under the data folder (the Listen Later queue, podcast
// renders, usage statistics) and the cloud records stay.
//
// Linux keeps no per-application privacy grants (microphone, accessibility,
// ...), so there is none to reset and no step for them.
struct UninstallManager {
    struct Result {
        std::vector<std::string> removed;  // one line per kind of data removed, in step order
        std::vector<std::string> errors;   // one line per removal that failed
    };

    struct Dependencies {
        KeychainStore& keychain;
        // The application's own defaults domain.
        platform::UserDefaults& defaults;
        // HOME and the XDG folders.
        platform::Environment environment;
        platform::LoginItemService& loginItems;
    };

    // Runs every step on the calling (main) thread; a failure never stops
    // the steps after it.
    static Result uninstall(const Dependencies& dependencies);
};

}  // namespace parlowen
