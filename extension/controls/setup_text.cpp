#include "extension/controls/setup_text.h"

#include <stdio.h>

void CopyTextCut(char* dest, size_t maxBytes, const char* source) {
    size_t n = 0;
    while (source[n] != 0) {
        const size_t width = (IsDBCSLeadByteEx(932, static_cast<BYTE>(source[n])) && source[n + 1] != 0) ? 2 : 1;
        if (n + width > maxBytes) break;
        n += width;
    }
    memcpy(dest, source, n);
    dest[n] = 0;
}

void ReadControlText(HWND dialog, int id, char* dest, size_t maxBytes) {
    char text[512];
    text[0] = 0;
    GetDlgItemTextA(dialog, id, text, sizeof(text));
    CopyTextCut(dest, maxBytes, text);
}

void WriteControlNumber(HWND dialog, int id, unsigned value) {
    char text[16];
    snprintf(text, sizeof(text), "%u", value);
    SetDlgItemTextA(dialog, id, text);
}
