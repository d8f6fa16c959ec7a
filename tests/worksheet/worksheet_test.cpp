// Worksheet text: every key reaching its field, the card sections passed on
// verbatim, paths, and each mistake reported with its line.
#include <gtest/gtest.h>

#include "tests/support/unicode_files.h"
#include "tests/worksheet/refused_cases.h"
#include "velk/worksheet/worksheet.h"

using velk::ModuleKind;
using velk::parseWorksheet;

namespace {

const char kFull[] =  // UTF-8, as worksheet files are
    u8"\xEF\xBB\xBF; a comment line\n"
    "[experiment]\n"
    "period_ms = 0.5\n"
    "Block_Size = 250   ; trailing comment\n"
    "duration_s = 2.5\n"
    "pause_at_s = 1\n"
    "pause_for_s = 0.25\n"
    "output_dir = out/csv\n"
    "driver_config = card.ini\n"
    "\n"
    "[module ai]\n"
    "class = Analog_In\n"
    "socket = 2\n"
    "channels = 3\n"
    "name = Probe\n"
    "comment = three probes\n"
    "range = 5\n"
    "buffer = 1m\n"
    "channel0 = Sine 10 Hz\n"
    "channel2 = 電圧 B\n"
    "\n"
    "[module din]\n"
    "class = digital_in\n"
    "channels = 2\n"
    "[module dout]\n"
    "class = digital_out\n"
    "socket = 0\n"
    "channels = 4\n"
    "[connect]\n"
    "din.1 -> dout.3\n"
    "ai.0->dout.0\n"
    "[record ai]\n"
    "file = ai.csv\n"
    "[card 1]\n"
    "clock = virtual   ; kept as written\n"
    "ai0 = sine amplitude=1\n"
    "[fault]\n"
    "Tk17GetData = socket 1 from 3\n";

TEST(Worksheet, EveryKeyReachesItsField) {
    velk::WorksheetResult r = parseWorksheet(kFull, "full.vws", "Z:/sheets");
    ASSERT_TRUE(r.ok()) << r.error;
    const velk::Worksheet& s = r.sheet;
    EXPECT_DOUBLE_EQ(s.periodMs, 0.5);
    EXPECT_EQ(s.blockSize, 250u);
    EXPECT_DOUBLE_EQ(s.durationS, 2.5);
    ASSERT_TRUE(s.pauseAtS.has_value());
    EXPECT_DOUBLE_EQ(*s.pauseAtS, 1.0);
    EXPECT_DOUBLE_EQ(s.pauseForS, 0.25);
    EXPECT_EQ(s.outputDir, "out/csv");
    EXPECT_EQ(s.resolve(s.driverConfig), "Z:/sheets/card.ini");

    ASSERT_EQ(s.modules.size(), 3u);
    const velk::ModuleDef& ai = s.modules[0];
    EXPECT_EQ(ai.id, "ai");
    EXPECT_EQ(ai.line, 11);
    EXPECT_EQ(ai.kind, ModuleKind::AnalogIn);
    EXPECT_EQ(ai.socket, 2);
    EXPECT_EQ(ai.channelCount(), 3u);
    EXPECT_EQ(*ai.name, "Probe");
    EXPECT_EQ(*ai.comment, "three probes");
    EXPECT_EQ(ai.range, 1);
    EXPECT_EQ(ai.bufferIndex, 4);
    EXPECT_EQ(ai.channelLabel(0), "Sine 10 Hz");
    EXPECT_EQ(ai.channelLabel(1), "ch1") << "unnamed channels are numbered";
    EXPECT_EQ(ai.channelLabel(2), u8"電圧 B");
    EXPECT_EQ(std::string(velk::classIdOf(ai.kind)), "KA:MMTK17");

    EXPECT_EQ(s.modules[1].kind, ModuleKind::DigitalIn);
    EXPECT_FALSE(s.modules[1].socket.has_value()) << "no socket: the first card offered";
    EXPECT_EQ(std::string(velk::classIdOf(s.modules[1].kind)), "KA:MMTK17DI");
    EXPECT_EQ(s.modules[2].kind, ModuleKind::DigitalOut);
    EXPECT_EQ(std::string(velk::classIdOf(s.modules[2].kind)), "KA:MMTK17DO");
    EXPECT_EQ(s.modules[2].channelCount(), 4u);

    ASSERT_EQ(s.connections.size(), 2u);
    EXPECT_EQ(s.connections[0].from, "din");
    EXPECT_EQ(s.connections[0].output, 1u);
    EXPECT_EQ(s.connections[0].to, "dout");
    EXPECT_EQ(s.connections[0].input, 3u);
    EXPECT_EQ(s.connections[1].from, "ai");
    EXPECT_EQ(s.connections[1].line, 31);

    ASSERT_EQ(s.records.size(), 1u);
    EXPECT_EQ(s.records[0].module, "ai");
    EXPECT_EQ(s.records[0].file, "ai.csv");
    EXPECT_EQ(s.cardText,
              "[card 1]\nclock = virtual   ; kept as written\nai0 = sine amplitude=1\n[fault]\n"
              "Tk17GetData = socket 1 from 3\n");
}

TEST(Worksheet, DefaultsWithoutAnExperimentSection) {
    velk::WorksheetResult r = parseWorksheet("[module a]\nclass = analog_in\n");
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_DOUBLE_EQ(r.sheet.periodMs, 1.0);
    EXPECT_EQ(r.sheet.blockSize, 100u);
    EXPECT_DOUBLE_EQ(r.sheet.durationS, 1.0);
    EXPECT_FALSE(r.sheet.pauseAtS.has_value());
    EXPECT_EQ(r.sheet.modules[0].channelCount(), 1u);
    EXPECT_TRUE(r.sheet.cardText.empty());
}

// Numbers in C notation whatever the locale, read whole: a sign, a fraction and an
// exponent are taken, anything after the number or a number beyond double's range is
// the same mistake as a word.
TEST(Worksheet, NumbersAreReadWhole) {
    velk::WorksheetResult r = parseWorksheet(
        "[experiment]\nperiod_ms = +.5\nblock_size = +250\nduration_s = 25e-1\npause_at_s = 1.\n"
        "pause_for_s = 0.30000000000000004\n[module m]\nclass = digital_out\n");
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.sheet.periodMs, 0.5);
    EXPECT_EQ(r.sheet.blockSize, 250u);
    EXPECT_EQ(r.sheet.durationS, 2.5);
    EXPECT_EQ(*r.sheet.pauseAtS, 1.0);
    EXPECT_EQ(r.sheet.pauseForS, 0.1 + 0.2) << "the nearest double of the text";
    for (const char* bad : {"1e", "1e400", "-1e400", "inf", "nan", "0x10", "1.5.", "+-1", "2 s", "1,5"}) {
        r = parseWorksheet(std::string("[experiment]\n\nduration_s = ") + bad + "\n", "n.vws");
        EXPECT_EQ(r.error, std::string("n.vws:3: duration_s: '") + bad + "' is not a number") << bad;
    }
    for (const char* bad : {"1e2", "100.0", "0x64", "+-1", "99999999999999999999", "1 0"}) {
        r = parseWorksheet(std::string("[experiment]\nblock_size = ") + bad + "\n", "n.vws");
        EXPECT_EQ(r.error, std::string("n.vws:2: block_size: '") + bad + "' is not a whole number") << bad;
    }
}

