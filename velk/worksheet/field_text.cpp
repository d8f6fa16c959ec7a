#include "velk/worksheet/field_text.h"

#include <windows.h>

#include <stdint.h>
#include <stdio.h>

namespace velk {

const TextField kModuleNameField = {"name", "the module name", 12, "name is longer than 12 characters"};
const TextField kModuleCommentField = {"comment", "the description", 40, "comment is longer than 40 characters"};
const TextField kChannelNameField = {"a channel name", "a channel name", 20, "a channel name has at most 20 characters"};

namespace {

// Decodes the sequence at text[i]; 0 when it is not valid UTF-8.
size_t decodeUtf8(const std::string& text, size_t i, uint32_t& cp) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t n;
    uint32_t min;
    if (c < 0x80) {
        cp = c;
        return 1;
    } else if ((c & 0xE0) == 0xC0) {
        n = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4, cp = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > text.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        const unsigned char t = static_cast<unsigned char>(text[i + k]);
        if ((t & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (t & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

std::string codePoint(uint32_t cp) {
    char text[16];
    snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(cp));
    return text;
}

}  // namespace

bool validUtf8(const std::string& text, size_t* badOffset) {
    uint32_t cp = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t n = decodeUtf8(text, i, cp);
        if (n == 0) {
            if (badOffset) *badOffset = i;
            return false;
        }
        i += n;
    }
    return true;
}

bool fieldText(const std::string& utf8, const TextField& field, std::string& cp932, std::string& why) {
    cp932.clear();
    size_t characters = 0;
    uint32_t cp = 0;
    for (size_t i = 0; i < utf8.size(); ++characters) {
        const size_t n = decodeUtf8(utf8, i, cp);
        if (n == 0) {
            why = std::string(field.what) + " is not valid UTF-8 text";
            return false;
        }
        if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) {
            why = std::string(field.what) + " holds a control character (" + codePoint(cp) +
                  (cp == 9 ? ", a tab" : cp == 0 ? ", a NUL" : "") + "), which the edit box does not take";
            return false;
        }
        // One character at a time, so that the one without a code is named. A code
        // must come back as the same character (no best-fit stand-in such as '?').
        wchar_t wide[2];
        const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data() + i, static_cast<int>(n), wide, 2);
        char bytes[8];
        BOOL defaulted = FALSE;
        const int got = units > 0 ? WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide, units, bytes, sizeof bytes,
                                                        nullptr, &defaulted)
                                  : 0;
        wchar_t back[2];
        const int backUnits = got > 0 ? MultiByteToWideChar(932, 0, bytes, got, back, 2) : 0;
        if (got <= 0 || defaulted || backUnits != units || back[0] != wide[0] || (units == 2 && back[1] != wide[1])) {
            why = std::string(field.what) + " holds '" + utf8.substr(i, n) + "' (" + codePoint(cp) +
                  "), which code page 932 cannot hold";
            return false;
        }
        cp932.append(bytes, static_cast<size_t>(got));
        i += n;
    }
    if (cp932.size() <= field.bytes) return true;
    const std::string limit = std::to_string(field.bytes);
    if (cp932.size() == characters) {
        why = field.tooLong;
    } else {
        why = std::string(field.what) + " takes " + std::to_string(cp932.size()) + " bytes in code page 932 (" +
              std::to_string(characters) + " characters; a kanji or other double-byte character takes 2), but " +
              field.holder + " keeps " + limit + " bytes";
    }
    return false;
}

}  // namespace velk
