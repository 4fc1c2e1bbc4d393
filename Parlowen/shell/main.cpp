// Program entry: the application object, its delegate, and the event loop
// that runs until the program is told to quit (Quit, SIGTERM or SIGINT).

#include "Parlowen/shell/Program.h"

int main(int argc, char** argv) { return parlowen::runParlowen(argc, argv); }
