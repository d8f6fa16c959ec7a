// Files named by UTF-8 paths, for tests of Japanese folder and file names: each name
// goes to the file system as UTF-16 (std::filesystem's paths are wide here), never as
// code page 932 bytes. A ScratchFolder is a fresh temporary folder that is removed
// with everything in it after a test that passed.
#pragma once

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace velktest {

inline std::filesystem::path Named(const std::string& utf8) { return std::filesystem::u8path(utf8); }
inline std::wstring Wide(const std::string& utf8) { return Named(utf8).wstring(); }
inline std::string Utf8(const std::wstring& wide) { return std::filesystem::path(wide).u8string(); }

inline bool WriteNamed(const std::string& path, const std::string& bytes) {
    std::ofstream f(Named(path), std::ios::binary);
    f << bytes;
    f.close();
    return !f.fail();
}

// The whole file, or empty when it cannot be read.
inline std::string ReadNamed(const std::string& path) {
    std::ifstream in(Named(path), std::ios::binary);
    std::ostringstream s;
    if (in) s << in.rdbuf();
    return s.str();
}

inline bool MakeFolderNamed(const std::string& path) {
    std::error_code e;
    return std::filesystem::create_directory(Named(path), e);
}

// The names in a folder, sorted.
inline std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code e;
    for (const auto& entry : std::filesystem::directory_iterator(Named(folder), e))
        names.push_back(entry.path().filename().u8string());
    std::sort(names.begin(), names.end());
    return names;
}

// A fresh folder in the temporary folder ("velk-<name>-<process>-<n>"), removed with
// its contents when the test that made it passed; after a failure it stays for a
// look and its path is printed (tests/support/temp_folder.h does both).
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name) : path_(NewTempFolder("velk-" + name)) {}
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace velktest
