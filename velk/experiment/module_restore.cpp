// Saved modules given back to the extension as Velk gives them back when it opens a
// worksheet: fresh records with the saved counts, texts and area bytes, no create
// code and no dialog, then the device check for each.
#include "velk/experiment/saved_state.h"

#include "velk/common/text.h"

namespace velk {

bool restoreSavedModules(Host& host, const Worksheet& sheet, std::vector<RestoredModule>& out, std::string& error) {
    out.clear();
    for (const ModuleDef& def : sheet.modules) {
        if (!def.saved) continue;
        SavedModule saved;
        saved.inputCount = def.saved->inputs.value_or(0);
        saved.outputCount = def.saved->outputs.value_or(0);
        // The worksheet's texts were checked where read: they fit the record's fields.
        saved.name = utf8ToCp932(def.name.value_or(std::string()));
        saved.comment = utf8ToCp932(def.comment.value_or(std::string()));
        saved.area = def.saved->area;
        std::string why;
        ModuleRecord* m = host.restoreModule(classIdOf(def.kind), saved, why);
        if (!m) {
            error = sheet.at(def.line) + ": saved module " + def.id +
                    " cannot be restored: " + why;
            return false;
        }
        RestoredModule r;
        r.def = &def;
        r.record = m;
        out.push_back(r);
    }
    // Once every saved module is back, each is asked whether its card is there. One
    // that is not has shown its warning; it stays, as Velk keeps it.
    for (RestoredModule& r : out) r.deviceCheck = host.callClass(r.record, VELK_CODE_DEVICE_CHECK);
    return true;
}

}  // namespace velk
