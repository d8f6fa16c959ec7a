// Creating and configuring modules as a user of Velk would: the device selection
// dialog answered for a given card socket, and the setup dialog of the module's
// class (analog input, digital input, digital output) driven with clicks and typing. The host never writes (or reads) a module's private data
// area: whatever reaches the module goes through the extension's own dialogs.
#pragma once

#include "velk/host/host.h"
#include "velk/worksheet/worksheet.h"

#include <map>
#include <optional>
#include <string>

namespace velk {

// Captions of the extension's dialogs (code page 932).
extern const char kDeviceDialogCaption[];
extern const char kAnalogDialogCaption[];
extern const char kDigitalInDialogCaption[];
extern const char kDigitalOutDialogCaption[];
// The setup dialog's caption for a module kind.
const char* setupDialogCaption(ModuleKind kind);

// Creates a module of the kind's class while a helper answers the device
// selection dialog: with a socket, the list line whose socket field (1011) shows
// it is clicked, then OK; when no line shows it, Cancel. Without a socket, OK takes
// the first line. Null on failure, with the reason in `error` (UTF-8).
ModuleRecord* createModuleOnSocket(Host& host, ModuleKind kind, std::optional<int> socket, const NewModule& how,
                                   std::string& error);

// Module settings as the setup dialog shows them. Texts are code page 932.
struct ModuleSettings {
    std::optional<uint32_t> channels;
    std::optional<std::string> name;
    std::optional<std::string> comment;
    std::optional<int> range;        // analog: 0 = ±10 V, 1 = ±5 V
    std::optional<int> bufferIndex;  // analog: 0..7 = 64K..8M
    std::map<uint32_t, std::string> channelNames;
    bool empty() const {
        return !channels && !name && !comment && !range && !bufferIndex && channelNames.empty();
    }
};

// The worksheet's settings of a module, texts converted to code page 932.
ModuleSettings settingsOf(const ModuleDef& def);

// Opens the setup dialog of the module's class (code 103) and applies the settings
// with the less/more and channel buttons and the edit boxes, and for an analog
// module the radio buttons and the buffer-size combo box, then OK. False with the
// reason in `error` when a step did not land.
bool applySettings(Host& host, ModuleRecord* m, ModuleKind kind, const ModuleSettings& settings, std::string& error);

// Opens the setup dialog, reads what it shows (every active channel's name by
// selecting its button), and cancels.
bool readSettings(Host& host, ModuleRecord* m, ModuleKind kind, ModuleSettings& out, std::string& error);

// The channel count of a module of the kind as Velk keeps it (the inputs of a
// digital output module, the outputs of the others).
uint32_t channelCountOf(const ModuleRecord* m, ModuleKind kind);

}  // namespace velk
