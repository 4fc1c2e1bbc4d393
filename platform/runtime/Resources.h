#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/runtime/Environment.h"

namespace platform {

// Finds a bundled resource (pronouncing dictionary, placeholder images,
// scripts) by name: first in $PARLOWEN_RESOURCE_DIR, then next to the
// installed program in <executable>/../share/parlowen/, then in the source
// tree's resources/ folder (for builds run in place).
std::optional<std::filesystem::path> resourcePath(const std::string& name, const Environment& env);

// The running executable's path (from /proc/self/exe).
std::filesystem::path executablePath();

}  // namespace platform
