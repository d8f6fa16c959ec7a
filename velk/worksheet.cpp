#include "velk/worksheet.h"

#include "velk/text.h"

#include <errno.h>
#include <math.h>
#include <stdlib.h>

#include <fstream>
#include <set>
#include <sstream>

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

namespace {

std::string trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\t' || s[a] == '\r')) ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r')) --b;
    return s.substr(a, b - a);
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Removes a comment: a ';' or '#' at the start of the line or after a blank.
std::string stripComment(const std::string& line) {
    for (size_t i = 0; i < line.size(); ++i) {
        if ((line[i] == ';' || line[i] == '#') && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t'))
            return line.substr(0, i);
    }
    return line;
}

bool parseDouble(const std::string& text, double& out) {
    if (text.empty()) return false;
    for (char c : text)
        if (c == ',') return false;
    char* end = nullptr;
    errno = 0;
    const double v = strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str() || *end != 0 || !isfinite(v)) return false;
    out = v;
    return true;
}

bool parseWhole(const std::string& text, long long& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != 0) return false;
    out = v;
    return true;
}

const char* const kBufferSizes[] = {"64k", "128k", "256k", "512k", "1m", "2m", "4m", "8m"};

enum class Section { None, Experiment, Module, Connect, Record, Card };

class Parser {
public:
    Parser(const std::string& source, const std::string& baseDir) : source_(source) { r_.sheet.baseDir = baseDir; }

    WorksheetResult run(const std::string& text) {
        std::istringstream in(text);
        std::string raw;
        int line = 0;
        while (std::getline(in, raw)) {
            ++line;
            if (line == 1 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) raw.erase(0, 3);
            if (!handle(raw, line)) return r_;
        }
        check();
        return r_;
    }

private:
    bool fail(int line, const std::string& what) {
        if (r_.error.empty()) {
            r_.error = source_ + ":" + std::to_string(line) + ": " + what;
            r_.errorLine = line;
        }
        return false;
    }

    bool handle(const std::string& raw, int line) {
        if (section_ == Section::Card) {
            const std::string t = trim(raw);
            if (t.empty() || t[0] != '[') {
                r_.sheet.cardText += raw + "\n";
                return true;
            }
        }
        const std::string text = trim(stripComment(raw));
        if (text.empty()) return true;
        if (text[0] == '[') return header(text, line);
        switch (section_) {
            case Section::None: return fail(line, "text outside a section: " + text);
            case Section::Connect: return connection(text, line);
            default: break;
        }
        const size_t eq = text.find('=');
        if (eq == std::string::npos) return fail(line, "expected 'key = value': " + text);
        const std::string key = lower(trim(text.substr(0, eq)));
        const std::string value = trim(text.substr(eq + 1));
        if (key.empty()) return fail(line, "a key is missing before '='");
        if (!seenKeys_.insert(key).second) return fail(line, "'" + key + "' given twice in this section");
        switch (section_) {
            case Section::Experiment: return experimentKey(key, value, line);
            case Section::Module: return moduleKey(key, value, line);
            case Section::Record: return recordKey(key, value, line);
            default: return fail(line, "unexpected line");
        }
    }

    bool header(const std::string& text, int line) {
        if (text.back() != ']') return fail(line, "a section header must end with ']': " + text);
        const std::string inner = trim(text.substr(1, text.size() - 2));
        const size_t blank = inner.find_first_of(" \t");
        const std::string kind = lower(inner.substr(0, blank));
        const std::string arg = blank == std::string::npos ? "" : trim(inner.substr(blank));
        seenKeys_.clear();
        if (kind == "experiment" && arg.empty()) {
            if (seenExperiment_) return fail(line, "[experiment] given twice");
            seenExperiment_ = true;
            section_ = Section::Experiment;
        } else if (kind == "module") {
            if (!validId(arg)) return fail(line, "[module NAME] needs a name of letters, digits, '_' or '-'");
            if (r_.sheet.findModule(arg)) return fail(line, "module '" + arg + "' defined twice");
            ModuleDef m;
            m.id = arg;
            m.line = line;
            r_.sheet.modules.push_back(m);
            classSeen_.push_back(false);
            section_ = Section::Module;
        } else if (kind == "connect" && arg.empty()) {
            section_ = Section::Connect;
        } else if (kind == "record") {
            if (!validId(arg)) return fail(line, "[record MODULE] needs the name of a module");
            for (const RecordDef& rec : r_.sheet.records)
                if (rec.module == arg) return fail(line, "module '" + arg + "' recorded twice");
            RecordDef rec;
            rec.module = arg;
            rec.line = line;
            r_.sheet.records.push_back(rec);
            section_ = Section::Record;
        } else if (kind == "card" || kind == "fault") {
            // The simulated card's own sections, handed to its driver as they stand.
            r_.sheet.cardText += text + "\n";
            section_ = Section::Card;
        } else {
            return fail(line, "unknown section [" + inner + "]");
        }
        return true;
    }

    static bool validId(const std::string& id) {
        if (id.empty()) return false;
        for (char c : id)
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
                return false;
        return true;
    }

