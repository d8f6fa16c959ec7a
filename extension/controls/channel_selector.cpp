#include "extension/controls/channel_selector.h"

#include "extension/frame/host_binding.h"

#include <string.h>

uint32_t selectedChannel;
uint32_t activeChannels;
uint32_t maxChannels;
HFONT g_dialogFont;

namespace {

const char kChannelClass[] = "ZUL:CONTROLKANAL";
const char kLessMoreClass[] = "ZUL:CONTROLLESSMORE";

uint16_t ButtonState(HWND window) { return static_cast<uint16_t>(GetWindowWord(window, 0)); }
void SetButtonState(HWND window, uint16_t state) { SetWindowWord(window, 0, static_cast<WORD>(state)); }

void SendState(HWND dialog, int id, uint16_t state) {
    SendDlgItemMessageA(dialog, id, SELECTOR_MSG_STATE, state, 0);
}

// Draws the bitmap of Velk's array at the button state. A state beyond the array
// draws nothing rather than reading past it.
void PaintFromBitmaps(HWND window, const HBITMAP* bitmaps, int count) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    const uint16_t state = ButtonState(window);
    if (bitmaps != nullptr && state < count && bitmaps[state] != nullptr) {
        HBITMAP bitmap = bitmaps[state];
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ previous = SelectObject(memory, bitmap);
        SetMapMode(memory, GetMapMode(dc));
        BITMAP info;
        GetObjectA(bitmap, sizeof(info), &info);
        POINT size = {info.bmWidth, info.bmHeight};
        DPtoLP(dc, &size, 1);
        BitBlt(dc, 0, 0, size.x, size.y, memory, 0, 0, SRCCOPY);
        SelectObject(memory, previous);
        DeleteDC(memory);
    }
    EndPaint(window, &paint);
}

void PlaceOnCreate(HWND window, LPARAM lParam, int width, int height) {
    const CREATESTRUCTA* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    MoveWindow(window, create->x, create->y, width, height, TRUE);
}

void NotifyParent(HWND window, UINT notification) {
    SendMessageA(GetParent(window), notification, reinterpret_cast<WPARAM>(window), ButtonState(window));
}

ATOM RegisterButtonClass(const char* name, UINT style, WNDPROC procedure) {
    WNDCLASSA windowClass = {};
    windowClass.style = style;
    windowClass.lpfnWndProc = procedure;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 2;
    windowClass.hInstance = g_extensionInstance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(DKGRAY_BRUSH));
    windowClass.lpszClassName = name;
    return RegisterClassA(&windowClass);
}

}  // namespace

void RegisterChannelSelectorClasses() {
    RegisterButtonClass(kChannelClass, CS_DBLCLKS, ChannelButtonProc);
    RegisterButtonClass(kLessMoreClass, 0, LessMoreButtonProc);
}

void UnregisterChannelSelectorClasses() {
    UnregisterClassA(kChannelClass, g_extensionInstance);
    UnregisterClassA(kLessMoreClass, g_extensionInstance);
}

void DeleteDialogFont() {
    if (g_dialogFont == nullptr) return;
    DeleteStackedObject(g_dialogFont);
    g_dialogFont = nullptr;
}

LRESULT CALLBACK ChannelButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            PlaceOnCreate(window, lParam, 22, 30);
            return 0;
        case WM_PAINT:
            PaintFromBitmaps(window, HostChannelBitmaps(), kChannelBitmapCount);
            return 0;
        case WM_LBUTTONDOWN:
            NotifyParent(window, SELECTOR_NOTIFY_DOWN);
            return 0;
        case WM_LBUTTONUP:
            NotifyParent(window, SELECTOR_NOTIFY_UP);
            return 0;
        case WM_LBUTTONDBLCLK:
            if (bExperimentIsRunning == 0) NotifyParent(window, SELECTOR_NOTIFY_DOUBLE);
            return 0;
        case WM_RBUTTONDBLCLK:
            if (bExperimentIsRunning == 0) NotifyParent(window, SELECTOR_NOTIFY_RIGHT_DOUBLE);
            return 0;
        case SELECTOR_MSG_STATE:
            SetButtonState(window, static_cast<uint16_t>(wParam));
            InvalidateRect(window, nullptr, FALSE);
            return 0;
        case SELECTOR_MSG_DESELECT:
            if (ButtonState(window) == CHANNEL_SELECTED) {
                SetButtonState(window, CHANNEL_ACTIVE);
                InvalidateRect(window, nullptr, FALSE);
            }
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK LessMoreButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            PlaceOnCreate(window, lParam, 24, 32);
            return 0;
        case WM_PAINT:
            PaintFromBitmaps(window, HostLessMoreBitmaps(), kLessMoreBitmapCount);
            return 0;
        case SELECTOR_MSG_STATE:
            SetButtonState(window, static_cast<uint16_t>(wParam));
            InvalidateRect(window, nullptr, FALSE);
            return 0;
        case WM_LBUTTONDOWN: {
            const uint16_t state = ButtonState(window);
            if (state == LESS_DISABLED || state == MORE_DISABLED) return 0;
            SetButtonState(window, state < MORE_DISABLED ? LESS_PRESSED : MORE_PRESSED);
            InvalidateRect(window, nullptr, TRUE);
            UpdateWindow(window);
            SetCapture(window);
            return 0;
        }
        case WM_LBUTTONUP: {
            const uint16_t state = ButtonState(window);
            if (GetCapture() != window || state == LESS_DISABLED || state == MORE_DISABLED) return 0;
            ReleaseCapture();
            SetButtonState(window, state < MORE_DISABLED ? LESS_ENABLED : MORE_ENABLED);
            InvalidateRect(window, nullptr, TRUE);
            UpdateWindow(window);
            SendMessageA(GetParent(window), WM_COMMAND, state < MORE_DISABLED ? IDC_LESS : IDC_MORE, 0);
            return 0;
        }
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

