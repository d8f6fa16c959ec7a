// The analog input setup dialog: the shared setup dialog with the voltage range,
// the driver buffer size and the help button.
#include "extension/analog/Tk17CtlDlg.h"

#include "extension/analog/Vyttk17AD.h"
#include "extension/frame/host_binding.h"

#include <stddef.h>

namespace {

const char* const kBufferSizes[8] = {"64K", "128K", "256K", "512K", "1M", "2M", "4M", "8M"};

const AnalogSettings* Copy(const uint8_t* copy) { return reinterpret_cast<const AnalogSettings*>(copy); }
AnalogSettings* WorkingCopy() { return reinterpret_cast<AnalogSettings*>(g_setupCopy); }

void ShowRange(HWND dialog, const uint8_t* copy) {
    CheckRadioButton(dialog, IDC_RANGE_10V, IDC_RANGE_5V, Copy(copy)->mode.range == 0 ? IDC_RANGE_10V : IDC_RANGE_5V);
}

// While an experiment runs the range and the buffer size cannot change; the
// buffer-size list is filled afresh and shows the module's entry.
void OpenRangeAndBuffer(HWND dialog, const uint8_t* copy) {
    if (bExperimentIsRunning != 0) {
        EnableWindow(GetDlgItem(dialog, IDC_RANGE_10V), FALSE);
        EnableWindow(GetDlgItem(dialog, IDC_RANGE_5V), FALSE);
        EnableWindow(GetDlgItem(dialog, IDC_BUFFER_SIZE), FALSE);
    }
    if (SendDlgItemMessageA(dialog, IDC_BUFFER_SIZE, CB_GETCOUNT, 0, 0) > 0)
        SendDlgItemMessageA(dialog, IDC_BUFFER_SIZE, CB_RESETCONTENT, 0, 0);
    for (const char* size : kBufferSizes)
        SendDlgItemMessageA(dialog, IDC_BUFFER_SIZE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(size));
    SendDlgItemMessageA(dialog, IDC_BUFFER_SIZE, CB_SETCURSEL, static_cast<WPARAM>(Copy(copy)->bufferSizeIndex), 0);
}

// The start derives the card's mode and allocates the sample buffer, the stop
// frees it: bytes 204 to 243 stay as they stand in the live area at Ok.
const SetupDialogForm kAnalogForm = {
    "Tk17CtlDlg", 80, 262, 274,
    sizeof(AnalogSettings), kAnalogMaxChannels, false,
    offsetof(AnalogSettings, socket), IDC_SOCKET_TEXT,
    offsetof(AnalogSettings, mode.firstChannel), offsetof(AnalogSettings, unused244),
    ShowRange, OpenRangeAndBuffer,
};

}  // namespace

INT_PTR RunAnalogSetupDialog(HWND owner) {
    return DialogBoxParamA(g_extensionInstance, "TK17_IN", owner, AnalogSetupProc, 0);
}

INT_PTR CALLBACK AnalogSetupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && g_setupCopy != nullptr) {
        const WORD id = LOWORD(wParam);
        switch (id) {
            case IDC_HELP_BUTTON:
                WinHelpA(dialog, "VytTk17.hlp", HELP_FINDER, 0);
                return 0;
            case IDC_RANGE_10V:
            case IDC_RANGE_5V:
                WorkingCopy()->mode.range = id == IDC_RANGE_10V ? 0 : 1;
                g_setupLastFocusId = id;
                return 0;
            case IDC_BUFFER_SIZE:
                if (HIWORD(wParam) == CBN_CLOSEUP) {
                    const LRESULT index = SendDlgItemMessageA(dialog, IDC_BUFFER_SIZE, CB_GETCURSEL, 0, 0);
                    if (index != CB_ERR) WorkingCopy()->bufferSizeIndex = static_cast<int32_t>(index);
                }
                return 0;
            default:
                break;
        }
    }
    return SetupDialogMessage(kAnalogForm, dialog, message, wParam, lParam);
}
