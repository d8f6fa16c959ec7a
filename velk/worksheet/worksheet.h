// Worksheets: the text file that describes an experiment for `velk run` — the time
// base, the modules with their card sockets and settings, the connections between
// them and the recorders that write CSV files. The format is described in
// docs/worksheets.md. Texts in a worksheet are UTF-8; the parser keeps them as
// written, the runner converts them to code page 932 where the extension sees them.
#pragma once

#include <stdint.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velk {

enum class ModuleKind { AnalogIn, DigitalIn, DigitalOut };

// "analog_in" -> the class identifier the extension registers ("KA:MMTK17", ...).
const char* classIdOf(ModuleKind kind);
const char* kindName(ModuleKind kind);
// Most channels a module of the kind can have (8 analog, 4 digital).
uint32_t maxChannelsOf(ModuleKind kind);

// A saved module: what Velk keeps of it and gives back when it opens the worksheet
// (docs/worksheets.md, Saved worksheets). The module is restored from these, not
// created and set through its dialogs.
struct SavedState {
    std::optional<uint32_t> inputs;   // the record's channel counts, 0 to 16
    std::optional<uint32_t> outputs;
    // area_NNN lines: the bytes from offset NNN, with the line that gave them.
    struct Piece {
        std::string key;  // as written ("area_016")
        std::string bytes;
        int line = 0;
    };
    std::map<uint32_t, Piece> pieces;
    std::string area;  // the whole private data area, assembled once the text is read
    std::map<uint32_t, std::string> columns;  // recording column names (columnN)
};

struct ModuleDef {
    std::string id;  // the name after [module ...], used by [connect] and [record ...]
    int line = 0;    // line of the section header
    std::map<std::string, int> keyLines;  // line of each key given (lower case)
    ModuleKind kind = ModuleKind::AnalogIn;
    std::optional<int> socket;      // unset: the first card the device dialog offers
    std::optional<uint32_t> channels;
    std::optional<std::string> name;     // module name (at most 12 characters)
    std::optional<std::string> comment;  // description (at most 40 characters)
    std::optional<int> range;            // analog: 0 = ±10 V, 1 = ±5 V
    std::optional<int> bufferIndex;      // analog: 0..7 = 64K..8M
    std::map<uint32_t, std::string> channelNames;
    // Set for a saved module; then `socket`, `channels` and (analog) `bufferIndex`
    // are what its area and record hold, for the worksheet's checks and reports.
    std::optional<SavedState> saved;
    // Channel count the module will have: `channels`, else 1.
    uint32_t channelCount() const { return channels.value_or(1); }
    // The name shown for channel i in recordings: the worksheet's (`channelN`, or
    // `columnN` of a saved module), else "ch<i>".
    std::string channelLabel(uint32_t i) const;
    // The line of a key, else the section header's.
    int lineOf(const std::string& key) const;
};

struct ConnectionDef {
    std::string from;
    uint32_t output = 0;
    std::string to;
    uint32_t input = 0;
    int line = 0;
};

struct RecordDef {
    std::string module;
    std::string file;  // as written (relative to the output folder unless absolute)
    int line = 0;      // line of the section header
    int fileLine = 0;  // line of its file key
};

struct Worksheet {
    // Paths are UTF-8 like the worksheet's text (velk/common/paths.h).
    std::string path;     // the file it was read from (empty for text)
    std::string name;     // how messages name it ("demo.vws")
    std::string baseDir;  // folder relative paths are taken from (no trailing separator)
    double periodMs = 1.0;
    uint32_t blockSize = 100;
    double durationS = 1.0;
    std::optional<double> pauseAtS;  // data time at which the run pauses
    double pauseForS = 0.0;          // real time the pause lasts
    std::string outputDir = ".";     // where recordings go, relative to baseDir
    std::string driverConfig;        // a card configuration file, relative to baseDir
    std::string cardText;            // [card N] / [fault] sections, verbatim
    std::vector<int> cardLines;      // the worksheet line of each line of cardText
    std::map<std::string, int> keyLines;  // line of each [experiment] key given
    int experimentLine = 0;               // line of [experiment], 0 without one
    int lineCount = 0;                    // lines the text has
    std::vector<ModuleDef> modules;
    std::vector<ConnectionDef> connections;
    std::vector<RecordDef> records;

    const ModuleDef* findModule(const std::string& id) const;
    // The line of an [experiment] key, else of [experiment], else 1.
    int lineOf(const std::string& key) const;
    // A path of the worksheet resolved against baseDir (absolute paths as they are).
    std::string resolve(const std::string& path) const;
    // "demo.vws:14": how a message about a mistake on a line of this
    // worksheet begins (followed by ": what"). A line below 1 is taken as line 1.
    std::string at(int line) const;
};

struct WorksheetResult {
    Worksheet sheet;
    // "name:line: what" when the text could not be used, in UTF-8 (the worksheet's
    // text quoted as it was written);
    // "name: what" only when the file as a whole cannot be read.
    std::string error;
    int errorLine = 0;
    bool ok() const { return error.empty(); }
};

// A worksheet is a small text file: reading stops beyond this size.
constexpr size_t kMaxWorksheetBytes = 16u << 20;

// Reads worksheet text; `sourceName` (UTF-8, as paths are) prefixes error
// messages, `baseDir` resolves paths. The text is UTF-8: UTF-16, NUL bytes and invalid
// UTF-8 are refused with their line. A line ends with LF, CRLF or a CR alone.
// Parsing takes time in proportion to the text. After the text has been read, the
// rules of velk/worksheet_rules.h are checked.
WorksheetResult parseWorksheet(const std::string& text, const std::string& sourceName = "worksheet",
                               const std::string& baseDir = ".");
// Reads the file (a UTF-8 path; one starting with '/' is a Unix path, taken as
// Z:/...), at most kMaxWorksheetBytes of it.
WorksheetResult loadWorksheet(const std::string& path);

// "/work/x" -> "Z:/work/x"; other paths unchanged.
std::string windowsPath(const std::string& path);
bool isAbsolutePath(const std::string& path);
// The folder of a path, without its trailing separator ("." when there is none).
// UTF-8 is cut at its separators as bytes: no byte of a character beyond ASCII is
// '/' or '\'.
std::string folderOf(const std::string& path);

}  // namespace velk
