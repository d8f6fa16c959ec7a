// Saved worksheets: the state of a run's modules kept as Velk keeps it and given
// back as Velk gives it back when it opens a worksheet.
//
// What is kept of a module is Velk's record (class, channel counts, name and
// description) and its private data area, byte for byte, run-time fields included
// (the analog module's sample buffer pointer while a run goes). A saved module is
// restored into a fresh record without the create code and without a dialog; then
// every restored module gets the device check (code 105), as Velk sends it.
//
// Reading (saved_read.cpp): the section keys of a saved module and their checks.
// Areas (saved_area.cpp): the layouts, for the checks and the readable comments.
// Restoring (module_restore.cpp) and writing (saved_write.cpp).
// The format is described in docs/worksheets.md.
#pragma once

#include "velk/host/host.h"
#include "velk/worksheet/worksheet.h"

#include <stdint.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace velk {

class Experiment;

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

// ---- Restoring ----

struct RestoredModule {
    const ModuleDef* def = nullptr;
    ModuleRecord* record = nullptr;
    int32_t deviceCheck = 0;  // the module's answer to code 105
};

// Restores every saved module of the worksheet in the host (fresh records, the
// saved counts, texts and area), then sends each one the device check in worksheet
// order. A module that answers 0 has shown its warning and stays in the worksheet,
// as in Velk. False with the reason when a module cannot be restored.
bool restoreSavedModules(Host& host, const Worksheet& sheet, std::vector<RestoredModule>& out, std::string& error);

// ---- Writing ----

struct SaveRequest {
    std::string path;               // empty: nothing is saved
    std::optional<double> atSeconds;  // save while the run goes, once the data reach this time
};

// The text of a worksheet that runs the experiment again with every module restored
// from its state as it stands now: [experiment] (paths made relative to the new
// file's folder), the modules, [connect], [record ...] and the card sections.
// `when` is said in the header comment. False with the reason when a module's
// texts cannot be written as worksheet values.
bool savedWorksheetText(Experiment& e, const std::string& path, const std::string& when, std::string& text,
                        std::string& error);

// `velk run ... --save FILE [--save-at SECONDS]`.
class StateSaver {
public:
    explicit StateSaver(SaveRequest request) : request_(std::move(request)) {}
    bool wanted() const { return !request_.path.empty(); }
    // Before the run: the file may be written (not the worksheet, its card
    // configuration or a recording; not a device; its folder made) and the time
    // lies within the run. False with the reason.
    bool check(const Experiment& e, std::string& error) const;
    // With a time: the state is saved between two rounds once the data reach it.
    void arm(Experiment& e, std::ostream& out);
    // After the run: without a time the state is saved now; with one, whether it
    // was. False with the reason printed when nothing was saved.
    bool finish(Experiment& e, std::ostream& out);

private:
    bool save(Experiment& e, const std::string& when, std::ostream& out);

    SaveRequest request_;
    bool saved_ = false;
    bool failed_ = false;
};

}  // namespace velk
