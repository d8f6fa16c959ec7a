#include "velk/common/paths.h"

#include "velk/common/text.h"

#include <windows.h>

namespace velk {

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Reserved as devices in every folder: CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$,
// CONOUT$, with or without an extension and trailing blanks or dots.
std::string deviceOfName(const std::string& name) {
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && (base.back() == ' ' || base.back() == '.')) base.pop_back();
    const std::string b = lowerAscii(base);
    static const char* const fixed[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* d : fixed)
        if (b == d) return base;
    if (b.size() == 4 && (b.compare(0, 3, "com") == 0 || b.compare(0, 3, "lpt") == 0) && b[3] >= '0' && b[3] <= '9')
        return base;
    return std::string();
}

}  // namespace

std::string fullPath(const std::string& path) {
    char buffer[MAX_PATH * 4];
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
    if (n == 0 || n >= sizeof buffer) return path;
    return std::string(buffer, n);
}

// Makes the folders of `file` that do not exist yet; false with the folder that
// could not be made.
bool makeFolders(const std::string& file, std::string& failed, DWORD& code) {
    for (size_t i = 0; i < file.size(); ++i) {
        if (!isSeparator(file[i])) continue;
        const std::string dir = file.substr(0, i);
        if (dir.empty() || (dir.size() == 2 && dir[1] == ':') || dir == "\\\\" || dir == "\\\\." || dir == "\\\\?")
            continue;
        const DWORD attributes = GetFileAttributesA(dir.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            if (attributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            failed = dir;
            code = ERROR_DIRECTORY;
            return false;
        }
        if (!CreateDirectoryA(dir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            failed = dir;
            code = GetLastError();
            return false;
        }
    }
    return true;
}

std::string systemErrorText(unsigned long code) {
    const char* what = nullptr;
    switch (code) {
        case ERROR_FILE_NOT_FOUND: what = "not found"; break;
        case ERROR_PATH_NOT_FOUND: what = "folder not found"; break;
        case ERROR_ACCESS_DENIED: what = "access denied"; break;
        case ERROR_SHARING_VIOLATION: what = "in use by another program"; break;
        case ERROR_WRITE_PROTECT: what = "write-protected"; break;
        case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: what = "the disk is full"; break;
        case ERROR_INVALID_NAME: what = "not a valid name"; break;
        case ERROR_DIRECTORY: what = "not a folder"; break;
        case ERROR_FILENAME_EXCED_RANGE: what = "the path is too long"; break;
        default: what = "error"; break;
    }
    return std::string(what) + " (" + std::to_string(code) + ")";
}

std::string comparablePath(const std::string& path) {
    std::string p = path;
    for (char& c : p)
        if (c == '/') c = '\\';
    p = fullPath(p);
    while (p.size() > 3 && isSeparator(p.back())) p.pop_back();
    return lowerAscii(p);
}

std::string deviceNamed(const std::string& path) {
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && !isSeparator(path[i])) continue;
        std::string part = path.substr(start, i - start);
        if (start == 0 && part.size() == 2 && part[1] == ':') part.clear();  // the drive
        const std::string device = deviceOfName(part);
        if (!device.empty()) return device;
        start = i + 1;
    }
    // What the system itself takes for a device.
    const std::string full = fullPath(path);
    if (full.compare(0, 4, "\\\\.\\") == 0) return full.substr(4);
    return std::string();
}

}  // namespace velk
