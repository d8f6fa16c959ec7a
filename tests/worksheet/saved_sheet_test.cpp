// The section of a saved module as a worksheet is read: its area assembled and
// checked against its class, its counts bounded by the module record, keys of the
// dialogs refused beside it, each mistake with its line; values the module itself
// must survive (a socket without a card, counts beyond the class) let through.
#include <gtest/gtest.h>

#include "velk/worksheet/saved_module.h"
#include "velk/worksheet/worksheet.h"

#include <stdio.h>

#include <string>

namespace {

using velk::ModuleKind;

// area_NNN lines for the bytes, sixteen a line.
std::string AreaLines(const std::string& area, size_t from = 0) {
    std::string text;
    for (size_t at = 0; at < area.size(); at += 16) {
        char key[16];
        snprintf(key, sizeof key, "area_%03u =", static_cast<unsigned>(from + at));
        text += key;
        for (size_t i = at; i < area.size() && i < at + 16; ++i) {
            char byte[4];
            snprintf(byte, sizeof byte, " %02X", static_cast<unsigned char>(area[i]));
            text += byte;
        }
        text += "\n";
    }
    return text;
}

std::string AnalogArea(uint16_t socket) {
    std::string area(256, '\0');
    area.replace(0, 4, "Sine");
    area[192] = static_cast<char>(socket & 0xFF);
    area[193] = static_cast<char>(socket >> 8);
    area[248] = 2;
    return area;
}

// Line 1 [module ai], line 2 class, 3 inputs, 4 outputs, areas from line 5 (sixteen lines).
std::string SavedAnalog(const std::string& extra = "", const std::string& area = AnalogArea(0)) {
    return "[module ai]\nclass = analog_in\ninputs = 0\noutputs = 2\n" + AreaLines(area) + extra;
}

std::string Error(const std::string& text) {
    velk::WorksheetResult r = velk::parseWorksheet(text, "s.vws");
    EXPECT_FALSE(r.ok()) << text;
    return r.error;
}

TEST(SavedSheet, ASavedModuleIsReadWithItsAreaAndWhatItHolds) {
    velk::WorksheetResult r = velk::parseWorksheet(
        SavedAnalog("name = Probe\ncolumn1 = Volt B\n") +
            "[module dout]\nclass = digital_out\ninputs = 3\noutputs = 0\n" + AreaLines(std::string(velk::areaBytesOf(ModuleKind::DigitalOut), '\x01')) +
            "[module din]\nclass = digital_in\nsocket = 1\nchannels = 2\n"
            "[connect]\nai.1 -> dout.2\n",
        "s.vws");
    ASSERT_TRUE(r.ok()) << r.error;
    const velk::ModuleDef& ai = r.sheet.modules[0];
    ASSERT_TRUE(ai.saved.has_value());
    EXPECT_EQ(ai.saved->area, AnalogArea(0));
    EXPECT_EQ(*ai.socket, 0);
    EXPECT_EQ(ai.channelCount(), 2u);
    EXPECT_EQ(*ai.bufferIndex, 2);
    EXPECT_EQ(*ai.name, "Probe");
    EXPECT_EQ(ai.channelLabel(0), "ch0");
    EXPECT_EQ(ai.channelLabel(1), "Volt B");
    const velk::ModuleDef& dout = r.sheet.modules[1];
    EXPECT_EQ(dout.saved->area.size(), 100 + sizeof(void*));
    EXPECT_EQ(*dout.socket, 0x0101) << "bytes 96-97";
    EXPECT_EQ(dout.channelCount(), 3u);
    EXPECT_FALSE(r.sheet.modules[2].saved.has_value()) << "a module set through its dialogs beside it";
}

TEST(SavedSheet, ValuesTheModuleMustSurviveAreLetThrough) {
    std::string area = AnalogArea(7);
    area[200] = 7;     // range
    area[248] = 9;     // buffer size index
    area.replace(24, 24, std::string(24, 'N'));  // a name without its zero
    velk::WorksheetResult r = velk::parseWorksheet(
        "[module ai]\nclass = analog_in\ninputs = 3\noutputs = 12\n" + AreaLines(area) +
            "[module din]\nclass = digital_in\ninputs = 0\noutputs = 16\n" + AreaLines(std::string(104, '\0')),
        "s.vws");
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(*r.sheet.modules[0].socket, 7);
    EXPECT_EQ(r.sheet.modules[0].channelCount(), 12u);
    EXPECT_FALSE(r.sheet.modules[0].bufferIndex.has_value()) << "the module's default applies";
    EXPECT_EQ(r.sheet.modules[1].channelCount(), 16u);
    const std::vector<std::string> lines = velk::describeArea(ModuleKind::AnalogIn, area);
    EXPECT_EQ(lines[0], "card socket 7 (there are sockets 0 to 3 only)");
    EXPECT_EQ(lines[1], u8"range 7 (not 0 or 1: the module runs ±5 V)");
    EXPECT_EQ(lines[2], "buffer size index 9 (not 0 to 7: the module uses 256K)");
    EXPECT_EQ(lines[3].rfind("written at each start: first channel 0, last channel 0, interval 0, ", 0), 0u)
        << lines[3];
    EXPECT_EQ(lines[4], "the mode record's constant fields: 0 at byte 216 and 0 at byte 220 (0 and 1, written at "
                        "creation and never changed)");
    area[220] = 1;
    EXPECT_EQ(velk::describeArea(ModuleKind::AnalogIn, area)[4].rfind("the mode record's constant fields: 0 at byte "
                                                                       "216 and 1 at byte 220 ",
                                                                       0),
              0u);
    EXPECT_EQ(lines[7], "channel 1 name \"" + std::string(24, 'N') + "\" (no terminating zero in its 24 bytes)");
}

TEST(SavedSheet, TheAreaMustBeWholeValidHexOfTheClassSize) {
    std::string text = SavedAnalog();
    const size_t line6 = text.find("area_016");
    EXPECT_EQ(Error(std::string(text).replace(text.find("00", line6 + 11), 2, "0G")),
              "s.vws:6: area_016: '0G' is not a byte: bytes are two hex digits each, separated by blanks (4E 00 FF)");
    EXPECT_EQ(Error(std::string(text).replace(line6 + 11, 2, "000")),
              "s.vws:6: area_016: '000' is not a byte: bytes are two hex digits each, separated by blanks (4E 00 FF)");
    EXPECT_EQ(Error(std::string(text).replace(line6, 8, "area_0x10")),
              "s.vws:6: unknown key 'area_0x10' (area_NNN gives the area's bytes from byte NNN, in decimal)");
}

TEST(SavedSheet, TheAreaMustBeCoveredWithoutGapOrOverlap) {
    const std::string area = AnalogArea(0);
    const std::string head = "[module ai]\nclass = analog_in\ninputs = 0\noutputs = 2\n";
    // Line 5 holds bytes 0-15, line 6 bytes 32-255: 16 to 31 are missing.
    EXPECT_EQ(Error(head + AreaLines(area.substr(0, 16)) + AreaLines(area.substr(32), 32)),
              "s.vws:6: bytes 16 to 31 of the area are missing (no line gives them before area_032)");
    EXPECT_EQ(Error(head + AreaLines(area) + "area_008 = 00\n"),
              "s.vws:21: area_008 overlaps the bytes of line 5, which run to byte 15");
    EXPECT_EQ(Error(head + AreaLines(area) + "area_256 = 00\n"),
              "s.vws:21: area_256 runs to byte 256, past the end of the 256-byte private data area of an "
              "analog_in module");
    // A digital input's 104 bytes given to an analog module.
    EXPECT_EQ(Error(head + AreaLines(std::string(104, '\0'))),
              "s.vws:11: the area ends at byte 104, but the private data area of an analog_in module has 256 "
              "bytes (bytes 104 to 255 are missing)");
    EXPECT_EQ(Error(head + AreaLines(area) + "area_0 = 01\n"),
              "s.vws:21: area_0: the bytes from 0 are already given on line 5");
}

TEST(SavedSheet, CountsAreBoundedByTheModuleRecordAndRequired) {
    EXPECT_EQ(Error("[module ai]\nclass = analog_in\ninputs = 0\noutputs = 17\n" + AreaLines(AnalogArea(0))),
              "s.vws:4: outputs = 17: a module record holds at most 16 channels each way");
    EXPECT_EQ(Error("[module ai]\nclass = analog_in\ninputs = -1\n"), "s.vws:3: inputs: '-1' is not a channel count");
    EXPECT_EQ(Error("[module ai]\nclass = analog_in\ninputs = 0\n" + AreaLines(AnalogArea(0))),
              "s.vws:1: saved module 'ai' has no outputs = (its output channel count)");
    EXPECT_EQ(Error(SavedAnalog("column2 = far\n")), "s.vws:21: column2 names a column beyond the module's 2 output channel(s)");
    EXPECT_EQ(Error(SavedAnalog("column1 = a,b\n")), "s.vws:21: column1: a column name may not hold ',' or '\"'");
}

// column00 is column0: given twice, however spelt, it is refused with both lines
// (it used to replace the first name silently).
TEST(SavedSheet, AColumnNamedTwiceIsRefusedWithBothLines) {
    EXPECT_EQ(Error(SavedAnalog("column0 = A\ncolumn00 = B\n")),
              "s.vws:22: 'column00' is the key 'column0' of line 21 again (leading zeros do not make another "
              "number); each key may be given once per section");
    EXPECT_EQ(Error(SavedAnalog("column1 = A\n\ncolumn1 = B\n")),
              "s.vws:23: 'column1' given twice in this section (first on line 21)");
    // Alone, column01 names the column of channel 1 and is found by it.
    velk::WorksheetResult r = velk::parseWorksheet(SavedAnalog("column01 = Volt B\n"), "s.vws");
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.sheet.modules[0].channelLabel(1), "Volt B");
    EXPECT_EQ(Error(SavedAnalog("column02 = far\n")),
              "s.vws:21: column2 names a column beyond the module's 2 output channel(s)");
}

