// The digital input setup dialog: channels are the module's outputs.
#include "extension/digital_in/Tk17CtlDlgDIN.h"

#include "extension/digital_in/Vyttk17DIN.h"
#include "extension/frame/classes.h"

namespace {

const SetupDialogForm kDigitalInForm = {
    "Tk17CtlDlgDIN", 72, 203, 213,
    kDigitalInPrivateSize, kDigitalMaxChannels, false,
    offsetof(DigitalSettings, socket), IDC_DIGITAL_SOCKET_TEXT,
    0, 0,
    nullptr, nullptr,
};

}  // namespace

INT_PTR RunDigitalInputSetupDialog(HWND owner) {
    return DialogBoxParamA(g_extensionInstance, "TK17_DI", owner, DigitalInputSetupProc, 0);
}

INT_PTR CALLBACK DigitalInputSetupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return SetupDialogMessage(kDigitalInForm, dialog, message, wParam, lParam);
}
