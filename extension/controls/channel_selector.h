// The channel selector controls of the setup dialogs (channel buttons and the
// less/more buttons), the routines that keep them in step with the selector
// state, and dialog placement with the shared dialog font.
#pragma once

#include <windows.h>
#include <stdint.h>

#define IDC_LESS 23000
#define IDC_MORE 23001
#define IDC_CHANNEL0 23002

// Messages the buttons accept and the notifications the channel button sends.
enum : UINT {
    SELECTOR_MSG_STATE = 254,
    SELECTOR_MSG_DESELECT = 1029,
    SELECTOR_NOTIFY_DOWN = 1025,
    SELECTOR_NOTIFY_UP = 1026,
    SELECTOR_NOTIFY_DOUBLE = 1027,
    SELECTOR_NOTIFY_RIGHT_DOUBLE = 1028,
};

// Channel button states, and less/more button states.
enum : uint16_t {
    CHANNEL_UNSET = 0,
    CHANNEL_SELECTED = 1,
    CHANNEL_ACTIVE = 2,
    CHANNEL_INACTIVE = 3,
    LESS_DISABLED = 0,
    LESS_ENABLED = 1,
    LESS_PRESSED = 2,
    MORE_DISABLED = 3,
    MORE_ENABLED = 4,
    MORE_PRESSED = 5,
};

constexpr int kChannelBitmapCount = 4;
constexpr int kLessMoreBitmapCount = 6;

extern uint32_t selectedChannel;
extern uint32_t activeChannels;
extern uint32_t maxChannels;
extern HFONT g_dialogFont;

void RegisterChannelSelectorClasses();
void UnregisterChannelSelectorClasses();
void DeleteDialogFont();

LRESULT CALLBACK ChannelButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK LessMoreButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void RefreshChannelSelector(HWND dialog);
void ChangeChannelCount(HWND dialog, UINT command);
void SelectChannel(HWND dialog, HWND button);
void PlaceDialog(HWND dialog, HWND reference);
HFONT MakeDialogFont(HWND dialog);
BOOL CALLBACK SetChildFont(HWND child, LPARAM font);
