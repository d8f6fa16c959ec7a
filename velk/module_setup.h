// Creating and configuring modules as a user of Velk would: the device selection
// dialog answered for a given card socket, and the analog input setup dialog driven
// with clicks and typing. The host never writes (or reads) a module's private data
// area: whatever reaches the module goes through the extension's own dialogs.
#pragma once

#include "velk/host.h"
#include "velk/worksheet.h"

#include <map>
#include <optional>
#include <string>

namespace velk {

// Captions of the extension's dialogs (code page 932).
extern const char kDeviceDialogCaption[];
extern const char kAnalogDialogCaption[];

// Creates a module of the kind's class while a helper answers the device
// selection dialog: with a socket, the list line whose socket field (1011) shows
// it is clicked, then OK; when no line shows it, Cancel. Without a socket, OK takes
// the first line. Null on failure, with the reason in `error` (UTF-8).
ModuleRecord* createModuleOnSocket(Host& host, ModuleKind kind, std::optional<int> socket, const NewModule& how,
                                   std::string& error);

// Analog settings as the setup dialog shows them. Texts are code page 932.
struct AnalogSettings {
    std::optional<uint32_t> channels;
    std::optional<std::string> name;
    std::optional<std::string> comment;
    std::optional<int> range;        // 0 = ±10 V, 1 = ±5 V
    std::optional<int> bufferIndex;  // 0..7 = 64K..8M
    std::map<uint32_t, std::string> channelNames;
    bool empty() const {
        return !channels && !name && !comment && !range && !bufferIndex && channelNames.empty();
    }
};

// The worksheet's analog settings, texts converted to code page 932.
AnalogSettings analogSettingsOf(const ModuleDef& def);

// Opens the setup dialog (code 103) and applies the settings with the less/more
// and channel buttons, the edit boxes, the radio buttons and the buffer-size combo
// box, then OK. False with the reason in `error` when a step did not land.
bool applyAnalogSettings(Host& host, ModuleRecord* m, const AnalogSettings& settings, std::string& error);

// Opens the setup dialog, reads what it shows (every active channel's name by
// selecting its button), and cancels.
bool readAnalogSettings(Host& host, ModuleRecord* m, AnalogSettings& out, std::string& error);

}  // namespace velk