    bool number(const std::string& key, const std::string& value, int line, double& out) {
        if (!parseDouble(value, out)) return fail(line, key + ": '" + value + "' is not a number");
        return true;
    }

    bool whole(const std::string& key, const std::string& value, int line, long long lo, long long hi,
               long long& out) {
        if (!parseWhole(value, out)) return fail(line, key + ": '" + value + "' is not a whole number");
        if (out < lo || out > hi)
            return fail(line, key + " = " + value + " is out of range (" + std::to_string(lo) + " to " +
                                  std::to_string(hi) + ")");
        return true;
    }

    bool experimentKey(const std::string& key, const std::string& value, int line) {
        Worksheet& s = r_.sheet;
        double d = 0;
        long long n = 0;
        if (key == "period_ms") {
            if (!number(key, value, line, d)) return false;
            if (d <= 0) return fail(line, "period_ms must be above 0");
            s.periodMs = d;
        } else if (key == "block_size") {
            if (!whole(key, value, line, 1, 65535, n)) return false;
            s.blockSize = static_cast<uint32_t>(n);
        } else if (key == "duration_s") {
            if (!number(key, value, line, d)) return false;
            if (d <= 0) return fail(line, "duration_s must be above 0");
            s.durationS = d;
        } else if (key == "pause_at_s") {
            if (!number(key, value, line, d)) return false;
            if (d < 0) return fail(line, "pause_at_s must not be negative");
            s.pauseAtS = d;
            pauseAtLine_ = line;
        } else if (key == "pause_for_s") {
            if (!number(key, value, line, d)) return false;
            if (d < 0 || d > 3600) return fail(line, "pause_for_s must be between 0 and 3600");
            s.pauseForS = d;
        } else if (key == "output_dir") {
            if (value.empty()) return fail(line, "output_dir is empty");
            s.outputDir = value;
        } else if (key == "driver_config") {
            if (value.empty()) return fail(line, "driver_config is empty");
            s.driverConfig = value;
        } else {
            return fail(line, "unknown key '" + key + "' in [experiment]");
        }
        return true;
    }

    bool moduleKey(const std::string& key, const std::string& value, int line) {
        ModuleDef& m = r_.sheet.modules.back();
        long long n = 0;
        if (key == "class") {
            const std::string v = lower(value);
            if (v == "analog_in") m.kind = ModuleKind::AnalogIn;
            else if (v == "digital_in") m.kind = ModuleKind::DigitalIn;
            else if (v == "digital_out") m.kind = ModuleKind::DigitalOut;
            else return fail(line, "unknown class '" + value + "' (analog_in, digital_in or digital_out)");
            classSeen_.back() = true;
        } else if (key == "socket") {
            if (!whole(key, value, line, 0, 3, n)) return false;
            m.socket = static_cast<int>(n);
        } else if (key == "channels") {
            if (!whole(key, value, line, 1, 8, n)) return false;
            m.channels = static_cast<uint32_t>(n);
            channelsLine_[m.id] = line;
        } else if (key == "name") {
            if (utf8ToCp932(value).size() > 12) return fail(line, "name is longer than 12 characters");
            m.name = value;
        } else if (key == "comment") {
            if (utf8ToCp932(value).size() > 40) return fail(line, "comment is longer than 40 characters");
            m.comment = value;
        } else if (key == "range") {
            std::string v = lower(value);
            if (v.size() > 1 && v.back() == 'v') v.pop_back();
            if (v == "10" || v == "+-10" || v == "±10") m.range = 0;
            else if (v == "5" || v == "+-5" || v == "±5") m.range = 1;
            else return fail(line, "range must be 10 or 5 (volts)");
            analogOnly_[m.id].push_back({key, line});
        } else if (key == "buffer") {
            const std::string v = lower(value);
            int index = -1;
            for (int i = 0; i < 8; ++i)
                if (v == kBufferSizes[i]) index = i;
            if (index < 0) return fail(line, "buffer must be one of 64K 128K 256K 512K 1M 2M 4M 8M");
            m.bufferIndex = index;
            analogOnly_[m.id].push_back({key, line});
        } else if (key.compare(0, 7, "channel") == 0 && key.size() > 7) {
            long long index = 0;
            if (!parseWhole(key.substr(7), index) || index < 0 || index > 7)
                return fail(line, "unknown key '" + key + "' (channel0 to channel7 name channels)");
            if (value.empty()) return fail(line, key + " has no name");
            if (utf8ToCp932(value).size() > 20) return fail(line, key + ": a channel name has at most 20 characters");
            if (value.find_first_of(",\"") != std::string::npos)
                return fail(line, key + ": a channel name may not hold ',' or '\"'");
            m.channelNames[static_cast<uint32_t>(index)] = value;
            nameLines_[m.id][static_cast<uint32_t>(index)] = line;
        } else {
            return fail(line, "unknown key '" + key + "' in [module " + m.id + "]");
        }
        return true;
    }

