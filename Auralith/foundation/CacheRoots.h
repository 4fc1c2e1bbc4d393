#pragma once

// Where the package keeps model files on the user's machine.
//
//   models directory      $XDG_DATA_HOME/Auralith/Models[/<repository folder>]  (not created here)
//   ttsCacheRoot          ~/.cache/auralith                                     (created when missing)
//   ttsModelsCacheDirectory ~/.cache/auralith/Models                            (created when missing)

#include <filesystem>
#include <optional>
#include <string_view>

#include "platform/ml/Model.h"
#include "platform/runtime/Environment.h"
#include "platform/runtime/Error.h"

namespace auralith {

struct MLModelConfigurationUtils {
    // The models directory in the user's Application Support folder, or the
    // folder of one repository in it (its `Repo.folderName`). Touches no disk.
    static std::filesystem::path defaultModelsDirectory(const platform::Environment& environment,
                                                        std::optional<std::string_view> repositoryFolder = {});
    // Those compute units, with low-precision accumulation on the GPU allowed.
    static platform::ml::ModelConfiguration defaultConfiguration(platform::ml::ComputeUnits computeUnits);
};

// The per-user synthesis cache root; fails with the file-system error when it
// must be created and cannot be. An existing item of any kind counts as present.
platform::Result<std::filesystem::path> ttsCacheRoot(const platform::Environment& environment);
platform::Result<std::filesystem::path> ttsModelsCacheDirectory(const platform::Environment& environment);

// Makes the folder and any missing parents; fails with the file layer's
// writeFailed error naming the folder.
platform::Status createFolders(const std::filesystem::path& folder);

}  // namespace auralith
