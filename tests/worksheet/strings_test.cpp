// The text helpers the stand-in and the simulated driver share: blanks, ASCII lower
// case (never a byte of a multi-byte character), hex bytes, and numbers read whole and
// written as the shortest text that reads back as the same value.
#include <gtest/gtest.h>

#include "velk/common/strings.h"

#include <float.h>
#include <locale.h>
#include <math.h>
#include <stdint.h>
#include <string.h>

#include <string>

namespace {

using velk::appendNumber;
using velk::formatNumber;
using velk::parseDigits;
using velk::parseInteger;
using velk::parseNumber;

TEST(Strings, TrimTakesTheBlanksAtBothEndsOnly) {
    EXPECT_EQ(velk::trim(" \t\r\n\v\fkey = a b \t\r\n"), "key = a b");
    EXPECT_EQ(velk::trim("   "), "");
    EXPECT_EQ(velk::trim(""), "");
    EXPECT_EQ(velk::trim("x"), "x");
    EXPECT_EQ(velk::trim("\vx\f", " \t\r"), "\vx\f") << "only the blanks asked for";
    EXPECT_EQ(velk::trim("\t x \t", " \t\r"), "x");
    // UTF-8 characters ending in the bytes 0x85 and 0xA0 (blanks in Latin-1) stay whole.
    const std::string nel = u8"\u9445", nbsp = u8"\u00A0";
    EXPECT_EQ(velk::trim(" " + nel + " "), nel);
    EXPECT_EQ(velk::trim(nbsp), nbsp);
}

TEST(Strings, LowerAsciiChangesOnlyAsciiLetters) {
    EXPECT_EQ(velk::lowerAscii("Tk17SetMode AZ@[`az{"), "tk17setmode az@[`az{");
    // UTF-8: every byte of a multi-byte character is 0x80 or above, so none is touched.
    const std::string text = u8"ＡＢＣ \u00C4 \u03A9mega 電圧 ", lowered = velk::lowerAscii(text + "X");
    EXPECT_EQ(lowered, text + "x");
    std::string all;
    for (int b = 0x80; b <= 0xFF; ++b) all += static_cast<char>(b);
    EXPECT_EQ(velk::lowerAscii(all), all) << "no byte of 0x80 and above changes";
}

TEST(Strings, HexBytes) {
    EXPECT_EQ(velk::hexBytes(std::string("\xC1\xAC\xDD\x00\x0A\xFF", 6)), "C1 AC DD 00 0A FF");
    EXPECT_EQ(velk::hexBytes(""), "");
    EXPECT_EQ(velk::hexBytes("\x7F"), "7F");
    for (int c = 0; c < 256; ++c) {
        const int expected = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                             : c >= 'A' && c <= 'F'                     ? c - 'A' + 10
                                                                        : -1;
        ASSERT_EQ(velk::hexDigit(static_cast<char>(c)), expected) << c;
    }
}

TEST(Strings, DigitsAreReadWholeWithoutSignOrPrefix) {
    uint64_t v = 7;
    EXPECT_TRUE(parseDigits("016", v));
    EXPECT_EQ(v, 16u);
    EXPECT_TRUE(parseDigits("18446744073709551615", v));
    EXPECT_EQ(v, UINT64_MAX);
    EXPECT_TRUE(parseDigits("fF", v, 16));
    EXPECT_EQ(v, 255u);
    for (const char* bad : {"", "+1", "-1", " 1", "1 ", "1x", "0x10", "18446744073709551616", "1.0"}) {
        v = 7;
        EXPECT_FALSE(parseDigits(bad, v)) << bad;
        EXPECT_EQ(v, 7u) << "left as it was: " << bad;
    }
    EXPECT_FALSE(parseDigits("fg", v, 16));
    EXPECT_FALSE(parseDigits("0x1f", v, 16)) << "no prefix";
}

TEST(Strings, IntegersTakeOneOptionalSign) {
    int64_t v = 0;
    EXPECT_TRUE(parseInteger("+100", v));
    EXPECT_EQ(v, 100);
    EXPECT_TRUE(parseInteger("-0", v));
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(parseInteger("-9223372036854775808", v));
    EXPECT_EQ(v, INT64_MIN);
    EXPECT_TRUE(parseInteger("9223372036854775807", v));
    EXPECT_EQ(v, INT64_MAX);
    EXPECT_TRUE(parseInteger("-7fffffff", v, 16));
    EXPECT_EQ(v, -0x7FFFFFFF);
    v = 5;
    for (const char* bad : {"", "+", "-", "+-1", "-+1", "--1", "++1", "9223372036854775808", "-9223372036854775809",
                            "1e2", "12 ", " 12", "0x10", "1,000"}) {
        EXPECT_FALSE(parseInteger(bad, v)) << bad;
        EXPECT_EQ(v, 5) << bad;
    }
}

TEST(Strings, NumbersAreReadWholeAndFinite) {
    double v = 0;
    const struct {
        const char* text;
        double value;
    } good[] = {
        {"0", 0.0},          {"-2.5", -2.5},      {"+1", 1.0},   {".5", 0.5},        {"5.", 5.0},
        {"1e-3", 0.001},     {"1E+3", 1000.0},    {"-0", -0.0},  {"0.1", 0.1},       {"1e308", 1e308},
        {"4.9e-324", 4.9e-324}, {"1.7976931348623157e308", DBL_MAX}, {"007", 7.0},
    };
    for (const auto& g : good) {
        ASSERT_TRUE(parseNumber(g.text, v)) << g.text;
        EXPECT_EQ(v, g.value) << g.text;
        EXPECT_EQ(signbit(v), signbit(g.value)) << g.text;
    }
    // The nearest double, not one a digit at a time: 0.3 is not 0.1 + 0.2.
    ASSERT_TRUE(parseNumber("0.30000000000000004", v));
    EXPECT_EQ(v, 0.1 + 0.2);
    ASSERT_TRUE(parseNumber("2.2250738585072011e-308", v));
    EXPECT_EQ(v, 2.2250738585072011e-308);
    v = 42;
    for (const char* bad : {"", "1e", "1e+", "e5", ".", "-", "+", "+-1", "--1", "1,5", "1 ", " 1", "1.2.3", "0x10",
                            "0x1p3", "inf", "-inf", "infinity", "nan", "NAN", "1e400", "-1e400", "1e-400", "1d0",
                            "1f"}) {
        EXPECT_FALSE(parseNumber(bad, v)) << bad;
        EXPECT_EQ(v, 42) << "left as it was: " << bad;
    }
}

TEST(Strings, NumbersIgnoreTheLocale) {
    const std::string before = setlocale(LC_NUMERIC, nullptr);
    const char* german = setlocale(LC_NUMERIC, "German");
    if (german == nullptr) german = setlocale(LC_NUMERIC, "de-DE");
    double v = 0;
    EXPECT_TRUE(parseNumber("1.5", v));
    EXPECT_EQ(v, 1.5);
    EXPECT_FALSE(parseNumber("1,5", v));
    EXPECT_EQ(formatNumber(1.5), "1.5");
    setlocale(LC_NUMERIC, before.c_str());
    if (german == nullptr) GTEST_SKIP() << "no German locale here: only the C locale was seen";
}

TEST(Strings, NumbersAreWrittenShortAndReadBackExactly) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {0.0, "0"},       {-0.0, "-0"},          {0.1, "0.1"},         {0.1 + 0.2, "0.30000000000000004"},
        {2.5, "2.5"},     {100000.0, "100000"},  {1e6, "1e+06"},       {123456.5, "123456.5"},
        {1e-5, "1e-05"},  {0.0001, "0.0001"},    {1e21, "1e+21"},      {DBL_MAX, "1.7976931348623157e+308"},
        {4.9e-324, "5e-324"}, {-1234.5678, "-1234.5678"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formatNumber(c.value), c.text);
        double back = 0;
        ASSERT_TRUE(parseNumber(formatNumber(c.value), back)) << c.text;
        EXPECT_EQ(memcmp(&back, &c.value, sizeof back), 0) << c.text << " reads back bit for bit";
    }
    // Doubles of every size: each text reads back exactly and no shorter text would.
    uint64_t seed = 0x9E3779B97F4A7C15u;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        double value;
        memcpy(&value, &seed, sizeof value);
        if (!isfinite(value)) continue;
        const std::string text = formatNumber(value);
        double back = 0;
        ASSERT_TRUE(parseNumber(text, back)) << text;
        ASSERT_EQ(memcmp(&back, &value, sizeof back), 0) << text;
        ASSERT_LE(text.size(), 24u) << text;
    }
}

TEST(Strings, FloatsAreWrittenByTheirOwnShortestText) {
    std::string out = "x";
    appendNumber(out, 0.1f);
    out += ',';
    appendNumber(out, 2.998046875f);
    out += ',';
    appendNumber(out, -2.99316406f);
    out += ',';
    appendNumber(out, 0.0146484375f);
    out += ',';
    appendNumber(out, 1e-5f);
    EXPECT_EQ(out, "x0.1,2.9980469,-2.993164,0.0146484375,1e-05") << "appended, each as float";
    // Every 12-bit card value (code x 20 / 4096 - 10 V) reads back as the same float.
    for (int code = 0; code < 4096; ++code) {
        const float value = static_cast<float>(code) * 20.0f / 4096.0f - 10.0f;
        std::string text;
        appendNumber(text, value);
        double back = 0;
        ASSERT_TRUE(parseNumber(text, back)) << text;
        ASSERT_EQ(static_cast<float>(back), value) << text;
        ASSERT_LE(text.size(), 13u) << text;
    }
}

}  // namespace