    bool recordKey(const std::string& key, const std::string& value, int line) {
        RecordDef& rec = r_.sheet.records.back();
        if (key == "file") {
            if (value.empty()) return fail(line, "file is empty");
            for (const RecordDef& other : r_.sheet.records)
                if (&other != &rec && lower(other.file) == lower(value))
                    return fail(line, "file '" + value + "' is written by another recorder");
            rec.file = value;
        } else {
            return fail(line, "unknown key '" + key + "' in [record " + rec.module + "]");
        }
        return true;
    }

    // "ai.0 -> dout.1"
    bool connection(const std::string& text, int line) {
        const size_t arrow = text.find("->");
        if (arrow == std::string::npos) return fail(line, "expected 'module.channel -> module.channel': " + text);
        ConnectionDef c;
        c.line = line;
        if (!endpoint(trim(text.substr(0, arrow)), c.from, c.output) ||
            !endpoint(trim(text.substr(arrow + 2)), c.to, c.input))
            return fail(line, "expected 'module.channel -> module.channel': " + text);
        r_.sheet.connections.push_back(c);
        return true;
    }

    static bool endpoint(const std::string& text, std::string& module, uint32_t& channel) {
        const size_t dot = text.rfind('.');
        if (dot == std::string::npos) return false;
        module = trim(text.substr(0, dot));
        long long n = 0;
        if (!validId(module) || !parseWhole(trim(text.substr(dot + 1)), n) || n < 0 || n > 15) return false;
        channel = static_cast<uint32_t>(n);
        return true;
    }

    void check() {
        if (!r_.error.empty()) return;
        Worksheet& s = r_.sheet;
        for (size_t i = 0; i < s.modules.size(); ++i) {
            const ModuleDef& m = s.modules[i];
            if (!classSeen_[i]) {
                fail(m.line, "[module " + m.id + "] has no class");
                return;
            }
            if (m.channels && *m.channels > maxChannelsOf(m.kind)) {
                fail(channelsLine_[m.id], std::string("a ") + kindName(m.kind) + " module has at most " +
                                              std::to_string(maxChannelsOf(m.kind)) + " channels");
                return;
            }
            for (const auto& k : analogOnly_[m.id])
                if (m.kind != ModuleKind::AnalogIn) {
                    fail(k.second, k.first + " applies to analog_in modules only");
                    return;
                }
            for (const auto& n : m.channelNames)
                if (n.first >= m.channelCount()) {
                    fail(nameLines_[m.id][n.first], "channel" + std::to_string(n.first) + " names a channel beyond channels = " +
                                                        std::to_string(m.channelCount()));
                    return;
                }
        }
        for (const ConnectionDef& c : s.connections) {
            const ModuleDef* from = s.findModule(c.from);
            const ModuleDef* to = s.findModule(c.to);
            if (!from) { fail(c.line, "no module '" + c.from + "'"); return; }
            if (!to) { fail(c.line, "no module '" + c.to + "'"); return; }
            if (from->kind == ModuleKind::DigitalOut) { fail(c.line, "'" + c.from + "' has no output channels"); return; }
            if (to->kind != ModuleKind::DigitalOut) { fail(c.line, "'" + c.to + "' has no input channels"); return; }
            if (c.output >= from->channelCount()) {
                fail(c.line, "'" + c.from + "' has no output channel " + std::to_string(c.output));
                return;
            }
            if (c.input >= to->channelCount()) {
                fail(c.line, "'" + c.to + "' has no input channel " + std::to_string(c.input));
                return;
            }
        }
        for (const RecordDef& rec : s.records) {
            const ModuleDef* m = s.findModule(rec.module);
            if (!m) { fail(rec.line, "no module '" + rec.module + "' to record"); return; }
            if (m->kind == ModuleKind::DigitalOut) { fail(rec.line, "'" + rec.module + "' has no output channels to record"); return; }
            if (rec.file.empty()) { fail(rec.line, "[record " + rec.module + "] has no file"); return; }
        }
        if (s.pauseAtS && *s.pauseAtS >= s.durationS) fail(pauseLine(), "pause_at_s lies beyond duration_s");
    }

    int pauseLine() const { return pauseAtLine_; }
    int pauseAtLine_ = 0;

    std::string source_;
    WorksheetResult r_;
    Section section_ = Section::None;
    bool seenExperiment_ = false;
    std::set<std::string> seenKeys_;
    std::vector<bool> classSeen_;
    std::map<std::string, int> channelsLine_;
    std::map<std::string, std::vector<std::pair<std::string, int>>> analogOnly_;
    std::map<std::string, std::map<uint32_t, int>> nameLines_;
};

}  // namespace

WorksheetResult parseWorksheet(const std::string& text, const std::string& sourceName, const std::string& baseDir) {
    Parser p(sourceName, baseDir);
    return p.run(text);
}

WorksheetResult loadWorksheet(const std::string& path) {
    const std::string file = windowsPath(path);
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        WorksheetResult r;
        r.error = file + ": cannot be read";
        return r;
    }
    std::ostringstream text;
    text << in.rdbuf();
    const size_t cut = file.find_last_of("/\\");
    const std::string name = cut == std::string::npos ? file : file.substr(cut + 1);
    WorksheetResult r = parseWorksheet(text.str(), name, folderOf(file));
    r.sheet.path = file;
    return r;
}

}  // namespace velk
