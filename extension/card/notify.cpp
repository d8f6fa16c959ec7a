#include "extension/card/notify.h"

#include "abi/tk17_abi.h"
#include "extension/frame/host_binding.h"

HWND g_notifyWindow;

int32_t CreateNotifyWindow() {
    WNDCLASSA windowClass = {};
    windowClass.style = CS_DBLCLKS | CS_NOCLOSE;
    windowClass.lpfnWndProc = NotifyWndProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 4;
    windowClass.hInstance = HostInstance();
    windowClass.hIcon = nullptr;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = "TK17GETMSG";
    if (!RegisterClassA(&windowClass)) return 0;
    g_notifyWindow = nullptr;
    g_notifyWindow = CreateWindowExA(0, "TK17GETMSG", "GETMSG", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                     CW_USEDEFAULT, g_hostMainWindow, nullptr, HostInstance(), nullptr);
    return g_notifyWindow != nullptr;
}

namespace {

void StopAndWarn(const char* caption, const char* text) {
    if (bExperimentIsRunning == 1) StopExperiment();
    ShowWarning(caption, text);
}

}  // namespace

LRESULT CALLBACK NotifyWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case TK17_MSG_CARD_REMOVED:
            StopAndWarn("VYT-TK17 警告",
                        "アプリケーション実行中にカードを抜かないでください\n"
                        "継続する場合はカードを差込み、Velkを再起動してください");
            return 0;
        case TK17_MSG_BUFFER_OVERFLOW:
            StopAndWarn("VYT-TK17", "バッファオーバーフロー");
            return 0;
        case TK17_MSG_BUFFER_OVERRUN:
            StopAndWarn("VYT-TK17", "バッファオーバーラン");
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}
