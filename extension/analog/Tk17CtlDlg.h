// The analog input setup dialog TK17_IN.
#pragma once

#include <windows.h>
#include <stdint.h>

// Control identifiers shared by the three setup dialogs.
#define IDC_MODULE_NAME 23018
#define IDC_MODULE_COMMENT 23019
#define IDC_SELECTED_NUMBER 23020
#define IDC_CHANNEL_NAME 23021
#define IDC_HELP_BUTTON 9
#define IDC_VERSION_BUTTON 1006
#define IDC_RANGE_10V 1026
#define IDC_RANGE_5V 1027
#define IDC_SOCKET_TEXT 1040
#define IDC_BUFFER_SIZE 1044

// Copy requests the setup dialogs answer.
enum : UINT { SETUP_MSG_COPY_IF_NAME_ACTIVE = 1031, SETUP_MSG_COPY_NAME = 1032 };

INT_PTR RunAnalogSetupDialog(HWND owner);
INT_PTR CALLBACK AnalogSetupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
