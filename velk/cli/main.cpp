// velk.exe: the Velk stand-in as a program. See velk/commands.h for the command line.
#include "velk/cli/commands.h"
#include "velk/common/paths.h"
#include "velk/dialogs/dialog_operator.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>

// The arguments come as UTF-16, so a path holds whatever characters its names have
// (the ANSI argv would be code page 932); they are UTF-8 from here on.
int wmain(int argc, wchar_t** argv) {
    // What is printed is UTF-8 text with plain line feeds.
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(velk::utf8Path(argv[i]));
    const velk::cli::CommandLine line = velk::cli::parseCommandLine(args);
    // The dialogs a run operates live on a desktop of their own, out of reach of other
    // runs in the same prefix. A windowed run shows its windows to a person, on the
    // desktop of the session.
    if (!line.windowed) velk::ui::useOwnDesktop();
    const int result = velk::cli::runCommandLine(line, std::cout);
    std::cout.flush();
    return result;
}