using worksheet_cases::BadCase;

TEST(Worksheet, MistakesNameTheirLine) {
    const std::vector<BadCase> cases = {
        {"period_ms = 1\n", 1, "text outside a section"},
        {"[experiment]\nperod_ms = 1\n", 2, "unknown key 'perod_ms' in [experiment]"},
        {"[experiment]\nperiod_ms = 1,5\n", 2, "period_ms: '1,5' is not a number"},
        {"[experiment]\nperiod_ms = 0\n", 2, "period_ms must be above 0"},
        {"[experiment]\n\nblock_size = 70000\n", 3, "block_size = 70000 is out of range (1 to 65535)"},
        {"[experiment]\nduration_s = -1\n", 2, "duration_s must be above 0"},
        {"[experiment]\nduration_s\n", 2, "expected 'key = value'"},
        {"[experiment]\nduration_s = 1\nduration_s = 2\n", 3, "'duration_s' given twice"},
        {"[experiment]\n[experiment]\n", 2, "[experiment] given twice"},
        {"[experiment\n", 1, "must end with ']'"},
        {"[modules a]\n", 1, "unknown section [modules a]"},
        {"[module]\n", 1, "[module NAME] needs a name"},
        {"[module a]\nclass = analog_in\n[module a]\n", 3, "module 'a' defined twice"},
        {"[module a]\nclass = oscilloscope\n", 2, "unknown class 'oscilloscope'"},
        {"[module a]\nsocket = 1\n", 1, "[module a] has no class"},
        {"[module a]\nclass = analog_in\nsocket = 4\n", 3, "socket = 4 is out of range (0 to 3)"},
        {"[module a]\nclass = analog_in\nchannels = 9\n", 3, "channels = 9 is out of range (1 to 8)"},
        {"[module a]\nclass = digital_in\nchannels = 5\n", 3, "a digital_in module has at most 4 channels"},
        {"[module a]\nclass = analog_in\nrange = 7\n", 3, "range must be 10 or 5"},
        {"[module a]\nclass = analog_in\nbuffer = 3M\n", 3, "buffer must be one of"},
        {"[module a]\nclass = digital_out\n\nrange = 5\n", 4, "range applies to analog_in modules only"},
        {"[module a]\nclass = analog_in\nname = thirteen char\n", 3, "name is longer than 12 characters"},
        {"[module a]\nclass = analog_in\nchannels = 2\nchannel2 = x\n", 4, "channel2 names a channel beyond channels = 2"},
        {"[module a]\nclass = analog_in\nchannel9 = x\n", 3, "unknown key 'channel9'"},
        {"[module a]\nclass = analog_in\nchannel0 = a,b\n", 3, "may not hold ','"},
        {"[module a]\nclass = analog_in\nchannel0 = 123456789012345678901\n", 3, "at most 20 characters"},
        {"[module a]\nclass = analog_in\n[connect]\na.0 => b.0\n", 4, "expected 'module.channel -> module.channel'"},
        {"[module a]\nclass = analog_in\n[connect]\na.0 -> b.0\n", 4, "no module 'b'"},
        {"[module a]\nclass = analog_in\n[module b]\nclass = analog_in\n[connect]\na.0 -> b.0\n", 6,
         "'b' has no input channels"},
        {"[module a]\nclass = digital_in\nchannels = 2\n[module b]\nclass = digital_out\n[connect]\na.2 -> b.0\n", 7,
         "'a' has no output channel 2"},
        {"[module a]\nclass = digital_out\n[record a]\nfile = a.csv\n", 3, "'a' has no output channels to record"},
        {"[record x]\nfile = x.csv\n", 1, "no module 'x' to record"},
        {"[module a]\nclass = analog_in\n[record a]\n", 3, "[record a] has no file"},
        {"[module a]\nclass = analog_in\n[record a]\nfile = a.csv\n[record a]\n", 5, "module 'a' recorded twice"},
        {"[module a]\nclass = analog_in\n[module b]\nclass = analog_in\n[record a]\nfile = x.csv\n[record b]\nfile = X.CSV\n",
         8, "is written by another recorder"},
        {"[experiment]\nduration_s = 1\npause_at_s = 2\n", 3, "pause_at_s lies beyond duration_s"},
    };
    worksheet_cases::ExpectRefused(cases);
}

