// `velk run --save` and `--save-at` as a program: the saved file runs as it stands
// with the same recording, a state saved while the run goes, the mistakes of the
// command line, and the shipped demo state.
#include "runner_support.h"

#include "tests/support/run_velk.h"

namespace runnertest {
namespace {

using velktest::RunVelk;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary);
    f << text;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

const char kSmall[] =
    u8"[experiment]\nblock_size = 20\nduration_s = 0.2\noutput_dir = rec\n"
    "[module ai]\nclass = analog_in\nchannels = 2\nname = 電圧計\nchannel0 = 正弦\n"
    "[record ai]\nfile = small.csv\n"
    "[card 0]\nclock = virtual\nai0 = sine amplitude=2 frequency=5\nai1 = scan step=3\n";

TEST(SavedRun, TheSavedFileRunsAsItStandsWithTheSameRecording) {
    const std::string dir = TempFolder("save");
    WriteText(dir + "\\small.vws", kSmall);
    std::string out;
    ASSERT_EQ(RunVelk("run \"" + dir + "\\small.vws\" --save \"" + dir + "\\state\\small-state.vws\"", out), 0) << out;
    EXPECT_TRUE(Has(out, "saved the modules' state to " + dir + "\\state\\small-state.vws (after the run)")) << out;
    const std::string state = ReadText(dir + "\\state\\small-state.vws");
    EXPECT_TRUE(Has(state, "output_dir    = ../rec\n")) << "paths lead where they led: " << state;
    EXPECT_TRUE(Has(state, u8"name    = 電圧計\n")) << state;

    out.clear();
    ASSERT_EQ(RunVelk("run \"" + dir + "\\state\\small-state.vws\" --out \"" + dir + "\\again\"", out), 0) << out;
    EXPECT_TRUE(Has(out, "  ai: analog_in, 2 channel(s), restored from its saved state\n")) << out;
    EXPECT_TRUE(Has(out, "live allocations after finish: 0")) << out;
    EXPECT_FALSE(Has(out, "host error")) << out;
    const std::string first = ReadText(dir + "\\rec\\small.csv");
    EXPECT_EQ(ReadCsv(dir + "\\rec\\small.csv").rows.size(), 200u);
    EXPECT_EQ(ReadText(dir + "\\again\\small.csv"), first);
}

TEST(SavedRun, AStateSavedWhileTheRunGoesRunsToo) {
    const std::string dir = TempFolder("save-at");
    WriteText(dir + "\\small.vws", kSmall);
    std::string out;
    ASSERT_EQ(RunVelk("run \"" + dir + "\\small.vws\" --save-at 0.1 --save \"" + dir + "\\live.vws\"", out), 0) << out;
    EXPECT_TRUE(Has(out, "(during the run, once the data reached 0.1 s)")) << out;
    const std::string state = ReadText(dir + "\\live.vws");
    EXPECT_TRUE(Has(state, ";   sample buffer 0x")) << "a live pointer: " << state;
    out.clear();
    ASSERT_EQ(RunVelk("run \"" + dir + "\\live.vws\" --out \"" + dir + "\\again\"", out), 0) << out;
    EXPECT_TRUE(Has(out, "warnings: none")) << out;
    EXPECT_EQ(ReadText(dir + "\\again\\small.csv"), ReadText(dir + "\\rec\\small.csv"));
}

TEST(SavedRun, MistakesOfTheSaveOptionsRunNothing) {
    const std::string dir = TempFolder("save-args");
    WriteText(dir + "\\small.vws", kSmall);
    const std::string sheet = "run \"" + dir + "\\small.vws\" ";
    const std::string target = " \"" + dir + "\\s.vws\"";
    struct Case {
        std::string arguments;
        std::string message;
    };
    const Case cases[] = {
        {"--save-at 0.1", "error: --save-at needs --save FILE"},
        {"--save", "error: --save needs a file"},
        {"--save" + target + " --save" + target, "error: --save given twice"},
        {"--save" + target + " --save-at -1", "error: --save-at needs a data time in seconds (0 or more)"},
        {"--save" + target + " --save-at 0.19",
         "error: --save-at 0.19 is never reached: the run ends when the data reach 0.2 s (blocks of 0.02 s); the "
         "last point to save during the run is 0.18 s"},
        {"--save \"" + dir + "\\small.vws\"", "error: --save '" + dir + "\\small.vws' is the worksheet itself"},
        {"--save \"" + dir + "\\rec\\SMALL.csv\"",
         "error: --save '" + dir + "\\rec\\SMALL.csv' is the file [record ai] (line 11) writes"},
        {"--save NUL", "error: --save 'NUL' names the device NUL, not a file"},
    };
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(RunVelk(sheet + c.arguments, out), 2) << c.arguments << "\n" << out;
        EXPECT_TRUE(Has(out, c.message)) << c.arguments << "\n" << out;
        EXPECT_FALSE(Has(out, "summary:")) << c.arguments << "\n" << out;
    }
    EXPECT_FALSE(Exists(dir + "\\s.vws"));
}

