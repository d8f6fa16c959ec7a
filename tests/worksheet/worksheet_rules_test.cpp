// Worksheets that cannot run as written are refused where they are read, with the
// line: texts the extension's edit boxes cannot take, numbers that would hang or
// wrap, reads larger than the driver buffer, a pause after the end, a second
// connection into one input, more modules than the cards serve; and the reading
// itself is bounded (size, UTF-8) and takes time in proportion to the text.
#include <gtest/gtest.h>

#include "tests/worksheet/refused_cases.h"
#include "velk/worksheet/field_text.h"
#include "velk/worksheet/worksheet.h"
#include "velk/worksheet/worksheet_rules.h"

#include <string>

using velk::parseWorksheet;

namespace {

using worksheet_cases::BadCase;
using worksheet_cases::ExpectRefused;

const std::string kAnalog = "[module a]\nclass = analog_in\n";

TEST(WorksheetTexts, NamesTheEditBoxesCannotTakeAreRefusedWhereTheyAreRead) {
    ExpectRefused({
        {kAnalog + "name = tab\there\n", 3, "name holds a control character (U+0009, a tab)"},
        {kAnalog + "comment = bell\x07\n", 3, "comment holds a control character (U+0007)"},
        {kAnalog + "channel0 = es\x1b" "cape\n", 3, "channel0: a channel name holds a control character (U+001B)"},
        {"[module d]\nclass = digital_in\nchannel0 = A\tB\n", 3, "channel0: a channel name holds a control character"},
        {kAnalog + "name = " + u8"\u0085" + "x\n", 3, "control character (U+0085)"},
        {kAnalog + "name = " + u8"한글" + "\n", 3, "name holds '" + std::string(u8"한") + "' (U+D55C), which code page 932 cannot hold"},
        {kAnalog + "channel0 = " + u8"€ 5" + "\n", 3, "which code page 932 cannot hold"},
        {kAnalog + "comment = " + u8"¥100" + "\n", 3, "(U+00A5), which code page 932 cannot hold"},
        {kAnalog + "name = " + u8"😀" + "\n", 3, "(U+1F600), which code page 932 cannot hold"},
    });
}

TEST(WorksheetTexts, LimitsCountBytesOfCodePage932AndSayHowAKanjiCounts) {
    // Seven kanji are 14 bytes: not "longer than 12 characters".
    const std::string seven = u8"測定装置入力端";
    velk::WorksheetResult r = parseWorksheet(kAnalog + "name = " + seven + "\n", "k.vws");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error, "k.vws:3: name takes 14 bytes in code page 932 (7 characters; a kanji or other double-byte "
                       "character takes 2), but the module name keeps 12 bytes");
    ExpectRefused({
        {kAnalog + "comment = " + std::string(21, 'x') + u8"漢字漢字漢字漢字漢字", 3, "takes 41 bytes"},
        {kAnalog + "channel3 = " + u8"日本語測定装置入力端子", 3, "channel3: a channel name takes 22 bytes"},
        {kAnalog + "comment = " + std::string(41, 'c'), 3, "comment is longer than 40 characters"},
    });
    // At the limits: 6 kanji, 12 half-width katakana (one byte each), 40 and 20 bytes.
    const std::string ok = kAnalog + "channels = 2\nname = " + u8"測定装置入力" + "\ncomment = " + u8"漢字" +
                           std::string(36, 'c') + "\nchannel0 = " + u8"ｱｲｳｴｵｶｷｸｹｺｱｲ" + "ab" +
                           "\nchannel1 = " + u8"日本語測定装置入力端" + "\n";
    velk::WorksheetResult good = parseWorksheet(ok, "ok.vws");
    EXPECT_TRUE(good.ok()) << good.error;

    std::string cp932, why;
    EXPECT_TRUE(velk::fieldText(u8"ｱｲｳｴｵｶｷｸｹｺｱｲ", velk::kModuleNameField, cp932, why)) << why;
    EXPECT_EQ(cp932.size(), 12u) << "half-width katakana take one byte each";
}

