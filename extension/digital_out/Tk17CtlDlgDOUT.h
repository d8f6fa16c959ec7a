// The digital output setup dialog TK17_DO (see the digital input dialog).
#pragma once

#include "extension/controls/setup_dialog.h"

INT_PTR RunDigitalOutputSetupDialog(HWND owner);
INT_PTR CALLBACK DigitalOutputSetupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
