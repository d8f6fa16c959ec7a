#include "extension/controls/about.h"

#include "extension/frame/classes.h"
#include "extension/frame/host_binding.h"

void ShowAboutBox(HWND owner) { DialogBoxParamA(g_extensionInstance, "TK17_ABOUT", owner, AboutBoxProc, 0); }

// Only OK (or Enter) closes the box; Esc, Cancel and the close box are swallowed.
INT_PTR CALLBACK AboutBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            char version[128];
            version[0] = 0;
            LoadStringA(g_extensionInstance, IDS_ABOUT_VERSION, version, sizeof(version));
            SetDlgItemTextA(dialog, IDC_ABOUT_VERSION, version);
            return TRUE;
        }
        case WM_COMMAND:
            if (wParam == 1) EndDialog(dialog, 0);
            return TRUE;
        case WM_CLOSE:
            return TRUE;
        default:
            return FALSE;
    }
}
