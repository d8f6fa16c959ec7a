#include "velk/experiment/output_files.h"

#include "velk/common/paths.h"

#include <windows.h>

#include <map>
#include <utility>

namespace velk {

namespace {

// A planned file the check has opened: kept open until the check ends, so that a
// later name of the same file finds it by its identity even when it did not exist
// before.
struct OpenedFile {
    const PlannedFile* file;
    HANDLE handle;
    bool created;  // removed again at the end of the check
};

class OutputCheck {
public:
    OutputCheck(const std::vector<InputFile>& inputs, const std::string& sheetName) : sheetName_(sheetName) {
        for (const InputFile& in : inputs)
            if (!in.path.empty()) inputs_.push_back({&in, comparablePath(in.path), fileIdentity(in.path)});
    }
    // Every file the check opened is closed, and removed when the check made it.
    ~OutputCheck() {
        for (const OpenedFile& o : opened_) {
            CloseHandle(o.handle);
            if (o.created) DeleteFileW(widePath(o.file->path).c_str());
        }
    }

    bool check(const PlannedFile& f, std::string& error) {
        // A file the command line asks for has no worksheet line.
        const std::string where = f.line > 0 ? sheetName_ + ":" + std::to_string(f.line) + ": file '" + f.written + "'"
                                             : f.owner + " '" + f.written + "'";
        const std::string device = deviceNamed(f.path);
        if (!device.empty()) {
            error = where + " names the device " + device + ", not a file; choose another name";
            return false;
        }
        // By name first: the same full path whether or not the file exists.
        const std::wstring key = comparablePath(f.path);
        for (const Input& in : inputs_)
            if (comparePathText(in.key, key) == 0) {
                error = where + " is " + in.file->what + " (" + fullPath(f.path) + ")";
                return false;
            }
        auto named = byName_.emplace(key, &f);
        if (!named.second) {
            error = sameAs(where, *named.first->second, f);
            return false;
        }
        std::string folder;
        DWORD code = 0;
        if (!makeFolders(f.path, folder, code)) {
            error = where + ": cannot make the folder " + folder + ": " + systemErrorText(code);
            return false;
        }
        // Opened as the recording will be, but without truncating what is there, and
        // shared, so that a second name of the file opens it as well.
        HANDLE h = CreateFileW(widePath(f.path).c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            code = GetLastError();
            const DWORD attributes = GetFileAttributesW(widePath(f.path).c_str());
            error = where + " cannot be written: " +
                    (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                         ? std::string("it is a folder")
                         : systemErrorText(code)) +
                    " (" + fullPath(f.path) + ")";
            return false;
        }
        const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
        opened_.push_back({&f, h, !existed});
        if (GetFileType(h) != FILE_TYPE_DISK) {
            error = where + " is a device, not a file (" + fullPath(f.path) + ")";
            return false;
        }
        // By identity: another name of a file that exists (a hard link, a short name,
        // a path through a linked folder) or of one an earlier name has just made.
        const FileIdentity id = fileIdentity(h);
        for (const Input& in : inputs_)
            if (in.identity == id) {
                error = where + " is " + in.file->what + " (" + fullPath(f.path) + ")";
                return false;
            }
        if (id.known) {
            auto same = byIdentity_.emplace(std::make_pair(id.volume, id.index), &f);
            if (!same.second) {
                error = sameAs(where, *same.first->second, f);
                return false;
            }
        }
        return true;
    }

private:
    struct Input {
        const InputFile* file;
        std::wstring key;
        FileIdentity identity;
    };

    static std::string sameAs(const std::string& where, const PlannedFile& earlier, const PlannedFile& f) {
        return where + " is the file " + earlier.owner + " (line " + std::to_string(earlier.line) +
               ") writes: " + fullPath(f.path);
    }

    const std::string& sheetName_;
    std::vector<Input> inputs_;
    std::vector<OpenedFile> opened_;
    std::map<std::wstring, const PlannedFile*, PathTextLess> byName_;
    std::map<std::pair<DWORD, uint64_t>, const PlannedFile*> byIdentity_;
};

}  // namespace

bool checkOutputFiles(const std::vector<PlannedFile>& files, const std::vector<InputFile>& inputs,
                      const std::string& sheetName, std::string& error) {
    OutputCheck check(inputs, sheetName);
    for (const PlannedFile& f : files)
        if (!check.check(f, error)) return false;
    return true;
}

}  // namespace velk