void RefreshChannelSelector(HWND dialog) {
    for (uint32_t i = 0; i < maxChannels; ++i) {
        uint16_t state = i >= activeChannels ? CHANNEL_INACTIVE : (i == selectedChannel ? CHANNEL_SELECTED : CHANNEL_ACTIVE);
        SendState(dialog, IDC_CHANNEL0 + i, state);
    }
    if (bExperimentIsRunning == 1) {
        SendState(dialog, IDC_LESS, LESS_DISABLED);
        SendState(dialog, IDC_MORE, MORE_DISABLED);
    } else {
        SendState(dialog, IDC_LESS, activeChannels >= 2 ? LESS_ENABLED : LESS_DISABLED);
        SendState(dialog, IDC_MORE, activeChannels < maxChannels ? MORE_ENABLED : MORE_DISABLED);
    }
    PlaceDialog(dialog, g_hostMainWindow);
}

void ChangeChannelCount(HWND dialog, UINT command) {
    if (command == IDC_MORE) {
        if (activeChannels == 1) SendState(dialog, IDC_LESS, LESS_ENABLED);
        ++activeChannels;
        if (activeChannels >= maxChannels) SendState(dialog, IDC_MORE, MORE_DISABLED);
        SendState(dialog, IDC_CHANNEL0 + activeChannels - 1, CHANNEL_ACTIVE);
    } else if (command == IDC_LESS) {
        if (activeChannels == maxChannels) SendState(dialog, IDC_MORE, MORE_ENABLED);
        --activeChannels;
        if (activeChannels < 2) SendState(dialog, IDC_LESS, LESS_DISABLED);
        SendState(dialog, IDC_CHANNEL0 + activeChannels, CHANNEL_INACTIVE);
        if (selectedChannel >= activeChannels) {
            selectedChannel = activeChannels - 1;
            SendState(dialog, IDC_CHANNEL0 + selectedChannel, CHANNEL_SELECTED);
        }
    }
}

void SelectChannel(HWND dialog, HWND button) {
    SendDlgItemMessageA(dialog, IDC_CHANNEL0 + selectedChannel, SELECTOR_MSG_DESELECT, 0, 0);
    selectedChannel = static_cast<uint32_t>(GetDlgCtrlID(button) - IDC_CHANNEL0);
    SendMessageA(button, SELECTOR_MSG_STATE, CHANNEL_SELECTED, 0);
}

void PlaceDialog(HWND dialog, HWND reference) {
    RECT frame;
    GetWindowRect(dialog, &frame);
    const int w = frame.right - frame.left;
    const int h = frame.bottom - frame.top;
    POINT centre;
    if (reference != nullptr) {
        RECT client;
        GetClientRect(reference, &client);
        centre.x = (client.right - client.left) / 2;
        centre.y = (client.bottom - client.top) / 2;
        ClientToScreen(reference, &centre);
    } else {
        RECT desktop;
        GetWindowRect(GetDesktopWindow(), &desktop);
        centre.x = desktop.left + (desktop.right - desktop.left) / 2;
        centre.y = desktop.top + (desktop.bottom - desktop.top) / 2;
    }
    int x = centre.x - w / 2;
    int y = centre.y - h / 2;
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    if (x + w > screenWidth) x = screenWidth - w;
    if (y + h > screenHeight) y = screenHeight - h;
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    MoveWindow(dialog, x, y, w, h, FALSE);
    if (g_dialogFont == nullptr) g_dialogFont = MakeDialogFont(dialog);
    EnumChildWindows(dialog, SetChildFont, reinterpret_cast<LPARAM>(g_dialogFont));
}

HFONT MakeDialogFont(HWND dialog) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    if (font == nullptr) return nullptr;
    LOGFONTA description;
    if (GetObjectA(font, sizeof(description), &description) == 0) return nullptr;
    description.lfWeight = FW_NORMAL;
    return CreateStackedFontIndirect(&description);
}

BOOL CALLBACK SetChildFont(HWND child, LPARAM font) {
    char className[100];
    className[0] = 0;
    GetClassNameA(child, className, sizeof(className));
    if (_stricmp(className, "EDIT") != 0 && _stricmp(className, "LISTBOX") != 0 && _stricmp(className, "COMBOBOX") != 0)
        SendMessageA(child, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
    return TRUE;
}
