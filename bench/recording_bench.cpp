// Memory and speed of a long recorded run: 8 channels in blocks of 65535 at 1 ms,
// a duration of a million seconds on the simulated card's virtual clock, recorded
// to a CSV file in the temporary folder. The process's working set is printed
// every few blocks; a recording written as it goes keeps them flat however long the
// run. Also the rows written per second, and the cost of one CSV cell on its own.
#include "velk/common/paths.h"
#include "velk/experiment/runner.h"
#include "velk/recording/recording.h"

#include "bench/bench_timing.h"

#include <windows.h>
#include <psapi.h>

#include <stdio.h>

#include <string>
#include <vector>

namespace {

using bench::Now;


// The working set: what of the process is in memory (Wine reports it; it does not
// report private bytes).
double WorkingSetMB() {
    PROCESS_MEMORY_COUNTERS c = {};
    c.cb = sizeof c;
    GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof c);
    return c.WorkingSetSize / 1048576.0;
}

// One CSV cell, formatting and writing: rows of 8 channels of 12-bit card values
// (code x 20 / 4096 - 10 V) at 1 ms, through a CsvSink into a file; median of 15
// rounds, ns per cell (the time stamp is a cell too).
void CsvCellCost(const std::string& folder) {
    constexpr size_t kChannels = 8, kRows = 20000;
    std::vector<float> values(kRows * kChannels);
    uint32_t seed = 12345;
    for (float& v : values) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<float>(seed >> 20) * 20.0f / 4096.0f - 10.0f;
    }
    const std::string path = folder + "\\cells.csv";
    const auto write = [&] {
        velk::CsvSink sink(path);
        std::string error;
        if (!sink.open(error)) return;
        sink.begin(std::vector<std::string>(kChannels, "ch"));
        for (size_t j = 0; j < kRows; ++j) sink.row(static_cast<double>(j) * 0.001, &values[j * kChannels], kChannels);
        sink.end(error);
    };
    const bench::Figures f = bench::Interleaved({write}, 1, kRows * (kChannels + 1), 15)[0];
    printf("CSV cell (8 channels of 12-bit values, time stamps at 1 ms): %.1f ns median, %.1f ns min\n",
           f.median * 1e9, f.min * 1e9);
    DeleteFileA(path.c_str());
}

}  // namespace

int main() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    const std::string folder = velk::utf8Path(std::wstring(temp, n <= MAX_PATH ? n : 0)) + "velk-recording-bench";
    CreateDirectoryW(velk::widePath(folder).c_str(), nullptr);
    CsvCellCost(folder);
    velk::WorksheetResult w = velk::parseWorksheet(
        "[experiment]\nblock_size = 65535\nduration_s = 1000000\n"
        "[module ai]\nclass = analog_in\nchannels = 8\nbuffer = 1M\n[record ai]\nfile = long.csv\n"
        "[card 0]\nclock = virtual\nai0 = scan\nai1 = sine amplitude=5 frequency=3\n",
        "bench.vws");
    if (!w.ok()) {
        fprintf(stderr, "%s\n", w.error.c_str());
        return 1;
    }
    velk::HostOptions options;
    options.warnings = velk::WarningOutput::None;
    velk::Experiment e(w.sheet, options);
    e.setOutputDir(folder);
    if (!e.prepare() || !e.start()) {
        fprintf(stderr, "cannot start: %s\n", e.error().c_str());
        return 1;
    }
    printf("%8s %12s %12s %14s %12s\n", "blocks", "rows", "working_MB", "rows_held_max", "rows_per_s");
    const double t0 = Now();
    for (int block = 1; block <= 40; ++block) {
        if (!e.round()) break;
        if (block % 5 == 0) {
            const velk::ModuleRun* run = e.moduleRun("ai");
            printf("%8d %12llu %12.1f %14zu %12.0f\n", block, static_cast<unsigned long long>(run->csv->rows()),
                   WorkingSetMB(), run->recording->pendingHighWater(), run->csv->rows() / (Now() - t0));
            fflush(stdout);
        }
    }
    e.requestStop();
    e.round();
    std::string error;
    if (!e.writeRecordings(error)) fprintf(stderr, "%s\n", error.c_str());
    e.finish();
    DeleteFileW(velk::widePath(folder + "\\long.csv").c_str());
    RemoveDirectoryW(velk::widePath(folder).c_str());
    return 0;
}
