// The three exports Velk calls, and the library's attach notification.
#include "extension/card/devices.h"
#include "extension/card/notify.h"
#include "extension/controls/channel_selector.h"
#include "extension/frame/classes.h"
#include "extension/frame/host_binding.h"

#include <type_traits>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_extensionInstance = instance;
    return TRUE;
}

extern "C" int32_t WINAPI SetupVelkDLL(HWND hostMainWindow) {
    if (BindHost(hostMainWindow) == 0) return 0;
    // The card access layer first; without it Velk gets no menu and no classes.
    if (CreateNotifyWindow() && InitDevices()) {
        InsertExtensionMenu();
        RegisterAnalogInputClass();
        RegisterDigitalInputClass();
        RegisterDigitalOutputClass();
    }
    RegisterChannelSelectorClasses();
    return 1;
}

extern "C" int32_t WINAPI FinishVelkDLL(int32_t) {
    UnregisterChannelSelectorClasses();
    DeleteDialogFont();
    ExitDevices();
    return 1;
}

extern "C" int32_t WINAPI WEP(int32_t) { return 1; }

// The exports have exactly the types Velk calls them through: stdcall, which on i686
// is part of the type (a cdecl export would leave Velk's stack unbalanced).
static_assert(std::is_same<decltype(&SetupVelkDLL), SetupVelkDLLFn>::value, "SetupVelkDLL");
static_assert(std::is_same<decltype(&FinishVelkDLL), FinishVelkDLLFn>::value, "FinishVelkDLL");
static_assert(std::is_same<decltype(&WEP), WEPFn>::value, "WEP");
