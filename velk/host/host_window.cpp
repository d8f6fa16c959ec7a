// Velk's main window as the stand-in shows it: the menu bar the extension inserts its
// popup into, the look-up messages, the module list (or the live view), and the
// message pump; and the windows the extension leaves behind at finish.
#include "velk/host/host.h"

#include "velk/host/host_internal.h"
#include "velk/common/paths.h"

namespace velk {

namespace {

enum MenuCommand : UINT {
    kCmdNew = 100,
    kCmdOpen = 101,
    kCmdSave = 102,
    kCmdExit = 103,
    kCmdModuleSetup = 110,
    kCmdRemoveModule = 111,
    kCmdStart = 120,
    kCmdPause = 121,
    kCmdStop = 122,
    kCmdDeviceOptions = 4990,  // Velk's menu entry an extension may take over
    kCmdCascade = 130,
    kCmdTile = 131,
    kCmdAbout = 140,
};

LRESULT CALLBACK mainWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (Host* host = Host::current()) return host->handleMessage(hwnd, msg, wParam, lParam);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace

void Host::createWindow() {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = mainWindowProc;
    wc.hInstance = instance_;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    wc.lpszClassName = kMainWindowClass;
    if (!RegisterClassExA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw std::runtime_error("Velk's main window class cannot be registered: " + systemErrorText(GetLastError()));

    HMENU bar = CreateMenu();
    auto popup = [bar](const char* caption, std::initializer_list<std::pair<UINT, const char*>> items) {
        HMENU p = CreatePopupMenu();
        for (const auto& item : items) {
            if (item.first == 0)
                AppendMenuA(p, MF_SEPARATOR, 0, nullptr);
            else
                AppendMenuA(p, MF_STRING, item.first, item.second);
        }
        AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(p), caption);
    };
    popup("&File", {{kCmdNew, "&New worksheet"},
                    {kCmdOpen, "&Open worksheet..."},
                    {kCmdSave, "&Save worksheet"},
                    {0, nullptr},
                    {kCmdExit, "E&xit"}});
    popup("&Edit", {{kCmdModuleSetup, "Module &setup..."}, {kCmdRemoveModule, "&Remove module"}});
    popup("&Experiment", {{kCmdStart, "&Start"},
                          {kCmdPause, "&Pause"},
                          {kCmdStop, "S&top"},
                          {0, nullptr},
                          {kCmdDeviceOptions, "&Device options..."}});
    popup("&Window", {{kCmdCascade, "&Cascade"}, {kCmdTile, "&Tile"}});
    popup("&Help", {{kCmdAbout, "&About Velk..."}});

    mainWindow_ = CreateWindowExA(0, kMainWindowClass, "Velk", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                  options_.windowX, options_.windowY, options_.windowWidth, options_.windowHeight,
                                  nullptr, bar, instance_, nullptr);
    if (!mainWindow_) {
        const DWORD code = GetLastError();
        DestroyMenu(bar);
        throw std::runtime_error("Velk's main window cannot be created: " + systemErrorText(code));
    }
    mainMenu_ = bar;
    desk_ = mainWindow_;
    if (options_.showMainWindow) {
        ShowWindow(mainWindow_, SW_SHOW);
        UpdateWindow(mainWindow_);
    }
}

void Host::moveMainWindow(int x, int y, int width, int height) {
    SetWindowPos(mainWindow_, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {

BOOL CALLBACK collectWindow(HWND h, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(h);
    return TRUE;
}

}  // namespace

void Host::releaseOldWindows() {
    // Windows the extension left behind (its notification window above all) are
    // destroyed while their code is still loaded, without running it: a Velk that
    // exits never calls them again either.
    std::vector<HWND> candidates;
    EnumThreadWindows(GetCurrentThreadId(), collectWindow, reinterpret_cast<LPARAM>(&candidates));
    for (HWND h = FindWindowExA(HWND_MESSAGE, nullptr, kNotifyWindowClass, nullptr); h;
         h = FindWindowExA(HWND_MESSAGE, h, kNotifyWindowClass, nullptr))
        if (GetWindowThreadProcessId(h, nullptr) == GetCurrentThreadId()) candidates.push_back(h);
    std::vector<HWND> doomed;
    for (HWND h : candidates) {
        if (h == mainWindow_) continue;
        char cls[64] = {};
        GetClassNameA(h, cls, sizeof cls);
        bool left = std::strcmp(cls, kNotifyWindowClass) == 0 || (mainWindow_ && GetWindow(h, GW_OWNER) == mainWindow_);
        if (!left && extension_) {
            MEMORY_BASIC_INFORMATION info = {};
            void* proc = reinterpret_cast<void*>(GetWindowLongPtrA(h, GWLP_WNDPROC));
            left = proc && VirtualQuery(proc, &info, sizeof info) && info.AllocationBase == extension_;
        }
        if (!left) continue;
        doomed.push_back(h);
        // The notification window lives as long as the main window, by design; any
        // other window of the extension still there at finish was left behind.
        if (std::strcmp(cls, kNotifyWindowClass) != 0)
            log_.error(std::string("a window of class \"") + cls + "\" was left behind at finish");
    }
    for (HWND h : doomed) {
        if (!IsWindow(h)) continue;
        SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
        DestroyWindow(h);
    }
}

LRESULT Host::handleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case VELK_MSG_VARIABLE:
            return answerLookup(LookupKind::Variable, reinterpret_cast<const char*>(lParam));
        case VELK_MSG_FUNCTION:
            return answerLookup(LookupKind::Function, reinterpret_cast<const char*>(lParam));
        case WM_COMMAND: {
            const UINT id = LOWORD(wParam);
            for (auto it = menuEntries_.rbegin(); it != menuEntries_.rend(); ++it)
                if (it->entry == id) {
                    chooseMenuEntry(id);
                    return 0;
                }
            for (size_t i = 0; i < classes_.size(); ++i)
                if (classes_[i].record.menuCommand == id) {
                    if (ModuleRecord* m = createModule(i)) setupModule(m);
                    InvalidateRect(hwnd, nullptr, TRUE);
                    return 0;
                }
            if (id == kCmdModuleSetup && currentModule_) setupModule(currentModule_);
            else if (id == kCmdRemoveModule && currentModule_) removeModule(currentModule_);
            else if (id == kCmdExit) PostMessageA(hwnd, WM_CLOSE, 0, 0);
            InvalidateRect(hwnd, nullptr, TRUE);
            return 0;
        }
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            if (paintHook_) {
                RECT client;
                GetClientRect(hwnd, &client);
                paintHook_(dc, client);
                EndPaint(hwnd, &ps);
                return 0;
            }
            SetBkMode(dc, TRANSPARENT);
            int y = 8;
            for (const auto& inst : modules_) {
                const RegisteredClass& cls = classes_[inst->classIndex];
                std::string line = std::to_string(inst->number) + "  " +
                                   boundedText(inst->record->moduleName, sizeof inst->record->moduleName) + "  (" +
                                   cls.longName() + ")";
                TextOutA(dc, 8, y, line.c_str(), static_cast<int>(line.size()));
                y += 18;
            }
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_CLOSE:
            // The host owns the window; a windowed run ends its message loop here.
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

size_t Host::pump() {
    size_t n = 0;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ++n;
        if (msg.message == WM_QUIT) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return n;
}

}  // namespace velk
