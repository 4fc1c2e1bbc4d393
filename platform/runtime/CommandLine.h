#pragma once

// A program's command line: --help and --version, options handed on to
// another parser (the toolkit's own), operands, and a short error for
// anything else.

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct CommandLine {
    enum class Action { run, help, version, usageError };
    Action action = Action::run;
    // For usageError: "unknown option '--frob'", ...
    std::string error;
    // For run: the arguments that are not options, in order.
    std::vector<std::string> operands;
};

struct PassThroughOption {
    std::string_view name;  // without dashes: "platform"
    bool takesValue = false;
};

struct CommandLineRules {
    // Accepted with one dash or two, a value as the next argument or after "=".
    std::span<const PassThroughOption> passThrough;
    bool operandsAllowed = false;
};

// Reads the arguments after the program name, left to right: the first of
// -h/--help, --version or an error decides; "--" ends the options.
CommandLine parseCommandLine(std::span<const std::string> arguments, const CommandLineRules& rules);

// Answers help, version and usage errors as programs do: help on standard
// output and exit status 0, "<program> <version>" and 0, or on standard
// error "<program>: <error>" with a hint to --help, and 2. Nothing for run.
std::optional<int> answerCommandLine(const CommandLine& line, std::string_view program, std::string_view version,
                                     const std::function<std::string()>& helpText);

// The arguments after the program name, as strings.
std::vector<std::string> argumentsOf(int argc, const char* const* argv);

}  // namespace platform
