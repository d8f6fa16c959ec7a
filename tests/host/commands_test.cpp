// velk.exe's command line and its setup command, both in process and as the
// program itself.
#include "host_test_support.h"

#include "velk/cli/commands.h"
#include "tests/support/run_velk.h"

#include <sstream>

using velk::Host;
using velk::cli::parseCommandLine;

namespace {

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

using velktest::RunVelk;

}  // namespace

TEST(CommandLine, OptionsShapeTheHost) {
    auto line = parseCommandLine({"--driver-dir", "D:\\drv", "--extension", "x.dll", "--zero", "TimeBaseDialog",
                                  "--zero", "bTime24h", "--refuse", "BBoxModul", "setup"});
    EXPECT_EQ(line.error, "");
    EXPECT_EQ(line.command, "setup");
    EXPECT_EQ(*line.options.driverDir, "D:\\drv");
    EXPECT_EQ(*line.options.extensionPath, "x.dll");
    EXPECT_EQ(line.options.zeroNames, (std::set<std::string>{"TimeBaseDialog", "bTime24h"}));
    EXPECT_EQ(line.options.refusedLinks, std::set<std::string>{"BBoxModul"});
    EXPECT_EQ(line.options.warnings, velk::WarningOutput::Stdout);
    EXPECT_FALSE(line.options.showMainWindow);

    auto windowed = parseCommandLine({"--windowed", "run", "sheet.vws"});
    EXPECT_EQ(windowed.command, "run");
    EXPECT_EQ(windowed.arguments, std::vector<std::string>{"sheet.vws"});
    EXPECT_EQ(windowed.options.warnings, velk::WarningOutput::MessageBox);
    EXPECT_TRUE(windowed.options.showMainWindow);

    EXPECT_NE(parseCommandLine({"--zero"}).error, "");
    EXPECT_NE(parseCommandLine({"--bogus", "setup"}).error, "");
    EXPECT_NE(parseCommandLine({}).error, "");
}

TEST(CommandLine, UnknownCommandsAndBadLinesPrintUsage) {
    std::ostringstream out;
    EXPECT_EQ(velk::cli::runCommandLine(parseCommandLine({"fly"}), out), 2);
    EXPECT_TRUE(has(out.str(), "unknown command fly")) << out.str();
    EXPECT_TRUE(has(out.str(), "usage: velk.exe")) << out.str();
    EXPECT_TRUE(has(out.str(), "  setup")) << out.str();
}

TEST(CommandLine, SetupWithoutTheExtensionFails) {
    std::ostringstream out;
    auto line = parseCommandLine({"--extension", "missing_ext.dll", "setup"});
    EXPECT_EQ(velk::cli::runCommandLine(line, out), 2);
    EXPECT_TRUE(has(out.str(), "error: cannot load missing_ext.dll")) << out.str();
    EXPECT_EQ(Host::current(), nullptr);
}

TEST(CommandLine, SetupListsClassesMenusAndLiveAllocations) {
    std::ostringstream out;
    auto line = parseCommandLine({"--extension", Host::exeDir() + "\\host_fake_ext.dll", "--driver-dir",
                                  Host::exeDir() + "\\host-fake-driver", "setup"});
    EXPECT_EQ(velk::cli::runCommandLine(line, out), 0);
    const std::string s = out.str();
    EXPECT_TRUE(has(s, "SetupVelkDLL: 1\n")) << s;
    EXPECT_TRUE(has(s, "class 0: id FAKE:EXT, short \"FakeExt\", long \"Fake extension\", private data 32, "
                       "channel data 12, menu command 2999")) << s;
    EXPECT_TRUE(has(s, "  3 FAKE(&F)\n      2999 Fake &item\n  4 &Window\n")) << s;
    EXPECT_TRUE(has(s, "menu entries: 4990\n")) << s;
    EXPECT_TRUE(has(s, "FinishVelkDLL: 1\n")) << s;
    EXPECT_TRUE(has(s, "live allocations: 0\n")) << s;
}

TEST(CommandLine, RefusedLinkMakesSetupReturnZero) {
    std::ostringstream out;
    auto line = parseCommandLine({"--extension", Host::exeDir() + "\\host_fake_ext.dll", "--refuse", "BBoxModul",
                                  "setup"});
    EXPECT_EQ(velk::cli::runCommandLine(line, out), 1);
    EXPECT_TRUE(has(out.str(), "SetupVelkDLL: 0\nclasses: 0\n")) << out.str();
}

TEST(VelkExe, PrintsUtf8LinesWithPlainLineFeeds) {
    std::string out;
    const int code = RunVelk("--extension host_fake_ext.dll --driver-dir host-fake-driver setup", out);
    EXPECT_EQ(code, 0) << out;
    EXPECT_TRUE(has(out, "SetupVelkDLL: 1\n")) << out;
    EXPECT_FALSE(has(out, "\r")) << out;
    std::string usage;
    EXPECT_EQ(RunVelk("", usage), 2);
    EXPECT_TRUE(has(usage, "error: no command given")) << usage;
}

namespace {

TEST(CommandLine, ChartOptionsOfRun) {
    std::ostringstream out;
    velk::cli::CommandLine line = velk::cli::parseCommandLine({"run", "x.vws", "--stay-open"});
    ASSERT_TRUE(line.error.empty());
    EXPECT_EQ(velk::cli::runCommandLine(line, out), 2) << "the window to keep open belongs to a windowed run";
    EXPECT_TRUE(has(out.str(), "error: --stay-open needs --windowed")) << out.str();
    EXPECT_TRUE(has(velk::cli::usage(), "[--no-chart] [--stay-open]"));
}

}  // namespace
