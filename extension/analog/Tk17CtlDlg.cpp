// The analog input setup dialog: edits a working copy of the module's private
// data area with the channel selector, and writes it back only on OK.
#include "extension/analog/Tk17CtlDlg.h"

#include "extension/analog/Vyttk17AD.h"
#include "extension/controls/about.h"
#include "extension/controls/channel_selector.h"
#include "extension/controls/setup_text.h"
#include "extension/frame/host_binding.h"

#include <string.h>

namespace {

const char kTag[] = "Tk17CtlDlg";
constexpr int32_t kLineAllocate = 80;
constexpr int32_t kLineFreeAtOk = 262;
constexpr int32_t kLineFreeAtCancel = 274;
constexpr size_t kNameSlot = 24;
constexpr size_t kNameChars = 20;

const char* const kBufferSizes[8] = {"64K", "128K", "256K", "512K", "1M", "2M", "4M", "8M"};

// Working copy and last focus id; one setup dialog is open at a time.
AnalogSettings* g_copy;
int g_lastFocusId;

void StoreChannelName(HWND dialog) {
    ReadControlText(dialog, IDC_CHANNEL_NAME, g_copy->channelNames[selectedChannel], kNameChars);
}

void ShowSelectedChannel(HWND dialog) {
    WriteControlNumber(dialog, IDC_SELECTED_NUMBER, selectedChannel);
    SetDlgItemTextA(dialog, IDC_CHANNEL_NAME, g_copy->channelNames[selectedChannel]);
    CheckRadioButton(dialog, IDC_RANGE_10V, IDC_RANGE_5V, g_copy->mode.range == 0 ? IDC_RANGE_10V : IDC_RANGE_5V);
}

void FocusModuleName(HWND dialog) {
    g_lastFocusId = IDC_CHANNEL0;
    SetFocus(GetDlgItem(dialog, IDC_MODULE_NAME));
}

void CopyNameToActiveChannels() {
    for (uint32_t i = 0; i < activeChannels && i < kAnalogMaxChannels; ++i)
        if (i != selectedChannel) memcpy(g_copy->channelNames[i], g_copy->channelNames[selectedChannel], kNameSlot);
}

void FreeWorkingCopy(int32_t line) {
    NewDoMemFree(g_copy, kTag, line);
    g_copy = nullptr;
}

// Writes the working copy back. The fields the start writes and the stop clears
// (the mode derived for the card, the sample buffer and its size) stay as they
// are in the live area: the experiment may have started or stopped meanwhile.
void WriteBack(AnalogSettings* live) {
    const size_t runFrom = offsetof(AnalogSettings, mode.firstChannel);
    const size_t runTo = offsetof(AnalogSettings, unused244);
    unsigned char* dst = reinterpret_cast<unsigned char*>(live);
    const unsigned char* src = reinterpret_cast<const unsigned char*>(g_copy);
    memcpy(dst, src, runFrom);
    memcpy(dst + runTo, src + runTo, sizeof(AnalogSettings) - runTo);
}

INT_PTR Open(HWND dialog) {
    ModuleRecord* m = CurrentModule();
    g_copy = static_cast<AnalogSettings*>(NewMemAlloc(sizeof(AnalogSettings), kTag, kLineAllocate));
    if (g_copy == nullptr) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    memcpy(g_copy, m->privateData, sizeof(AnalogSettings));
    selectedChannel = 0;
    activeChannels = m->outputCount;
    maxChannels = kAnalogMaxChannels;
    RefreshChannelSelector(dialog);
    ShowSelectedChannel(dialog);
    if (bExperimentIsRunning != 0) {
        EnableWindow(GetDlgItem(dialog, IDC_RANGE_10V), FALSE);
        EnableWindow(GetDlgItem(dialog, IDC_RANGE_5V), FALSE);
        EnableWindow(GetDlgItem(dialog, IDC_BUFFER_SIZE), FALSE);
    }
    WriteControlNumber(dialog, IDC_SOCKET_TEXT, g_copy->socket);
    if (SendDlgItemMessageA(dialog, IDC_BUFFER_SIZE, CB_GETCOUNT, 0, 0) > 0)
        SendDlgItemMessageA(dialog, IDC_BUFFER_SIZE, CB_RESETCONTENT, 0, 0);
    for (const char* size : kBufferSizes)
        SendDlgItemMessageA(dialog, IDC_BUFFER_SIZE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(size));
    SendDlgItemMessageA(dialog, IDC_BUFFER_SIZE, CB_SETCURSEL, static_cast<WPARAM>(g_copy->bufferSizeIndex), 0);
    SendDlgItemMessageA(dialog, IDC_CHANNEL_NAME, EM_LIMITTEXT, kNameChars, 0);
    SendDlgItemMessageA(dialog, IDC_MODULE_NAME, EM_LIMITTEXT, 12, 0);
    SendDlgItemMessageA(dialog, IDC_MODULE_COMMENT, EM_LIMITTEXT, 40, 0);
    char text[41];
    CopyTextCut(text, 12, m->moduleName);
    SetDlgItemTextA(dialog, IDC_MODULE_NAME, text);
    CopyTextCut(text, 40, m->moduleComment);
    SetDlgItemTextA(dialog, IDC_MODULE_COMMENT, text);
    SetFocus(GetDlgItem(dialog, IDC_MODULE_NAME));
    g_lastFocusId = 0;
    return FALSE;
}

INT_PTR Command(HWND dialog, WORD id, WORD notification) {
    ModuleRecord* m = CurrentModule();
    switch (id) {
        case IDOK:
            StoreChannelName(dialog);
            ReadControlText(dialog, IDC_MODULE_NAME, m->moduleName, 12);
            ReadControlText(dialog, IDC_MODULE_COMMENT, m->moduleComment, 40);
            WriteBack(static_cast<AnalogSettings*>(m->privateData));
            FreeWorkingCopy(kLineFreeAtOk);
            ChangeModuleSize(m, 0, activeChannels);
            EndDialog(dialog, 1);
            return 1;
        case IDCANCEL:
            FreeWorkingCopy(kLineFreeAtCancel);
            EndDialog(dialog, 0);
            return 1;
        case IDC_HELP_BUTTON:
            WinHelpA(dialog, "VytTk17.hlp", HELP_FINDER, 0);
            return 0;
        case IDC_VERSION_BUTTON:
            ShowAboutBox(dialog);
            return 1;
        case IDC_RANGE_10V:
        case IDC_RANGE_5V:
            g_copy->mode.range = id == IDC_RANGE_10V ? 0 : 1;
            g_lastFocusId = id;
            return 0;
        case IDC_BUFFER_SIZE:
            if (notification == CBN_CLOSEUP) {
                LRESULT index = SendDlgItemMessageA(dialog, IDC_BUFFER_SIZE, CB_GETCURSEL, 0, 0);
                if (index != CB_ERR) g_copy->bufferSizeIndex = static_cast<int32_t>(index);
            }
            return 0;
        case IDC_LESS:
        case IDC_MORE:
            StoreChannelName(dialog);
            ChangeChannelCount(dialog, id);
            ShowSelectedChannel(dialog);
            FocusModuleName(dialog);
            return 1;
        case IDC_MODULE_NAME:
        case IDC_MODULE_COMMENT:
        case IDC_CHANNEL_NAME:
            if (notification == EN_SETFOCUS) g_lastFocusId = id;
            return 0;
        default:
            return 0;
    }
}

}  // namespace

INT_PTR RunAnalogSetupDialog(HWND owner) {
    return DialogBoxParamA(g_extensionInstance, "TK17_IN", owner, AnalogSetupProc, 0);
}

INT_PTR CALLBACK AnalogSetupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return Open(dialog);
        case WM_COMMAND:
            if (g_copy == nullptr) return 0;
            return Command(dialog, LOWORD(wParam), HIWORD(wParam));
        case SELECTOR_NOTIFY_DOWN:
            if (g_copy == nullptr) return 0;
            if (LOWORD(lParam) == CHANNEL_ACTIVE) {
                StoreChannelName(dialog);
                SelectChannel(dialog, reinterpret_cast<HWND>(wParam));
                ShowSelectedChannel(dialog);
            }
            FocusModuleName(dialog);
            return 1;
        case SETUP_MSG_COPY_NAME:
        case SETUP_MSG_COPY_IF_NAME_ACTIVE:
            if (g_copy == nullptr) return 0;
            StoreChannelName(dialog);
            ShowSelectedChannel(dialog);
            if (message == SETUP_MSG_COPY_NAME || g_lastFocusId == IDC_CHANNEL_NAME) CopyNameToActiveChannels();
            return 0;
        default:
            return 0;
    }
}
