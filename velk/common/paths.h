// Paths as the stand-in's files are named. A path is UTF-8 text everywhere in the
// stand-in (a worksheet is UTF-8, velk.exe takes its command line as UTF-16 and
// converts it once); it becomes UTF-16 only here and at the W file functions, so a
// name is never read as code page 932 bytes, cut inside a double-byte character or
// case-folded byte by byte. Here: absolute forms, whether two paths name one file,
// relative paths, the DOS devices a name may hide, the folders a file needs, and the
// text of a system error.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>

namespace velk {

// A UTF-8 path as UTF-16 for the W file functions, and back.
std::wstring widePath(const std::string& path);
std::string utf8Path(const std::wstring& path);

// The path made absolute (GetFullPathNameW: `/` turned into `\`, `.` and `..`
// resolved); the path itself when that fails.
std::string fullPath(const std::string& path);

// The full path as UTF-16 without a trailing separator: the form in which two
// spellings of one path are compared.
std::wstring comparablePath(const std::string& path);
// Orders comparable paths with letters compared without case as the file system
// compares them (CompareStringOrdinal: full-width letters too, and never a byte of a
// double-byte character): <0, 0 (one path), >0.
int comparePathText(const std::wstring& a, const std::wstring& b);
struct PathTextLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const { return comparePathText(a, b) < 0; }
};
// Whether two paths are one full path, compared so.
bool samePathText(const std::string& a, const std::string& b);

// Which file or folder an open handle, or a path that exists, names: the volume's
// serial number and the file index (GetFileInformationByHandle). Two names of one
// file, a hard link, a short 8.3 name or a path through a linked folder, have the
// same identity. Unknown (and equal to nothing) when the path cannot be opened.
struct FileIdentity {
    bool known = false;
    DWORD volume = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity& o) const { return known && o.known && volume == o.volume && index == o.index; }
    bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};
FileIdentity fileIdentity(HANDLE file);
FileIdentity fileIdentity(const std::string& path);

// Whether two paths name one file: the same full path (samePathText), or, when both
// exist, the same file (fileIdentity).
bool sameFile(const std::string& a, const std::string& b);

// `target` as seen from `folder`, with `/` between the names: "../表/card.ini",
// "出力", "." for the folder itself (PathRelativePathToW on the full paths). The
// full path, with `/`, when the two share no more than the drive.
std::string relativePath(const std::string& folder, const std::string& target);

// The DOS device a path names ("NUL", "COM1", "AUX" for `aux.csv`), or empty. Any
// folder or file name whose part before the first dot is a device name counts.
std::string deviceNamed(const std::string& path);

// Makes the folders of `file` that do not exist yet; false with the folder that
// could not be made and the system's error code.
bool makeFolders(const std::string& file, std::string& failed, DWORD& code);

// A short description of a Win32 error code ("access denied (5)"); codes without a
// description of their own are given the system's text for them.
std::string systemErrorText(unsigned long code);

}  // namespace velk
