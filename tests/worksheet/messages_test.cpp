// Messages about mistakes in a worksheet: every one begins with the file and a line
// of it, quotes the worksheet's text by whole characters with its closing quote, a
// long line by its beginning only, and is UTF-8 throughout (a Japanese file name
// included); lines end with LF, CRLF or a CR alone.
#include <gtest/gtest.h>

#include "tests/support/unicode_files.h"
#include "velk/worksheet/field_text.h"
#include "velk/common/text.h"
#include "velk/worksheet/worksheet.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

using velk::parseWorksheet;

// A worksheet that reads without a mistake, every kind of section in it.
const char kGood[] =
    "[experiment]\n"
    "period_ms = 1\n"
    "block_size = 10\n"
    "duration_s = 0.1\n"
    "[module ai]\n"
    "class = analog_in\n"
    "socket = 0\n"
    "channels = 2\n"
    "name = Probe\n"
    "range = 5\n"
    "buffer = 1M\n"
    "channel0 = Volt A\n"
    "channel1 = Volt B\n"
    "[module din]\n"
    "class = digital_in\n"
    "[module dout]\n"
    "class = digital_out\n"
    "channels = 2\n"
    "[connect]\n"
    "din.0 -> dout.1\n"
    "[record ai]\n"
    "file = ai.csv\n"
    "[card 0]\n"
    "clock = virtual\n";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find('\n', pos);
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

std::string Join(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    return text;
}

// "m.vws:N: what" with N a line of the text (1 for an empty one); N, else 0.
int LineOfMessage(const std::string& error, int lineCount) {
    const std::string head = "m.vws:";
    if (error.compare(0, head.size(), head) != 0) return 0;
    size_t at = head.size();
    int line = 0;
    while (at < error.size() && error[at] >= '0' && error[at] <= '9') line = line * 10 + (error[at++] - '0');
    if (error.compare(at, 2, ": ") != 0 || at + 2 >= error.size()) return 0;
    return line >= 1 && line <= (lineCount > 0 ? lineCount : 1) ? line : 0;
}

// Each line of a good worksheet broken in the ways a hand or a fuzzer breaks it:
// every mistake found is said with the file and a line of the text, in UTF-8, short.
TEST(WorksheetMessages, EveryMistakeOfABrokenWorksheetNamesItsFileAndALine) {
    ASSERT_TRUE(parseWorksheet(kGood, "m.vws").ok()) << parseWorksheet(kGood, "m.vws").error;
    const std::vector<std::string> good = Lines(kGood);
    std::vector<std::string> texts;
    for (size_t i = 0; i < good.size(); ++i) {
        const std::string& line = good[i];
        std::vector<std::string> variants = {
            "",                                            // gone
            line + "x",                                    // a letter more
            line.substr(0, line.size() / 2),               // cut short
            "x" + line,                                    // a letter before
            "; " + line,                                   // commented out
            line + "\n" + line,                            // twice
            line + std::string(100000, 'x'),               // a very long line
            line + u8"〜",                                 // a character code page 932 has not
            line.substr(0, line.find('=') == std::string::npos ? line.size() : line.find('=')) + u8"= 測定値",
        };
        for (const std::string& v : variants) {
            std::vector<std::string> broken = good;
            broken[i] = v;
            texts.push_back(Join(broken));
        }
    }
    // Every section commented out but the experiment: nothing to run, said at the end.
    std::string onlyExperiment;
    for (size_t i = 0; i < good.size(); ++i) onlyExperiment += (i < 4 ? "" : "; ") + good[i] + "\n";
    texts.push_back(onlyExperiment);
    texts.push_back("");

    size_t refused = 0;
    for (const std::string& text : texts) {
        const velk::WorksheetResult r = parseWorksheet(text, "m.vws");
        if (r.ok()) continue;
        ++refused;
        const int lineCount = static_cast<int>(Lines(text).size());
        SCOPED_TRACE(text.substr(0, 2000));
        EXPECT_NE(LineOfMessage(r.error, lineCount), 0) << r.error.substr(0, 300);
        EXPECT_EQ(LineOfMessage(r.error, lineCount), r.errorLine) << r.error.substr(0, 300);
        EXPECT_TRUE(velk::validUtf8(r.error)) << r.error.substr(0, 300);
        EXPECT_LT(r.error.size(), 400u) << r.error.substr(0, 300);
    }
    EXPECT_GT(refused, good.size() * 4) << "most broken lines are mistakes";
}