// A key given twice is refused with both lines, also where it is spelt another way:
// channel00 is channel0. A channel's number is decimal digits, nothing else.
TEST(Worksheet, AKeyGivenTwiceIsRefusedWithBothLinesHoweverItIsSpelt) {
    const std::vector<BadCase> cases = {
        {"[experiment]\nperiod_ms = 1\n\nPeriod_MS = 2\n", 4,
         "'period_ms' given twice in this section (first on line 2)"},
        {"[module a]\nclass = analog_in\nchannels = 2\nchannel0 = A\nchannel00 = B\n", 5,
         "'channel00' is the key 'channel0' of line 4 again (leading zeros do not make another number); each key may "
         "be given once per section"},
        {"[module a]\nclass = analog_in\nchannels = 2\nchannel001 = A\nchannel1 = B\n", 5,
         "'channel1' is the key 'channel001' of line 4 again"},
        {"[module a]\nclass = analog_in\nchannels = 2\nchannel 1 = A\n", 4, "unknown key 'channel 1'"},
        {"[module a]\nclass = analog_in\nchannels = 2\nchannel+1 = A\n", 4, "unknown key 'channel+1'"},
        {"[module a]\nclass = analog_in\nchannels = 2\nchannel-0 = A\n", 4, "unknown key 'channel-0'"},
        // Found by the channel it names: the line of channel02, not the section's.
        {"[module a]\nclass = analog_in\nchannels = 2\n\nchannel02 = C\n", 5,
         "channel2 names a channel beyond channels = 2"},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.text);
        velk::WorksheetResult r = parseWorksheet(c.text, "dup.vws");
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.errorLine, c.line) << r.error;
        EXPECT_EQ(r.error.rfind("dup.vws:" + std::to_string(c.line) + ": " + c.message, 0), 0u) << r.error;
    }
    // One spelling with leading zeros on its own names its channel.
    velk::WorksheetResult r = parseWorksheet("[module a]\nclass = analog_in\nchannels = 2\nchannel01 = B\n");
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.sheet.modules[0].channelLabel(1), "B");
    EXPECT_EQ(r.sheet.modules[0].lineOf("channel1"), 4);
}

