#pragma once

// The whole program as one function: command line, logging, the application
// object, the composition, the delegate and the single-instance socket, then
// the event loop until the program is told to quit.

#include <filesystem>
#include <optional>

namespace parlowen {

struct ProgramOptions {
    // A JSGF grammar the recogniser's model is narrowed to (none: the full language model).
    std::optional<std::filesystem::path> recognizerGrammar;
};

// The exit code.
int runParlowen(int argc, char** argv, const ProgramOptions& options = {});

}  // namespace parlowen
