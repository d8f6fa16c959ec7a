// Small text helpers shared by the Velk stand-in and the simulated card driver: ASCII
// blanks and letters, bytes in hex, and numbers read and written with std::from_chars
// and std::to_chars ("C" notation whatever the locale, shortest text that reads back
// exactly). Nothing here calls the system, so a program or DLL linking it gains no
// imports.
#pragma once

#include <stdint.h>

#include <string>
#include <string_view>

namespace velk {

// The blanks of the "C" locale's isspace: space, tab, LF, vertical tab, form feed, CR.
constexpr std::string_view kAsciiBlanks = " \t\n\v\f\r";

// `text` without the characters of `blanks` at its ends.
std::string trim(std::string_view text, std::string_view blanks = kAsciiBlanks);

// A-Z as a-z, every other byte as it is. For ASCII and UTF-8 text (every byte of a
// UTF-8 multi-byte character is 0x80 or above); not for code page 932 text, where the
// second byte of a double-byte character may be an ASCII letter.
std::string lowerAscii(std::string text);

// "C1 AC DD": each byte as two upper-case hex digits, with a blank between bytes.
std::string hexBytes(std::string_view bytes);
// The value of a hex digit (0-9, a-f, A-F); -1 for any other character.
int hexDigit(char c);

// Readers of a whole text: true only when all of `text` is one number that fits (no
// blanks, nothing after it); `out` is left as it was otherwise.
//
// Digits of `base` (2 to 36; 16 takes a-f and A-F, without "0x"), no sign.
bool parseDigits(std::string_view text, uint64_t& out, int base = 10);
// The same with an optional sign, '+' or '-'.
bool parseInteger(std::string_view text, int64_t& out, int base = 10);
// A decimal number: optional sign, digits with an optional '.' and fraction, an
// optional exponent ("-2.5", "+1", ".5", "1e-3"). Finite only: "inf", "nan", hex
// notation and numbers beyond double's range are refused; ',' is never a decimal point.
bool parseNumber(std::string_view text, double& out);

// The shortest text that reads back as the same value, in the style of %g ("0.1",
// "100000", "2.5e-07", "1e+21", "-0"); a float by float's shortest ("0.1" for 0.1f).
std::string formatNumber(double value);
void appendNumber(std::string& out, double value);
void appendNumber(std::string& out, float value);

}  // namespace velk
