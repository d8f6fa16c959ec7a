// Paths as the stand-in's files are named: absolute and comparable forms, the DOS
// devices a name may hide, the folders a file needs, and the text of a system error.
#pragma once

#include <windows.h>

#include <string>

namespace velk {

// The path made absolute (GetFullPathName); the path itself when that fails.
std::string fullPath(const std::string& path);

// The path made absolute with `/` turned into `\`, `.` and `..` resolved and
// letters in lower case, so that two spellings of one file compare equal.
std::string comparablePath(const std::string& path);

// The DOS device a path names ("NUL", "COM1", "AUX" for `aux.csv`), or empty. Any
// folder or file name whose part before the first dot is a device name counts.
std::string deviceNamed(const std::string& path);

// Makes the folders of `file` that do not exist yet; false with the folder that
// could not be made and the system's error code.
bool makeFolders(const std::string& file, std::string& failed, DWORD& code);

// A short description of a Win32 error code ("access denied (5)").
std::string systemErrorText(unsigned long code);

}  // namespace velk
