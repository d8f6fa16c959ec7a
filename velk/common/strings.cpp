#include "velk/common/strings.h"

#include <float.h>
#include <math.h>

#include <charconv>

namespace velk {

std::string trim(std::string_view text, std::string_view blanks) {
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return std::string();
    return std::string(text.substr(first, text.find_last_not_of(blanks) - first + 1));
}

std::string lowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string hexBytes(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (unsigned char c : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool parseDigits(std::string_view text, uint64_t& out, int base) {
    // from_chars takes no sign for an unsigned type, so digits are all it reads.
    if (text.empty()) return false;
    uint64_t v = 0;
    const char* end = text.data() + text.size();
    const std::from_chars_result r = std::from_chars(text.data(), end, v, base);
    if (r.ec != std::errc() || r.ptr != end) return false;
    out = v;
    return true;
}

namespace {

// Splits off one leading sign; false for a second one ("+-1"), which from_chars
// would otherwise take.
bool splitSign(std::string_view& text, bool& negative) {
    negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
    return text.empty() || (text[0] != '+' && text[0] != '-');
}

}  // namespace

bool parseInteger(std::string_view text, int64_t& out, int base) {
    bool negative = false;
    uint64_t magnitude = 0;
    if (!splitSign(text, negative) || !parseDigits(text, magnitude, base)) return false;
    const uint64_t most = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
    if (magnitude > most) return false;
    out = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

#if defined(__i386__)
namespace {

// The i686 standard library reads a number of at most 16 digits with a power of ten
// up to 22 by one product on the x87 unit, rounded to its 64-bit mantissa and then
// again to the double's 53 bits: one in about ten thousand such numbers comes out a
// unit off ("-2.875680085140414e+37"). With the unit's precision set to 53 bits for the
// call the product is rounded once, as a double.
class DoublePrecisionX87 {
public:
    DoublePrecisionX87() : saved_(_controlfp(0, 0)) { _controlfp(_PC_53, _MCW_PC); }
    ~DoublePrecisionX87() { _controlfp(saved_, _MCW_PC); }
    DoublePrecisionX87(const DoublePrecisionX87&) = delete;
    DoublePrecisionX87& operator=(const DoublePrecisionX87&) = delete;

private:
    unsigned int saved_;
};

}  // namespace
#endif

bool parseNumber(std::string_view text, double& out) {
    bool negative = false;
    double v = 0;
    if (!splitSign(text, negative) || text.empty()) return false;
    const char* end = text.data() + text.size();
#if defined(__i386__)
    const DoublePrecisionX87 precision;
#endif
    const std::from_chars_result r = std::from_chars(text.data(), end, v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != end || !isfinite(v)) return false;
    out = negative ? -v : v;
    return true;
}

void appendNumber(std::string& out, double value) {
    char text[32];  // the longest double is 24 characters ("-2.2250738585072014e-308")
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, value, std::chars_format::general);
    out.append(text, r.ptr);
}

void appendNumber(std::string& out, float value) {
    char text[24];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, value, std::chars_format::general);
    out.append(text, r.ptr);
}

std::string formatNumber(double value) {
    std::string text;
    appendNumber(text, value);
    return text;
}

}  // namespace velk
