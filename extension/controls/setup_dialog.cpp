#include "extension/controls/setup_dialog.h"

#include "extension/controls/about.h"
#include "extension/controls/channel_selector.h"
#include "extension/controls/setup_text.h"
#include "extension/frame/host_binding.h"

#include <string.h>

uint8_t* g_setupCopy;
int g_setupLastFocusId;

namespace {

constexpr size_t kModuleNameChars = 12;
constexpr size_t kModuleCommentChars = 40;

void FocusModuleName(HWND dialog) {
    g_setupLastFocusId = IDC_CHANNEL0;
    SetFocus(GetDlgItem(dialog, IDC_MODULE_NAME));
}

void FreeWorkingCopy(const SetupDialogForm& form, int32_t line) {
    NewDoMemFree(g_setupCopy, form.sourceTag, line);
    g_setupCopy = nullptr;
}

void CopyNameToActiveChannels() {
    for (uint32_t i = 0; i < activeChannels && i < maxChannels; ++i)
        if (i != selectedChannel) memcpy(SetupChannelName(i), SetupChannelName(selectedChannel), kChannelNameSlot);
}

// Opening: the working copy, the channel selector, the selected channel, the
// dialog's own controls, the socket, the text boxes and the focus. Without memory
// for the working copy the dialog ends at once with 0 and shows nothing.
INT_PTR Open(const SetupDialogForm& form, HWND dialog) {
    ModuleRecord* m = SetupModule();
    g_setupCopy = static_cast<uint8_t*>(NewMemAlloc(form.areaSize, form.sourceTag, form.lineAllocate));
    if (g_setupCopy == nullptr) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    memcpy(g_setupCopy, m->privateData, form.areaSize);
    selectedChannel = 0;
    activeChannels = form.channelsAreInputs ? m->inputCount : m->outputCount;
    maxChannels = form.maxChannels;
    RefreshChannelSelector(dialog);
    ShowSelectedChannel(dialog, form);
    if (form.openExtras != nullptr) form.openExtras(dialog, g_setupCopy);
    uint16_t socket;
    memcpy(&socket, g_setupCopy + form.socketOffset, sizeof socket);
    WriteControlNumber(dialog, form.socketControl, socket);
    SendDlgItemMessageA(dialog, IDC_CHANNEL_NAME, EM_LIMITTEXT, kChannelNameChars, 0);
    SendDlgItemMessageA(dialog, IDC_MODULE_NAME, EM_LIMITTEXT, kModuleNameChars, 0);
    SendDlgItemMessageA(dialog, IDC_MODULE_COMMENT, EM_LIMITTEXT, kModuleCommentChars, 0);
    char text[kModuleCommentChars + 1];
    CopyTextCut(text, kModuleNameChars, m->moduleName);
    SetDlgItemTextA(dialog, IDC_MODULE_NAME, text);
    CopyTextCut(text, kModuleCommentChars, m->moduleComment);
    SetDlgItemTextA(dialog, IDC_MODULE_COMMENT, text);
    SetFocus(GetDlgItem(dialog, IDC_MODULE_NAME));
    g_setupLastFocusId = 0;
    return FALSE;
}

// Writes the working copy back, the run-time fields excepted.
void WriteBack(const SetupDialogForm& form, uint8_t* live) {
    if (form.keepFrom >= form.keepTo) {
        memcpy(live, g_setupCopy, form.areaSize);
        return;
    }
    memcpy(live, g_setupCopy, form.keepFrom);
    memcpy(live + form.keepTo, g_setupCopy + form.keepTo, form.areaSize - form.keepTo);
}

INT_PTR Command(const SetupDialogForm& form, HWND dialog, WORD id, WORD notification) {
    ModuleRecord* m = SetupModule();
    switch (id) {
        case IDOK:
            StoreChannelName(dialog);
            ReadControlText(dialog, IDC_MODULE_NAME, m->moduleName, kModuleNameChars);
            ReadControlText(dialog, IDC_MODULE_COMMENT, m->moduleComment, kModuleCommentChars);
            WriteBack(form, static_cast<uint8_t*>(m->privateData));
            FreeWorkingCopy(form, form.lineFreeAtOk);
            if (form.channelsAreInputs)
                ChangeModuleSize(m, activeChannels, 0);
            else
                ChangeModuleSize(m, 0, activeChannels);
            EndDialog(dialog, 1);
            return 1;
        case IDCANCEL:
            FreeWorkingCopy(form, form.lineFreeAtCancel);
            EndDialog(dialog, 0);
            return 1;
        case IDC_VERSION_BUTTON:
            ShowAboutBox(dialog);
            return 1;
        case IDC_LESS:
        case IDC_MORE:
            StoreChannelName(dialog);
            ChangeChannelCount(dialog, id);
            ShowSelectedChannel(dialog, form);
            FocusModuleName(dialog);
            return 1;
        case IDC_MODULE_NAME:
        case IDC_MODULE_COMMENT:
        case IDC_CHANNEL_NAME:
            if (notification == EN_SETFOCUS) g_setupLastFocusId = id;
            return 0;
        default:
            return 0;
    }
}

}  // namespace

ModuleRecord* SetupModule() { return CurrentModule(); }

char* SetupChannelName(uint32_t channel) {
    return reinterpret_cast<char*>(g_setupCopy) + channel * kChannelNameSlot;
}

void StoreChannelName(HWND dialog) {
    ReadControlText(dialog, IDC_CHANNEL_NAME, SetupChannelName(selectedChannel), kChannelNameChars);
}

void ShowSelectedChannel(HWND dialog, const SetupDialogForm& form) {
    WriteControlNumber(dialog, IDC_SELECTED_NUMBER, selectedChannel);
    // The name as Ok would store it: at most 20 characters. A slot written by
    // another version may hold more, or lack its terminating zero.
    char slot[kChannelNameSlot + 1];
    memcpy(slot, SetupChannelName(selectedChannel), kChannelNameSlot);
    slot[kChannelNameSlot] = 0;
    char name[kChannelNameChars + 1];
    CopyTextCut(name, kChannelNameChars, slot);
    SetDlgItemTextA(dialog, IDC_CHANNEL_NAME, name);
    if (form.showChannelExtras != nullptr) form.showChannelExtras(dialog, g_setupCopy);
}

INT_PTR SetupDialogMessage(const SetupDialogForm& form, HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return Open(form, dialog);
        case WM_COMMAND:
            if (g_setupCopy == nullptr) return 0;
            return Command(form, dialog, LOWORD(wParam), HIWORD(wParam));
        case SELECTOR_NOTIFY_DOWN:
            if (g_setupCopy == nullptr) return 0;
            if (LOWORD(lParam) == CHANNEL_ACTIVE) {
                StoreChannelName(dialog);
                SelectChannel(dialog, reinterpret_cast<HWND>(wParam));
                ShowSelectedChannel(dialog, form);
            }
            FocusModuleName(dialog);
            return 1;
        case SETUP_MSG_COPY_NAME:
        case SETUP_MSG_COPY_IF_NAME_ACTIVE:
            if (g_setupCopy == nullptr) return 0;
            StoreChannelName(dialog);
            ShowSelectedChannel(dialog, form);
            if (message == SETUP_MSG_COPY_NAME || g_setupLastFocusId == IDC_CHANNEL_NAME) CopyNameToActiveChannels();
            return 0;
        default:
            return 0;
    }
}
