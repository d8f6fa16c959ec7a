#include "velk/cli/commands.h"

#include "velk/experiment/runner.h"
#include "velk/experiment/saved_state.h"
#include "velk/common/strings.h"
#include "velk/common/text.h"

#include <math.h>
#include <stdlib.h>

#include <exception>
#include <memory>

namespace velk::cli {

namespace {

struct Command {
    const char* name;
    const char* arguments;
    const char* description;
    int (*run)(Host& host, const CommandLine& line, std::ostream& out);
    // Commands that make their Host themselves (run) use this instead.
    int (*runAlone)(const CommandLine& line, std::ostream& out) = nullptr;
};

int runSetup(Host& host, const CommandLine& line, std::ostream& out) {
    if (!line.arguments.empty()) {
        out << "error: setup takes no arguments: " << line.arguments[0] << "\n" << usage();
        return 2;
    }
    out << "extension: " << host.extensionPath() << "\n";
    out << "driver folder: " << host.driverDir() << "\n";
    if (!host.load()) {
        out << "error: " << host.loadError() << "\n";
        return 2;
    }
    const int32_t result = host.setup();
    out << "SetupVelkDLL: " << result << "\n";
    describeClasses(host, out);
    out << "menu:\n";
    describeMenu(host.mainMenu(), out);
    out << "menu entries:";
    for (const auto& e : host.menuEntries()) out << " " << e.entry;
    out << "\n";
    host.finish();
    out << "FinishVelkDLL: " << host.finishExtension() << "\n";
    out << "live allocations: " << host.allocator().liveCount() << "\n";
    out << cp932ToUtf8(host.allocator().liveReport());
    for (const std::string& e : host.log().errors()) out << "error: " << cp932ToUtf8(e) << "\n";
    return result == 1 ? 0 : 1;
}

// --save FILE and --save-at SECONDS of run; false after printing the mistake.
bool saveOption(const std::vector<std::string>& args, size_t& i, SaveRequest& save, std::ostream& out) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size() && !args[i + 1].empty();
    if (a == "--save") {
        if (!hasValue || !save.path.empty()) {
            out << "error: " << (hasValue ? "--save given twice" : "--save needs a file") << "\n" << usage();
            return false;
        }
        save.path = args[++i];
        return true;
    }
    double at = 0;
    if (!hasValue || !parseNumber(args[i + 1], at) || at < 0) {
        out << "error: --save-at needs a data time in seconds (0 or more)\n" << usage();
        return false;
    }
    if (save.atSeconds) {
        out << "error: --save-at given twice\n" << usage();
        return false;
    }
    save.atSeconds = at;
    ++i;
    return true;
}

// run WORKSHEET [--out DIR] [--no-chart] [--stay-open] [--save FILE [--save-at SECONDS]]
int runRun(const CommandLine& line, std::ostream& out) {
    std::string worksheet, outputDir;
    SaveRequest save;
    RunOptions run;
    run.live = line.windowed;
    for (size_t i = 0; i < line.arguments.size(); ++i) {
        const std::string& a = line.arguments[i];
        if (a == "--save" || a == "--save-at") {
            if (!saveOption(line.arguments, i, save, out)) return 2;
        } else if (a == "--no-chart") {
            run.charts = false;
        } else if (a == "--stay-open") {
            if (!line.windowed) {
                out << "error: --stay-open needs --windowed\n" << usage();
                return 2;
            }
            run.stayOpen = true;
        } else if (a == "--out") {
            if (i + 1 >= line.arguments.size() || line.arguments[i + 1].empty()) {
                out << "error: --out needs a folder\n" << usage();
                return 2;
            }
            if (!outputDir.empty()) {
                out << "error: --out given twice\n" << usage();
                return 2;
            }
            outputDir = line.arguments[++i];
        } else if (worksheet.empty() && !(a.size() > 1 && a[0] == '-')) {
            worksheet = a;
        } else {
            out << "error: unexpected argument " << a << "\n" << usage();
            return 2;
        }
    }
    if (worksheet.empty()) {
        out << "error: run needs a worksheet file\n" << usage();
        return 2;
    }
    if (save.atSeconds && save.path.empty()) {
        out << "error: --save-at needs --save FILE\n" << usage();
        return 2;
    }
    run.outputDir = outputDir;
    run.savePath = save.path;
    run.saveAtSeconds = save.atSeconds;
    return runWorksheet(worksheet, line.options, run, out);
}

const Command kCommands[] = {
    {"setup", "", "load the extension, list the classes and menus it registered, finish", runSetup},
    {"run", "WORKSHEET [--out DIR] [--no-chart] [--stay-open] [--save FILE [--save-at SECONDS]]",
     "build the worksheet's modules, run the experiment, print a summary and write the CSV recordings and\n"
     "      their PNG charts (--no-chart: none); with --windowed the charts grow in the main window while\n"
     "      the run goes, and --stay-open keeps the window after the run until it is closed; --save writes\n"
     "      a worksheet with every module's saved state after the run (or, with --save-at, while it\n"
     "      runs, once the data reach SECONDS)",
     nullptr, runRun},
};

}  // namespace

