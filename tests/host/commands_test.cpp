// velk.exe's command line and its setup command, both in process and as the
// program itself.
#include "host_test_support.h"

#include "velk/commands.h"

#include <sstream>

using velk::Host;
using velk::cli::parseCommandLine;

namespace {

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Runs bin\velk.exe with the arguments; returns its exit code, output in `out`.
int runVelk(const std::string& arguments, std::string& out) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::string line = "\"" + Host::exeDir() + "\\velk.exe\" " + arguments;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, Host::exeDir().c_str(), &si, &pi)) {
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        return -1;
    }
    CloseHandle(writeEnd);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got) out.append(buffer, got);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(readEnd);
    return static_cast<int>(code);
}

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
    const int code = runVelk("--extension host_fake_ext.dll --driver-dir host-fake-driver setup", out);
    EXPECT_EQ(code, 0) << out;
    EXPECT_TRUE(has(out, "SetupVelkDLL: 1\n")) << out;
    EXPECT_FALSE(has(out, "\r")) << out;
    std::string usage;
    EXPECT_EQ(runVelk("", usage), 2);
    EXPECT_TRUE(has(usage, "error: no command given")) << usage;
}
