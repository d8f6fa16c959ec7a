// What the three setup dialogs (analog input, digital input, digital output) have
// in common: the working copy of the module's private data area, the last focus
// id, the two routines that move a channel name between the name box and the copy,
// opening, Ok and Cancel, the channel selector handling, the About box and the copy
// requests. A dialog is described by a SetupDialogForm; its own procedure handles
// its own controls and passes everything else to SetupDialogMessage.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include "abi/velk_abi.h"

// Control identifiers shared by the three setup dialogs.
#define IDC_MODULE_NAME 23018
#define IDC_MODULE_COMMENT 23019
#define IDC_SELECTED_NUMBER 23020
#define IDC_CHANNEL_NAME 23021
#define IDC_VERSION_BUTTON 1006
// The socket number's text in the two digital dialogs.
#define IDC_DIGITAL_SOCKET_TEXT 1045

// Copy requests the setup dialogs answer.
enum : UINT { SETUP_MSG_COPY_IF_NAME_ACTIVE = 1031, SETUP_MSG_COPY_NAME = 1032 };

struct SetupDialogForm {
    const char* sourceTag;     // for the working copy's allocation and frees
    int32_t lineAllocate;
    int32_t lineFreeAtOk;
    int32_t lineFreeAtCancel;
    uint32_t areaSize;         // bytes of the private data area in the working copy
    uint32_t maxChannels;
    bool channelsAreInputs;    // the channels are the module's inputs (digital output)
    uint32_t socketOffset;     // the socket number's place in the private data area
    int socketControl;         // static text that shows it
    // Bytes [keepFrom, keepTo) of the private data area are run-time fields that the
    // module's experiment start and stop write: Ok leaves them as they stand in the
    // live area, since an experiment may have started or stopped while the dialog
    // was open. keepFrom == keepTo keeps nothing.
    uint32_t keepFrom;
    uint32_t keepTo;
    // Shows what the dialog has beyond the channel name for the selected channel
    // (the analog range); null for none.
    void (*showChannelExtras)(HWND dialog, const uint8_t* copy);
    // Opening steps of the dialog's own controls, after the channel selector is
    // set and before the text boxes are filled; null for none.
    void (*openExtras)(HWND dialog, const uint8_t* copy);
};

// The working copy of the open setup dialog; null while none is open.
extern uint8_t* g_setupCopy;
// The control id of the edit box that last received the focus (0 or 23002 after
// the resets of opening and of the channel selector).
extern int g_setupLastFocusId;

// The name slot of channel `channel` in the working copy (the names are the first
// bytes of every module class's private data area, 24 bytes a channel).
char* SetupChannelName(uint32_t channel);
constexpr size_t kChannelNameSlot = 24;
constexpr size_t kChannelNameChars = 20;

// Name box -> working copy, for the selected channel.
void StoreChannelName(HWND dialog);
// Selected channel's number and name (and the form's extras) -> the dialog.
void ShowSelectedChannel(HWND dialog, const SetupDialogForm& form);

// The setup dialog procedure for the form: opening, the shared commands, the
// channel buttons and the copy requests; every other message is not handled (0).
INT_PTR SetupDialogMessage(const SetupDialogForm& form, HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The module whose dialog is open, found through Velk's current-module variable.
ModuleRecord* SetupModule();
