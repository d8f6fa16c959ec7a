// The analog input setup dialog TK17_IN.
#pragma once

#include "extension/controls/setup_dialog.h"

// Controls of the analog dialog beyond the shared ones.
#define IDC_HELP_BUTTON 9
#define IDC_RANGE_10V 1026
#define IDC_RANGE_5V 1027
#define IDC_SOCKET_TEXT 1040
#define IDC_BUFFER_SIZE 1044

INT_PTR RunAnalogSetupDialog(HWND owner);
INT_PTR CALLBACK AnalogSetupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
