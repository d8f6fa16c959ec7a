// Registration of the three module classes and of the extension menu in Velk.
#pragma once

#include "abi/velk_abi.h"

// Resource identifiers shared with the resource script.
#define IDS_ANALOG_LONG 3950
#define IDS_ABOUT_VERSION 3952
#define IDS_DIGITAL_IN_LONG 3953
#define IDS_DIGITAL_OUT_LONG 3954
#define IDS_DIGITAL_IN_SHORT 3955
#define IDS_ANALOG_SHORT 3956
#define IDS_DIGITAL_OUT_SHORT 3957

#define IDM_ANALOG_IN 2951
#define IDM_DIGITAL_IN 2952
#define IDM_DIGITAL_OUT 2953

constexpr uint32_t kSetupMenuEntry = 4990;
constexpr int kExtensionMenuPosition = 3;

void InsertExtensionMenu();
int32_t __cdecl ShowSetupPlaceholder();
void RegisterAnalogInputClass();
void RegisterDigitalInputClass();
void RegisterDigitalOutputClass();

// Class entry points, defined by the class folders.
int32_t __cdecl AnalogInputClassCallback(ModuleRecord* m, uint32_t code, int32_t value1, int32_t value2);
int32_t __cdecl AnalogInputProcessing(ModuleRecord* m);
int32_t __cdecl DigitalInputClassCallback(ModuleRecord* m, uint32_t code, int32_t value1, int32_t value2);
int32_t __cdecl DigitalInputProcessing(ModuleRecord* m);
int32_t __cdecl DigitalOutputClassCallback(ModuleRecord* m, uint32_t code, int32_t value1, int32_t value2);
int32_t __cdecl DigitalOutputProcessing(ModuleRecord* m);

// Private data sizes registered for the classes.
constexpr uint32_t kAnalogPrivateSize = 256;
constexpr uint32_t kDigitalInPrivateSize = 104;
constexpr uint32_t kDigitalOutPrivateSize = 100 + sizeof(void*);
constexpr uint32_t kChannelStateSize = 12;
