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

}  // namespace
}  // namespace runnertest
