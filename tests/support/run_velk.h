// Runs bin\velk.exe as a child process for tests of the program itself.
#pragma once

#include "velk/host.h"

#include <windows.h>

#include <string>

namespace velktest {

// Runs velk.exe from the test's folder with the arguments; returns its exit code
// (-1 when it could not start) and appends what it printed to `out`.
inline int RunVelk(const std::string& arguments, std::string& out) {
    // The desktop process starts with the first window of the session; made here, it
    // does not inherit the pipe's write end from the child (and keep the pipe open).
    GetDesktopWindow();
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    const std::string folder = velk::Host::exeDir();
    std::string line = "\"" + folder + "\\velk.exe\" " + arguments;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &si, &pi)) {
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        return -1;
    }
    CloseHandle(writeEnd);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got) out.append(buffer, got);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(readEnd);
    return static_cast<int>(code);
}

}  // namespace velktest
