#include "velk/worksheet/worksheet.h"

#include "velk/common/paths.h"

#include <windows.h>

namespace velk {

const char* classIdOf(ModuleKind kind) {
    switch (kind) {
        case ModuleKind::AnalogIn: return "KA:MMTK17";
        case ModuleKind::DigitalIn: return "KA:MMTK17DI";
        case ModuleKind::DigitalOut: return "KA:MMTK17DO";
    }
    return "";
}

const char* kindName(ModuleKind kind) {
    switch (kind) {
        case ModuleKind::AnalogIn: return "analog_in";
        case ModuleKind::DigitalIn: return "digital_in";
        case ModuleKind::DigitalOut: return "digital_out";
    }
    return "";
}

uint32_t maxChannelsOf(ModuleKind kind) { return kind == ModuleKind::AnalogIn ? 8 : 4; }

std::string ModuleDef::channelLabel(uint32_t i) const {
    if (saved) {
        auto column = saved->columns.find(i);
        if (column != saved->columns.end()) return column->second;
    }
    auto it = channelNames.find(i);
    return it != channelNames.end() ? it->second : "ch" + std::to_string(i);
}

const ModuleDef* Worksheet::findModule(const std::string& id) const {
    for (const ModuleDef& m : modules)
        if (m.id == id) return &m;
    return nullptr;
}

bool isAbsolutePath(const std::string& p) {
    if (p.empty()) return false;
    if (p[0] == '/' || p[0] == '\\') return true;
    return p.size() >= 2 && p[1] == ':';
}

std::string windowsPath(const std::string& p) {
    if (!p.empty() && p[0] == '/' && (p.size() < 2 || p[1] != '/')) return "Z:" + p;
    return p;
}

std::string folderOf(const std::string& p) {
    const size_t cut = p.find_last_of("/\\");
    if (cut == std::string::npos) return ".";
    if (cut == 0) return p.substr(0, 1);
    if (cut == 2 && p[1] == ':') return p.substr(0, 3);
    return p.substr(0, cut);
}

std::string Worksheet::resolve(const std::string& p) const {
    if (isAbsolutePath(p)) return windowsPath(p);
    if (baseDir.empty() || baseDir == ".") return p;
    const char last = baseDir.back();
    return baseDir + (last == '/' || last == '\\' ? "" : "/") + p;
}

int ModuleDef::lineOf(const std::string& key) const {
    auto it = keyLines.find(key);
    return it != keyLines.end() ? it->second : line;
}

int Worksheet::lineOf(const std::string& key) const {
    auto it = keyLines.find(key);
    if (it != keyLines.end()) return it->second;
    return experimentLine > 0 ? experimentLine : 1;
}

std::string Worksheet::at(int line) const { return name + ":" + std::to_string(line > 0 ? line : 1); }

WorksheetResult loadWorksheet(const std::string& path) {
    const std::string file = windowsPath(path);
    WorksheetResult r;
    HANDLE in = CreateFileW(widePath(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) {
        r.error = file + ": cannot be read";
        return r;
    }
    // Read no more than a worksheet can be, whatever the path names (a device such
    // as /dev/zero never ends).
    std::string text;
    char chunk[65536];
    DWORD got = 0;
    bool ok = true;
    while (text.size() <= kMaxWorksheetBytes && (ok = ReadFile(in, chunk, sizeof chunk, &got, nullptr) != 0) && got > 0)
        text.append(chunk, got);
    CloseHandle(in);
    if (!ok) {
        r.error = file + ": cannot be read";
        return r;
    }
    if (text.size() > kMaxWorksheetBytes) {
        r.error = file + ": larger than " + std::to_string(kMaxWorksheetBytes >> 20) +
                  " MB; a worksheet is a small text file";
        return r;
    }
    const size_t cut = file.find_last_of("/\\");
    const std::string name = cut == std::string::npos ? file : file.substr(cut + 1);
    r = parseWorksheet(text, name, folderOf(file));
    r.sheet.path = file;
    return r;
}

}  // namespace velk
