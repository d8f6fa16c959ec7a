// The text helpers the stand-in and the simulated driver share: blanks, ASCII lower
// case (never a byte of a multi-byte character), hex bytes, and numbers read whole and
// written as the shortest text that reads back as the same value.
#include <gtest/gtest.h>

#include "velk/common/strings.h"

#include <float.h>
#include <math.h>
#include <stdint.h>
#include <string.h>

#include <string>

namespace {

using velk::formatNumber;
using velk::parseNumber;

TEST(Strings, TrimLowerAndHex) {
    EXPECT_EQ(velk::trim(" \t\r\n\v\fkey = a b \t\r\n"), "key = a b");
    EXPECT_EQ(velk::trim("   "), "");
    EXPECT_EQ(velk::trim("\vx\f", " \t\r"), "\vx\f") << "only the blanks asked for";
    // UTF-8 characters ending in the bytes 0x85 and 0xA0 (blanks in Latin-1) stay whole.
    const std::string nel = u8"\u9445", nbsp = u8"\u00A0";
    EXPECT_EQ(velk::trim(" " + nel + " " + nbsp), nel + " " + nbsp);
    // UTF-8: every byte of a multi-byte character is 0x80 or above, so none is touched.
    const std::string text = u8"ＡＢＣ \u00C4 \u03A9 電圧 @[`{";
    EXPECT_EQ(velk::lowerAscii(text + "Tk17AZ"), text + "tk17az");
    EXPECT_EQ(velk::hexBytes(std::string("\xC1\xAC\xDD\x00\x0A\xFF", 6)), "C1 AC DD 00 0A FF");
    EXPECT_EQ(velk::hexBytes(""), "");
    EXPECT_EQ(velk::hexDigit('0') + velk::hexDigit('9') + velk::hexDigit('a') + velk::hexDigit('F'), 9 + 10 + 15);
    EXPECT_EQ(velk::hexDigit('g'), -1);
    EXPECT_EQ(velk::hexDigit('/'), -1);
}

TEST(Strings, WholeNumbersTakeOneSignAtMost) {
    uint64_t u = 7;
    EXPECT_TRUE(velk::parseDigits("18446744073709551615", u) && u == UINT64_MAX);
    EXPECT_TRUE(velk::parseDigits("fF", u, 16) && u == 255);
    for (const char* bad : {"", "+1", "-1", " 1", "1 ", "0x10", "18446744073709551616", "1.0"}) {
        EXPECT_FALSE(velk::parseDigits(bad, u)) << bad;
        EXPECT_EQ(u, 255u) << "left as it was: " << bad;
    }
    int64_t v = 0;
    EXPECT_TRUE(velk::parseInteger("+100", v) && v == 100);
    EXPECT_TRUE(velk::parseInteger("-9223372036854775808", v) && v == INT64_MIN);
    EXPECT_TRUE(velk::parseInteger("9223372036854775807", v) && v == INT64_MAX);
    EXPECT_TRUE(velk::parseInteger("-7fffffff", v, 16) && v == -0x7FFFFFFF);
    for (const char* bad : {"", "+", "-", "+-1", "--1", "9223372036854775808", "-9223372036854775809", "1e2", "0x10"}) {
        EXPECT_FALSE(velk::parseInteger(bad, v)) << bad;
        EXPECT_EQ(v, -0x7FFFFFFF) << bad;
    }
}

TEST(Strings, NumbersAreReadWholeAndFinite) {
    const struct {
        const char* text;
        double value;
    } good[] = {
        {"-2.5", -2.5}, {"+1", 1.0}, {".5", 0.5}, {"5.", 5.0}, {"1E+3", 1000.0}, {"-0", -0.0}, {"007", 7.0},
        {"4.9e-324", 4.9e-324}, {"1.7976931348623157e308", DBL_MAX},
        {"0.30000000000000004", 0.1 + 0.2},  // the nearest double, not 0.3's
        // Products near half a unit, once rounded a unit off on i686's x87 unit.
        {"-2.875680085140414e+37", -2.875680085140414e+37}, {"3063501465436824e17", 3063501465436824e17},
        {"3387818775995115e16", 3387818775995115e16}, {"1426839491280382e19", 1426839491280382e19},
    };
    double v = 0;
    for (const auto& g : good) {
        ASSERT_TRUE(parseNumber(g.text, v)) << g.text;
        EXPECT_EQ(memcmp(&v, &g.value, sizeof v), 0) << g.text;
    }
    v = 42;
    for (const char* bad : {"", "1e", "e5", ".", "+-1", "1,5", "1 ", " 1", "0x10", "0x1p3", "inf", "nan", "1e400",
                            "-1e400", "1e-400", "1f"}) {
        EXPECT_FALSE(parseNumber(bad, v)) << bad;
        EXPECT_EQ(v, 42) << "left as it was: " << bad;
    }
}

#if defined(__i386__)
// Reading sets the x87 unit to double precision for the call only.
TEST(Strings, ReadingANumberLeavesTheX87PrecisionAsItWas) {
    const unsigned int before = _controlfp(0, 0);
    _controlfp(_PC_64, _MCW_PC);
    double v = 0;
    EXPECT_TRUE(parseNumber("3063501465436824e17", v));
    EXPECT_EQ(_controlfp(0, 0) & _MCW_PC, static_cast<unsigned int>(_PC_64));
    _controlfp(before, _MCW_PC);
}
#endif

TEST(Strings, NumbersAreWrittenShortAndReadBackExactly) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {0.1, "0.1"}, {0.1 + 0.2, "0.30000000000000004"}, {-0.0, "-0"}, {100000.0, "100000"}, {1e6, "1e+06"},
        {0.0001, "0.0001"}, {1e-5, "1e-05"}, {DBL_MAX, "1.7976931348623157e+308"}, {4.9e-324, "5e-324"},
    };
    for (const auto& c : cases) EXPECT_EQ(formatNumber(c.value), c.text);
    // Doubles of every size read back bit for bit.
    uint64_t seed = 0x9E3779B97F4A7C15u;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        double value, back = 0;
        memcpy(&value, &seed, sizeof value);
        if (!isfinite(value)) continue;
        const std::string text = formatNumber(value);
        ASSERT_TRUE(parseNumber(text, back)) << text;
        ASSERT_EQ(memcmp(&back, &value, sizeof back), 0) << text;
    }
    // A float by its own shortest text, appended.
    std::string out = "x";
    for (float f : {0.1f, 2.998046875f, -2.99316406f, 1e-5f}) {
        velk::appendNumber(out, f);
        out += ',';
    }
    EXPECT_EQ(out, "x0.1,2.9980469,-2.993164,1e-05,");
    for (int code = 0; code < 4096; ++code) {  // every 12-bit card value: code x 20 / 4096 - 10 V
        const float value = static_cast<float>(code) * 20.0f / 4096.0f - 10.0f;
        std::string text;
        velk::appendNumber(text, value);
        double back = 0;
        ASSERT_TRUE(parseNumber(text, back) && static_cast<float>(back) == value) << text;
    }
}

}  // namespace
