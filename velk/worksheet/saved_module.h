// Saved modules in a worksheet: the section keys that only a module saved with its
// state has (its record's counts and its private data area, byte for byte), their
// checks as the worksheet is read, and the area layouts for the checks and the
// saved worksheet's readable comments. Keys: saved_keys.cpp; areas: saved_area.cpp.
// The format is described in docs/worksheets.md.
#pragma once

#include "velk/worksheet/worksheet.h"

#include <stdint.h>

#include <string>
#include <vector>

namespace velk {

// ---- Areas ----

// Size of a module class's private data area as the extension registers it.
uint32_t areaBytesOf(ModuleKind kind);
// The card socket the area holds (bytes 192-193 analog, 96-97 digital).
uint16_t areaSocket(ModuleKind kind, const std::string& area);
// A little-endian 32-bit field of the area (0 beyond its end).
int32_t areaInt32(const std::string& area, size_t offset);
// What the area holds, one readable line each (UTF-8), for the saved worksheet's
// comments: socket, range and buffer size, run-time fields, channel names.
std::vector<std::string> describeArea(ModuleKind kind, const std::string& area);

// ---- Reading ----

// Keys only a saved module has: inputs, outputs, area_NNN, columnN.
bool isSavedModuleKey(const std::string& key);
// Reads one of them into the module's saved state; false with the reason.
bool readSavedModuleKey(ModuleDef& m, const std::string& key, const std::string& value, std::string& why);
// Once the text is read: every saved module's section is complete and consistent
// (its area covered exactly, in the size of its class; counts given; no key that
// only a dialog can set), its area assembled, and its socket, channel count and
// buffer size set for the worksheet's other checks. Values out of range inside
// the area are let through: they are the module's business. False with the line.
bool finishSavedModules(Worksheet& sheet, int& line, std::string& what);

}  // namespace velk