TEST(SavedRun, AStateNotReachedBeforeTheRunStopsIsNotWritten) {
    const std::string dir = TempFolder("save-stopped");
    WriteText(dir + "\\fault.vws", std::string(kSmall) + "[fault]\nTk17GetData = socket 0 from 3 error 42\n");
    std::string out;
    EXPECT_EQ(RunVelk("run \"" + dir + "\\fault.vws\" --save \"" + dir + "\\s.vws\" --save-at 0.1", out), 2) << out;
    EXPECT_TRUE(Has(out, "summary: stopped by a module")) << out;
    EXPECT_TRUE(Has(out, "error: the data did not reach --save-at 0.1 s before the run ended; " + dir +
                             "\\s.vws was not written"))
        << out;
    EXPECT_FALSE(Exists(dir + "\\s.vws"));
    // Saved after the run, the state is written whatever ended the run.
    out.clear();
    EXPECT_EQ(RunVelk("run \"" + dir + "\\fault.vws\" --save \"" + dir + "\\s.vws\"", out), 1) << out;
    EXPECT_TRUE(Exists(dir + "\\s.vws")) << out;
}

TEST(SavedRun, TheShippedDemoStateRuns) {
    const std::string dir = TempFolder("demo-state");
    std::string out;
    EXPECT_EQ(RunVelk("run " VELK_SOURCE_DIR "/worksheets/demo-state.vws --out \"" + dir + "\"", out), 0) << out;
    EXPECT_TRUE(Has(out, "  ai: analog_in, 4 channel(s), restored from its saved state\n")) << out;
    EXPECT_TRUE(Has(out, "summary: completed")) << out;
    EXPECT_TRUE(Has(out, "warnings: none")) << out;
    EXPECT_TRUE(Has(out, "live allocations after finish: 0")) << out;
    Csv csv = ReadCsv(dir + "\\demo_ai.csv");
    EXPECT_EQ(csv.header, (std::vector<std::string>{"time_s", "Sine 10 Hz", "Square 5 Hz", "Triangle 2 Hz", "Ramp 1 Hz"}));
    EXPECT_EQ(csv.rows.size(), 3000u);
}


using velktest::FolderEntries;
using velktest::MakeFolderNamed;
using velktest::ReadNamed;
using velktest::WriteNamed;

