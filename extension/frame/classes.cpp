#include "extension/frame/classes.h"

#include "extension/frame/host_binding.h"

#include <string.h>

namespace {

// Velk keeps the addresses of the name texts, so they live as long as the extension.
char g_shortNames[3][13];
char g_longNames[3][39];

struct ClassDescription {
    const char* classId;
    uint32_t privateDataSize;
    uint32_t channelDataSize;
    uint32_t menuCommand;
    UINT shortNameId;
    UINT longNameId;
    const char* smallBitmap;
    const char* largeBitmap;
    ClassCallback callback;
    ProcessingRoutine processing;
};

const ClassDescription kClasses[3] = {
    {"KA:MMTK17", kAnalogPrivateSize, kChannelStateSize, IDM_ANALOG_IN, IDS_ANALOG_SHORT, IDS_ANALOG_LONG,
     "ICO_TK17AD", "BMP_TK17", AnalogInputClassCallback, AnalogInputProcessing},
    {"KA:MMTK17DI", kDigitalInPrivateSize, kChannelStateSize, IDM_DIGITAL_IN, IDS_DIGITAL_IN_SHORT,
     IDS_DIGITAL_IN_LONG, "ICO_TK17DI", "BMP_TK17DI", DigitalInputClassCallback, DigitalInputProcessing},
    {"KA:MMTK17DO", kDigitalOutPrivateSize, 0, IDM_DIGITAL_OUT, IDS_DIGITAL_OUT_SHORT, IDS_DIGITAL_OUT_LONG,
     "ICO_TK17DO", "BMP_TK17DO", DigitalOutputClassCallback, DigitalOutputProcessing},
};

void RegisterClassNumber(int index) {
    const ClassDescription& c = kClasses[index];
    ClassRegistration record;
    memset(&record, 0, sizeof(record));
    LoadStringA(g_extensionInstance, c.shortNameId, g_shortNames[index], sizeof(g_shortNames[index]));
    LoadStringA(g_extensionInstance, c.longNameId, g_longNames[index], sizeof(g_longNames[index]));
    record.instance = g_extensionInstance;
    record.classId = c.classId;
    record.privateDataSize = c.privateDataSize;
    record.channelDataSize = c.channelDataSize;
    record.menuCommand = c.menuCommand;
    record.shortName = g_shortNames[index];
    record.longName = g_longNames[index];
    record.smallBitmap = LoadBitmapA(g_extensionInstance, c.smallBitmap);
    record.largeBitmap = LoadBitmapA(g_extensionInstance, c.largeBitmap);
    record.classCallback = c.callback;
    record.processingRoutine = c.processing;
    RegisterModuleClass(&record);
}

}  // namespace

void RegisterAnalogInputClass() { RegisterClassNumber(0); }
void RegisterDigitalInputClass() { RegisterClassNumber(1); }
void RegisterDigitalOutputClass() { RegisterClassNumber(2); }

void InsertExtensionMenu() {
    HMENU menu = LoadMenuA(g_extensionInstance, "UX1_MENU");
    HMENU popup = GetSubMenu(menu, 0);
    InsertMenuA(HostMainMenu(), kExtensionMenuPosition, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(popup),
                "KALMO(&A)");
    RegisterMenuEntry(kSetupMenuEntry, ShowSetupPlaceholder);
}

int32_t __cdecl ShowSetupPlaceholder() {
    return MessageBoxA(nullptr, "Do here some setup functions!", "Setup", MB_OK);
}
