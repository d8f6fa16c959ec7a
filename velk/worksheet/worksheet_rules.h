// What a worksheet must hold beyond its syntax, checked once it has been read: every
// name it refers to exists, the cards can serve its modules, an input channel takes
// one connection, and a run of these numbers can complete: its samples fit the
// channels' 32-bit counts, each analog read fits its driver buffer, its pause falls
// before its end. Each mistake is named with its line, before anything runs.
#pragma once

#include "velk/worksheet/worksheet.h"

#include <stdint.h>

#include <string>

namespace velk {

constexpr double kMaxPeriodMs = 60000.0;
// 2^32 ms: the tick count against which digital input is paced wraps there.
constexpr double kMaxDurationS = 4294967.0;

// True when the worksheet keeps every rule; otherwise false with the line (a
// worksheet without modules: its last line) and what is wrong.
bool checkWorksheetRules(const Worksheet& sheet, int& line, std::string& what);

// Seconds of data in one block.
double blockSeconds(const Worksheet& sheet);
// Blocks per channel a run needs to cover the duration.
uint64_t blocksNeeded(const Worksheet& sheet);
// The data time the run covers in whole blocks (at least the duration).
double coveredSeconds(const Worksheet& sheet);
// Real time a run takes at least: digital input releases each block once real time
// has reached its end, so a worksheet with digital input takes coveredSeconds();
// otherwise 0 (the virtual clock takes no time).
double minimumRealSeconds(const Worksheet& sheet);

// What the analog module asks of the card at start, as it derives it from Velk's
// period and its channel count (the extension's rate check and decimation).
struct AnalogRead {
    bool refused = false;         // the module refuses the rate at start, with its own message
    uint32_t decimation = 1;
    uint64_t samplesPerRead = 0;  // channels x block size x decimation, 16-bit samples
    uint64_t bufferBytes = 0;     // the driver buffer chosen in the setup dialog
};
AnalogRead analogReadOf(const Worksheet& sheet, const ModuleDef& module);

}  // namespace velk
