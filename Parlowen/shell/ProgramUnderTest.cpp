// The program as `Parlowen` runs it, with one substitution for the
// end-to-end test: the recogniser's model is narrowed to the JSGF grammar
// named by PARLOWEN_TEST_GRAMMAR.

#include "Parlowen/shell/Program.h"
#include "platform/runtime/Environment.h"

int main(int argc, char** argv) {
    parlowen::ProgramOptions options;
    const auto grammar = platform::Environment::fromProcess().value("PARLOWEN_TEST_GRAMMAR");
    if (!grammar.empty()) options.recognizerGrammar = grammar;
    return parlowen::runParlowen(argc, argv, options);
}
