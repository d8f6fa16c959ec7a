// velk.exe run as a program: a small worksheet run to its end, a bad worksheet,
// and the shipped demo given as a Unix path.
#include "runner_support.h"

#include "velk/host/host.h"
#include "tests/support/run_velk.h"

namespace runnertest {
namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

using velktest::RunVelk;

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary);
    f << text;
}

TEST(VelkRun, ASmallWorksheetRunsToItsEndAndWritesItsCsv) {
    const std::string dir = TempFolder("exe");
    WriteText(dir + "\\small.vws",
              u8"[experiment]\nblock_size = 20\nduration_s = 0.2\noutput_dir = rec\n"
              "[module ai]\nclass = analog_in\nchannels = 2\nchannel0 = 正弦\n"
              "[record ai]\nfile = small.csv\n"
              "[card 0]\nclock = virtual\nai0 = sine amplitude=2 frequency=5\nai1 = dc offset=1.25\n");
    std::string out;
    EXPECT_EQ(RunVelk("run \"" + dir + "\\small.vws\"", out), 0) << out;
    EXPECT_TRUE(Has(out, "summary: completed")) << out;
    EXPECT_TRUE(Has(out, u8"正弦")) << out;
    EXPECT_TRUE(Has(out, "warnings: none")) << out;
    EXPECT_TRUE(Has(out, "live allocations after finish: 0")) << out;
    EXPECT_FALSE(Has(out, "host error")) << out;
    Csv csv = ReadCsv(dir + "\\rec\\small.csv");
    EXPECT_EQ(csv.header, (std::vector<std::string>{"time_s", u8"正弦", "ch1"}));
    ASSERT_EQ(csv.rows.size(), 200u);
    EXPECT_EQ(csv.rows[0][2], "1.25");
}

TEST(VelkRun, ABadWorksheetNamesItsLineAndRunsNothing) {
    const std::string dir = TempFolder("exe-bad");
    WriteText(dir + "\\bad.vws", "[experiment]\nduration_s = soon\n");
    std::string out;
    EXPECT_EQ(RunVelk("run \"" + dir + "\\bad.vws\"", out), 2);
    EXPECT_TRUE(Has(out, "error: bad.vws:2: duration_s: 'soon' is not a number")) << out;
    EXPECT_FALSE(Has(out, "summary")) << out;
    out.clear();
    EXPECT_EQ(RunVelk("run", out), 2);
    EXPECT_TRUE(Has(out, "run needs a worksheet file")) << out;
}

TEST(VelkRun, TheDemoRunsFromAUnixPath) {
    const std::string dir = TempFolder("demo");
    std::string out;
    EXPECT_EQ(RunVelk("run " VELK_SOURCE_DIR "/worksheets/demo.vws --out \"" + dir + "\"", out), 0) << out;
    EXPECT_TRUE(Has(out, "summary: completed")) << out;
    EXPECT_TRUE(Has(out, " s: ai ")) << "progress lines: " << out;
    Csv csv = ReadCsv(dir + "\\demo_ai.csv");
    ASSERT_GE(csv.header.size(), 4u);
    ASSERT_EQ(csv.rows.size(), 3000u);
    for (size_t k = 0; k < csv.rows.size(); ++k) {
        ASSERT_NEAR(strtod(csv.rows[k][0].c_str(), nullptr), k * 0.001, 1e-12) << k;
        for (size_t c = 1; c < csv.header.size(); ++c) ASSERT_FALSE(csv.rows[k][c].empty()) << k << " " << c;
    }
}

}  // namespace
}  // namespace runnertest