TEST(Worksheet, PathsOfUnixAndWindowsKind) {
    EXPECT_EQ(velk::windowsPath("/work/main/x.vws"), "Z:/work/main/x.vws");
    EXPECT_EQ(velk::windowsPath("C:\\x.vws"), "C:\\x.vws");
    EXPECT_EQ(velk::windowsPath("rel/x.vws"), "rel/x.vws");
    EXPECT_EQ(velk::folderOf("Z:/work/main/x.vws"), "Z:/work/main");
    EXPECT_EQ(velk::folderOf("x.vws"), ".");
    EXPECT_EQ(velk::folderOf("C:\\x.vws"), "C:\\");
    velk::Worksheet s;
    s.baseDir = "Z:/sheets";
    EXPECT_EQ(s.resolve("out"), "Z:/sheets/out");
    EXPECT_EQ(s.resolve("/tmp/out"), "Z:/tmp/out");
    EXPECT_EQ(s.resolve("D:\\out"), "D:\\out");
    s.baseDir = ".";
    EXPECT_EQ(s.resolve("out"), "out");
}

// A worksheet's path is UTF-8 like its text: a file in ソフト\表 (both end in the byte
// 0x5C in code page 932) is read, named and resolved against its own folder.
TEST(Worksheet, AWorksheetInAJapaneseFolderIsReadAndItsPathsResolvedThere) {
    velktest::ScratchFolder scratch("worksheet-japanese");
    const std::string dir = scratch.path() + u8"\\ソフト\\表";
    ASSERT_TRUE(velktest::MakeFolderNamed(scratch.path() + u8"\\ソフト") && velktest::MakeFolderNamed(dir));
    ASSERT_TRUE(velktest::WriteNamed(dir + u8"\\試験.vws", u8"[experiment]\noutput_dir = 出力\ndriver_config = 能.ini\n"
                                                         "[module a]\nclass = analog_in\n[record a]\nfile = 測定.csv\n"));
    velk::WorksheetResult r = velk::loadWorksheet(dir + u8"\\試験.vws");
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.sheet.path, dir + u8"\\試験.vws");
    EXPECT_EQ(r.sheet.name, u8"試験.vws");
    EXPECT_EQ(r.sheet.baseDir, dir);
    EXPECT_EQ(r.sheet.at(2), u8"試験.vws:2");
    EXPECT_EQ(r.sheet.resolve(r.sheet.outputDir), dir + u8"/出力");
    EXPECT_EQ(r.sheet.resolve(r.sheet.driverConfig), dir + u8"/能.ini");
    EXPECT_EQ(velk::folderOf(dir + u8"\\能.ini"), dir);

    r = velk::loadWorksheet(dir + u8"\\無い.vws");
    EXPECT_EQ(r.error, dir + u8"\\無い.vws: cannot be read");
}

TEST(Worksheet, AFileThatCannotBeReadIsAnError) {
    velk::WorksheetResult r = velk::loadWorksheet("Z:/nonexistent/folder/x.vws");
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.error.find("cannot be read"), std::string::npos) << r.error;
}

TEST(Worksheet, TheShippedDemoIsValid) {
    velk::WorksheetResult r = velk::loadWorksheet(VELK_SOURCE_DIR "/worksheets/demo.vws");
    ASSERT_TRUE(r.ok()) << r.error;
    ASSERT_EQ(r.sheet.modules.size(), 1u);
    EXPECT_GE(r.sheet.modules[0].channelCount(), 3u);
    EXPECT_EQ(r.sheet.records.size(), 1u);
    EXPECT_EQ(r.sheet.resolve(r.sheet.driverConfig), "Z:" VELK_SOURCE_DIR "/worksheets/demo-card.ini");
}

}  // namespace
