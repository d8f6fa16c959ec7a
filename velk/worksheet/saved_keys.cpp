// Reading a saved module's section: its keys where they are read, the section as a
// whole once the text is read.
#include "abi/velk_abi.h"
#include "velk/worksheet/field_text.h"
#include "velk/worksheet/saved_module.h"
#include "velk/common/strings.h"
#include "velk/common/text.h"

#include <string.h>

namespace velk {

// Channels a module record holds each way (its output channel and channel state slots).
constexpr uint32_t kRecordChannels = sizeof(ModuleRecord::outputChannels) / sizeof(ModuleRecord::outputChannels[0]);

namespace {

const char kAreaKey[] = "area_";
const char kColumnKey[] = "column";

bool startsWith(const std::string& s, const char* prefix) { return s.compare(0, strlen(prefix), prefix) == 0; }

// A decimal number of digits only ("016"), at most `limit`.
bool decimal(const std::string& text, uint32_t limit, uint32_t& out) {
    uint64_t v = 0;
    if (text.size() > 9 || !parseDigits(text, v) || v > limit) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

// "4E 4E 00": bytes as pairs of hex digits separated by blanks.
bool readHexBytes(const std::string& value, std::string& bytes, std::string& why) {
    size_t i = 0;
    while (i < value.size()) {
        if (value[i] == ' ' || value[i] == '\t') {
            ++i;
            continue;
        }
        size_t end = value.find_first_of(" \t", i);
        if (end == std::string::npos) end = value.size();
        const std::string token = value.substr(i, end - i);
        if (token.size() != 2 || hexDigit(token[0]) < 0 || hexDigit(token[1]) < 0) {
            why = "'" + clipText(token) +
                  "' is not a byte: bytes are two hex digits each, separated by blanks (4E 00 FF)";
            return false;
        }
        bytes += static_cast<char>(hexDigit(token[0]) * 16 + hexDigit(token[1]));
        i = end;
    }
    if (bytes.empty()) why = "no bytes";
    return !bytes.empty();
}

std::string lineText(int line) { return "line " + std::to_string(line); }

// The keys that set a module through its dialogs, which a saved module has in its
// area and record instead.
const char* const kConfiguredKeys[] = {"socket", "channels", "range", "buffer"};

class SavedSection {
public:
    SavedSection(ModuleDef& m, int& line, std::string& what) : m_(m), s_(*m.saved), line_(line), what_(what) {}

    bool finish() {
        return noDialogKeys() && counts() && area() && columns() && derive();
    }

private:
    bool fail(int line, const std::string& what) {
        line_ = line;
        what_ = what;
        return false;
    }

    int firstSavedKeyLine() const {
        int first = 0;
        for (const auto& k : m_.keyLines)
            if (isSavedModuleKey(k.first) && (first == 0 || k.second < first)) first = k.second;
        return first ? first : m_.line;
    }

    bool noDialogKeys() {
        if (s_.pieces.empty())
            return fail(firstSavedKeyLine(), "[module " + m_.id +
                                                 "] has keys of a saved module but no area_NNN lines with its private "
                                                 "data area; a module set through its dialogs gives channels and "
                                                 "channel0...");
        for (const char* key : kConfiguredKeys)
            if (m_.keyLines.count(key))
                return fail(m_.lineOf(key), std::string(key) + " is a setting of the module's dialogs; a saved module "
                                                               "keeps it in its area (area_NNN lines), as saved");
        for (const auto& k : m_.keyLines)
            if (startsWith(k.first, "channel") && k.first != "channels")
                return fail(k.second, k.first + " names a channel through the dialog; a saved module keeps its "
                                                 "channel names in its area, and column" +
                                          k.first.substr(7) + " names the recording's column");
        return true;
    }

    bool counts() {
        if (!s_.inputs) return fail(m_.line, "saved module '" + m_.id + "' has no inputs = (its input channel count)");
        if (!s_.outputs)
            return fail(m_.line, "saved module '" + m_.id + "' has no outputs = (its output channel count)");
        return true;
    }

    // The lines must cover the area exactly: from byte 0, without a gap or an
    // overlap, to the size of the class's area.
    bool area() {
        const uint32_t size = areaBytesOf(m_.kind);
        const std::string cls = std::string(m_.kind == ModuleKind::AnalogIn ? "an " : "a ") + kindName(m_.kind) +
                                " module";
        uint32_t at = 0;
        int lastLine = m_.line;
        for (const auto& p : s_.pieces) {
            const uint32_t offset = p.first;
            const SavedState::Piece& piece = p.second;
            if (offset > at)
                return fail(piece.line, "bytes " + std::to_string(at) + " to " + std::to_string(offset - 1) +
                                            " of the area are missing (no line gives them before " + piece.key +
                                            ")");
            if (offset < at)
                return fail(piece.line, piece.key + " overlaps the bytes of " +
                                            lineText(lastLine) + ", which run to byte " + std::to_string(at - 1));
            const uint64_t end = uint64_t(offset) + piece.bytes.size();
            if (end > size)
                return fail(piece.line, piece.key + " runs to byte " + std::to_string(end - 1) +
                                            ", past the end of the " + std::to_string(size) + "-byte private data "
                                            "area of " + cls);
            s_.area += piece.bytes;
            at = static_cast<uint32_t>(end);
            lastLine = piece.line;
        }
        if (at < size)
            return fail(lastLine, "the area ends at byte " + std::to_string(at) + ", but the private data area of " +
                                      cls + " has " + std::to_string(size) + " bytes (bytes " +
                                      std::to_string(at) + " to " + std::to_string(size - 1) + " are missing)");
        return true;
    }

    bool columns() {
        const uint32_t count = m_.kind == ModuleKind::DigitalOut ? 0 : *s_.outputs;
        for (const auto& c : s_.columns)
            if (c.first >= count) {
                const std::string key = kColumnKey + std::to_string(c.first);
                return fail(m_.lineOf(key), key + " names a column beyond the module's " + std::to_string(count) +
                                                " output channel(s)");
            }
        return true;
    }

    // What the worksheet's other checks and the run's reports read.
    bool derive() {
        m_.socket = areaSocket(m_.kind, s_.area);
        m_.channels = m_.kind == ModuleKind::DigitalOut ? *s_.inputs : *s_.outputs;
        if (m_.kind == ModuleKind::AnalogIn) {
            const int32_t index = areaInt32(s_.area, 248);
            if (index >= 0 && index <= 7) m_.bufferIndex = index;  // otherwise the module uses its default
        }
        return true;
    }

    ModuleDef& m_;
    SavedState& s_;
    int& line_;
    std::string& what_;
};

}  // namespace

bool isSavedModuleKey(const std::string& key) {
    return key == "inputs" || key == "outputs" || startsWith(key, kAreaKey) ||
           (startsWith(key, kColumnKey) && key.size() > strlen(kColumnKey));
}

bool readSavedModuleKey(ModuleDef& m, const std::string& key, const std::string& value, std::string& why) {
    if (!m.saved) m.saved.emplace();
    SavedState& s = *m.saved;
    uint32_t n = 0;
    if (key == "inputs" || key == "outputs") {
        if (!decimal(value, 999999999, n)) {
            why = key + ": '" + clipText(value) + "' is not a channel count";
            return false;
        }
        if (n > kRecordChannels) {
            why = key + " = " + clipText(value) + ": a module record holds at most " +
                  std::to_string(kRecordChannels) +
                  " channels each way";
            return false;
        }
        (key == "inputs" ? s.inputs : s.outputs) = n;
        return true;
    }
    if (startsWith(key, kAreaKey)) {
        if (!decimal(key.substr(strlen(kAreaKey)), 65535, n)) {
            why = "unknown key '" + clipText(key) + "' (area_NNN gives the area's bytes from byte NNN, in decimal)";
            return false;
        }
        SavedState::Piece piece;
        if (!readHexBytes(value, piece.bytes, why)) {
            why = clipText(key) + ": " + why;
            return false;
        }
        piece.key = key;
        piece.line = m.lineOf(key);
        auto it = s.pieces.find(n);
        if (it != s.pieces.end()) {
            why = clipText(key) + ": the bytes from " + std::to_string(n) + " are already given on " +
                  lineText(it->second.line);
            return false;
        }
        s.pieces.emplace(n, std::move(piece));
        return true;
    }
    // columnN: the recording's column name of output channel N.
    if (!decimal(key.substr(strlen(kColumnKey)), kRecordChannels - 1, n)) {
        why = "unknown key '" + clipText(key) + "' (column0 to column15 name a saved module's recording columns)";
        return false;
    }
    std::string cp932;
    if (value.empty()) {
        why = clipText(key) + " has no name";
        return false;
    }
    if (!fieldText(value, kChannelNameField, cp932, why)) {
        why = clipText(key) + ": " + why;
        return false;
    }
    if (value.find_first_of(",\"") != std::string::npos) {
        why = clipText(key) + ": a column name may not hold ',' or '\"'";
        return false;
    }
    s.columns[n] = value;
    return true;
}

bool finishSavedModules(Worksheet& sheet, int& line, std::string& what) {
    for (ModuleDef& m : sheet.modules)
        // A section without a class is reported by the worksheet's rules.
        if (m.saved && m.keyLines.count("class") && !SavedSection(m, line, what).finish()) return false;
    return true;
}

}  // namespace velk
