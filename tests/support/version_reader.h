// Reading a file's version resource back as a user's tools do: GetFileVersionInfoA
// and VerQueryValueA (link with the system's version library).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace versiontest {

// Folder of the running test program, with a trailing backslash.
inline std::string ProgramFolder() {
    char path[MAX_PATH * 2];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string p(path, n);
    return p.substr(0, p.find_last_of("\\/") + 1);
}

class VersionInfo {
public:
    explicit VersionInfo(const std::string& file) {
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeA(file.c_str(), &ignored);
        if (size == 0) return;
        data_.resize(size);
        if (!GetFileVersionInfoA(file.c_str(), 0, size, data_.data())) data_.clear();
    }
    bool present() const { return !data_.empty(); }

    // The fixed part, or nullptr.
    const VS_FIXEDFILEINFO* fixed() const {
        void* p = nullptr;
        UINT n = 0;
        if (!present() || !VerQueryValueA(data_.data(), "\\", &p, &n) || n < sizeof(VS_FIXEDFILEINFO)) return nullptr;
        return static_cast<const VS_FIXEDFILEINFO*>(p);
    }

    // The (language, code page) pairs of \VarFileInfo\Translation.
    std::vector<std::pair<uint16_t, uint16_t>> translations() const {
        std::vector<std::pair<uint16_t, uint16_t>> out;
        void* p = nullptr;
        UINT n = 0;
        if (!present() || !VerQueryValueA(data_.data(), "\\VarFileInfo\\Translation", &p, &n)) return out;
        const uint16_t* words = static_cast<const uint16_t*>(p);
        for (UINT i = 0; i + 1 < n / 2; i += 2) out.emplace_back(words[i], words[i + 1]);
        return out;
    }

    // A string of the table "llllcccc" (hex language and code page), in the process's
    // ANSI code page; `found` tells whether the value exists.
    std::string text(const char* table, const char* name, bool* found = nullptr) const {
        std::string key = std::string("\\StringFileInfo\\") + table + "\\" + name;
        void* p = nullptr;
        UINT n = 0;
        const bool ok = present() && VerQueryValueA(data_.data(), key.c_str(), &p, &n) && p != nullptr;
        if (found) *found = ok;
        return ok ? std::string(static_cast<const char*>(p)) : std::string();
    }

private:
    mutable std::vector<char> data_;
};

}  // namespace versiontest
