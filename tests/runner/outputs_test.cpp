// The recordings' paths are checked before anything is loaded: two spellings of one
// file, the worksheet or the card configuration as a recording, device names, and
// files that cannot be written are refused with the worksheet's line, and the check
// costs no file that was there.
#include "runner_support.h"

#include "tests/support/run_velk.h"
#include "tests/support/unicode_files.h"
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

// Two names of one file are one file, however they reach it: a hard link of the
// worksheet, a folder's short 8.3 name. Files that exist are compared by identity
// (volume and file index), files that do not yet by their full path; a recording that
// only the check creates is compared by the file it created.
TEST_F(Outputs, AHardLinkOfTheWorksheetIsTheWorksheetItself) {
    const std::string sheet = Records("link.vws");
    WriteText(dir_ + "\\w.vws", sheet);
    ASSERT_TRUE(CreateHardLinkW(velktest::Wide(dir_ + "\\link.vws").c_str(), velktest::Wide(dir_ + "\\w.vws").c_str(),
                                nullptr));
    const std::string e = Prepare(sheet);
    EXPECT_TRUE(Has(e, "w.vws:13: file 'link.vws' is the worksheet itself")) << e;
    EXPECT_EQ(ReadText(dir_ + "\\w.vws"), sheet) << "the worksheet is untouched";
}

TEST_F(Outputs, AShortNameOfAFolderIsTheFolder) {
    const std::string folder = dir_ + "\\a folder with a long name";
    ASSERT_TRUE(CreateDirectoryW(velktest::Wide(folder).c_str(), nullptr));
    wchar_t shortName[MAX_PATH];
    const DWORD n = GetShortPathNameW(velktest::Wide(folder).c_str(), shortName, MAX_PATH);
    ASSERT_TRUE(n > 0 && n < MAX_PATH);
    const std::string alias = velktest::Utf8(std::wstring(shortName, n));
    ASSERT_NE(alias.substr(alias.find_last_of('\\') + 1), "a folder with a long name") << alias;
    const std::string aliasName = alias.substr(alias.find_last_of('\\') + 1);
    // Neither recording exists before the check.
    std::string e = Prepare(Records("a folder with a long name/x.csv", aliasName + "/x.csv"));
    EXPECT_TRUE(Has(e, "w.vws:15: file '" + aliasName + "/x.csv' is the file [record a] (line 13) writes")) << e;
    EXPECT_EQ(velktest::FolderEntries(folder), std::vector<std::string>{}) << "the check leaves no file behind";
    // The card configuration under the folder's short name.
    WriteText(folder + "\\card.ini", "[card 0]\nclock = virtual\n");
    e = Prepare("[experiment]\ndriver_config = a folder with a long name/card.ini\n[module a]\nclass = analog_in\n"
                "[record a]\nfile = " + aliasName + "/card.ini\n",
                "w2.vws");
    EXPECT_TRUE(Has(e, "w2.vws:6: file '" + aliasName + "/card.ini' is the card configuration")) << e;
}

// ア.csv and ヂ.csv (0x83 0x41 and 0x83 0x61 in code page 932) are two recordings.
TEST_F(Outputs, KatakanaThatDifferAsBytesByCaseAreTwoFiles) {
    const std::string e = Prepare(Records(u8"ア.csv", u8"ヂ.csv"));
    EXPECT_TRUE(e.empty()) << e;
    EXPECT_EQ(velktest::FolderEntries(dir_), std::vector<std::string>{"w.vws"}) << "the check leaves no file behind";
}

using velktest::FolderEntries;

