// Analog settings of a worksheet applied through the setup dialog reach the
// module: the range changes the volts of a code, the channel count and typed names
// give the recording's columns, the buffer size reaches the card's mode; and what
// the dialog shows afterwards is what was typed.
#include "runner_support.h"
#include "tests/support/known_difference.h"

#include "velk/dialogs/module_dialogs.h"
#include "velk/common/strings.h"
#include "velk/common/text.h"

namespace runnertest {
namespace {

using velk::RunEnd;

TEST_F(RunnerTest, TheFiveVoltRangeChangesTheVoltsOfKnownCodes) {
    ASSERT_TRUE(Build("[experiment]\nblock_size = 3\nduration_s = 0.006\n"
                      "[module ai]\nclass = analog_in\nrange = 5\n[record ai]\nfile = ai.csv\n"
                      "[card 0]\nclock = virtual\nai0 = codes 0 2048 4095\n"));
    EXPECT_EQ(E().run().end, RunEnd::Completed);
    std::string error;
    ASSERT_TRUE(E().writeRecordings(error)) << error;
    Csv csv = ReadCsv(Out("ai.csv"));
    ASSERT_EQ(csv.rows.size(), 6u);
    // Each value as the shortest text of its float: 4.9975586 reads back as 4.99755859375f.
    const char* const expected[] = {"-5", "0", "4.9975586", "-5", "0", "4.9975586"};
    for (size_t k = 0; k < 6; ++k) EXPECT_EQ(csv.rows[k][1], expected[k]) << k;
    EXPECT_EQ(strtof(csv.rows[2][1].c_str(), nullptr), 4.99755859375f);
    EXPECT_EQ(Stats("ai", 0).max, 4.99755859375);
    EXPECT_EQ(Stats("ai", 0).min, -5.0);
}

TEST_F(RunnerTest, TheTenVoltRangeIsTheDefault) {
    ASSERT_TRUE(Build("[experiment]\nblock_size = 3\nduration_s = 0.003\n"
                      "[module ai]\nclass = analog_in\n"
                      "[card 0]\nclock = virtual\nai0 = codes 0 2048 4095\n"));
    EXPECT_EQ(E().run().end, RunEnd::Completed);
    EXPECT_EQ(Stats("ai", 0).min, -10.0);
    EXPECT_EQ(Stats("ai", 0).max, 9.9951171875);
}

const char kThreeNamed[] =
    u8"[experiment]\nblock_size = 10\nduration_s = 0.05\n"
    "[module ai]\nclass = analog_in\nchannels = 3\nname = Probe 3\ncomment = three typed names\n"
    "range = 5\nbuffer = 1M\nchannel0 = Left\nchannel1 = 右チャンネル\nchannel2 = Back 20 characters..\n"
    "[record ai]\nfile = ai.csv\n"
    "[card 0]\nclock = virtual\n";

TEST_F(RunnerTest, ThreeChannelsWithTypedNamesGiveThreeColumns) {
    ASSERT_TRUE(Build(kThreeNamed));
    ModuleRecord* m = E().module("ai");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->outputCount, 3u);
    ASSERT_FALSE(E().host().sizeChanges().empty());
    EXPECT_EQ(E().host().sizeChanges().back().inputCount, 0u);
    EXPECT_EQ(E().host().sizeChanges().back().outputCount, 3u);
    EXPECT_STREQ(m->moduleName, "Probe 3");
    EXPECT_STREQ(m->moduleComment, "three typed names");

    // The dialog opened again shows what was typed and chosen.
    velk::ModuleSettings shown;
    std::string error;
    ASSERT_TRUE(velk::readSettings(E().host(), m, velk::ModuleKind::AnalogIn, shown, error)) << error;
    EXPECT_EQ(shown.channels, 3u);
    EXPECT_EQ(*shown.name, "Probe 3");
    EXPECT_EQ(*shown.comment, "three typed names");
    EXPECT_EQ(shown.range, 1);
    EXPECT_EQ(shown.bufferIndex, 4);
    EXPECT_EQ(shown.channelNames.at(0), "Left");
    EXPECT_EQ(shown.channelNames.at(1), "右チャンネル") << velk::hexBytes(shown.channelNames.at(1));
    EXPECT_EQ(shown.channelNames.at(2), "Back 20 characters..");