// A worksheet in ソフト\表 with output_dir 出力 and driver_config card.ini, saved into
// ソフト\予定\能力.vws (ソ, 表, 予 and 能 end in the byte 0x5C in code page 932, the
// byte of '\'): the saved paths lead from 予定 to where the worksheet's led, the
// folder 予定 is made and nothing else, and the saved worksheet runs again into the
// same recording.
TEST(SavedRun, AStateSavedIntoJapaneseFoldersLeadsBackToTheSameFiles) {
    velktest::ScratchFolder scratch("save-japanese");
    const std::string soft = scratch.path() + u8"\\ソフト";
    const std::string dir = soft + u8"\\表";
    ASSERT_TRUE(MakeFolderNamed(soft) && MakeFolderNamed(dir));
    ASSERT_TRUE(WriteNamed(dir + "\\card.ini",
                           "[card 0]\nclock = virtual\nai0 = sine amplitude=2 frequency=5\nai1 = scan step=3\n"));
    ASSERT_TRUE(WriteNamed(dir + u8"\\試験.vws",
                           u8"[experiment]\nblock_size = 20\nduration_s = 0.2\noutput_dir = 出力\n"
                           "driver_config = card.ini\n"
                           "[module ai]\nclass = analog_in\nchannels = 2\nname = 電圧計\nchannel0 = 正弦\n"
                           "[record ai]\nfile = 測定.csv\n"));
    const std::string saved = soft + u8"\\予定\\能力.vws";
    std::string out;
    ASSERT_EQ(RunVelk("run \"" + dir + u8"\\試験.vws\" --save \"" + saved + "\"", out), 0) << out;
    EXPECT_TRUE(Has(out, "saved the modules' state to " + saved + " (after the run)")) << out;
    EXPECT_EQ(FolderEntries(scratch.path()), std::vector<std::string>{u8"ソフト"});
    EXPECT_EQ(FolderEntries(soft), (std::vector<std::string>{u8"予定", u8"表"}));
    EXPECT_EQ(FolderEntries(soft + u8"\\予定"), std::vector<std::string>{u8"能力.vws"});
    EXPECT_EQ(FolderEntries(dir + u8"\\出力"), (std::vector<std::string>{u8"測定.csv", u8"測定.png"}));
    const std::string state = ReadNamed(saved);
    EXPECT_TRUE(Has(state, u8"output_dir    = ../表/出力\n")) << state;
    EXPECT_TRUE(Has(state, u8"driver_config = ../表/card.ini\n")) << state;
    EXPECT_TRUE(Has(state, u8"; Saved by velk run from 試験.vws after the run.\n")) << state;

    const std::string first = ReadNamed(dir + u8"\\出力\\測定.csv");
    ASSERT_EQ(std::count(first.begin(), first.end(), '\n'), 201) << first;
    ASSERT_TRUE(DeleteFileW(velktest::Wide(dir + u8"\\出力\\測定.csv").c_str()));
    out.clear();
    ASSERT_EQ(RunVelk("run \"" + saved + "\"", out), 0) << out;
    EXPECT_TRUE(Has(out, "  ai: analog_in, 2 channel(s), restored from its saved state\n")) << out;
    EXPECT_TRUE(Has(out, "card configuration: " + soft + u8"\\予定/../表/card.ini\n")) << out;
    EXPECT_EQ(ReadNamed(dir + u8"\\出力\\測定.csv"), first) << "the same recording in the same file";
    EXPECT_EQ(FolderEntries(soft + u8"\\予定"), std::vector<std::string>{u8"能力.vws"});
}

// ア and ヂ are 0x83 0x41 and 0x83 0x61 in code page 932: as bytes they differ in the
// case of an ASCII letter, as names they are two files.
TEST(SavedRun, AStateSavedBesideTheWorksheetUnderItsKatakanaTwinIsAnotherFile) {
    velktest::ScratchFolder scratch("save-twin");
    const std::string sheet = scratch.path() + u8"\\ア.vws";
    ASSERT_TRUE(WriteNamed(sheet, kSmall));
    std::string out;
    ASSERT_EQ(RunVelk("run \"" + sheet + "\" --save \"" + scratch.path() + u8"\\ヂ.vws\"", out), 0) << out;
    EXPECT_EQ(ReadNamed(sheet), kSmall) << "the worksheet is untouched";
    EXPECT_TRUE(Has(ReadNamed(scratch.path() + u8"\\ヂ.vws"), "[module ai]\n")) << out;
    EXPECT_EQ(FolderEntries(scratch.path()), (std::vector<std::string>{"rec", u8"ア.vws", u8"ヂ.vws"}));
}

}  // namespace
}  // namespace runnertest
