#include "platform/runtime/CommandLine.h"

#include <fmt/core.h>

namespace platform {
namespace {

CommandLine usageError(std::string message) {
    return {CommandLine::Action::usageError, std::move(message), {}};
}

}  // namespace

CommandLine parseCommandLine(std::span<const std::string> arguments, const CommandLineRules& rules) {
    CommandLine out;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            if (!rules.operandsAllowed) return usageError("unexpected argument '" + arg + "'");
            out.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") return {CommandLine::Action::help, {}, {}};
        if (arg == "--version") return {CommandLine::Action::version, {}, {}};

        std::string_view name = std::string_view(arg).substr(arg.starts_with("--") ? 2 : 1);
        const auto equals = name.find('=');
        const bool inlineValue = equals != std::string_view::npos;
        if (inlineValue) name = name.substr(0, equals);
        const PassThroughOption* known = nullptr;
        for (const auto& option : rules.passThrough)
            if (option.name == name) known = &option;
        if (!known || (inlineValue && !known->takesValue)) return usageError("unknown option '" + arg + "'");
        if (known->takesValue && !inlineValue && ++i == arguments.size())
            return usageError("option '" + arg + "' needs a value");
    }
    return out;
}

std::optional<int> answerCommandLine(const CommandLine& line, std::string_view program, std::string_view version,
                                     const std::function<std::string()>& helpText) {
    switch (line.action) {
        case CommandLine::Action::run: return std::nullopt;
        case CommandLine::Action::help: fmt::print("{}", helpText()); return 0;
        case CommandLine::Action::version: fmt::print("{} {}\n", program, version); return 0;
        case CommandLine::Action::usageError:
            fmt::print(stderr, "{}: {}\nTry '{} --help' for more information.\n", program, line.error, program);
            return 2;
    }
    return std::nullopt;
}

std::vector<std::string> argumentsOf(int argc, const char* const* argv) {
    std::vector<std::string> out;
    for (int i = 1; i < argc; ++i) out.emplace_back(argv[i]);
    return out;
}

}  // namespace platform