// A saved module keeps its driver buffer in its area, where no buffer key can
// reach it: a read too large for it is said with the area line holding the buffer
// size index, and the advice does not name the key a saved section refuses.
TEST(SavedSheet, AReadTooLargeForASavedBufferIsAdvisedWithoutTheBufferKey) {
    std::string text = "[experiment]\nblock_size = 65535\n" + SavedAnalog();  // module from line 3
    text.replace(text.find("outputs = 2"), 11, "outputs = 8");
    // Areas from line 7, sixteen bytes a line: byte 248 is on the line of area_240, line 22.
    const std::string error = Error(text);
    EXPECT_EQ(error,
              "s.vws:22: module ai: one read of the card is 8 channels x 65535 samples x decimation 1 x 2 bytes = "
              "1048560 bytes, more than the driver buffer of 256K that its saved area holds (262144 bytes): the card "
              "would overflow before the read is ready; choose a smaller block_size, or save the module again with "
              "a driver buffer of 1M or more (the buffer size index at byte 248 of its area, 4 or more)");
    EXPECT_EQ(error.find("buffer ="), std::string::npos);
    // With index 4 (1M) in the area the read fits.
    std::string area = AnalogArea(0);
    area[248] = 4;
    std::string fits = "[experiment]\nblock_size = 65535\n" + SavedAnalog("", area);
    fits.replace(fits.find("outputs = 2"), 11, "outputs = 8");
    EXPECT_TRUE(velk::parseWorksheet(fits, "s.vws").ok()) << velk::parseWorksheet(fits, "s.vws").error;
    // Too large for any buffer: a smaller block is the only advice.
    std::string huge = "[experiment]\nperiod_ms = 100\nblock_size = 65535\n" + SavedAnalog();
    EXPECT_NE(Error(huge).find("(262144 bytes): the card would overflow before the read is ready; choose a smaller "
                               "block_size"),
              std::string::npos)
        << Error(huge);
    EXPECT_EQ(Error(huge).find("buffer size index at byte 248"), std::string::npos) << Error(huge);
}

