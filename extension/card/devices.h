// The table of cards opened at start, the rules by which modules claim and release
// a card, and the device selection dialog.
#pragma once

#include "extension/frame/class_protocol.h"

struct DeviceSlot {
    int32_t bPresent;
    int32_t bUsedByAD;
    int32_t bUsedByDIN;
    int32_t bUsedByDOUT;
    uint32_t dwIoPortAddress;
    int32_t dwIoPortLength;
    uint16_t wSocket;
};

constexpr int kDeviceSlots = 4;
constexpr uint16_t kNoSocket = 0xFFFF;
extern DeviceSlot DeviceTable[kDeviceSlots];

int32_t InitDevices();
int32_t ExitDevices();

// Runs TK17_DEVSEL for the class; the chosen slot 0..3, or -1.
int32_t SelectDevice(HWND owner, ModuleClass moduleClass);

// Slot binding of the class callbacks.
// Create: marks `slot` in use for the class and stores its socket.
void ClaimDeviceSlot(int32_t slot, ModuleClass moduleClass, uint16_t* socketField);
// Remove: clears the class's mark on the first slot holding `socket`.
void ReleaseDeviceSlot(uint16_t socket, ModuleClass moduleClass);
// Device check: 1 and the mark set again when the card answers, else 0 after a warning.
int32_t CheckDeviceSlot(uint16_t socket, ModuleClass moduleClass);

// Dialog resource identifiers.
#define IDC_DEVSEL_LIST 103
#define IDC_DEVSEL_ADDRESS 1001
#define IDC_DEVSEL_LENGTH 1002
#define IDC_DEVSEL_SWITCH 1003
#define IDC_DEVSEL_SOCKET 1011