TEST(WorksheetTexts, TheWholeTextMustBeUtf8) {
    ExpectRefused({
        {kAnalog + "name = caf\xE9\n", 3, "not UTF-8 text: byte 0xE9 in column 11"},
        {kAnalog + "; \xC0\xAF overlong\n", 3, "byte 0xC0 in column 3"},
        {kAnalog + "name = \xED\xA0\x80\n", 3, "not UTF-8"},  // a surrogate
        {kAnalog + std::string("name = a\0b\n", 11), 3, "a NUL byte in column 9 (is the file UTF-16?"},
        {std::string("\xFF\xFE[\0m\0", 6), 1, "the worksheet is UTF-16 text; save it as UTF-8"},
    });
}

TEST(WorksheetNumbers, ValuesThatWouldHangOrWrapAreRefusedWithTheirReason) {
    ExpectRefused({
        {"[experiment]\nduration_s = 1e300\n" + kAnalog, 2, "duration_s = 1e300 is too long: a run covers at most 4294967 s"},
        {"[experiment]\nduration_s = 4294968\n" + kAnalog, 2, "is too long"},
        {"[experiment]\nperiod_ms = 1e300\n" + kAnalog, 2, "period_ms = 1e300 is too long: at most 60000 ms"},
        // 1 channel at 0.01 ms, block 65535, 43000 s: 4300013490 samples.
        {"[experiment]\nperiod_ms = 0.01\nblock_size = 65535\nduration_s = 43000\n" + kAnalog, 4,
         "duration_s = 43000 needs 4300013490 samples per channel (whole blocks of 65535 at 0.01 ms), more than a "
         "channel counts in 32 bits (its time stamps would wrap at 4294967296 samples): at most 42949 s"},
        {"[experiment]\nperiod_ms = 0.01\nblock_size = 65535\nduration_s = 43000\n"
         "[module d]\nclass = digital_in\n", 4, "more than a channel counts in 32 bits"},
    });
    ExpectRefused({{"[experiment]\nperiod_ms = 1e-300\n" + kAnalog, 1, "more than a channel counts in 32 bits"}});
    // Just below the wrap, and the same duration with only an output module: no counter.
    EXPECT_TRUE(parseWorksheet("[experiment]\nperiod_ms = 0.01\nblock_size = 65535\nduration_s = 42949\n" + kAnalog).ok());
    EXPECT_TRUE(parseWorksheet("[experiment]\nperiod_ms = 0.01\nduration_s = 43000\n[module o]\nclass = digital_out\n").ok());
}

TEST(WorksheetNumbers, AnAnalogReadLargerThanTheDriverBufferIsRefusedBeforeTheRun) {
    ExpectRefused({
        // 8 channels x 65535 x 2 bytes = 1048560 bytes, the default buffer is 256K.
        {"[experiment]\nblock_size = 65535\n[module ai]\nclass = analog_in\nchannels = 8\n", 3,
         "module ai: one read of the card is 8 channels x 65535 samples x decimation 1 x 2 bytes = 1048560 bytes, "
         "more than its driver buffer of 256K (262144 bytes): the card would overflow before the read is ready; "
         "choose buffer = 1M or more, or a smaller block_size"},
        // 10 ms with 2 channels: decimation 50, 2 x 1000 x 50 x 2 = 200000 bytes > 128K.
        {"[experiment]\nperiod_ms = 10\nblock_size = 1000\n[module ai]\nclass = analog_in\nchannels = 2\n"
         "buffer = 128K\n", 7, "decimation 50 x 2 bytes = 200000 bytes, more than its driver buffer of 128K"},
        {"[experiment]\nperiod_ms = 100\nblock_size = 65535\n" + kAnalog, 4, "; choose a smaller block_size"},
    });
    EXPECT_TRUE(parseWorksheet("[experiment]\nblock_size = 65535\n[module ai]\nclass = analog_in\nchannels = 8\n"
                               "buffer = 1M\n").ok());
    // A rate the module refuses itself is left to its own message at start.
    EXPECT_TRUE(parseWorksheet("[experiment]\nperiod_ms = 0.05\nblock_size = 65535\n[module ai]\nclass = analog_in\n"
                               "channels = 8\n").ok());
}

TEST(WorksheetNumbers, ThePredictedReadFollowsTheModulesRoundUpRule) {
    velk::Worksheet s;
    s.blockSize = 10;
    velk::ModuleDef m;
    m.channels = 1;
    s.periodMs = 6.65;
    EXPECT_EQ(velk::analogReadOf(s, m).decimation, 66u);
    s.periodMs = 6.649;
    EXPECT_EQ(velk::analogReadOf(s, m).decimation, 67u);
    s.periodMs = 2.55;
    EXPECT_EQ(velk::analogReadOf(s, m).decimation, 1u);
    m.channels = 2;
    s.periodMs = 0.19;
    EXPECT_TRUE(velk::analogReadOf(s, m).refused);
}