std::string usage() {
    std::string u =
        "usage: velk.exe [--driver-dir DIR] [--extension PATH] [--zero NAME]... [--refuse NAME]...\n"
        "                [--windowed] COMMAND\n"
        "commands:\n";
    for (const Command& c : kCommands) {
        u += "  ";
        u += c.name;
        if (*c.arguments) u += std::string(" ") + c.arguments;
        u += "\n      ";
        u += c.description;
        u += "\n";
    }
    return u;
}

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) {
                line.error = a + " needs a value";
                return false;
            }
            into = args[++i];
            return true;
        };
        std::string v;
        if (!line.command.empty()) {
            line.arguments.push_back(a);
        } else if (a == "--driver-dir") {
            if (!value(v)) return line;
            line.options.driverDir = v;
        } else if (a == "--extension") {
            if (!value(v)) return line;
            line.options.extensionPath = v;
        } else if (a == "--zero") {
            if (!value(v)) return line;
            line.options.zeroNames.insert(v);
        } else if (a == "--refuse") {
            if (!value(v)) return line;
            line.options.refusedLinks.insert(v);
        } else if (a == "--windowed") {
            line.windowed = true;
        } else if (a.size() > 1 && a[0] == '-') {
            line.error = "unknown option " + a;
            return line;
        } else {
            line.command = a;
        }
    }
    if (line.command.empty() && line.error.empty()) line.error = "no command given";
    if (line.windowed) {
        line.options.warnings = WarningOutput::MessageBox;
        line.options.showMainWindow = true;
    }
    return line;
}

int runCommandLine(const CommandLine& line, std::ostream& out) {
    if (!line.error.empty()) {
        out << "error: " << line.error << "\n" << usage();
        return 2;
    }
    for (const Command& c : kCommands) {
        if (line.command != c.name) continue;
        if (c.runAlone) return c.runAlone(line, out);
        std::unique_ptr<Host> host;
        try {
            host = std::make_unique<Host>(line.options);
        } catch (const std::exception& failure) {  // no main window: said, not left to end the program
            out << "error: " << failure.what() << "\n";
            return 2;
        }
        return c.run(*host, line, out);
    }
    out << "error: unknown command " << line.command << "\n" << usage();
    return 2;
}

void describeMenu(HMENU menu, std::ostream& out) {
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        char text[256] = {};
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        out << "  " << i << " " << cp932ToUtf8(text) << "\n";
        HMENU sub = GetSubMenu(menu, i);
        if (!sub) continue;
        const int items = GetMenuItemCount(sub);
        for (int j = 0; j < items; ++j) {
            char item[256] = {};
            if (!GetMenuStringA(sub, j, item, sizeof item, MF_BYPOSITION) || !item[0]) continue;
            const UINT id = GetMenuItemID(sub, j);
            out << "      " << (id == UINT(-1) ? std::string("popup") : std::to_string(id)) << " "
                << cp932ToUtf8(item) << "\n";
        }
    }
}

void describeClasses(const Host& host, std::ostream& out) {
    out << "classes: " << host.classes().size() << "\n";
    for (size_t i = 0; i < host.classes().size(); ++i) {
        const RegisteredClass& c = host.classes()[i];
        out << "  class " << i << ": id " << cp932ToUtf8(c.classId()) << ", short \"" << cp932ToUtf8(c.shortName())
            << "\", long \"" << cp932ToUtf8(c.longName()) << "\", private data " << c.record.privateDataSize
            << ", channel data " << c.record.channelDataSize << ", menu command " << c.record.menuCommand << "\n";
    }
}

}  // namespace velk::cli
