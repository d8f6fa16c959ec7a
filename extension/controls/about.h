// The About box opened from the setup dialogs' version button.
#pragma once

#include <windows.h>

#define IDC_ABOUT_VERSION 1007

void ShowAboutBox(HWND owner);
INT_PTR CALLBACK AboutBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