TEST(WorksheetNumbers, APauseAfterTheLastBlockIsRefused) {
    ExpectRefused({
        {"[experiment]\nduration_s = 1\npause_at_s = 0.999\n" + kAnalog, 3,
         "pause_at_s = 0.999 is never reached: the data arrive in blocks of 0.1 s, and the block that reaches "
         "0.999 s ends at 1 s, where the run ends (duration_s = 1); the last point a pause can take is 0.9 s"},
        {"[experiment]\nblock_size = 10\nduration_s = 0.05\npause_at_s = 0.041\n" + kAnalog, 4, "is never reached"},
    });
    EXPECT_TRUE(parseWorksheet("[experiment]\nduration_s = 1\npause_at_s = 0.9\n" + kAnalog).ok());
    EXPECT_TRUE(parseWorksheet("[experiment]\nduration_s = 1\npause_at_s = 0\n" + kAnalog).ok());
}

TEST(WorksheetModules, WhatTheCardsCannotServeAndTwoSourcesIntoOneInputAreRefused) {
    ExpectRefused({
        // Said at the end of the text, where a module would go.
        {"[experiment]\nduration_s = 1\n", 2, "the worksheet defines no [module]; there is nothing to run"},
        {"", 1, "defines no [module]"},
        {"[module a]\nclass = analog_in\nsocket = 1\n[module b]\nclass = analog_in\nsocket = 1\n", 6,
         "socket 1 already serves analog_in module 'a' (line 1); a card serves one module of each class"},
        {"[module a]\nclass = digital_in\n[module b]\nclass = digital_in\n[module c]\nclass = digital_in\n"
         "[module d]\nclass = digital_in\n[module e]\nclass = digital_in\n", 9,
         "a fifth digital_in module: each of the 4 card sockets serves one module of a class"},
        {"[module ai]\nclass = analog_in\nchannels = 2\n[module o]\nclass = digital_out\n"
         "[connect]\nai.0 -> o.0\n\nai.1 -> o.0\n", 9,
         "o.0 is already fed by ai.0 (line 7); an input channel takes one connection"},
        {"[module ai]\nclass = analog_in\n[module o]\nclass = digital_out\n[connect]\nai.0 -> o.0\nai.0 -> o.0\n", 7,
         "already fed by ai.0"},
    });
    // One card serves one module of each class: an analog, a digital input and a
    // digital output module on socket 0 together are fine.
    EXPECT_TRUE(parseWorksheet("[module a]\nclass = analog_in\nsocket = 0\n[module i]\nclass = digital_in\nsocket = 0\n"
                               "[module o]\nclass = digital_out\nsocket = 0\nchannels = 2\n"
                               "[connect]\na.0 -> o.0\ni.0 -> o.1\n").ok());
}

// The time taken grows with the text: a mistake on the last line of 100,000 modules
// is found (the speed itself is measured by bench/worksheet_bench).
TEST(WorksheetReading, AMistakeAfterAHundredThousandModulesIsFoundOnItsLine) {
    std::string text;
    text.reserve(4 << 20);
    for (int i = 0; i < 100000; ++i) text += "[module m" + std::to_string(i) + "]\nclass = analog_in\n";
    text += "[record m99999]\nfile = x.csv\nfiel = y.csv\n";
    velk::WorksheetResult r = parseWorksheet(text, "big.vws");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error, "big.vws:200003: unknown key 'fiel' in [record m99999]");
    // Without the mistake, the cards' limit is what stops it.
    text.resize(text.size() - std::string("fiel = y.csv\n").size());
    r = parseWorksheet(text, "big.vws");
    EXPECT_EQ(r.error, "big.vws:9: a fifth analog_in module: each of the 4 card sockets serves one module of a class");
}

TEST(WorksheetReading, ADeviceThatNeverEndsIsReadOnlyUpToTheLimit) {
    velk::WorksheetResult r = velk::loadWorksheet("/dev/zero");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error, "Z:/dev/zero: larger than 16 MB; a worksheet is a small text file");
}

}  // namespace
