#include "velk/common/paths.h"

#include "velk/common/strings.h"
#include "velk/common/text.h"

#include <shlwapi.h>

namespace velk {

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }
bool isSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

// Reserved as devices in every folder: CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$,
// CONOUT$, with or without an extension and trailing blanks or dots.
// Device names are ASCII: folding A-Z of UTF-8 text touches no other character.
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

std::wstring fullWide(const std::wstring& path) {
    if (path.empty()) return path;
    DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring full(n, L'\0');
    n = GetFullPathNameW(path.c_str(), n, &full[0], nullptr);
    if (n == 0 || n >= full.size()) return path;
    full.resize(n);
    return full;
}

// The system's own text for an error code, without its closing full stop and line end.
std::string systemMessage(unsigned long code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = n > 0 && text ? std::wstring(text, n) : std::wstring();
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ' ||
                                message.back() == L'.' || message.back() == L'\x3002'))
        message.pop_back();
    return utf8Path(message);
}

}  // namespace

std::wstring widePath(const std::string& path) { return utf8ToWide(path); }

std::string utf8Path(const std::wstring& path) {
    if (path.empty()) return std::string();
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), &text[0], n, nullptr, nullptr);
    return text;
}

std::string fullPath(const std::string& path) { return utf8Path(fullWide(widePath(path))); }

std::wstring comparablePath(const std::string& path) {
    std::wstring p = fullWide(widePath(path));
    while (p.size() > 3 && isSeparator(p.back())) p.pop_back();
    return p;
}

int comparePathText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) -
           CSTR_EQUAL;
}

bool samePathText(const std::string& a, const std::string& b) {
    return comparePathText(comparablePath(a), comparablePath(b)) == 0;
}

FileIdentity fileIdentity(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    FileIdentity id;
    if (file == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file, &info)) return id;
    id.known = true;
    id.volume = info.dwVolumeSerialNumber;
    id.index = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    return id;
}

FileIdentity fileIdentity(const std::string& path) {
    // No access asked for: the identity can be read while another program writes
    // the file; a folder opens with backup semantics.
    HANDLE h = CreateFileW(widePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return FileIdentity();
    const FileIdentity id = fileIdentity(h);
    CloseHandle(h);
    return id;
}

bool sameFile(const std::string& a, const std::string& b) {
    return samePathText(a, b) || fileIdentity(a) == fileIdentity(b);
}

std::string relativePath(const std::string& folder, const std::string& target) {
    const std::wstring from = comparablePath(folder);
    const std::wstring to = comparablePath(target);
    std::wstring result = to;
    // Relative only below a common folder: a path that shares nothing but the drive
    // says more in full.
    const wchar_t* afterRoot = PathSkipRootW(from.c_str());
    const int root = afterRoot ? static_cast<int>(afterRoot - from.c_str()) : 0;
    wchar_t relative[MAX_PATH];
    if (PathCommonPrefixW(from.c_str(), to.c_str(), nullptr) > root &&
        PathRelativePathToW(relative, from.c_str(), FILE_ATTRIBUTE_DIRECTORY, to.c_str(), FILE_ATTRIBUTE_DIRECTORY)) {
        result = relative;
        if (result.compare(0, 2, L".\\") == 0) result.erase(0, 2);
        if (result.empty()) result = L".";
    }
    for (wchar_t& c : result)
        if (c == L'\\') c = L'/';
    return utf8Path(result);
}

// Makes the folders of `file` that do not exist yet; false with the folder that
// could not be made. The path is taken apart as UTF-16, where a separator is
// never part of another character.
bool makeFolders(const std::string& file, std::string& failed, DWORD& code) {
    const std::wstring path = widePath(file);
    for (size_t i = 0; i < path.size(); ++i) {
        if (!isSeparator(path[i])) continue;
        const std::wstring dir = path.substr(0, i);
        if (dir.empty() || (dir.size() == 2 && dir[1] == L':') || dir == L"\\\\" || dir == L"\\\\." ||
            dir == L"\\\\?")
            continue;
        const DWORD attributes = GetFileAttributesW(dir.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            if (attributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            failed = utf8Path(dir);
            code = ERROR_DIRECTORY;
            return false;
        }
        if (!CreateDirectoryW(dir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            code = GetLastError();
            failed = utf8Path(dir);
            return false;
        }
    }
    return true;
}

std::string systemErrorText(unsigned long code) {
    std::string what;
    switch (code) {
        case ERROR_SUCCESS: what = "the system gave no reason"; break;  // a hook refused a window, say
        case ERROR_FILE_NOT_FOUND: what = "not found"; break;
        case ERROR_PATH_NOT_FOUND: what = "folder not found"; break;
        case ERROR_ACCESS_DENIED: what = "access denied"; break;
        case ERROR_SHARING_VIOLATION: what = "in use by another program"; break;
        case ERROR_WRITE_PROTECT: what = "write-protected"; break;
        case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: what = "the disk is full"; break;
        case ERROR_INVALID_NAME: what = "not a valid name"; break;
        case ERROR_DIRECTORY: what = "not a folder"; break;
        case ERROR_FILENAME_EXCED_RANGE: what = "the path is too long"; break;
        default: what = systemMessage(code); break;
    }
    return (what.empty() ? std::string("error") : what) + " (" + std::to_string(code) + ")";
}

std::string deviceNamed(const std::string& path) {
    // UTF-8 is taken apart at its separators byte by byte: no byte of a character
    // beyond ASCII is '/' or '\'.
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
