// velk.exe's command line: options that shape the Host, then one command.
//   velk.exe [--driver-dir DIR] [--extension PATH] [--zero NAME]... [--refuse NAME]...
//            [--windowed] COMMAND [ARGUMENTS]
// Commands are looked up in a table, so that new ones (running a worksheet) slot in
// beside "setup".
#pragma once

#include "velk/host/host.h"

#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

namespace velk::cli {

struct CommandLine {
    HostOptions options;
    bool windowed = false;
    std::string command;
    std::vector<std::string> arguments;
    std::string error;  // non-empty when the line could not be read
};

// args: the words after the program name.
CommandLine parseCommandLine(const std::vector<std::string>& args);
// Runs the command; what it prints is UTF-8. Result: the process exit code
// (0 success, 1 the extension refused, 2 usage or load failure).
int runCommandLine(const CommandLine& line, std::ostream& out);
std::string usage();

// The menu's items, one per line: "  3 KALMO(&A)" for a popup, followed by its
// items indented ("      2951 VYT-TK17 &AD"), texts converted to UTF-8.
void describeMenu(HMENU menu, std::ostream& out);
// What the extension registered, one class per line.
void describeClasses(const Host& host, std::ostream& out);

}  // namespace velk::cli
