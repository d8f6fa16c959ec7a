// Text conversions between the code page 932 bytes the extension and Velk use and
// the UTF-8 the command-line host prints.
#pragma once

#include <stddef.h>

#include <string>

namespace velk {

// Code page 932 bytes to UTF-8; bytes that do not decode become U+FFFD.
std::string cp932ToUtf8(const std::string& cp932);
// UTF-8 to code page 932 bytes; characters without a code point become '?'.
std::string utf8ToCp932(const std::string& utf8);
// Code page 932 bytes to UTF-16 and back.
std::wstring cp932ToWide(const std::string& cp932);
std::string wideToCp932(const std::wstring& wide);
// UTF-8 to UTF-16, for the wide GDI calls.
std::wstring utf8ToWide(const std::string& utf8);

// A number formatted with a printf format for one double ("%g", "%.2f").
std::string fmtNumber(const char* format, double value);

// Worksheet text quoted in a message: at most `characters` characters of the UTF-8
// text, cut between whole characters (never inside one, nor between the two halves of
// a surrogate pair), with "..." where it was cut. A long line is not repeated whole.
constexpr size_t kQuotedCharacters = 40;
std::string clipText(const std::string& utf8, size_t characters = kQuotedCharacters);

}  // namespace velk
