// The share extension's program. It will take the shared link from its
// arguments and queue it for Listen Later; for now it only records that it ran.

#include <string>

#include "platform/log/Log.h"
#include "platform/log/LogSink.h"
#include "platform/runtime/CommandLine.h"
#include "platform/runtime/Environment.h"

namespace {

std::string helpText() {
    return "Usage: ParlowenMacShareExtension [--help | --version] [--] [LINK-OR-TEXT...]\n"
           "\n"
           "Parlowen's share extension: a desktop entry starts it with the link or text\n"
           "you share, for Parlowen's Listen Later queue.\n"
           "\n"
           "Log: the systemd journal (journalctl -t ParlowenMacShareExtension); notices\n"
           "     and errors also go to standard error when it is a terminal or when\n"
           "     PARLOWEN_LOG_STDERR=1 is set. Without a journal the log goes to\n"
           "     standard error.\n"
           "\n"
           "Options:\n"
           "  -h, --help     show this help and exit\n"
           "      --version  show the version and exit\n"
           "  --             what follows is shared as it is, even when it starts with -\n";
}

}  // namespace

int main(int argc, char** argv) {
    const auto environment = platform::Environment::fromProcess();
    const auto commandLine = platform::parseCommandLine(platform::argumentsOf(argc, argv), {.operandsAllowed = true});
    if (auto code = platform::answerCommandLine(commandLine, "ParlowenMacShareExtension", PARLOWEN_VERSION, helpText))
        return *code;

    platform::startProgramLogging(environment.value("PARLOWEN_LOG_STDERR") == "1");
    const platform::Logger log("com.kelvatrum.Parlowen.MacShareExtension", "share");
    log.notice("launch arguments={}", commandLine.operands.size());
    return 0;
}
