// Writing a saved worksheet: the experiment as it was read, and each module as Velk
// keeps it now (record and private data area), in a file that runs as it stands.
#include "velk/worksheet/field_text.h"
#include "velk/common/paths.h"
#include "velk/experiment/output_files.h"
#include "velk/experiment/runner.h"
#include "velk/experiment/saved_state.h"
#include "velk/common/strings.h"
#include "velk/common/text.h"
#include "velk/worksheet/worksheet_rules.h"

#include <windows.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <sstream>

namespace velk {

namespace {

// The shortest text that reads back as the same number.
std::string number(double v) { return formatNumber(v); }

// Whether a value reads back from `key = value` as it stands: no blanks at its ends
// and no comment in it.
bool plainValue(const std::string& v) {
    if (v.empty()) return true;
    if (v.front() == ' ' || v.front() == '\t' || v.back() == ' ' || v.back() == '\t') return false;
    if (v.front() == ';' || v.front() == '#') return false;
    for (size_t i = 1; i < v.size(); ++i)
        if ((v[i] == ';' || v[i] == '#') && (v[i - 1] == ' ' || v[i - 1] == '\t')) return false;
    return true;
}

// A text of the module record (code page 932) as a worksheet value, if it reads
// back as the same bytes. A mistake is said with the line of the module's worksheet
// that gave the text (or its section's).
bool recordText(const char* field, size_t room, const TextField& kind, const std::string& where,
                const std::string& id, std::string& utf8, std::string& error) {
    size_t n = 0;
    while (n < room && field[n]) ++n;
    const std::string bytes(field, n);
    utf8 = cp932ToUtf8(bytes);
    std::string back, why;
    if (!fieldText(utf8, kind, back, why) || back != bytes || !plainValue(utf8)) {
        error = where + ": module " + clipText(id) + ": its " + kind.what + " (" + hexBytes(bytes) +
                ") cannot be written as a worksheet value" + (why.empty() ? "" : ": " + why) +
                "; a blank followed by ';' or '#' starts a comment and blanks at the ends are dropped";
        return false;
    }
    return true;
}

void hexLines(std::ostringstream& s, const std::string& area) {
    for (size_t at = 0; at < area.size(); at += 16) {
        char key[16];
        snprintf(key, sizeof key, "area_%03u =", static_cast<unsigned>(at));
        s << key << ' ' << hexBytes(std::string_view(area).substr(at, 16)) << "\n";
    }
}

bool moduleSection(std::ostringstream& s, const Worksheet& w, Host& host, const ModuleRun& r, std::string& error) {
    const ModuleDef& def = *r.def;
    const ModuleRecord* m = r.record;
    std::string name, comment;
    if (!recordText(m->moduleName, sizeof m->moduleName, kModuleNameField, w.at(def.lineOf("name")), def.id, name,
                    error) ||
        !recordText(m->moduleComment, sizeof m->moduleComment, kModuleCommentField, w.at(def.lineOf("comment")),
                    def.id, comment, error))
        return false;
    const std::string area = host.privateArea(m);
    s << "\n[module " << def.id << "]\n";
    s << "class   = " << kindName(def.kind) << "\n";
    if (!name.empty()) s << "name    = " << name << "\n";
    if (!comment.empty()) s << "comment = " << comment << "\n";
    s << "inputs  = " << m->inputCount << "\n";
    s << "outputs = " << m->outputCount << "\n";
    if (def.kind != ModuleKind::DigitalOut)
        for (uint32_t c = 0; c < m->outputCount && c < Host::kMaxChannels; ++c)
            s << "column" << c << " = " << def.channelLabel(c) << "\n";
    s << "; Its private data area (" << area.size() << " bytes) as the module left it:\n";
    for (const std::string& line : describeArea(def.kind, area)) s << ";   " << line << "\n";
    hexLines(s, area);
    return true;
}

bool writeWhole(const std::string& path, const std::string& text, std::string& error) {
    const std::string folder = folderOf(path);
    wchar_t temp[MAX_PATH];
    if (!GetTempFileNameW(widePath(folder).c_str(), L"vws", 0, temp)) {
        error = path + " cannot be written: " + systemErrorText(GetLastError());
        return false;
    }
    HANDLE h = CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    bool ok = h != INVALID_HANDLE_VALUE &&
              WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
    DWORD code = GetLastError();
    if (h != INVALID_HANDLE_VALUE && !CloseHandle(h) && ok) {
        ok = false;
        code = GetLastError();
    }
    // The file is replaced whole, never left half written.
    if (ok && !MoveFileExW(temp, widePath(path).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        ok = false;
        code = GetLastError();
    }
    if (!ok) {
        DeleteFileW(temp);
        error = path + " cannot be written: " + systemErrorText(code);
    }
    return ok;
}

}  // namespace

bool savedWorksheetText(Experiment& e, const std::string& path, const std::string& when, std::string& text,
                        std::string& error) {
    const Worksheet& w = e.sheet();
    const std::string folder = folderOf(windowsPath(path));
    std::ostringstream s;
    s << "; Saved by velk run from " << w.name << " " << when << ".\n"
      << "; Each module comes back as Velk keeps it: its record's channel counts and texts\n"
      << "; and its private data area byte for byte (area_NNN: the bytes from byte NNN, in\n"
      << "; hex). It is restored without its create code or dialog and then asked whether\n"
      << "; its card is there (the device check). columnN names a recording's column.\n"
      << "; See docs/worksheets.md.\n\n";
    s << "[experiment]\n";
    s << "period_ms     = " << number(w.periodMs) << "\n";
    s << "block_size    = " << w.blockSize << "\n";
    s << "duration_s    = " << number(w.durationS) << "\n";
    if (w.pauseAtS) {
        s << "pause_at_s    = " << number(*w.pauseAtS) << "\n";
        s << "pause_for_s   = " << number(w.pauseForS) << "\n";
    }
    // Paths as the worksheet wrote them when the new file is beside it or they are
    // absolute; otherwise from the new file's folder to where they led.
    const bool beside = sameFile(folder, w.baseDir);
    auto rebased = [&](const std::string& p) {
        return beside || isAbsolutePath(p) ? p : relativePath(folder, w.resolve(p));
    };
    const std::string outputs = w.outputDir == "." ? rebased(".") : rebased(w.outputDir);
    if (outputs != ".") s << "output_dir    = " << outputs << "\n";
    if (!w.driverConfig.empty()) s << "driver_config = " << rebased(w.driverConfig) << "\n";
    for (const ModuleRun& r : e.modules())
        if (!moduleSection(s, w, e.host(), r, error)) return false;
    if (!w.connections.empty()) {
        s << "\n[connect]\n";
        for (const ConnectionDef& c : w.connections)
            s << c.from << "." << c.output << " -> " << c.to << "." << c.input << "\n";
    }
    for (const RecordDef& rec : w.records) s << "\n[record " << rec.module << "]\nfile = " << rec.file << "\n";
    if (!w.cardText.empty()) s << "\n" << w.cardText;
    text = s.str();
    return true;
}

bool StateSaver::check(const Experiment& e, std::string& error) const {
    const Worksheet& w = e.sheet();
    if (request_.atSeconds) {
        const double at = *request_.atSeconds;
        bool sources = false;
        for (const ModuleDef& m : w.modules) sources = sources || m.kind != ModuleKind::DigitalOut;
        // The state is saved between two rounds; the round that brings the last
        // block ends the run, so the last point is the end of the block before.
        const double block = blockSeconds(w);
        const uint64_t last = blocksNeeded(w);
        if (sources && ceil(at / block - 1e-9) >= static_cast<double>(last)) {
            error = "--save-at " + formatNumber(at) + " is never reached: the run ends when the data reach " +
                    fmtNumber("%g", coveredSeconds(w)) + " s (blocks of " + fmtNumber("%g", block) +
                    " s); the last point to save during the run is " +
                    fmtNumber("%g", static_cast<double>(last - 1) * block) + " s";
            return false;
        }
    }
    std::vector<PlannedFile> files;
    for (const RecordDef& rec : w.records)
        files.push_back({e.recordingPath(rec), rec.file, "[record " + rec.module + "]", rec.fileLine});
    files.push_back({windowsPath(request_.path), request_.path, "--save", 0});
    std::vector<InputFile> inputs;
    if (!w.path.empty()) inputs.push_back({w.path, "the worksheet itself"});
    if (!w.driverConfig.empty()) inputs.push_back({w.resolve(w.driverConfig), "the card configuration"});
    return checkOutputFiles(files, inputs, w.name, error);
}

void StateSaver::arm(Experiment& e, std::ostream& out) {
    if (!wanted() || !request_.atSeconds) return;
    const std::string when = "during the run, once the data reached " + formatNumber(*request_.atSeconds) + " s";
    e.atDataTime(*request_.atSeconds, [this, &e, &out, when] { save(e, when, out); });
}

bool StateSaver::finish(Experiment& e, std::ostream& out) {
    if (!request_.atSeconds) return save(e, "after the run", out);
    if (!saved_ && !failed_)
        out << "error: the data did not reach --save-at " << formatNumber(*request_.atSeconds)
            << " s before the run ended; " << windowsPath(request_.path) << " was not written\n";
    return saved_;
}

bool StateSaver::save(Experiment& e, const std::string& when, std::ostream& out) {
    const std::string path = windowsPath(request_.path);
    std::string text, error;
    if (!savedWorksheetText(e, path, when, text, error) || !writeWhole(path, text, error)) {
        failed_ = true;
        out << "error: the state was not saved: " << error << "\n";
        return false;
    }
    saved_ = true;
    out << "saved the modules' state to " << path << " (" << when << ")\n";
    out.flush();
    return true;
}

}  // namespace velk
