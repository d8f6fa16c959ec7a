// velk.exe: the Velk stand-in as a program. See velk/commands.h for the command line.
#include "velk/cli/commands.h"
#include "velk/dialogs/dialog_operator.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>

int main(int argc, char** argv) {
    // What is printed is UTF-8 text with plain line feeds.
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<std::string> args(argv + 1, argv + argc);
    const velk::cli::CommandLine line = velk::cli::parseCommandLine(args);
    // The dialogs a run operates live on a desktop of their own, out of reach of other
    // runs in the same prefix. A windowed run shows its windows to a person, on the
    // desktop of the session.
    if (!line.windowed) velk::ui::useOwnDesktop();
    const int result = velk::cli::runCommandLine(line, std::cout);
    std::cout.flush();
    return result;
}
