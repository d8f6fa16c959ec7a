// The analog rate check and mode derivation, the raw-to-volt conversion and the
// text cut of the setup dialogs, tested on the extension's own routines.
#include <gtest/gtest.h>

#include <locale.h>
#include <math.h>
#include <string.h>

#include "extension/analog/Vyttk17AD.h"
#include "extension/controls/setup_text.h"

namespace {

struct Derived {
    int32_t ok;
    AnalogSettings area;
    const char* refusal;
};

Derived Derive(double periodMs, uint32_t channels, uint32_t blockSize = 100, int32_t bufferIndex = 2) {
    Derived d;
    memset(&d.area, 0, sizeof(d.area));
    d.area.bufferSizeIndex = bufferIndex;
    d.refusal = nullptr;
    d.ok = DeriveSamplingMode(&d.area, periodMs, channels, blockSize, &d.refusal);
    return d;
}

TEST(ModeDerivation, FourChannelsAtOneMillisecond) {
    Derived d = Derive(1.0, 4, 50);
    ASSERT_EQ(d.ok, 1);
    EXPECT_EQ(d.area.mode.interval, 25);
    EXPECT_EQ(d.area.mode.decimation, 1);
    EXPECT_EQ(d.area.mode.firstChannel, 0);
    EXPECT_EQ(d.area.mode.lastChannel, 3);
    EXPECT_EQ(d.area.samplesPerRead, 4u * 50u);
    EXPECT_EQ(d.area.mode.driverBufferSize, 262144);
}

TEST(ModeDerivation, LongPeriodsDecimateAtTheHundredMicrosecondClock) {
    Derived d = Derive(10.0, 2, 10);
    ASSERT_EQ(d.ok, 1);
    EXPECT_EQ(d.area.mode.interval, 10);
    EXPECT_EQ(d.area.mode.decimation, 50);
    EXPECT_EQ(d.area.samplesPerRead, 2u * 10u * 50u);
}

TEST(ModeDerivation, IntervalTruncatesOrRoundsUpOnTheHundredthsText) {
    EXPECT_EQ(Derive(1.0, 3).area.mode.interval, 33);  // 33.33...
    EXPECT_EQ(Derive(1.0, 6).area.mode.interval, 17);  // 16.66...
    EXPECT_EQ(Derive(0.05, 1).area.mode.interval, 5);
    // 2.55 x 100 is 254.99999999999997 in binary: truncation gives 254 and the
    // text "255.0000000000" has no round-up digit, so the card runs at 2.54 ms.
    EXPECT_EQ(Derive(2.55, 1).area.mode.interval, 254);
    EXPECT_EQ(Derive(2.56, 1).area.mode.decimation, 25);  // 25.6, digit of 256.0 is 0
}

TEST(ModeDerivation, DecimationRoundUpDigitComesFromTTimesHundred) {
    EXPECT_EQ(Derive(6.65, 1).area.mode.decimation, 66);
    EXPECT_EQ(Derive(6.649, 1).area.mode.decimation, 67);
}

TEST(ModeDerivation, BothTargetsTruncateTheSameDoubleProducts) {
    // In x87 registers (80 bits) 0.3 x 100 is 29.999999999999999889 and truncates
    // to 29; as a double the product rounds to exactly 30. Both targets compute in
    // SSE2 doubles, so the deliverable derives what the x86_64 build derives.
    struct Case {
        double periodMs;
        uint32_t channels;
        int32_t interval;
        int32_t decimation;
    };
    const Case cases[] = {
        {0.03, 1, 3, 1},   {0.3, 1, 30, 1},   {0.6, 1, 60, 1},  {1.2, 1, 120, 1}, {0.9, 3, 30, 1},
        {1.2, 5, 24, 1},   {1.2, 8, 15, 1},   {7.0, 5, 140, 1}, {12.0, 5, 240, 1},
        {8.1, 3, 10, 26},  {8.7, 3, 10, 29},  {9.6, 3, 10, 31}, {17.4, 3, 10, 58},
    };
    for (const Case& c : cases) {
        Derived d = Derive(c.periodMs, c.channels);
        ASSERT_EQ(d.ok, 1) << c.periodMs << " ms, " << c.channels << " channels";
        EXPECT_EQ(d.area.mode.interval, c.interval) << c.periodMs << " ms, " << c.channels << " channels";
        EXPECT_EQ(d.area.mode.decimation, c.decimation) << c.periodMs << " ms, " << c.channels << " channels";
    }
}

TEST(ModeDerivation, RefusalsForTooFastRates) {
    Derived two = Derive(0.05, 2);
    EXPECT_EQ(two.ok, 0);
    EXPECT_STREQ(two.refusal,
                 "チャンネルが複数ある場合は1チャンネル当たりのサンプリングレ－トを\r100μ秒以上になるように指定して下さい");
    Derived fast = Derive(0.005, 1);
    EXPECT_EQ(fast.ok, 0);
    EXPECT_STREQ(fast.refusal, "10μ秒以下では処理できません");
    // 100 us per channel is the slowest refused-free multi-channel rate.
    EXPECT_EQ(Derive(0.2, 2).ok, 1);
    EXPECT_EQ(Derive(0.05, 1).ok, 1) << "one channel is not bound by the 100 us limit";
}

TEST(ModeDerivation, BufferSizeIndexBoundsAndDamagedValues) {
    EXPECT_EQ(Derive(1.0, 1, 100, 0).area.mode.driverBufferSize, 65536);
    EXPECT_EQ(Derive(1.0, 1, 100, 7).area.mode.driverBufferSize, 8388608);
    // An index outside 0..7 from a damaged area falls back to the default size.
    EXPECT_EQ(Derive(1.0, 1, 100, 8).area.mode.driverBufferSize, 262144);
    EXPECT_EQ(Derive(1.0, 1, 100, -1).area.mode.driverBufferSize, 262144);
    EXPECT_EQ(Derive(1.0, 1, 100, 1000).area.mode.driverBufferSize, 262144);
}

TEST(ModeDerivation, NonFinitePeriodsAreRefused) {
    for (double period : {NAN, INFINITY, -INFINITY}) {
        Derived d = Derive(period, 1);
        EXPECT_EQ(d.ok, 0) << period;
        ASSERT_NE(d.refusal, nullptr);
        EXPECT_EQ(d.area.mode.interval, 0) << "no field is written for a refused period";
    }
}

TEST(ModeDerivation, ReadsThatOverflowThirtyTwoBitsAreRefused) {
    // 1e6 ms per sample: decimation 10,000,000; 8 channels x 1000 samples is far
    // beyond what a 32-bit byte count can describe.
    Derived huge = Derive(1e6 * 8, 8, 1000);
    EXPECT_EQ(huge.ok, 0);
    EXPECT_EQ(huge.area.samplesPerRead, 0u);
    // Just inside: 2 bytes x samples stays below 4 GiB.
    Derived inside = Derive(1000.0, 1, 200000 / 1000);
    EXPECT_EQ(inside.ok, 1);
    EXPECT_EQ(inside.area.samplesPerRead, 200u * 10000u);
}

TEST(ModeDerivation, BlockSizesBeyondSixteenBitsAreRefused) {
    EXPECT_EQ(Derive(1.0, 1, 65535).ok, 1);
    Derived big = Derive(1.0, 1, 65536);
    EXPECT_EQ(big.ok, 0);
    ASSERT_NE(big.refusal, nullptr);
}

TEST(ModeDerivation, ProcessLocaleDoesNotChangeTheMode) {
    const char* before = setlocale(LC_NUMERIC, nullptr);
    std::string saved = before ? before : "C";
    const char* german = setlocale(LC_NUMERIC, "German");
    if (german == nullptr) german = setlocale(LC_NUMERIC, "de-DE");
    ASSERT_NE(german, nullptr) << "a locale with a decimal comma is needed for this test";
    char probe[16];
    snprintf(probe, sizeof(probe), "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5") << "the locale must really use a comma";
    EXPECT_EQ(Derive(1.0, 6).area.mode.interval, 17);
    EXPECT_EQ(Derive(6.649, 1).area.mode.decimation, 67);
    EXPECT_EQ(RoundUpFlag(0.1666666), 1);
    setlocale(LC_NUMERIC, saved.c_str());
}

TEST(ModeDerivation, NumberFormatterSwitchesToExponentAboveOneHundredThousand) {
    char text[64];
    FormatNumber(text, sizeof(text), 100000.0, 10);
    EXPECT_STREQ(text, "100000.0000000000");
    FormatNumber(text, sizeof(text), 250000.0, 3);
    EXPECT_EQ(strchr(text, 'e') != nullptr, true) << text;
}

TEST(RawToVolts, ConversionPointsOfBothRanges) {
    EXPECT_EQ(RawToVolts(0, 0), -10.0);
    EXPECT_EQ(RawToVolts(2048, 0), 0.0);
    EXPECT_EQ(RawToVolts(4095, 0), 9.9951171875);
    EXPECT_EQ(RawToVolts(0, 1), -5.0);
    EXPECT_EQ(RawToVolts(2048, 1), 0.0);
    EXPECT_EQ(RawToVolts(4095, 1), 4.99755859375);
    EXPECT_EQ(RawToVolts(65535, 0), 65535 * 20.0 / 4096 - 10.0) << "codes above 12 bits are not masked";
    EXPECT_EQ(static_cast<float>(RawToVolts(4095, 1)), 4.99755859375f) << "exact in single precision";
}

TEST(TextCut, NeverLeavesALoneLeadByte) {
    char out[32];
    CopyTextCut(out, 12, "ﾁｬﾝﾈﾙ 12345678");  // half-width katakana are single bytes
    EXPECT_EQ(strlen(out), 12u);
    // "チャンネル名です" is 8 double-byte characters = 16 bytes: a cut at 5 keeps 2.
    CopyTextCut(out, 5, "チャンネル名です");
    EXPECT_EQ(strlen(out), 4u);
    EXPECT_STREQ(out, "チャ");
    CopyTextCut(out, 20, "abcチャンネル名ですよね");  // 3 + 2 x 11 bytes
    EXPECT_EQ(strlen(out), 19u);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>("ソ");
    EXPECT_EQ(bytes[0], 0x83);
    EXPECT_EQ(bytes[1], 0x5C);
    CopyTextCut(out, 20, "");
    EXPECT_STREQ(out, "");
}

}  // namespace
