// The simulated card's configuration reaches the driver through a file, however long
// it is, and a mistake in it is reported with the driver's own reason and the line
// of the worksheet (or of the driver_config file) before any module is built.
#include "runner_support.h"

#include "tests/support/run_velk.h"

namespace runnertest {
namespace {

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary);
    f << bytes;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const char kHead[] = "[experiment]\nblock_size = 10\nduration_s = 0.01\n[module ai]\nclass = analog_in\n";  // 5 lines

TEST_F(RunnerTest, EachMistakeInTheCardSectionsIsReportedWithTheDriversReasonAndTheWorksheetsLine) {
    struct Case {
        std::string card;
        int line;
        std::string reason;
    } cases[] = {
        {"[card 0]\nclock = virtual\nai0 = codes 0 4096\n", 8, "ai0: '4096' is not a code 0..4095"},
        {"[card 0]\nai1 = sine amplitude=1,5\n", 7, "ai1: '1,5' is not a number (amplitude)"},
        {"[card 0]\n[fault]\nTk17GetData = socket 0 from 0\n", 8, "from counts calls from 1"},
        {"[card 0]\n\n; a comment\nio_adress = 0x300\n", 9,
         "unknown key 'io_adress' (io_address, io_length, clock, ai0..ai7, din, socket_cell, poll_time_us, status_bits, port_hold_us)"},
        {"[card 0]\nclock = virtual\n[card 0]\n", 8, "card 0 is configured twice"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.card);
        EXPECT_FALSE(Build(kHead + c.card, false));
        EXPECT_EQ(E().error(), "test.vws:" + std::to_string(c.line) + ": " + c.reason +
                                   " (the simulated card's configuration; nothing was built)");
        EXPECT_TRUE(E().host().modules().empty());
        E().finish();
    }
}

TEST_F(RunnerTest, ADriverConfigFileIsNamedWithItsOwnLineAndAUtf16FileIsSaidToBeOne) {
    const std::string dir = TempFolder("cardfile");
    WriteBytes(dir + "\\card.ini", "[card 0]\nclock = virtual\ndin = fixed 100\n");
    velk::WorksheetResult w = velk::parseWorksheet(
        "[experiment]\ndriver_config = card.ini\n[module ai]\nclass = analog_in\n", "f.vws", dir);
    ASSERT_TRUE(w.ok()) << w.error;
    {
        velk::Experiment e(w.sheet);
        EXPECT_FALSE(e.prepare());
        EXPECT_EQ(e.error(), "card.ini:3: din: fixed needs one hexadecimal byte, e.g. fixed 0A (the simulated card's "
                             "configuration; nothing was built)");
        EXPECT_TRUE(e.host().modules().empty());
    }
    // UTF-16 as an editor saves it: the byte-order mark, then two bytes a letter.
    std::string wide = "\xFF\xFE";
    for (char ch : std::string("[card 0]\r\nclock = virtual\r\n")) wide += std::string(1, ch) + '\0';
    WriteBytes(dir + "\\card.ini", wide);
    {
        velk::Experiment e(w.sheet);
        EXPECT_FALSE(e.prepare());
        EXPECT_TRUE(Has(e.error(), "card.ini:1: the text is UTF-16; the configuration is read as ASCII or UTF-8"))
            << e.error();
    }
    // A folder where the file should be: the driver cannot read it, and says so; the
    // mistake is the worksheet's driver_config line.
    DeleteFileA((dir + "\\card.ini").c_str());
    CreateDirectoryA((dir + "\\card.ini").c_str(), nullptr);
    {
        velk::Experiment e(w.sheet);
        EXPECT_FALSE(e.prepare());
        EXPECT_EQ(e.error().rfind("f.vws:2: driver_config card.ini: cannot read the configuration file ", 0), 0u)
            << e.error();
    }
}

// A driver_config that names no file is the mistake of the worksheet's line.
TEST_F(RunnerTest, AMissingDriverConfigFileIsNamedWithTheWorksheetsLine) {
    const std::string dir = TempFolder("nocardfile");
    velk::WorksheetResult w = velk::parseWorksheet(
        "[experiment]\nduration_s = 1\ndriver_config = absent.ini\n[module ai]\nclass = analog_in\n", "f.vws", dir);
    ASSERT_TRUE(w.ok()) << w.error;
    velk::Experiment e(w.sheet);
    EXPECT_FALSE(e.prepare());
    EXPECT_EQ(e.error(), "f.vws:3: driver_config: 'absent.ini' does not exist in " + dir);
    EXPECT_FALSE(e.hasHost()) << "refused before the extension is loaded";
}

// Card configurations with CR line ends, in a driver_config file and inline in a
// worksheet saved the same way: the cards are there, and a mistake is on its line.
TEST_F(RunnerTest, CardConfigurationsWithCrLineEndsAreReadLineByLine) {
    const std::string dir = TempFolder("crcard");
    WriteBytes(dir + "\\card.ini", "; the bench card\r[card 0]\rclock = virtual\rai0 = dc offset=1.25\r");
    velk::WorksheetResult w = velk::parseWorksheet(
        "[experiment]\rblock_size = 10\rduration_s = 0.01\rdriver_config = card.ini\r"
        "[module ai]\rclass = analog_in\rsocket = 0\r[record ai]\rfile = ai.csv\r",
        "f.vws", dir);
    ASSERT_TRUE(w.ok()) << w.error;
    {
        velk::Experiment e(w.sheet);
        e.setOutputDir(dir);
        ASSERT_TRUE(e.prepare()) << e.error();
        EXPECT_EQ(e.run().end, velk::RunEnd::Completed);
        std::string error;
        ASSERT_TRUE(e.writeRecordings(error)) << error;
        const Csv csv = ReadCsv(dir + "\\ai.csv");
        ASSERT_EQ(csv.rows.size(), 10u);
        EXPECT_EQ(static_cast<float>(strtod(csv.rows[9][1].c_str(), nullptr)), CodeVolts(2304));
        e.finish();
    }
    WriteBytes(dir + "\\card.ini", "; the bench card\r[card 0]\r\rclock = later\r");
    {
        velk::Experiment e(w.sheet);
        EXPECT_FALSE(e.prepare());
        EXPECT_EQ(e.error(),
                  "card.ini:4: clock is real, virtual or stepped (the simulated card's configuration; nothing was built)");
    }
    ASSERT_FALSE(Build(std::string("; old editor\r") + kHead + "[card 0]\rclock = virtual\rai0 = codes 4096\r", false));
    EXPECT_EQ(E().error(), "test.vws:9: ai0: '4096' is not a code 0..4095 (the simulated card's configuration; "
                           "nothing was built)");
}

// 8000 codes make a line of about 40 KB, more than an environment variable holds.
TEST_F(RunnerTest, ALongCardConfigurationReachesTheDriverWhole) {
    std::string codes;
    for (int i = 0; i < 8000; ++i) codes += " " + std::to_string((i * 37 + 11) % 4096);
    ASSERT_GT(codes.size(), 32768u);
    ASSERT_TRUE(Build("[experiment]\nblock_size = 1000\nduration_s = 8\n[module ai]\nclass = analog_in\n"
                      "[record ai]\nfile = codes.csv\n[card 0]\nclock = virtual\nai0 = codes" + codes + "\n"));
    EXPECT_EQ(E().run().end, velk::RunEnd::Completed);
    std::string error;
    ASSERT_TRUE(E().writeRecordings(error)) << error;
    const Csv csv = ReadCsv(Out("codes.csv"));
    ASSERT_EQ(csv.rows.size(), 8000u);
    for (int i = 0; i < 8000; ++i)
        ASSERT_EQ(static_cast<float>(strtod(csv.rows[i][1].c_str(), nullptr)), CodeVolts((i * 37 + 11) % 4096)) << i;
    EXPECT_EQ(E().cardSource(), "test.vws, lines 8 to 10");
}

// The run's file goes to the driver through VYTTK17_CONFIG; afterwards the process's
// variables are as they were, so that a later run in it finds its own.
TEST_F(RunnerTest, TheDriversVariablesArePutBackAfterTheRun) {
    SetEnvironmentVariableA("VYTTK17_CONFIG_TEXT", "[card 1]\n");
    SetEnvironmentVariableA("VYTTK17_CONFIG", nullptr);
    ASSERT_TRUE(Build("[module ai]\nclass = analog_in\nsocket = 0\n[card 0]\nclock = virtual\n"));
    char value[64] = {};
    EXPECT_EQ(GetEnvironmentVariableA("VYTTK17_CONFIG_TEXT", value, sizeof value), 0u) << "the file wins while it runs";
    EXPECT_GT(GetEnvironmentVariableA("VYTTK17_CONFIG", value, sizeof value), 0u);
    exp_->finish();
    exp_.reset();
    EXPECT_EQ(GetEnvironmentVariableA("VYTTK17_CONFIG_TEXT", value, sizeof value), 9u);
    EXPECT_STREQ(value, "[card 1]\n");
    EXPECT_EQ(GetEnvironmentVariableA("VYTTK17_CONFIG", value, sizeof value), 0u);
    SetEnvironmentVariableA("VYTTK17_CONFIG_TEXT", nullptr);
}

TEST(VelkRunCard, AMistakeInTheCardSectionsStopsVelkRunBeforeItBuildsAnything) {
    const std::string dir = TempFolder("exe-card");
    WriteBytes(dir + "\\c.vws", std::string(kHead) + "[card 0]\nclock = virtual\nai0 = codes 4096\n");
    std::string out;
    EXPECT_EQ(velktest::RunVelk("run \"" + dir + "\\c.vws\"", out), 2) << out;
    EXPECT_TRUE(Has(out, "error: c.vws:8: ai0: '4096' is not a code 0..4095")) << out;
    EXPECT_FALSE(Has(out, "no free card")) << out;
    EXPECT_TRUE(Has(out, "live allocations after finish: 0")) << out;
}

}  // namespace
}  // namespace runnertest
