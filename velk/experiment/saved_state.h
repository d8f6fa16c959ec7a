// Saved worksheets: the state of a run's modules kept as Velk keeps it and given
// back as Velk gives it back when it opens a worksheet.
//
// What is kept of a module is Velk's record (class, channel counts, name and
// description) and its private data area, byte for byte, run-time fields included
// (the analog module's sample buffer pointer while a run goes). A saved module is
// restored into a fresh record without the create code and without a dialog; then
// every restored module gets the device check (code 105), as Velk sends it.
//
// The saved module's keys and area layouts: velk/worksheet/saved_module.h.
// Restoring (module_restore.cpp) and writing (saved_write.cpp).
// The format is described in docs/worksheets.md.
#pragma once

#include "velk/host/host.h"
#include "velk/worksheet/saved_module.h"
#include "velk/worksheet/worksheet.h"

#include <stdint.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace velk {

class Experiment;

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
