#include "velk/experiment/output_files.h"

#include "velk/common/paths.h"
#include "velk/common/text.h"

#include <windows.h>

#include <map>

namespace velk {

bool checkOutputFiles(const std::vector<PlannedFile>& files, const std::vector<InputFile>& inputs,
                      const std::string& sheetName, std::string& error) {
    std::map<std::string, const PlannedFile*> taken;
    for (const PlannedFile& f : files) {
        // A file the command line asks for has no worksheet line.
        const std::string where = f.line > 0 ? cp932ToUtf8(sheetName) + ":" + std::to_string(f.line) + ": file '" + f.written + "'"
                                             : f.owner + " '" + f.written + "'";
        const std::string device = deviceNamed(f.path);
        if (!device.empty()) {
            error = where + " names the device " + device + ", not a file; choose another name";
            return false;
        }
        const std::string key = comparablePath(f.path);
        for (const InputFile& in : inputs)
            if (!in.path.empty() && comparablePath(in.path) == key) {
                error = where + " is " + in.what + " (" + cp932ToUtf8(fullPath(f.path)) + ")";
                return false;
            }
        auto it = taken.emplace(key, &f);
        if (!it.second) {
            error = where + " is the file " + it.first->second->owner + " (line " +
                    std::to_string(it.first->second->line) + ") writes: " + cp932ToUtf8(fullPath(f.path));
            return false;
        }
        std::string folder;
        DWORD code = 0;
        if (!makeFolders(f.path, folder, code)) {
            error = where + ": cannot make the folder " + cp932ToUtf8(folder) + ": " + systemErrorText(code);
            return false;
        }
        // Opened as the recording will be, but without truncating what is there.
        HANDLE h = CreateFileA(f.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            code = GetLastError();
            const DWORD attributes = GetFileAttributesA(f.path.c_str());
            error = where + " cannot be written: " +
                    (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                         ? std::string("it is a folder")
                         : systemErrorText(code)) +
                    " (" + cp932ToUtf8(fullPath(f.path)) + ")";
            return false;
        }
        const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
        const DWORD type = GetFileType(h);
        CloseHandle(h);
        if (!existed) DeleteFileA(f.path.c_str());
        if (type != FILE_TYPE_DISK) {
            error = where + " is a device, not a file (" + cp932ToUtf8(fullPath(f.path)) + ")";
            return false;
        }
    }
    return true;
}

}  // namespace velk
