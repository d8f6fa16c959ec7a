// The hidden window that receives the driver's notifications.
#pragma once

#include <windows.h>
#include <stdint.h>

extern HWND g_notifyWindow;

int32_t CreateNotifyWindow();
LRESULT CALLBACK NotifyWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
