// The recordings' paths are checked before anything is loaded: two spellings of one
// file, the worksheet or the card configuration as a recording, device names, and
// files that cannot be written are refused with the worksheet's line, and the check
// costs no file that was there.
#include "runner_support.h"

#include "tests/support/run_velk.h"
#include "velk/common/paths.h"
#include "velk/experiment/output_files.h"

namespace runnertest {
namespace {

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary);
    f << text;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Lines 1 to 11; a [record a] that follows has its file on line 13, a [record d]
// after that on line 15.
const char kTwoModules[] =
    "[experiment]\nblock_size = 10\nduration_s = 0.02\n"
    "[module a]\nclass = analog_in\nsocket = 0\n[module d]\nclass = digital_in\nsocket = 0\n"
    "[card 0]\nclock = virtual\n";

class Outputs : public ::testing::Test {
protected:
    void SetUp() override { dir_ = TempFolder(::testing::UnitTest::GetInstance()->current_test_info()->name()); }
    // Writes `name` into the test's folder and prepares it with the recordings in the
    // worksheet's own folder. The error, or empty when it was prepared.
    std::string Prepare(const std::string& text, const std::string& name = "w.vws") {
        if (exp_) exp_->finish();
        WriteText(dir_ + "\\" + name, text);
        velk::WorksheetResult w = velk::loadWorksheet(dir_ + "\\" + name);
        EXPECT_TRUE(w.ok()) << w.error;
        velk::HostOptions options;
        options.warnings = velk::WarningOutput::None;
        exp_ = std::make_unique<velk::Experiment>(w.sheet, options);
        if (exp_->prepare()) return std::string();
        EXPECT_FALSE(exp_->hasHost()) << "refused before the extension was loaded";
        return exp_->error();
    }
    std::string Records(const std::string& a, const std::string& d = "") {
        std::string text = std::string(kTwoModules) + "[record a]\nfile = " + a + "\n";
        if (!d.empty()) text += "[record d]\nfile = " + d + "\n";
        return text;
    }
    void TearDown() override {
        if (exp_) exp_->finish();
        exp_.reset();
    }
    std::string dir_;
    std::unique_ptr<velk::Experiment> exp_;
};

TEST_F(Outputs, TwoSpellingsOfOneFileAreOneFile) {
    std::string e = Prepare(Records("same.csv", "./same.csv"));
    EXPECT_TRUE(Has(e, "w.vws:15: file './same.csv' is the file [record a] (line 13) writes: ")) << e;
    e = Prepare(Records("sub/x.csv", "sub\\X.csv"));
    EXPECT_TRUE(Has(e, "w.vws:15: file 'sub\\X.csv' is the file [record a] (line 13) writes")) << e;
    e = Prepare(Records("rel.csv", dir_ + "/./rel.csv"));
    EXPECT_TRUE(Has(e, "w.vws:15: file '" + dir_ + "/./rel.csv' is the file [record a] (line 13)")) << e;
    e = Prepare(Records("one.csv", "sub/../two.csv"));
    EXPECT_TRUE(e.empty()) << "two files: " << e;
}

TEST_F(Outputs, TheWorksheetAndItsCardConfigurationAreNoRecordings) {
    const std::string sheet = Records("W.vws");
    std::string e = Prepare(sheet);
    EXPECT_TRUE(Has(e, "w.vws:13: file 'W.vws' is the worksheet itself")) << e;
    EXPECT_EQ(ReadText(dir_ + "\\w.vws"), sheet) << "the worksheet is untouched";

    WriteText(dir_ + "\\card.ini", "[card 0]\nclock = virtual\n");
    e = Prepare("[experiment]\ndriver_config = card.ini\n[module a]\nclass = analog_in\n"
                "[record a]\nfile = sub/../card.ini\n",
                "w2.vws");
    EXPECT_TRUE(Has(e, "w2.vws:6: file 'sub/../card.ini' is the card configuration")) << e;
    EXPECT_EQ(ReadText(dir_ + "\\card.ini"), "[card 0]\nclock = virtual\n");
}

TEST_F(Outputs, DeviceNamesAreRefused) {
    struct Case {
        const char* file;
        const char* device;
    } cases[] = {{"aux.csv", "aux"},      {"NUL", "NUL"},          {"COM1", "COM1"},      {"sub/con/x.csv", "con"},
                 {"lpt3.data.csv", "lpt3"}, {"conout$", "conout$"}, {"nul .csv", "nul"}};
    for (const Case& c : cases) {
        const std::string e = Prepare(Records(c.file));
        EXPECT_TRUE(Has(e, std::string("w.vws:13: file '") + c.file + "' names the device " + c.device +
                               ", not a file"))
            << e;
    }
    EXPECT_EQ(velk::deviceNamed("Z:\\tmp\\auxiliary.csv"), "");
    EXPECT_EQ(velk::deviceNamed("Z:\\tmp\\com10.csv"), "");
    EXPECT_EQ(velk::deviceNamed("C:\\x\\COM9.txt"), "COM9");
}

TEST_F(Outputs, AFileThatCannotBeWrittenIsFoundBeforeTheRun) {
    std::string e = Prepare(Records("ok.csv", "/proc/bad.csv"));
    EXPECT_TRUE(Has(e, "w.vws:15: file '/proc/bad.csv' cannot be written: ")) << e;
    EXPECT_EQ(GetFileAttributesA((dir_ + "\\ok.csv").c_str()), INVALID_FILE_ATTRIBUTES)
        << "the check leaves no file behind";

    CreateDirectoryA((dir_ + "\\taken").c_str(), nullptr);
    e = Prepare(Records("taken"));
    EXPECT_TRUE(Has(e, "w.vws:13: file 'taken' cannot be written: it is a folder")) << e;

    WriteText(dir_ + "\\plain", "a file\n");
    e = Prepare(Records("plain/x.csv"));
    EXPECT_TRUE(Has(e, "w.vws:13: file 'plain/x.csv': cannot make the folder ")) << e;
}

TEST_F(Outputs, AnExistingRecordingSurvivesTheCheck) {
    WriteText(dir_ + "\\keep.csv", "old\n");
    const std::string e = Prepare(Records("keep.csv", "NUL"));
    ASSERT_FALSE(e.empty());
    EXPECT_EQ(ReadText(dir_ + "\\keep.csv"), "old\n") << "checked, not truncated";
}

TEST(VelkRunOutputs, ABadRecordingPathRunsNothingAndSaysSo) {
    const std::string dir = TempFolder("exe-paths");
    WriteText(dir + "\\p.vws", std::string(kTwoModules) + "[record a]\nfile = a.csv\n[record d]\nfile = ./A.csv\n");
    std::string out;
    EXPECT_EQ(velktest::RunVelk("run \"" + dir + "\\p.vws\"", out), 2) << out;
    EXPECT_TRUE(Has(out, "error: p.vws:15: file './A.csv' is the file [record a] (line 13) writes")) << out;
    EXPECT_FALSE(Has(out, "recorded to")) << out;
    EXPECT_FALSE(Has(out, "summary:")) << out;
    EXPECT_TRUE(Has(out, "live allocations after finish: 0")) << out;
}

}  // namespace
}  // namespace runnertest
