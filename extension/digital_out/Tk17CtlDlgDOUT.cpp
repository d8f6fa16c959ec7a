// The digital output setup dialog: channels are the module's inputs, and the
// output buffer reference belongs to the running experiment.
#include "extension/digital_out/Tk17CtlDlgDOUT.h"

#include "extension/digital_in/Vyttk17DIN.h"
#include "extension/frame/classes.h"

namespace {

// The start allocates the output buffer and the stop frees it: Ok leaves the
// reference as it stands in the live area, so a start or stop while the dialog
// is open neither loses the buffer nor brings a freed one back.
const SetupDialogForm kDigitalOutForm = {
    "Tk17CtlDlgDOUT", 71, 202, 212,
    kDigitalOutPrivateSize, kDigitalMaxChannels, true,
    offsetof(DigitalSettings, socket), IDC_DIGITAL_SOCKET_TEXT,
    offsetof(DigitalSettings, outputBuffer), sizeof(DigitalSettings),
    nullptr, nullptr,
};

}  // namespace

INT_PTR RunDigitalOutputSetupDialog(HWND owner) {
    return DialogBoxParamA(g_extensionInstance, "TK17_DO", owner, DigitalOutputSetupProc, 0);
}

INT_PTR CALLBACK DigitalOutputSetupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return SetupDialogMessage(kDigitalOutForm, dialog, message, wParam, lParam);
}