TEST(WorksheetMessages, QuotedTextKeepsWholeCharactersAndItsClosingQuote) {
    velk::WorksheetResult r = parseWorksheet(u8"[module a]\nclass = analog_in\nname = 〜\n", "m.vws");
    EXPECT_EQ(r.error, u8"m.vws:3: name holds '〜' (U+301C), which code page 932 cannot hold");

    // 2,000,000 kanji on one line (6 MB): 40 of them and "...".
    std::string kanji;
    for (int i = 0; i < 2000000; ++i) kanji += u8"測";
    std::string forty;
    for (int i = 0; i < 40; ++i) forty += u8"測";
    r = parseWorksheet("[module a]\nclass = analog_in\n" + kanji + "\n", "m.vws");
    EXPECT_EQ(r.error, "m.vws:3: expected 'key = value': " + forty + "...");
    r = parseWorksheet(kanji + "\n", "m.vws");
    EXPECT_EQ(r.error, "m.vws:1: text outside a section: " + forty + "...");
    r = parseWorksheet("[experiment]\nperiod_ms = 1" + std::string(5 << 20, '0') + "\n", "m.vws");
    EXPECT_EQ(r.error, "m.vws:2: period_ms: '1" + std::string(39, '0') + "...' is not a number");
    r = parseWorksheet("[module a]\nclass = " + kanji + "\n", "m.vws");
    EXPECT_EQ(r.error, "m.vws:2: unknown class '" + forty + "...' (analog_in, digital_in or digital_out)");
    r = parseWorksheet("[module " + std::string(1 << 20, 'm') + "]\n", "m.vws");
    EXPECT_EQ(r.error, "m.vws:1: [module " + std::string(40, 'm') + "...] has no class");
}

TEST(WorksheetMessages, AQuoteIsCutBetweenCharactersNeverInsideOne) {
    EXPECT_EQ(velk::clipText("short"), "short");
    EXPECT_EQ(velk::clipText(std::string(40, 'a')), std::string(40, 'a'));
    EXPECT_EQ(velk::clipText(std::string(41, 'a')), std::string(40, 'a') + "...");
    // 40 characters of 3 bytes each: 120 bytes, kept whole.
    std::string kana;
    for (int i = 0; i < 40; ++i) kana += u8"カ";
    EXPECT_EQ(velk::clipText(kana), kana);
    EXPECT_EQ(velk::clipText(kana + u8"ナ"), kana + "...");
    // A character beyond U+FFFF at the cut goes whole or not at all.
    const std::string kEmoji = "\xF0\x9F\x98\x80";  // U+1F600, two UTF-16 units
    EXPECT_EQ(velk::clipText(std::string(39, 'a') + kEmoji + "bb"), std::string(39, 'a') + "...");
    EXPECT_EQ(velk::clipText(std::string(38, 'a') + kEmoji + "bb"), std::string(38, 'a') + kEmoji + "...");
    EXPECT_EQ(velk::clipText(u8"測定値", 2), u8"測定...");
}

// A worksheet with a Japanese name (its path in UTF-8, as every path of the stand-in)
// is named in readable UTF-8, together with the worksheet's own text.
TEST(WorksheetMessages, AJapaneseFileNameIsReadableBesideTheQuotedText) {
    velktest::ScratchFolder folder("messages");
    const std::string path = folder.path() + u8"\\測定.vws";
    ASSERT_TRUE(velktest::WriteNamed(path, u8"[module a]\nclass = analog_in\nname = 〜\n"));

    velk::WorksheetResult r = velk::loadWorksheet(path);
    EXPECT_EQ(r.error, u8"測定.vws:3: name holds '〜' (U+301C), which code page 932 cannot hold");
    EXPECT_EQ(r.sheet.at(7), u8"測定.vws:7");

    const std::string missing = folder.path() + u8"\\無い.vws";
    r = velk::loadWorksheet(missing);
    EXPECT_EQ(r.error, missing + ": cannot be read");
    EXPECT_NE(r.error.find(u8"無い.vws"), std::string::npos) << r.error;
}

// CR alone (older editors), CRLF and LF are each a line end: the same worksheet in
// each reads alike, and a mistake is on the same line.
TEST(WorksheetReading, LinesEndWithLfCrLfOrACrAlone) {
    const velk::WorksheetResult lf = parseWorksheet(kGood, "m.vws");
    ASSERT_TRUE(lf.ok()) << lf.error;
    for (const char* end : {"\r\n", "\r"}) {
        std::string text;
        for (const std::string& line : Lines(kGood)) text += line + end;
        SCOPED_TRACE(end[1] ? "CRLF" : "CR");
        const velk::WorksheetResult r = parseWorksheet(text, "m.vws");
        ASSERT_TRUE(r.ok()) << r.error;
        ASSERT_EQ(r.sheet.modules.size(), 3u);
        EXPECT_EQ(r.sheet.modules[0].keyLines, lf.sheet.modules[0].keyLines);
        EXPECT_EQ(r.sheet.modules[2].line, 16);
        EXPECT_EQ(r.sheet.modules[0].channelLabel(1), "Volt B");
        EXPECT_EQ(r.sheet.connections[0].line, 20);
        EXPECT_EQ(r.sheet.cardText, "[card 0]\nclock = virtual\n");
        EXPECT_EQ(r.sheet.cardLines, (std::vector<int>{23, 24}));
        EXPECT_EQ(r.sheet.lineCount, 24);
    }
    // A comment first: with CR line ends the rest is not swallowed by it.
    velk::WorksheetResult r =
        parseWorksheet("; saved on an old editor\r[module a]\rclass = analog_in\rchannels = 9\r", "m.vws");
    EXPECT_EQ(r.error, "m.vws:4: channels = 9 is out of range (1 to 8)");
    // Mixed: CR LF is one line end, LF CR and CR CR are two.
    r = parseWorksheet("[module a]\r\n\n\r\r\rclass = analog_in\n\rrange = 7\n", "m.vws");
    EXPECT_EQ(r.error, "m.vws:8: range must be 10 or 5 (volts)");
}

}  // namespace
