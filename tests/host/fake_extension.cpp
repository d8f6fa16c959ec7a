// A small extension for the host's loading tests. It binds the way the real one
// does (every variable and function name, DefineDllModule, the seven linked
// variables), and when its "driver" loads it also does what leaves traces in the
// host: a notification window of class TK17GETMSG registered under Velk's instance
// and owned by Velk's main window, a popup in Velk's menu, a menu entry callback
// and one module class. Its exports are named by host_fake_ext.def, undecorated
// like the real extension's (a stdcall export would otherwise be _SetupVelkDLL@4 on i686).
#include "abi/velk_abi.h"
#include "abi/velk_names.h"
#include "tests/host/fake_extension.h"

#include <windows.h>

namespace {

HINSTANCE g_self = nullptr;
HMODULE g_driver = nullptr;
HWND g_notify = nullptr;
uint32_t g_blockSize = 0;
double g_period = 0;
int32_t g_flags[5] = {};
ClassRegistration g_class;
char g_shortName[13] = "FakeExt";
char g_longName[39] = "Fake extension";

RegisterMenuEntryFn g_registerMenuEntry = nullptr;

LRESULT CALLBACK notifyProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

int32_t __cdecl menuCallback() { return 77; }
int32_t __cdecl classCallback(ModuleRecord*, uint32_t code, int32_t, int32_t) {
    (void)code;
    return 1;
}
int32_t __cdecl processing(ModuleRecord*) { return 1; }

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_self = instance;
    return TRUE;
}

extern "C" int32_t WINAPI SetupVelkDLL(HWND host) {
    HINSTANCE velkInstance = nullptr;
    HMENU mainMenu = nullptr;
#define LOOK_VARIABLE(name, required)                                                       \
    {                                                                                       \
        LRESULT a = SendMessageA(host, VELK_MSG_VARIABLE, 0, reinterpret_cast<LPARAM>(name)); \
        if ((required) && !a) return 0;                                                     \
        if (lstrcmpA(name, "hInstVelk") == 0) velkInstance = reinterpret_cast<HINSTANCE>(a);  \
        if (lstrcmpA(name, "MainMenu") == 0) mainMenu = reinterpret_cast<HMENU>(a);         \
    }
    VELK_VARIABLE_NAMES(LOOK_VARIABLE)
#undef LOOK_VARIABLE
    DefineDllModuleFn defineModule = nullptr;
    DefineDllVariableFn defineVariable = nullptr;
    RegisterModuleClassFn registerClass = nullptr;
#define LOOK_FUNCTION(name, required)                                                                   \
    {                                                                                                   \
        void* f = reinterpret_cast<void*>(SendMessageA(host, VELK_MSG_FUNCTION, 0, reinterpret_cast<LPARAM>(name))); \
        if (!f) return 0;                                                                               \
        if (lstrcmpA(name, "DefineDllModule") == 0) defineModule = reinterpret_cast<DefineDllModuleFn>(f); \
        if (lstrcmpA(name, "DefineDllVariable") == 0) defineVariable = reinterpret_cast<DefineDllVariableFn>(f); \
        if (lstrcmpA(name, "RegisterModuleClass") == 0) registerClass = reinterpret_cast<RegisterModuleClassFn>(f); \
        if (lstrcmpA(name, "RegisterMenuEntry") == 0) g_registerMenuEntry = reinterpret_cast<RegisterMenuEntryFn>(f); \
    }
    VELK_FUNCTION_NAMES(LOOK_FUNCTION)
#undef LOOK_FUNCTION
    if (!defineModule()) return 0;
    if (!defineVariable("fGlobalMilliSecondsPerSample", &g_period, 8)) return 0;
    if (!defineVariable("uiGlobalBlockSize", &g_blockSize, 4)) return 0;
    const char* flags[] = {"bAnimation", "bExperimentIsRunning", "bExperimentIsPaused", "dwExperimentStartTimeTicks",
                           "BBoxModul"};
    for (int i = 0; i < 5; ++i)
        if (!defineVariable(flags[i], &g_flags[i], 4)) return 0;

    g_driver = LoadLibraryA("host_fake_drv.dll");
    if (!g_driver) return 1;

    WNDCLASSA wc = {};
    wc.lpfnWndProc = notifyProc;
    wc.hInstance = velkInstance;
    wc.lpszClassName = "TK17GETMSG";
    if (!RegisterClassA(&wc)) return 1;
    g_notify = CreateWindowExA(0, "TK17GETMSG", "GETMSG", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, host, nullptr, velkInstance, nullptr);
    HMENU popup = CreatePopupMenu();
    AppendMenuA(popup, MF_STRING, 2999, "Fake &item");
    InsertMenuA(mainMenu, 3, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(popup), "FAKE(&F)");
    g_registerMenuEntry(4990, menuCallback);
    g_class.instance = g_self;
    g_class.classId = FAKE_CLASS_ID;
    g_class.privateDataSize = 32;
    g_class.channelDataSize = 12;
    g_class.menuCommand = 2999;
    g_class.shortName = g_shortName;
    g_class.longName = g_longName;
    g_class.classCallback = classCallback;
    g_class.processingRoutine = processing;
    registerClass(&g_class);
    return 1;
}

extern "C" int32_t WINAPI FinishVelkDLL(int32_t) {
    if (g_driver) FreeLibrary(g_driver);
    g_driver = nullptr;
    return 1;
}

extern "C" int32_t WINAPI WEP(int32_t) { return 1; }

extern "C" int32_t FakeDriverLoaded() { return g_driver ? 1 : 0; }
extern "C" uint32_t FakeLinkedBlockSize() { return g_blockSize; }
