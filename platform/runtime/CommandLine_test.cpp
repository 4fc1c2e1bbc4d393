#include "platform/runtime/CommandLine.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

using Action = CommandLine::Action;

constexpr PassThroughOption kToolkit[] = {{"platform", true}, {"reverse", false}};

struct ParseCase {
    const char* name;
    std::vector<std::string> arguments;
    bool operandsAllowed;
    Action action;
    std::string error;
    std::vector<std::string> operands;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

class CommandLineParse : public testing::TestWithParam<ParseCase> {};

TEST_P(CommandLineParse, DecidesWhatTheProgramDoes) {
    const ParseCase& c = GetParam();
    const CommandLine out = parseCommandLine(c.arguments, {.passThrough = kToolkit, .operandsAllowed = c.operandsAllowed});
    EXPECT_EQ(out.action, c.action);
    EXPECT_EQ(out.error, c.error);
    EXPECT_EQ(out.operands, c.operands);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineParse,
    testing::Values(
        ParseCase{"nothing", {}, false, Action::run, "", {}},
        ParseCase{"help", {"--help"}, false, Action::help, "", {}},
        ParseCase{"short help", {"-h"}, false, Action::help, "", {}},
        ParseCase{"version", {"--version"}, false, Action::version, "", {}},
        ParseCase{"the first of help and version wins", {"--version", "--help"}, false, Action::version, "", {}},
        ParseCase{"unknown long option", {"--frob"}, false, Action::usageError, "unknown option '--frob'", {}},
        ParseCase{"unknown before help", {"-x", "--help"}, false, Action::usageError, "unknown option '-x'", {}},
        ParseCase{"a near miss is unknown", {"--helpme"}, false, Action::usageError, "unknown option '--helpme'", {}},
        ParseCase{"toolkit option with its value", {"-platform", "offscreen"}, false, Action::run, "", {}},
        ParseCase{"toolkit option, two dashes and =", {"--platform=offscreen", "-reverse"}, false, Action::run, "", {}},
        ParseCase{"toolkit value taken whatever it looks like", {"-platform", "--help"}, false, Action::run, "", {}},
        ParseCase{"toolkit option without its value", {"-platform"}, false, Action::usageError,
                  "option '-platform' needs a value", {}},
        ParseCase{"a flag given a value", {"-reverse=yes"}, false, Action::usageError, "unknown option '-reverse=yes'", {}},
        ParseCase{"operand where none is taken", {"file.txt"}, false, Action::usageError,
                  "unexpected argument 'file.txt'", {}},
        ParseCase{"operands in order, a lone dash among them", {"https://a.example", "-", "b"}, true, Action::run, "",
                  {"https://a.example", "-", "b"}},
        ParseCase{"after -- everything is an operand", {"--", "--help", "-x"}, true, Action::run, "", {"--help", "-x"}}));

}  // namespace
}  // namespace platform