    EXPECT_EQ(E().run().end, RunEnd::Completed);
    ASSERT_TRUE(E().writeRecordings(error)) << error;
    Csv csv = ReadCsv(Out("ai.csv"));
    EXPECT_EQ(csv.header, (std::vector<std::string>{"time_s", "Left", u8"右チャンネル", "Back 20 characters.."}));
    ASSERT_EQ(csv.rows.size(), 50u);
    EXPECT_EQ(csv.rows[0].size(), 4u);
}

TEST_F(RunnerTest, TheBufferSizeChosenInTheListReachesTheCard) {
    ASSERT_TRUE(Build("[experiment]\nblock_size = 10\nduration_s = 0.01\n"
                      "[module ai]\nclass = analog_in\nbuffer = 8M\n[card 0]\nclock = virtual\n"));
    ASSERT_TRUE(E().start());
    Tk17Mode mode;
    ASSERT_TRUE(Sim().GetMode(0, &mode));
    EXPECT_EQ(mode.driverBufferSize, 8388608);
    EXPECT_EQ(mode.range, 0);
    E().stop();
}

TEST_F(RunnerTest, LessLowersTheChannelCount) {
    ASSERT_TRUE(Build("[experiment]\nblock_size = 10\nduration_s = 0.01\n"
                      "[module ai]\nclass = analog_in\nchannels = 5\n[card 0]\nclock = virtual\n"));
    ModuleRecord* m = E().module("ai");
    ASSERT_EQ(m->outputCount, 5u);
    velk::ModuleSettings fewer;
    fewer.channels = 2;
    std::string error;
    ASSERT_TRUE(velk::applySettings(E().host(), m, velk::ModuleKind::AnalogIn, fewer, error)) << error;
    EXPECT_EQ(m->outputCount, 2u);
    velk::ModuleSettings shown;
    ASSERT_TRUE(velk::readSettings(E().host(), m, velk::ModuleKind::AnalogIn, shown, error)) << error;
    EXPECT_EQ(shown.channels, 2u);
    EXPECT_EQ(shown.range, 0) << "untouched settings keep their defaults";
    EXPECT_EQ(shown.bufferIndex, 2);
}

// Digital modules are set through their own dialogs: counts, texts and channel
// names typed into TK17_DI and TK17_DO, and the lines connected between them.
TEST_F(RunnerTest, DigitalSettingsArriveThroughTheirDialogs) {
    ASSERT_TRUE(Build(u8"[experiment]\nblock_size = 10\nduration_s = 0.03\n"
                      "[module din]\nclass = digital_in\nchannels = 3\nname = Switches\ncomment = three lines\n"
                      "channel0 = Door\nchannel2 = 非常停止\n"
                      "[module dout]\nclass = digital_out\nchannels = 2\nname = Lamps\nchannel1 = Red\n"
                      "[connect]\ndin.0 -> dout.0\ndin.2 -> dout.1\n"
                      "[record din]\nfile = din.csv\n"
                      "[card 0]\nclock = virtual\ndin = fixed 05\n"));
    ModuleRecord* din = E().module("din");
    ModuleRecord* dout = E().module("dout");
    ASSERT_NE(din, nullptr);
    ASSERT_NE(dout, nullptr);
    EXPECT_EQ(din->outputCount, 3u);
    EXPECT_EQ(dout->inputCount, 2u);
    EXPECT_EQ(dout->outputCount, 0u);
    EXPECT_STREQ(din->moduleName, "Switches");
    EXPECT_STREQ(din->moduleComment, "three lines");
    EXPECT_STREQ(dout->moduleName, "Lamps");
    // Both working copies went through Velk's allocator: the dialogs were used.
    EXPECT_EQ(E().host().allocator().liveCount(), 0u);
    bool sawIn = false, sawOut = false;
    for (const velk::AllocationEvent& e : E().host().allocator().events()) {
        sawIn = sawIn || (e.tag == "Tk17CtlDlgDIN" && e.line == 72);
        sawOut = sawOut || (e.tag == "Tk17CtlDlgDOUT" && e.line == 71);
    }
    EXPECT_TRUE(sawIn && sawOut);

    velk::ModuleSettings shown;
    std::string error;
    ASSERT_TRUE(velk::readSettings(E().host(), din, velk::ModuleKind::DigitalIn, shown, error)) << error;
    EXPECT_EQ(shown.channels, 3u);
    EXPECT_EQ(shown.channelNames.at(0), "Door");
    EXPECT_EQ(shown.channelNames.at(1), "ﾁｬﾝﾈﾙ 1") << "a channel the worksheet did not name";
    EXPECT_EQ(shown.channelNames.at(2), "非常停止");
    EXPECT_FALSE(shown.range) << "a digital dialog has no range";
    ASSERT_TRUE(velk::readSettings(E().host(), dout, velk::ModuleKind::DigitalOut, shown, error)) << error;
    EXPECT_EQ(shown.channels, 2u);
    EXPECT_EQ(*shown.name, "Lamps");
    EXPECT_EQ(shown.channelNames.at(1), "Red");

    velk::RunReport r = E().run();
    EXPECT_EQ(r.end, RunEnd::Completed) << r.detail;
    // Line 0 carries 5 V (bit 0 of 0x05), line 2 too: both output lines are set.
    SimApi sim = Sim();
    const int32_t writes = sim.GetOutputLog(0, nullptr, 0);
    ASSERT_GT(writes, 0);
    std::vector<SimPortWrite> log(static_cast<size_t>(writes));
    sim.GetOutputLog(0, log.data(), static_cast<uint32_t>(log.size()));
    EXPECT_EQ(log.back().value, 0x03);
    ASSERT_TRUE(E().writeRecordings(error)) << error;
    EXPECT_EQ(ReadCsv(Out("din.csv")).header, (std::vector<std::string>{"time_s", "Door", "ch1", u8"非常停止"}));
}

TEST_F(RunnerTest, AnalogKeysCannotReachADigitalDialog) {
    ASSERT_TRUE(Build("[module din]\nclass = digital_in\n[card 0]\nclock = virtual\n"));
    velk::ModuleSettings s;
    s.range = 1;
    std::string error;
    EXPECT_FALSE(velk::applySettings(E().host(), E().module("din"), velk::ModuleKind::DigitalIn, s, error));
    // The message names the dialog and the step that failed.
    EXPECT_EQ(error, u8"dialog \"VYT-TK17 デジタル入力\", step \"check the settings against the dialog\": "
                     u8"only an analog input module has a range and a buffer size");
}

TEST_F(RunnerTest, AModuleWithoutSettingsNeverOpensTheSetupDialog) {
    ASSERT_TRUE(Build("[module ai]\nclass = analog_in\n[card 0]\nclock = virtual\n"));
    for (const std::string& e : E().host().log().events())
        EXPECT_EQ(e.find("Tk17CtlDlg"), std::string::npos) << e;
}


// What the worksheet allows is what the dialog keeps. The boxes count characters
// (under Wine the 12-character name box takes 7 kanji), but the module keeps 12 bytes
// of code page 932: 6 kanji. So names at the worksheet's byte limits arrive whole,
// and one more kanji, which the worksheet refuses, would have been cut by the dialog.
TEST_F(RunnerTest, NamesAtTheWorksheetsLimitsArriveWholeAndOneMoreKanjiWouldBeCut) {
    VELK_SEEN_UNDER_WINE("edit-box-counts-characters");
    const std::string six = u8"測定装置入力", seven = u8"測定装置入力端";
    const std::string comment = u8"二十文字の説明です。漢字が二バイトずつ数えられます";  // 25 characters, 50 bytes
    ASSERT_TRUE(Build(u8"[module ai]\nclass = analog_in\nchannels = 2\nname = " + six +
                      u8"\ncomment = 二十文字の説明です。漢字が二バイトず\nchannel0 = 日本語測定装置入力端\n"
                      u8"channel1 = ｱｲｳｴｵｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄ\n[card 0]\nclock = virtual\n"));
    ModuleRecord* m = E().module("ai");
    EXPECT_EQ(std::string(m->moduleName), velk::utf8ToCp932(six));
    EXPECT_EQ(std::string(m->moduleComment), velk::utf8ToCp932(u8"二十文字の説明です。漢字が二バイトず"));
    velk::ModuleSettings shown;
    std::string error;
    ASSERT_TRUE(velk::readSettings(E().host(), m, velk::ModuleKind::AnalogIn, shown, error)) << error;
    EXPECT_EQ(shown.channelNames.at(0), velk::utf8ToCp932(u8"日本語測定装置入力端"));
    EXPECT_EQ(shown.channelNames.at(1), velk::utf8ToCp932(u8"ｱｲｳｴｵｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄ"));

    velk::WorksheetResult refused = velk::parseWorksheet("[module ai]\nclass = analog_in\nname = " + seven + "\n");
    EXPECT_FALSE(refused.ok());
    velk::ModuleSettings more;
    more.name = velk::utf8ToCp932(seven);
    more.comment = velk::utf8ToCp932(comment);
    ASSERT_TRUE(velk::applySettings(E().host(), m, velk::ModuleKind::AnalogIn, more, error)) << "the boxes take them: " << error;
    EXPECT_EQ(std::string(m->moduleName), velk::utf8ToCp932(six)) << "the seventh kanji is lost";
    EXPECT_EQ(std::string(m->moduleComment), velk::utf8ToCp932(comment).substr(0, 40));
}

}  // namespace
}  // namespace runnertest
