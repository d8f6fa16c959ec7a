// The files a run is to write, checked before it starts: no two recordings in one
// file however the paths are spelt (`same.csv` and `./same.csv`, relative and
// absolute, `/` and `\`, upper and lower case, or two names of one file: a hard link,
// a short 8.3 name, a path through a linked folder), none of them the worksheet or
// the card configuration, none a device (`NUL`, `COM1`, `aux.csv`), and each one's
// folder made and the file writable. Nothing is truncated by the check. Paths are
// UTF-8 (velk/common/paths.h).
#pragma once

#include <string>
#include <vector>

namespace velk {

// A file the run is to write, with where the worksheet asks for it.
struct PlannedFile {
    std::string path;     // as the runner opens it
    std::string written;  // as the worksheet spells it
    std::string owner;    // "[record ai]"
    int line = 0;         // worksheet line of the request; 0 for the command line's
};

// A file the run reads, which no recording may overwrite.
struct InputFile {
    std::string path;
    std::string what;  // "the worksheet itself", "the card configuration"
};

// Checks the planned files in order; on the first problem false with `error`
// "<sheet>:<line>: ..." (or "<owner> '<file>' ..." for a file of the command line). Creates missing folders and tries that each file can be
// opened for writing; a file that did not exist before is removed again at the end
// of the check (until then it stands for the file that later names may reach).
bool checkOutputFiles(const std::vector<PlannedFile>& files, const std::vector<InputFile>& inputs,
                      const std::string& sheetName, std::string& error);

}  // namespace velk
