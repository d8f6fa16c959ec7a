// velk.exe's command line and its setup command, both in process and as the
// program itself.
#include "host_test_support.h"

#include "velk/cli/commands.h"
#include "tests/support/run_velk.h"
#include "tests/support/unicode_files.h"
#include "velk/common/paths.h"

#include <cstdlib>
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

namespace {

// Refuses every window the thread tries to create while it lives (a CBT hook that
// answers HCBT_CREATEWND with 1 makes CreateWindowEx fail).
class RefuseWindows {
public:
    RefuseWindows() : hook_(SetWindowsHookExA(WH_CBT, refuse, nullptr, GetCurrentThreadId())) {}
    ~RefuseWindows() {
        if (hook_) UnhookWindowsHookEx(hook_);
    }
    bool active() const { return hook_ != nullptr; }

private:
    static LRESULT CALLBACK refuse(int code, WPARAM w, LPARAM l) {
        return code == HCBT_CREATEWND ? 1 : CallNextHookEx(nullptr, code, w, l);
    }
    HHOOK hook_;
};

// A line "<what>REASON (CODE)\n": the reason as systemErrorText gives it.
bool hasSystemReason(const std::string& text, const std::string& what) {
    const size_t at = text.find(what);
    if (at == std::string::npos) return false;
    const std::string line = text.substr(at + what.size(), text.find('\n', at) - at - what.size());
    const size_t open = line.rfind(" (");
    return open != std::string::npos && open > 0 && line.back() == ')' &&
           line == velk::systemErrorText(std::strtoul(line.c_str() + open + 2, nullptr, 10));
}

// velk.exe ended with exit code 3 and said nothing when its main window could not be
// made (the exception left main): each command now says why and ends with 2.
TEST(CommandLine, AMainWindowThatCannotBeMadeIsSaidWithTheSystemsReason) {
    velktest::ScratchFolder scratch("no-window");
    const std::string sheet = scratch.path() + "\\a.vws";
    ASSERT_TRUE(velktest::WriteNamed(sheet, "[module a]\nclass = analog_in\n"));
    RefuseWindows refuse;
    ASSERT_TRUE(refuse.active());
    std::ostringstream setup;
    EXPECT_EQ(velk::cli::runCommandLine(
                  parseCommandLine({"--extension", Host::exeDir() + "\\host_fake_ext.dll", "setup"}), setup),
              2);
    EXPECT_TRUE(hasSystemReason(setup.str(), "error: Velk's main window cannot be created: ")) << setup.str();
    EXPECT_EQ(Host::current(), nullptr);

    std::ostringstream run;
    EXPECT_EQ(velk::cli::runCommandLine(parseCommandLine({"run", sheet}), run), 2);
    EXPECT_TRUE(hasSystemReason(run.str(), "error: Velk's main window cannot be created: ")) << run.str();
    EXPECT_TRUE(has(run.str(), "live allocations after finish: 0\n")) << run.str();
    EXPECT_FALSE(has(run.str(), "summary")) << run.str();
    EXPECT_EQ(Host::current(), nullptr);
}

}  // namespace
