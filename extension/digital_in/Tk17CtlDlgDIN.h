// The digital input setup dialog TK17_DI. The two digital dialogs are the shared
// setup dialog with the same controls; they differ only in their form (template,
// the side of the module the channels are on, source tag and line numbers, and the
// digital output area's run-time field).
#pragma once

#include "extension/controls/setup_dialog.h"

INT_PTR RunDigitalInputSetupDialog(HWND owner);
INT_PTR CALLBACK DigitalInputSetupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
