// The desktop the stand-in's windows live on.
#pragma once

#include <windows.h>

namespace velk::ui {

// Puts the calling thread, before it has made any window, on a desktop of its own,
// made for this process. Wine keeps one foreground window, one active window and one
// mouse capture per desktop: on a desktop shared with another process that opens
// its own dialogs at the same time (a second run in the same prefix), each
// activation there closes this process's open drop-down list, takes the focus
// from its edit box or the capture from a button between press and release, and
// posted input goes astray. On a desktop of its own nothing of another process can
// take them. Threads that operate this thread's windows join it (Operator does).
// False when the system refuses; the process then stays on the shared desktop.
bool useOwnDesktop();
// Puts the calling thread (without windows yet) on the desktop of thread `thread`.
bool joinDesktopOf(DWORD thread);

}  // namespace velk::ui
