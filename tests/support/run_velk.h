// Runs bin\velk.exe as a child process for tests of the program itself.
#pragma once

#include "tests/support/unicode_files.h"
#include "velk/host/host.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

namespace velktest {

// Runs velk.exe from the test's folder with the arguments (UTF-8, handed over as
// UTF-16, so that Japanese paths arrive whole); returns its exit code
// (-1 when it could not start, -2 when it did not end within `limitMs` and was
// stopped, which `out` then says) and appends what it printed to `out`.
// The default limit is 45 s times VELK_TEST_TIME_SCALE (set where the build runs emulated).
inline int RunVelk(const std::string& arguments, std::string& out, DWORD limitMs = 0) {
    if (limitMs == 0) {
        const char* scale = std::getenv("VELK_TEST_TIME_SCALE");
        const double factor = scale && std::atof(scale) > 0 ? std::atof(scale) : 1.0;
        limitMs = static_cast<DWORD>(45000 * factor);
    }
    // The desktop process starts with the first window of the session; made here, it
    // does not inherit the pipe's write end from the child (and keep the pipe open).
    GetDesktopWindow();
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    const std::wstring folder = Wide(velk::Host::exeDir());
    std::wstring line = L"\"" + folder + L"\\velk.exe\" " + Wide(arguments);
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &si, &pi)) {
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        return -1;
    }
    CloseHandle(writeEnd);
    // A child that does not end is stopped at the limit, which also ends the read below.
    std::atomic<bool> overdue{false};
    std::thread guard([&] {
        if (WaitForSingleObject(pi.hProcess, limitMs) == WAIT_TIMEOUT) {
            overdue = true;
            TerminateProcess(pi.hProcess, 99);
        }
    });
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got) out.append(buffer, got);
    guard.join();
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    if (overdue) {
        out += "\n[velk.exe " + arguments + " did not end within " + std::to_string(limitMs) + " ms and was stopped]\n";
        code = static_cast<DWORD>(-2);
    }
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(readEnd);
    return static_cast<int>(code);
}

}  // namespace velktest
