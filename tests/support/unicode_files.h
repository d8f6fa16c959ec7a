// Files named by UTF-8 paths, for tests of Japanese folder and file names: every call
// is a W file function, so a name reaches the file system as it is written (an ANSI
// call would read the bytes as code page 932). A ScratchFolder is a fresh temporary
// folder that is removed with everything in it after a test that passed.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace velktest {

inline std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
    return wide;
}

inline std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], n, nullptr, nullptr);
    return utf8;
}

inline bool WriteNamed(const std::string& path, const std::string& bytes) {
    HANDLE f = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    return CloseHandle(f) && ok;
}

// The whole file, or empty when it cannot be read.
inline std::string ReadNamed(const std::string& path) {
    HANDLE f = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return std::string();
    std::string text;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(f, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
    CloseHandle(f);
    return text;
}

inline bool ExistsNamed(const std::string& path) {
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline bool MakeFolderNamed(const std::string& path) { return CreateDirectoryW(Wide(path).c_str(), nullptr) != 0; }

// The names in a folder (without "." and ".."), sorted.
inline std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW(Wide(folder + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(Utf8(name));
    } while (FindNextFileW(h, &found));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

// Removes a folder with everything in it; false when anything stayed.
inline bool RemoveTree(const std::string& folder) {
    bool ok = true;
    for (const std::string& name : FolderEntries(folder)) {
        const std::string path = folder + "\\" + name;
        const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            ok = RemoveTree(path) && ok;
        else if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            ok = RemoveDirectoryW(Wide(path).c_str()) && ok;
        else
            ok = (SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_NORMAL), DeleteFileW(Wide(path).c_str())) && ok;
    }
    return RemoveDirectoryW(Wide(folder).c_str()) && ok;
}

// A fresh folder in the temporary folder ("velk-<name>-<process>-<n>"), removed with
// its contents when the test that made it passed; after a failure it stays for a
// look and its path is printed.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name) {
        wchar_t base[MAX_PATH + 1];
        const DWORD n = GetTempPathW(MAX_PATH + 1, base);
        static unsigned serial = 0;
        for (int tries = 0; tries < 100; ++tries) {  // a folder left by an earlier run is not reused
            path_ = Utf8(std::wstring(base, n <= MAX_PATH ? n : 0)) + "velk-" + name + "-" +
                    std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
            if (MakeFolderNamed(path_)) return;
        }
        ADD_FAILURE() << "cannot make a scratch folder: " << path_;
    }
    ~ScratchFolder() {
        if (::testing::Test::HasFailure())
            std::printf("kept for a look: %s\n", path_.c_str());
        else
            EXPECT_TRUE(RemoveTree(path_)) << "left behind: " << path_;
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace velktest
