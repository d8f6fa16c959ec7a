// Reading worksheet text: sections, keys and values, each checked where it is read.
#include "velk/worksheet/field_text.h"
#include "velk/worksheet/saved_module.h"
#include "velk/common/strings.h"
#include "velk/common/text.h"
#include "velk/worksheet/worksheet.h"
#include "velk/worksheet/worksheet_rules.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <unordered_set>

namespace velk {

namespace {

// Blanks at a line's or a value's ends: space, tab and a CR left by a line end.
std::string trim(const std::string& s) { return velk::trim(s, " \t\r"); }

// Keys and words of the worksheet; UTF-8, so only ASCII letters change.
std::string lower(const std::string& s) { return lowerAscii(s); }

// Removes a comment: a ';' or '#' at the start of the line or after a blank.
std::string stripComment(const std::string& line) {
    for (size_t i = 0; i < line.size(); ++i) {
        if ((line[i] == ';' || line[i] == '#') && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t'))
            return line.substr(0, i);
    }
    return line;
}

// Worksheet text in a message: a long line is quoted by its beginning.
std::string clip(const std::string& text) { return clipText(text); }

// The key a numbered key of a module stands for: "channel007" is "channel7" and
// "column00" is "column0", so that one key given twice in two spellings is found.
// Other keys as they are.
std::string keyId(const std::string& key) {
    for (const char* prefix : {"channel", "column"}) {
        const size_t n = strlen(prefix);
        if (key.size() <= n || key.compare(0, n, prefix) != 0) continue;
        if (key.find_first_not_of("0123456789", n) != std::string::npos) return key;
        const size_t first = std::min(key.find_first_not_of('0', n), key.size() - 1);
        return prefix + key.substr(first);
    }
    return key;
}

const char* const kBufferSizes[] = {"64k", "128k", "256k", "512k", "1m", "2m", "4m", "8m"};

enum class Section { None, Experiment, Module, Connect, Record, Card };

// Reads the text line by line; every look-up is by key, so the time taken grows
// with the text and not with its square.
class Parser {
public:
    Parser(const std::string& source, const std::string& baseDir) : source_(source) {
        r_.sheet.baseDir = baseDir;
        r_.sheet.name = source;
    }

    WorksheetResult run(const std::string& text) {
        if (text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0) {
            fail(1, "the worksheet is UTF-16 text; save it as UTF-8");
            return r_;
        }
        // A line ends with LF, CRLF or a CR alone (as older editors save).
        size_t pos = 0;
        int line = 0;
        while (pos < text.size()) {
            const size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
            std::string raw = text.substr(pos, end - pos);
            pos = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
            ++line;
            if (line == 1 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) raw.erase(0, 3);
            if (!readable(raw, line) || !handle(raw, line)) return r_;
        }
        r_.sheet.lineCount = line;
        if (!finishSavedModules(r_.sheet, line, what_)) {
            fail(line, what_);
            return r_;
        }
        if (checkWorksheetRules(r_.sheet, line, what_)) return r_;
        fail(line, what_);
        return r_;
    }

private:
    bool fail(int line, const std::string& what) {
        if (r_.error.empty()) {
            r_.error = (line > 0 ? r_.sheet.at(line) : source_) + ": " + what;
            r_.errorLine = line;
        }
        return false;
    }

    // A line must be UTF-8 text: a NUL byte mostly means a UTF-16 file.
    bool readable(const std::string& raw, int line) {
        const size_t nul = raw.find('\0');
        if (nul != std::string::npos)
            return fail(line, "a NUL byte in column " + std::to_string(nul + 1) +
                                  " (is the file UTF-16? worksheets are UTF-8 text)");
        size_t bad = 0;
        if (!validUtf8(raw, &bad)) {
            char byte[8];
            snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(raw[bad]));
            return fail(line, std::string("not UTF-8 text: byte ") + byte + " in column " + std::to_string(bad + 1) +
                                  " (save the worksheet as UTF-8)");
        }
        return true;
    }

    bool handle(const std::string& raw, int line) {
        if (section_ == Section::Card) {
            const std::string t = trim(raw);
            if (t.empty() || t[0] != '[') {
                addCardLine(raw, line);
                return true;
            }
        }
        const std::string text = trim(stripComment(raw));
        if (text.empty()) return true;
        if (text[0] == '[') return header(text, line);
        switch (section_) {
            case Section::None: return fail(line, "text outside a section: " + clip(text));
            case Section::Connect: return connection(text, line);
            default: break;
        }
        const size_t eq = text.find('=');
        if (eq == std::string::npos) return fail(line, "expected 'key = value': " + clip(text));
        const std::string key = lower(trim(text.substr(0, eq)));
        const std::string value = trim(text.substr(eq + 1));
        if (key.empty()) return fail(line, "a key is missing before '='");
        const std::string id = keyId(key);
        const auto seen = seenKeys_.emplace(id, std::make_pair(key, line));
        if (!seen.second) {
            const std::string& first = seen.first->second.first;
            const std::string firstLine = std::to_string(seen.first->second.second);
            if (first == key)
                return fail(line, "'" + clip(key) + "' given twice in this section (first on line " + firstLine + ")");
            return fail(line, "'" + clip(key) + "' is the key '" + clip(first) + "' of line " + firstLine +
                                  " again (leading zeros do not make another number); each key may be given once "
                                  "per section");
        }
        switch (section_) {
            case Section::Experiment:
                r_.sheet.keyLines[id] = line;
                return experimentKey(key, value, line);
            case Section::Module:
                r_.sheet.modules.back().keyLines[id] = line;
                return moduleKey(key, value, line);
            case Section::Record: return recordKey(key, value, line);
            default: return fail(line, "unexpected line");
        }
    }

    void addCardLine(const std::string& raw, int line) {
        r_.sheet.cardText += raw + "\n";
        r_.sheet.cardLines.push_back(line);
    }

    bool header(const std::string& text, int line) {
        if (text.back() != ']') return fail(line, "a section header must end with ']': " + clip(text));
        const std::string inner = trim(text.substr(1, text.size() - 2));
        const size_t blank = inner.find_first_of(" \t");
        const std::string kind = lower(inner.substr(0, blank));
        const std::string arg = blank == std::string::npos ? "" : trim(inner.substr(blank));
        seenKeys_.clear();
        if (kind == "experiment" && arg.empty()) {
            if (r_.sheet.experimentLine > 0) return fail(line, "[experiment] given twice");
            r_.sheet.experimentLine = line;
            section_ = Section::Experiment;
        } else if (kind == "module") {
            if (!validId(arg)) return fail(line, "[module NAME] needs a name of letters, digits, '_' or '-'");
            if (!moduleIds_.insert(arg).second) return fail(line, "module '" + clip(arg) + "' defined twice");
            ModuleDef m;
            m.id = arg;
            m.line = line;
            r_.sheet.modules.push_back(std::move(m));
            section_ = Section::Module;
        } else if (kind == "connect" && arg.empty()) {
            section_ = Section::Connect;
        } else if (kind == "record") {
            if (!validId(arg)) return fail(line, "[record MODULE] needs the name of a module");
            if (!recorded_.insert(arg).second) return fail(line, "module '" + clip(arg) + "' recorded twice");
            RecordDef rec;
            rec.module = arg;
            rec.line = line;
            r_.sheet.records.push_back(rec);
            section_ = Section::Record;
        } else if (kind == "card" || kind == "fault") {
            // The simulated card's own sections, handed to its driver as they stand.
            addCardLine(text, line);
            section_ = Section::Card;
        } else {
            return fail(line, "unknown section [" + clip(inner) + "]");
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
        if (!parseNumber(value, out)) return fail(line, key + ": '" + clip(value) + "' is not a number");
        return true;
    }

    bool whole(const std::string& key, const std::string& value, int line, long long lo, long long hi,
               long long& out) {
        if (!parseInteger(value, out)) return fail(line, key + ": '" + clip(value) + "' is not a whole number");
        if (out < lo || out > hi)
            return fail(line, key + " = " + clip(value) + " is out of range (" + std::to_string(lo) + " to " +
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
            if (d > kMaxPeriodMs)
                return fail(line,
                            "period_ms = " + clip(value) + " is too long: at most 60000 ms (one sample a minute)");
            s.periodMs = d;
        } else if (key == "block_size") {
            if (!whole(key, value, line, 1, 65535, n)) return false;
            s.blockSize = static_cast<uint32_t>(n);
        } else if (key == "duration_s") {
            if (!number(key, value, line, d)) return false;
            if (d <= 0) return fail(line, "duration_s must be above 0");
            if (d > kMaxDurationS)
                return fail(line, "duration_s = " + clip(value) +
                                      " is too long: a run covers at most 4294967 s (49.7 days), where the "
                                      "millisecond tick count that paces digital input wraps");
            s.durationS = d;
        } else if (key == "pause_at_s") {
            if (!number(key, value, line, d)) return false;
            if (d < 0) return fail(line, "pause_at_s must not be negative");
            s.pauseAtS = d;
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
            return fail(line, "unknown key '" + clip(key) + "' in [experiment]");
        }
        return true;
    }

    bool moduleKey(const std::string& key, const std::string& value, int line) {
        ModuleDef& m = r_.sheet.modules.back();
        long long n = 0;
        std::string cp932, why;
        if (key == "class") {
            const std::string v = lower(value);
            if (v == "analog_in") m.kind = ModuleKind::AnalogIn;
            else if (v == "digital_in") m.kind = ModuleKind::DigitalIn;
            else if (v == "digital_out") m.kind = ModuleKind::DigitalOut;
            else return fail(line, "unknown class '" + clip(value) + "' (analog_in, digital_in or digital_out)");
        } else if (key == "socket") {
            if (!whole(key, value, line, 0, 3, n)) return false;
            m.socket = static_cast<int>(n);
        } else if (key == "channels") {
            if (!whole(key, value, line, 1, 8, n)) return false;
            m.channels = static_cast<uint32_t>(n);
        } else if (key == "name") {
            if (!fieldText(value, kModuleNameField, cp932, why)) return fail(line, why);
            m.name = value;
        } else if (key == "comment") {
            if (!fieldText(value, kModuleCommentField, cp932, why)) return fail(line, why);
            m.comment = value;
        } else if (key == "range") {
            std::string v = lower(value);
            if (v.size() > 1 && v.back() == 'v') v.pop_back();
            if (v == "10" || v == "+-10" || v == u8"±10") m.range = 0;
            else if (v == "5" || v == "+-5" || v == u8"±5") m.range = 1;
            else return fail(line, "range must be 10 or 5 (volts)");
        } else if (key == "buffer") {
            const std::string v = lower(value);
            int index = -1;
            for (int i = 0; i < 8; ++i)
                if (v == kBufferSizes[i]) index = i;
            if (index < 0) return fail(line, "buffer must be one of 64K 128K 256K 512K 1M 2M 4M 8M");
            m.bufferIndex = index;
        } else if (key.compare(0, 7, "channel") == 0 && key.size() > 7) {
            // The channel's number in decimal digits only: no sign and no blank.
            long long index = 0;
            if (key.find_first_not_of("0123456789", 7) != std::string::npos ||
                !parseInteger(keyId(key).substr(7), index) || index > 7)
                return fail(line, "unknown key '" + clip(key) + "' (channel0 to channel7 name channels)");
            if (value.empty()) return fail(line, clip(key) + " has no name");
            if (!fieldText(value, kChannelNameField, cp932, why)) return fail(line, clip(key) + ": " + why);
            if (value.find_first_of(",\"") != std::string::npos)
                return fail(line, clip(key) + ": a channel name may not hold ',' or '\"'");
            m.channelNames[static_cast<uint32_t>(index)] = value;
        } else if (isSavedModuleKey(key)) {
            if (!readSavedModuleKey(m, key, value, why)) return fail(line, why);
        } else {
            return fail(line, "unknown key '" + clip(key) + "' in [module " + clip(m.id) + "]");
        }
        return true;
    }

    bool recordKey(const std::string& key, const std::string& value, int line) {
        RecordDef& rec = r_.sheet.records.back();
        if (key == "file") {
            if (value.empty()) return fail(line, "file is empty");
            // The same name twice; paths that differ only in spelling are found
            // before the run, where they are resolved (velk/experiment/output_files.h).
            if (!recordFiles_.insert(lower(value)).second)
                return fail(line, "file '" + clip(value) + "' is written by another recorder");
            rec.file = value;
            rec.fileLine = line;
        } else {
            return fail(line, "unknown key '" + clip(key) + "' in [record " + clip(rec.module) + "]");
        }
        return true;
    }

    // "ai.0 -> dout.1"
    bool connection(const std::string& text, int line) {
        const size_t arrow = text.find("->");
        if (arrow == std::string::npos)
            return fail(line, "expected 'module.channel -> module.channel': " + clip(text));
        ConnectionDef c;
        c.line = line;
        if (!endpoint(trim(text.substr(0, arrow)), c.from, c.output) ||
            !endpoint(trim(text.substr(arrow + 2)), c.to, c.input))
            return fail(line, "expected 'module.channel -> module.channel': " + clip(text));
        r_.sheet.connections.push_back(c);
        return true;
    }

    static bool endpoint(const std::string& text, std::string& module, uint32_t& channel) {
        const size_t dot = text.rfind('.');
        if (dot == std::string::npos) return false;
        module = trim(text.substr(0, dot));
        long long n = 0;
        if (!validId(module) || !parseInteger(trim(text.substr(dot + 1)), n) || n < 0 || n > 15) return false;
        channel = static_cast<uint32_t>(n);
        return true;
    }

    std::string source_;
    WorksheetResult r_;
    Section section_ = Section::None;
    std::string what_;
    // The keys of the section so far, by the key they stand for: as written, and line.
    std::map<std::string, std::pair<std::string, int>> seenKeys_;
    std::unordered_set<std::string> moduleIds_;
    std::unordered_set<std::string> recorded_;
    std::unordered_set<std::string> recordFiles_;
};

}  // namespace

WorksheetResult parseWorksheet(const std::string& text, const std::string& sourceName, const std::string& baseDir) {
    Parser p(sourceName, baseDir);
    return p.run(text);
}

}  // namespace velk