// The path helpers take names apart and compare them as UTF-16, never as bytes: names
// whose second byte in code page 932 is 0x5C, the byte of '\' (ソ 表 能 十 予), are not
// cut, and ア and ヂ (second bytes 0x41 and 0x61, 'A' and 'a') are not folded into one;
// letters compare without case as the file system compares them, full-width ones too.
TEST(Paths, JapaneseNamesAreNeitherCutNorFolded) {
    const std::string soft = u8"Z:\\tmp\\ソフト";
    EXPECT_EQ(velk::relativePath(soft + u8"\\予定", soft + u8"\\表\\card.ini"), u8"../表/card.ini");
    EXPECT_EQ(velk::relativePath(soft + u8"\\表", soft + u8"/表/出力"), u8"出力");
    EXPECT_EQ(velk::relativePath(soft + u8"\\表", soft + u8"\\表\\"), ".");
    EXPECT_EQ(velk::relativePath(soft + u8"\\能\\十", soft), "../..");
    EXPECT_EQ(velk::relativePath(soft + u8"\\能", u8"z:\\TMP\\ソフト\\十.csv"), u8"../十.csv");
    EXPECT_EQ(velk::relativePath(soft, u8"Z:\\能力\\x.csv"), u8"Z:/能力/x.csv") << "nothing in common but the drive";
    EXPECT_EQ(velk::relativePath(u8"C:\\予定", u8"D:\\予定\\x.csv"), u8"D:/予定/x.csv");
    EXPECT_EQ(velk::fullPath(soft + u8"\\表\\..\\予定/./能力.vws"), soft + u8"\\予定\\能力.vws");
    EXPECT_EQ(velk::folderOf(soft + u8"\\表\\能.ini"), soft + u8"\\表");

    EXPECT_FALSE(velk::samePathText(soft + u8"\\ア.csv", soft + u8"\\ヂ.csv"));
    EXPECT_FALSE(velk::samePathText(soft + u8"\\表", soft + u8"\\能"));
    EXPECT_TRUE(velk::samePathText(soft + u8"\\Ａ.csv", u8"z:/tmp/./ソフト/ａ.CSV"));
    EXPECT_TRUE(velk::samePathText(soft + u8"\\表\\", soft + u8"\\表"));
    EXPECT_LT(velk::comparePathText(velk::comparablePath(u8"Z:\\a"), velk::comparablePath(u8"Z:\\B")), 0);
}

TEST(Paths, FoldersWhoseNamesEndInTheByte0x5CAreMadeWhole) {
    velktest::ScratchFolder scratch("folders");
    std::string failed;
    DWORD code = 0;
    ASSERT_TRUE(velk::makeFolders(scratch.path() + u8"\\ソフト\\十/予定\\能力.csv", failed, code)) << failed << " " << code;
    EXPECT_EQ(FolderEntries(scratch.path()), std::vector<std::string>{u8"ソフト"});
    EXPECT_EQ(FolderEntries(scratch.path() + u8"\\ソフト"), std::vector<std::string>{u8"十"});
    EXPECT_EQ(FolderEntries(scratch.path() + u8"\\ソフト\\十"), std::vector<std::string>{u8"予定"});
    EXPECT_EQ(FolderEntries(scratch.path() + u8"\\ソフト\\十\\予定"), std::vector<std::string>{}) << "no file made";

    ASSERT_TRUE(velktest::WriteNamed(scratch.path() + u8"\\表", "a file\n"));
    EXPECT_FALSE(velk::makeFolders(scratch.path() + u8"\\表\\能\\x.csv", failed, code));
    EXPECT_EQ(failed, scratch.path() + u8"\\表");
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_DIRECTORY));
}

TEST(Paths, TwoNamesOfOneFileHaveOneIdentity) {
    velktest::ScratchFolder scratch("identity");
    const std::string a = scratch.path() + u8"\\ア.csv";
    const std::string c = scratch.path() + u8"\\ヂ.csv";
    ASSERT_TRUE(velktest::WriteNamed(a, "a\n") && velktest::WriteNamed(c, "c\n"));
    const std::string b = scratch.path() + u8"\\リンク.csv";
    ASSERT_TRUE(CreateHardLinkW(velktest::Wide(b).c_str(), velktest::Wide(a).c_str(), nullptr));
    EXPECT_TRUE(velk::fileIdentity(a).known);
    EXPECT_EQ(velk::fileIdentity(a), velk::fileIdentity(b));
    EXPECT_NE(velk::fileIdentity(a), velk::fileIdentity(c));
    EXPECT_EQ(velk::fileIdentity(scratch.path()), velk::fileIdentity(scratch.path() + u8"\\.")) << "a folder too";
    const std::string missing = scratch.path() + u8"\\無い.csv";
    EXPECT_FALSE(velk::fileIdentity(missing).known);
    EXPECT_NE(velk::fileIdentity(missing), velk::fileIdentity(missing)) << "an unknown identity equals nothing";

    EXPECT_TRUE(velk::sameFile(a, b));
    EXPECT_FALSE(velk::sameFile(a, c));
    EXPECT_TRUE(velk::sameFile(missing, scratch.path() + u8"/./無い.csv")) << "by name while it does not exist";
}

TEST(Paths, AnErrorWithoutAWordOfItsOwnGetsTheSystemsText) {
    EXPECT_EQ(velk::systemErrorText(ERROR_ACCESS_DENIED), "access denied (5)");
    const std::string text = velk::systemErrorText(ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(text.substr(text.size() - 7), " (1400)") << text;
    EXPECT_GT(text.size(), 8u) << text;
    EXPECT_NE(text.substr(0, 6), "error ") << text;
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
