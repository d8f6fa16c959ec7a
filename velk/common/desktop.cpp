#include "velk/common/desktop.h"

#include <wchar.h>

namespace velk::ui {

bool useOwnDesktop() {
    wchar_t name[64];
    swprintf(name, 64, L"Velk-%lu-%llu", GetCurrentProcessId(), static_cast<unsigned long long>(GetTickCount64()));
    HDESK desktop = CreateDesktopW(name, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (!desktop) return false;
    if (!SetThreadDesktop(desktop)) {
        CloseDesktop(desktop);
        return false;
    }
    return true;  // the handle lives as long as the process
}

bool joinDesktopOf(DWORD thread) {
    HDESK desktop = GetThreadDesktop(thread);
    if (!desktop) return false;
    if (desktop == GetThreadDesktop(GetCurrentThreadId())) return true;
    return SetThreadDesktop(desktop) != 0;
}

}  // namespace velk::ui
