// What the Velk stand-in costs around the extension, and what the whole runs: the
// host's hand-over of a block, a processing round of the runner with and without a
// recording, and the highest real-clock rates that run for a few seconds without
// the card's buffer overflowing.
#include "bench/stand_in_bench.h"

#include "bench/bench_timing.h"
#include "velk/common/paths.h"
#include "velk/experiment/runner.h"

#include <stdio.h>

#include <string>

namespace bench {
namespace {

std::unique_ptr<velk::Experiment> Prepared(const std::string& text, const std::string& outputDir) {
    velk::WorksheetResult w = velk::parseWorksheet(text, "bench.vws");
    if (!w.ok()) {
        printf("%s\n", w.error.c_str());
        return nullptr;
    }
    velk::HostOptions options;
    options.warnings = velk::WarningOutput::None;
    options.keepReleasedBlocks = false;
    options.logBlockReleases = false;
    auto e = std::make_unique<velk::Experiment>(w.sheet, options);
    e->setOutputDir(outputDir);
    if (!e->prepare()) {
        printf("%s\n", e->error().c_str());
        return nullptr;
    }
    return e;
}

// UTF-8, as the stand-in's paths are.
std::string TempDir() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    std::string dir = velk::utf8Path(std::wstring(temp, n <= MAX_PATH ? n : 0)) + "velk-bench";
    CreateDirectoryW(velk::widePath(dir).c_str(), nullptr);
    return dir;
}

std::string Sheet(double periodMs, uint32_t blockSize, uint32_t channels, double seconds, bool record,
                  const char* clock) {
    std::string text = "[experiment]\nperiod_ms = " + std::to_string(periodMs) + "\nblock_size = " +
                       std::to_string(blockSize) + "\nduration_s = " + std::to_string(seconds) +
                       "\n[module ai]\nclass = analog_in\nchannels = " + std::to_string(channels) + "\n";
    if (record) text += "[record ai]\nfile = bench.csv\n";
    text += std::string("[card 0]\nclock = ") + clock + "\n";
    for (uint32_t c = 0; c < channels; ++c) text += "ai" + std::to_string(c) + " = sine amplitude=5 frequency=7\n";
    return text;
}

}  // namespace

bool RunStandInCosts(int rounds) {
    const std::string dir = TempDir();
    // The host's hand-over of one block (GetCurrentOutputBlock and NewReleaseOutputBlock
    // as the extension calls them), with nobody recording the channel.
    {
        auto e = Prepared(Sheet(1.0, 100, 1, 1.0, false, "virtual"), dir);
        if (!e) return false;
        velk::Host& host = e->host();
        OutputChannel* out = host.outputChannel(e->module("ai"), 0);
        const int perRound = 10000;
        std::vector<Figures> f = Interleaved(
            {[&] {
                for (int k = 0; k < perRound; ++k) {
                    DataBlock* b = host.getCurrentOutputBlock(out);
                    b->startTime = 0;
                    b->sampleDistance = 0.001;
                    b->sampleCount = 100;
                    host.releaseOutputBlock(out, "Vyttk17AD", 422);
                }
            }},
            1, perRound, rounds);
        printf("%-34s | %9.0f %9.0f ns per block (100 samples)\n", "host hand-over, not recorded", f[0].min * 1e9,
               f[0].median * 1e9);
        e->finish();
    }
    // Processing rounds of the runner on the virtual clock, one block of one channel a
    // round: the round's own work (messages, checks) and the module's call, without
    // and with the recording (CSV file and chart).
    for (bool record : {false, true}) {
        auto e = Prepared(Sheet(0.01, 1, 1, 40000, record, "virtual"), dir);
        if (!e || !e->start()) return false;
        const int perRound = 20000;
        std::vector<Figures> f = Interleaved(
            {[&] {
                for (int k = 0; k < perRound; ++k) e->round();
            }},
            1, perRound, rounds);
        e->stop();
        std::string error;
        e->writeRecordings(error);
        printf("%-34s | %9.0f %9.0f ns per round (block of 1 sample)\n",
               record ? "runner round, recorded" : "runner round, not recorded", f[0].min * 1e9, f[0].median * 1e9);
        e->finish();
    }
    return true;
}

// For each channel count and block size, the shortest sample period (from a fixed
// ladder) at which a recorded run on the real clock completes with no overflow.
bool RunRealTimeTable(double seconds) {
    const std::string dir = TempDir();
    printf("\nReal clock, %g s recorded runs (CSV and chart): the shortest sample period that completes\n"
           "with no overflow, from 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 0.8, 1, 2 ms (the card converts every\n"
           "period / channels; several channels need 0.1 ms a conversion at least)\n\n",
           seconds);
    printf("%9s %6s | %9s %14s %10s\n", "channels", "block", "period", "samples/s", "rounds/s");
    const double ladder[] = {0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 0.8, 1.0, 2.0};
    for (uint32_t channels : {1u, 8u}) {
        for (uint32_t block : {1u, 10u, 100u}) {
            double found = 0, roundsPerSecond = 0;
            for (double period : ladder) {
                const double conversion = period / channels;
                if (conversion < 0.01 || (channels > 1 && conversion * 10 < 0.9999)) continue;
                auto e = Prepared(Sheet(period, block, channels, seconds, true, "real"), dir);
                if (!e) return false;
                velk::RunReport r = e->run();
                std::string error;
                e->writeRecordings(error);
                e->finish();
                if (r.end == velk::RunEnd::Completed && r.warnings.empty()) {
                    found = period;
                    roundsPerSecond = r.rounds / r.wallSeconds;
                    break;
                }
            }
            if (found > 0)
                printf("%9u %6u | %6g ms %14.0f %10.0f\n", channels, block, found, 1000.0 / found * channels,
                       roundsPerSecond);
            else
                printf("%9u %6u | %9s\n", channels, block, "none");
            fflush(stdout);
        }
    }
    return true;
}

}  // namespace bench
