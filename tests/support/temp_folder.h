// Temporary folders of the tests. NewTempFolder makes a fresh folder under the
// temporary folder and files it under the test that is running; when that test ends,
// TempFolderCleanup (installed by test_main.cpp) removes the folder with everything in
// it if the test passed, and keeps it and prints its path if the test failed, so that
// what it left can be examined. Folders made outside a test (and any not settled yet)
// are settled at the program's end by the result of the whole run.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

namespace velktest {

namespace tempfolders {

struct Made {
    std::string path;
    std::string owner;  // "Suite.Test", empty when made outside a test
};

inline std::mutex& Lock() {
    static std::mutex m;
    return m;
}

inline std::vector<Made>& List() {
    static std::vector<Made> made;
    return made;
}

inline std::string RunningTest() {
    const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
    return t ? std::string(t->test_suite_name()) + "." + t->name() : std::string();
}

// `path` (UTF-8, like every path of the stand-in) and everything in it; the error
// code when it stays.
inline bool Remove(const std::string& path, std::string& why) {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::u8path(path), ec);
    if (ec) why = "error " + std::to_string(ec.value());
    return !ec;
}

// Settles the folders of `owner` (of every owner when `owner` is null): kept and
// printed to `out` when `failed`, removed otherwise (a folder that cannot be removed is
// printed too).
inline void Settle(const std::string* owner, bool failed, std::FILE* out) {
    std::vector<Made> mine;
    {
        std::lock_guard<std::mutex> lock(Lock());
        std::vector<Made>& all = List();
        for (auto it = all.begin(); it != all.end();) {
            if (!owner || it->owner == *owner) {
                mine.push_back(*it);
                it = all.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const Made& m : mine) {
        std::string why;
        if (failed)
            std::fprintf(out, "temporary folder kept: %s (%s failed)\n", m.path.c_str(),
                          m.owner.empty() ? "the program" : m.owner.c_str());
        else if (!Remove(m.path, why))
            std::fprintf(out, "temporary folder not removed: %s (%s)\n", m.path.c_str(), why.c_str());
    }
    std::fflush(out);
}

inline void Settle(const std::string& owner, bool failed, std::FILE* out) { Settle(&owner, failed, out); }

// The folders of `owner` as they stand, for a test that is being stopped (nothing
// when the list is busy: the caller cannot wait).
inline void Print(const std::string& owner, std::FILE* out) {
    std::unique_lock<std::mutex> lock(Lock(), std::try_to_lock);
    if (!lock.owns_lock()) return;
    for (const Made& m : List())
        if (m.owner == owner) std::fprintf(out, "temporary folder kept: %s\n", m.path.c_str());
    std::fflush(out);
}

// A fresh, empty folder `<temp>\<prefix>-<process id>-<n>` (no trailing backslash),
// filed under `owner`.
inline std::string Make(const std::string& prefix, const std::string& owner) {
    static std::atomic<unsigned> serial{0};
    wchar_t wideBase[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, wideBase);
    if (n == 0 || n >= MAX_PATH) {
        ADD_FAILURE() << "no temporary folder (GetTempPathW: error " << GetLastError() << ")";
        return std::string();
    }
    const std::string base = std::filesystem::path(std::wstring(wideBase, n)).u8string();
    // A folder left by an earlier process with the same id is skipped, never reused.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string dir =
            base + prefix + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
        if (CreateDirectoryW(std::filesystem::u8path(dir).c_str(), nullptr)) {
            std::lock_guard<std::mutex> lock(Lock());
            List().push_back({dir, owner});
            return dir;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "cannot create the temporary folder " << dir << " (error " << error << ")";
            return dir;
        }
    }
    ADD_FAILURE() << "no free name for a temporary folder " << prefix << "-*";
    return std::string();
}

}  // namespace tempfolders

// A fresh, empty folder `<temp>\<prefix>-<process id>-<n>` (UTF-8, no trailing backslash) that
// goes when the running test passes and stays, named, when it fails.
inline std::string NewTempFolder(const std::string& prefix) {
    return tempfolders::Make(prefix, tempfolders::RunningTest());
}

class TempFolderCleanup : public ::testing::EmptyTestEventListener {
public:
    void OnTestEnd(const ::testing::TestInfo& test) override {
        tempfolders::Settle(std::string(test.test_suite_name()) + "." + test.name(), test.result()->Failed(),
                            stdout);
    }
    void OnTestProgramEnd(const ::testing::UnitTest& run) override {
        tempfolders::Settle(nullptr, run.Failed(), stdout);
    }
};

}  // namespace velktest