TEST(SavedSheet, KeysOfTheDialogsAndOfSavedModulesDoNotMix) {
    EXPECT_EQ(Error(SavedAnalog("range = 5\n")),
              "s.vws:21: range is a setting of the module's dialogs; a saved module keeps it in its area "
              "(area_NNN lines), as saved");
    EXPECT_EQ(Error(SavedAnalog("socket = 1\n")),
              "s.vws:21: socket is a setting of the module's dialogs; a saved module keeps it in its area "
              "(area_NNN lines), as saved");
    EXPECT_EQ(Error(SavedAnalog("channel0 = A\n")),
              "s.vws:21: channel0 names a channel through the dialog; a saved module keeps its channel names in "
              "its area, and column0 names the recording's column");
    EXPECT_EQ(Error("[module ai]\nclass = analog_in\nchannels = 2\ncolumn0 = A\n"),
              "s.vws:4: [module ai] has keys of a saved module but no area_NNN lines with its private data area; "
              "a module set through its dialogs gives channels and channel0...");
}

TEST(SavedSheet, TheWorksheetsRulesHoldForSavedModulesToo) {
    // Two analog modules on socket 0, one saved and one set through its dialog.
    EXPECT_EQ(Error(SavedAnalog() + "[module b]\nclass = analog_in\nsocket = 0\n"),
              "s.vws:23: socket 0 already serves analog_in module 'ai' (line 1); a card serves one module of each "
              "class");
    // A connection beyond the saved count.
    EXPECT_EQ(Error(SavedAnalog() + "[module o]\nclass = digital_out\n[connect]\nai.2 -> o.0\n"),
              "s.vws:24: 'ai' has no output channel 2");
}

}  // namespace