namespace runnertest {
namespace {

// Mistakes of the command line and of the worksheet as a whole: each one an error
// with exit code 2, none of them a run.
TEST(VelkRun, TheCommandLineTakesNothingItDoesNotUse) {
    const std::string dir = TempFolder("exe-args");
    WriteText(dir + "\\a.vws", "[module a]\nclass = analog_in\n[card 0]\nclock = virtual\n");
    std::string out;
    EXPECT_EQ(RunVelk("run \"" + dir + "\\a.vws\" --out \"\"", out), 2);
    EXPECT_TRUE(Has(out, "error: --out needs a folder")) << out;
    out.clear();
    EXPECT_EQ(RunVelk("run \"" + dir + "\\a.vws\" --out", out), 2);
    EXPECT_TRUE(Has(out, "error: --out needs a folder")) << out;
    out.clear();
    EXPECT_EQ(RunVelk("run \"" + dir + "\\a.vws\" other.vws", out), 2);
    EXPECT_TRUE(Has(out, "error: unexpected argument other.vws")) << out;
    out.clear();
    EXPECT_EQ(RunVelk("setup now", out), 2);
    EXPECT_TRUE(Has(out, "error: setup takes no arguments: now")) << out;
    EXPECT_FALSE(Has(out, "SetupVelkDLL")) << out;
}

TEST(VelkRun, AnEmptyWorksheetAndAnEndlessFileAreRefused) {
    const std::string dir = TempFolder("exe-empty");
    WriteText(dir + "\\empty.vws", "; nothing here\n[experiment]\nduration_s = 1\n");
    std::string out;
    EXPECT_EQ(RunVelk("run \"" + dir + "\\empty.vws\"", out), 2);
    EXPECT_TRUE(Has(out, "error: empty.vws:3: the worksheet defines no [module]; there is nothing to run")) << out;
    out.clear();
    EXPECT_EQ(RunVelk("run /dev/zero", out), 2);
    EXPECT_TRUE(Has(out, "error: Z:/dev/zero: larger than 16 MB; a worksheet is a small text file")) << out;
}

TEST(VelkRun, ABuildErrorStillReportsWhatTheHostWasLeftWith) {
    const std::string dir = TempFolder("exe-build");
    WriteText(dir + "\\nocard.vws", "[module a]\nclass = analog_in\nsocket = 2\n[card 0]\nclock = virtual\n");
    std::string out;
    EXPECT_EQ(RunVelk("run \"" + dir + "\\nocard.vws\"", out), 2);
    EXPECT_TRUE(Has(out, "nocard.vws:3: module a: no free card in socket 2 for class analog_in (the driver could not "
                         "open the card: error 1, no card in that socket)"))
        << out;
    EXPECT_TRUE(Has(out, "live allocations after finish: 0")) << out;
}

// The digital input of the issue: 4 channels of 65535 samples whose every port read
// fails make one warning, not 262,140.
TEST(VelkRun, FailingPortReadsOfAWholeBlockMakeOneWarning) {
    const std::string dir = TempFolder("exe-din");
    WriteText(dir + "\\din.vws",
              "[experiment]\nblock_size = 65535\nduration_s = 100\n"
              "[module din]\nclass = digital_in\nchannels = 4\n[record din]\nfile = din.csv\n"
              "[card 0]\nclock = virtual\n[fault]\nTk17InPort = socket 0 from 1 error 9\n");
    std::string out;
    EXPECT_EQ(RunVelk("run \"" + dir + "\\din.vws\"", out), 1);
    EXPECT_TRUE(Has(out, "summary: stopped by a module (module din stopped the experiment)")) << out;
    EXPECT_TRUE(Has(out, "warnings: 1\n")) << out;
    EXPECT_TRUE(Has(out, u8"[サンプリングエラー] LogSlot = 0 Channel = 0 ErrCode = 9")) << out;
    EXPECT_TRUE(Has(out, "live allocations after finish: 0")) << out;
}

// A mistake that quotes the worksheet's text prints it as written, whole, with its
// closing quote (it was converted a second time and came out as mojibake).
TEST(VelkRun, AQuotedJapaneseTextIsPrintedAsWritten) {
    const std::string dir = TempFolder("exe-quote");
    WriteText(dir + "\\wave.vws", "[module a]\nclass = analog_in\nname = \xE3\x80\x9C\n");
    std::string out;
    EXPECT_EQ(RunVelk("run \"" + dir + "\\wave.vws\"", out), 2);
    EXPECT_TRUE(Has(out, "wave.vws:3: name holds '\xE3\x80\x9C' (U+301C)")) << out;
}

}  // namespace
}  // namespace runnertest

namespace runnertest {
namespace {

using velktest::FolderEntries;
using velktest::MakeFolderNamed;
using velktest::ReadNamed;
using velktest::WriteNamed;

// Japanese folder and file names reach the file system as written: the worksheet in
// ソフト\表 (trail bytes 0x5C in code page 932), its card configuration beside it, the
// recordings in output_dir 出力, and ア.csv and ヂ.csv (trail bytes 0x41 and 0x61, one
// apart by case only as bytes) two files. Nothing else appears in the folders.
TEST(VelkRun, JapaneseFolderAndFileNamesAreUsedAsWritten) {
    velktest::ScratchFolder scratch("exe-japanese");
    const std::string soft = scratch.path() + u8"\\ソフト";
    const std::string dir = soft + u8"\\表";
    ASSERT_TRUE(MakeFolderNamed(soft) && MakeFolderNamed(dir));
    ASSERT_TRUE(WriteNamed(dir + "\\card.ini", "[card 0]\nclock = virtual\nai0 = scan step=3\n"));
    ASSERT_TRUE(WriteNamed(dir + u8"\\試験.vws",
                           u8"[experiment]\nblock_size = 10\nduration_s = 0.02\noutput_dir = 出力\n"
                           "driver_config = card.ini\n"
                           "[module a]\nclass = analog_in\nsocket = 0\n[module d]\nclass = digital_in\nsocket = 0\n"
                           "[record a]\nfile = ア.csv\n[record d]\nfile = ヂ.csv\n"));
    std::string out;
    ASSERT_EQ(RunVelk("run \"" + dir + u8"\\試験.vws\"", out), 0) << out;
    EXPECT_TRUE(Has(out, u8"worksheet: " + dir + u8"\\試験.vws\n")) << out;
    EXPECT_TRUE(Has(out, u8"card configuration: " + dir + u8"/card.ini\n")) << out;
    EXPECT_TRUE(Has(out, u8"出力/ア.csv (20 rows)")) << out;
    EXPECT_TRUE(Has(out, u8"出力/ヂ.csv (")) << out;
    EXPECT_EQ(FolderEntries(scratch.path()), std::vector<std::string>{u8"ソフト"});
    EXPECT_EQ(FolderEntries(soft), std::vector<std::string>{u8"表"});
    EXPECT_EQ(FolderEntries(dir), (std::vector<std::string>{"card.ini", u8"出力", u8"試験.vws"}));
    EXPECT_EQ(FolderEntries(dir + u8"\\出力"), (std::vector<std::string>{u8"ア.csv", u8"ア.png", u8"ヂ.csv", u8"ヂ.png"}));
    const std::string a = ReadNamed(dir + u8"\\出力\\ア.csv");
    EXPECT_EQ(a.substr(0, 11), "time_s,ch0\n") << a;
    EXPECT_EQ(std::count(a.begin(), a.end(), '\n'), 21) << a;
    EXPECT_EQ(ReadNamed(dir + u8"\\出力\\ヂ.csv").substr(0, 11), "time_s,ch0\n");
}

}  // namespace
}  // namespace runnertest
