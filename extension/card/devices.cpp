#include "extension/card/devices.h"

#include "extension/card/driver.h"
#include "extension/card/notify.h"

#include <stdio.h>
#include <string.h>

DeviceSlot DeviceTable[kDeviceSlots];

namespace {

// Dialog state shared by the three classes; the dialog is modal, one at a time.
uint16_t g_listMap[kDeviceSlots];
uint16_t g_shownSlot = 0xFFFF;
ModuleClass g_selectingClass;

int32_t* InUseFlag(DeviceSlot& slot, ModuleClass moduleClass) {
    switch (moduleClass) {
        case CLASS_ANALOG_IN: return &slot.bUsedByAD;
        case CLASS_DIGITAL_IN: return &slot.bUsedByDIN;
        default: return &slot.bUsedByDOUT;
    }
}

DeviceSlot* FindSlotBySocket(uint16_t socket) {
    for (DeviceSlot& slot : DeviceTable)
        if (slot.wSocket == socket) return &slot;
    return nullptr;
}

void ShowSlotDetails(HWND dialog, uint16_t slotIndex) {
    if (slotIndex == g_shownSlot || slotIndex >= kDeviceSlots) return;
    const DeviceSlot& slot = DeviceTable[slotIndex];
    char text[32];
    snprintf(text, sizeof(text), "%x H", slot.dwIoPortAddress);
    SetDlgItemTextA(dialog, IDC_DEVSEL_ADDRESS, text);
    snprintf(text, sizeof(text), "%d", slot.dwIoPortLength);
    SetDlgItemTextA(dialog, IDC_DEVSEL_LENGTH, text);
    snprintf(text, sizeof(text), "%d", static_cast<int>(slot.wSocket));
    SetDlgItemTextA(dialog, IDC_DEVSEL_SOCKET, text);
    g_shownSlot = slotIndex;
}

// The list line currently selected, or -1 when there is none.
int32_t SelectedLine(HWND dialog) {
    LRESULT line = SendDlgItemMessageA(dialog, IDC_DEVSEL_LIST, LB_GETCURSEL, 0, 0);
    if (line == LB_ERR || line < 0 || line >= kDeviceSlots) return -1;
    return static_cast<int32_t>(line);
}

// Ends the dialog with the slot of the selected line; with no selection the
// dialog stays open rather than returning a slot that was never offered.
void EndWithSelectedSlot(HWND dialog) {
    int32_t line = SelectedLine(dialog);
    if (line >= 0) EndDialog(dialog, g_listMap[line]);
}

INT_PTR CALLBACK DeviceSelectionProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            g_shownSlot = 0xFFFF;
            int n = 0;
            for (int j = 0; j < kDeviceSlots; ++j) {
                if (DeviceTable[j].bPresent == 1 && *InUseFlag(DeviceTable[j], g_selectingClass) == 0) {
                    char line[32];
                    snprintf(line, sizeof(line), "VYT-TK17 #%d", n);
                    SendDlgItemMessageA(dialog, IDC_DEVSEL_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
                    g_listMap[n] = static_cast<uint16_t>(j);
                    ++n;
                }
            }
            if (n == 0) {
                ShowWarning("エラー", "使えるデバイスがありません");
                EndDialog(dialog, -1);
                return TRUE;
            }
            SendDlgItemMessageA(dialog, IDC_DEVSEL_LIST, LB_SETCURSEL, 0, 0);
            ShowSlotDetails(dialog, g_listMap[0]);
            return TRUE;
        }
        case WM_COMMAND: {
            const WORD id = LOWORD(wParam);
            const WORD notification = HIWORD(wParam);
            if (id == IDOK) {
                EndWithSelectedSlot(dialog);
            } else if (id == IDCANCEL) {
                EndDialog(dialog, -1);
            } else if (id == IDC_DEVSEL_LIST) {
                if (notification == LBN_SELCHANGE) {
                    int32_t line = SelectedLine(dialog);
                    if (line >= 0) ShowSlotDetails(dialog, g_listMap[line]);
                } else if (notification == LBN_DBLCLK) {
                    EndWithSelectedSlot(dialog);
                }
            }
            return TRUE;
        }
        default:
            return FALSE;
    }
}

}  // namespace

int32_t InitDevices() {
    CreatePortLock();
    if (LoadDriverLibrary() == 0) return 0;
    for (uint32_t i = 0; i < kDeviceSlots; ++i) {
        DeviceSlot& slot = DeviceTable[i];
        slot = DeviceSlot();
        slot.wSocket = kNoSocket;
        uint32_t cell = i;
        if (Tk17Create(&cell, g_notifyWindow, TK17_MSG_CARD_REMOVED, 0) != 1) continue;
        Tk17Resource resource;
        memset(&resource, 0, sizeof(resource));
        if (Tk17GetResource(i, &resource) == 1) {
            slot.bPresent = 1;
            memcpy(&slot.dwIoPortAddress, resource.bytes + TK17_RESOURCE_IO_ADDRESS, 4);
            memcpy(&slot.dwIoPortLength, resource.bytes + TK17_RESOURCE_IO_LENGTH, 4);
            slot.wSocket = static_cast<uint16_t>(cell & 0xFFFF);
        } else {
            Tk17Close(i);
        }
    }
    return 1;
}

int32_t ExitDevices() {
    for (const DeviceSlot& slot : DeviceTable)
        if (slot.bPresent == 1) Tk17Close(slot.wSocket);
    FreeDriverLibrary();
    DeletePortLock();
    return 1;
}

int32_t SelectDevice(HWND owner, ModuleClass moduleClass) {
    g_selectingClass = moduleClass;
    INT_PTR result = DialogBoxParamA(g_extensionInstance, "TK17_DEVSEL", owner, DeviceSelectionProc, 0);
    if (result < 0 || result >= kDeviceSlots) return -1;
    return static_cast<int32_t>(result);
}

void ClaimDeviceSlot(int32_t slot, ModuleClass moduleClass, uint16_t* socketField) {
    *InUseFlag(DeviceTable[slot], moduleClass) = 1;
    *socketField = DeviceTable[slot].wSocket;
}

void ReleaseDeviceSlot(uint16_t socket, ModuleClass moduleClass) {
    if (DeviceSlot* slot = FindSlotBySocket(socket)) *InUseFlag(*slot, moduleClass) = 0;
}

int32_t CheckDeviceSlot(uint16_t socket, ModuleClass moduleClass) {
    Tk17Resource resource;
    memset(&resource, 0, sizeof(resource));
    if (Tk17GetResource(socket, &resource) == 0) {
        char text[96];
        snprintf(text, sizeof(text), "指定のソケット %d にデバイスが存在しませんでした", static_cast<int>(socket));
        ShowWarning("VYT-TK17 ERROR", text);
        return 0;
    }
    if (DeviceSlot* slot = FindSlotBySocket(socket)) *InUseFlag(*slot, moduleClass) = 1;
    return 1;
}
