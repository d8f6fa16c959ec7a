// What the Host and its users exchange: its options, what the extension registered
// and called, blocks as consumers see them, and how modules are made or restored.
#pragma once

#include "abi/velk_abi.h"

#include <windows.h>

#include <stdint.h>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velk {

enum class LookupKind { Variable, Function };

struct Lookup {
    LookupKind kind;
    std::string name;
    LRESULT answer;
};

// Where ShowWarning's texts go besides the record.
enum class WarningOutput {
    Stdout,      // printed as "[caption] text", converted to UTF-8 (command-line host)
    MessageBox,  // MessageBoxA owned by the main window (windowed run)
    None,        // recorded only
};

struct HostOptions {
    // Look-ups of these exact names (variables or functions) answer 0.
    std::set<std::string> zeroNames;
    // DefineDllVariable answers 0 for these linked-variable names.
    std::set<std::string> refusedLinks;
    // The extension to load (paths are UTF-8); unset: <exe dir>\Velk_ux1.dll.
    std::optional<std::string> extensionPath;
    // Folder given to SetDllDirectoryW before the extension is loaded, where it finds
    // the card driver; unset: <exe dir>\driver. An empty text adds no folder.
    std::optional<std::string> driverDir;
    WarningOutput warnings = WarningOutput::Stdout;
    bool showMainWindow = false;
    // What PerformDefaultAction answers.
    int32_t defaultActionResult = 1;
    // Main window placement (screen coordinates); the extension centres its dialogs
    // on the main window's client area.
    int windowX = 100, windowY = 80, windowWidth = 960, windowHeight = 720;
    // Blocks per output channel that may be out at once (current plus held by consumers).
    size_t poolCapacity = 8;
    // Keep a copy of every released output block per channel (releasedBlocks()).
    bool keepReleasedBlocks = true;
    // Write block releases into the event log.
    bool logBlockReleases = true;
    // Velk's value of the linked variables at start.
    double samplePeriodMs = 1.0;
    uint32_t blockSize = 100;
    // StopExperiment asks Velk to end the experiment; it does not end it at once. The
    // round in which the stop came is finished (the modules after the one that
    // stopped are still processed), then this many whole rounds of processing calls
    // follow before code 107. A stop at the start (code 106) is followed by this many
    // rounds too. So a module must take processing calls after its own stop.
    int roundsAfterStop = 0;
};

// What Velk keeps of a module class registered by the extension.
struct RegisteredClass {
    ClassRegistration record;  // copy of the extension's record (the caller's temporary), pointers as given
    // The texts stay in the extension at the addresses the record gave: Velk keeps the
    // addresses, not the texts. Read at each use, so a text that does not live on shows.
    std::string classId() const;
    std::string shortName() const;
    std::string longName() const;
};

struct VariableLink {
    std::string name;
    void* storage;
    uint32_t size;
    bool accepted;
};

struct MenuEntryRegistration {
    uint32_t entry;
    MenuEntryCallback callback;
};

struct DefaultActionCall {
    ModuleRecord* module;
    uint32_t code;
    int32_t value1;
    int32_t value2;
};

struct ModuleSizeChange {
    ModuleRecord* module;
    uint32_t inputCount;
    uint32_t outputCount;
    bool accepted;
};

struct Warning {
    std::string caption;  // code page 932 bytes as given
    std::string text;
};

// A released output block as a consumer saw it.
struct ReleasedBlock {
    ModuleRecord* module;
    uint32_t channel;
    double startTime;
    double sampleDistance;
    uint16_t sampleCount;
    std::vector<float> samples;  // sampleCount samples (at most the block's room)
    std::string tag;
    int32_t line;
    uint64_t sequence;  // host-wide release number, from 1
};

// A block at its release, as a recorder sees it: the samples are the block's own
// memory, valid during the call.
struct BlockView {
    ModuleRecord* module;
    uint32_t channel;
    double startTime;
    double sampleDistance;
    uint16_t sampleCount;  // as the block says
    const float* samples;
    uint32_t samplesHeld;  // samples readable at `samples`: sampleCount, at most the block's room
    const char* tag;       // the extension's source tag (valid during the call)
    int32_t line;
    uint64_t sequence;
    ReleasedBlock copy() const;
};

// Called synchronously at each release of an output channel's block.
using BlockRecorder = std::function<void(const BlockView&)>;

// A block given to a module's input queue by a test or the runner.
struct BlockContent {
    double startTime = 0.0;
    double sampleDistance = 0.001;
    std::vector<float> samples;
    int sampleCount = -1;  // -1: samples.size()
};

struct InputRelease {
    uint32_t channel;
    std::string tag;
    int32_t line;
};

// How a new module record arrives at the class's create code.
struct NewModule {
    uint32_t inputCount = 0;
    uint32_t outputCount = 0;
    std::string name;     // moduleName (at most 12 bytes kept)
    std::string comment;  // moduleComment (at most 40 bytes kept)
    int32_t outputGate = 1;
};

// A module as Velk brings it back from a saved worksheet: the record's channel
// counts and texts, and the private data area's bytes exactly as they were kept.
struct SavedModule {
    uint32_t inputCount = 0;
    uint32_t outputCount = 0;
    std::string name;     // moduleName, code page 932 (at most 12 bytes kept)
    std::string comment;  // moduleComment, code page 932 (at most 40 bytes kept)
    std::string area;     // the private data area's bytes
};

}  // namespace velk
