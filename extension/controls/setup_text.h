// Text helpers of the setup dialogs.
#pragma once

#include <windows.h>
#include <stddef.h>

// Copies at most `maxBytes` bytes of code page 932 text into `dest` (which holds
// maxBytes + 1) without splitting a double-byte character, and terminates it.
void CopyTextCut(char* dest, size_t maxBytes, const char* source);
// Reads a control's text into `dest` the same way.
void ReadControlText(HWND dialog, int id, char* dest, size_t maxBytes);
// Writes an unsigned number in decimal into a control.
void WriteControlNumber(HWND dialog, int id, unsigned value);
