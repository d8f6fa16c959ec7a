#include "velk/common/text.h"

#include <windows.h>

#include <cstdio>

namespace velk {

namespace {

std::wstring toWide(UINT codePage, const std::string& text) {
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::string fromWide(UINT codePage, const std::wstring& wide) {
    if (wide.empty()) return std::string();
    int n = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                nullptr);
    if (n <= 0) return std::string();
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), &text[0], n, nullptr, nullptr);
    return text;
}

}  // namespace

std::wstring cp932ToWide(const std::string& cp932) { return toWide(932, cp932); }
std::string wideToCp932(const std::wstring& wide) { return fromWide(932, wide); }
std::wstring utf8ToWide(const std::string& utf8) { return toWide(CP_UTF8, utf8); }
std::string cp932ToUtf8(const std::string& cp932) { return fromWide(CP_UTF8, toWide(932, cp932)); }
std::string utf8ToCp932(const std::string& utf8) { return fromWide(932, toWide(CP_UTF8, utf8)); }

std::string clipText(const std::string& utf8, size_t characters) {
    // A character takes at least one byte: a text of no more bytes is kept whole.
    if (utf8.size() <= characters) return utf8;
    std::wstring wide = utf8ToWide(utf8);
    if (wide.size() <= characters) return utf8;
    size_t keep = characters;
    if (keep > 0 && IS_HIGH_SURROGATE(wide[keep - 1])) --keep;
    wide.resize(keep);
    return fromWide(CP_UTF8, wide) + "...";
}

std::string fmtNumber(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace velk
