// The extension's own cost: its processing routines called through a driver that
// answers at once (bench-driver\vyttk17.dll) by a host that hands out blocks
// without work (bench_host), so nothing but the extension is measured. Beside each
// analog case, in the same process and interleaved round by round, the same bytes
// go through a plain strided read-and-convert loop and through memcpy; the digital
// routines are set beside bare calls of the driver's port operations.
//
// Then the simulated driver's own costs, the Velk stand-in's share of a run, and the
// highest real-clock rates whole runs sustain.
//
//   extension_bench.exe [rounds] [seconds]   (default 31 rounds, real-clock runs of 3 s)
#include "bench/bench_host.h"
#include "bench/bench_timing.h"
#include "bench/stand_in_bench.h"

#include "abi/tk17_abi.h"
#include "velk/common/paths.h"
#include "velk/host/host.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

using bench::Figures;
using bench::Interleaved;
using bench::Now;

volatile float g_sink;
volatile uint8_t g_byteSink;

// UTF-8, as the stand-in's paths are.
std::string BinDir() { return velk::Host::exeDir(); }

struct AnalogCase {
    uint32_t channels;
    int decimation;
    uint32_t blockSize;
};

// Velk's sample period that gives the wanted decimation: 1 ms (1 channel) or
// 0.125 ms a channel (8) at decimation 1; 5 ms a channel at decimation 50.
double PeriodFor(const AnalogCase& c) { return c.decimation == 1 ? 1.0 : 5.0 * c.channels; }

bool RunAnalog(bench::BenchHost& host, const AnalogCase& c, int rounds) {
    host.setTiming(PeriodFor(c), c.blockSize);
    ModuleRecord* m = host.create("KA:MMTK17", 0, c.channels);
    if (!m) return false;
    host.setRunning(1);
    if (host.callClass(m, VELK_CODE_START) != 1) return false;
    const uint8_t* area = static_cast<const uint8_t*>(m->privateData);
    int32_t decimation;
    memcpy(&decimation, area + 228, 4);
    uint16_t* buffer;
    memcpy(&buffer, area + 232, sizeof buffer);
    const size_t codes = static_cast<size_t>(c.channels) * c.blockSize * c.decimation;
    for (size_t i = 0; i < codes; ++i) buffer[i] = static_cast<uint16_t>((i * 7) % 4096);
    std::vector<uint16_t> copy(codes);
    // The loop writes a block per channel, as the routine does into Velk's blocks.
    std::vector<std::vector<float>> blocks(c.channels, std::vector<float>(c.blockSize));
    const size_t stride = static_cast<size_t>(c.channels) * c.decimation;

    const double units = static_cast<double>(c.channels) * c.blockSize;  // delivered samples per call
    const int reps = std::max(1, static_cast<int>(40000 / units));
    const uint64_t releasedBefore = host.releasedOutputs();
    std::vector<Figures> f = Interleaved(
        {
            [&] { host.process(m); },
            [&] {
                for (uint32_t ch = 0; ch < c.channels; ++ch) {
                    const uint16_t* p = buffer + ch;
                    float* block = blocks[ch].data();
                    for (uint32_t j = 0; j < c.blockSize; ++j)
                        block[j] = static_cast<float>(p[j * stride] * 20.0 / 4096 - 10.0);
                    g_sink = block[c.blockSize - 1];
                }
            },
            [&] {
                memcpy(copy.data(), buffer, codes * 2);
                g_sink = copy[codes - 1];
            },
        },
        reps, units, rounds);
    const uint64_t calls = static_cast<uint64_t>(reps) * rounds + 1;  // and the warm-up
    const bool delivered = host.releasedOutputs() - releasedBefore == calls * c.channels;
    host.callClass(m, VELK_CODE_STOP);
    host.setRunning(0);
    host.remove(m);
    if (decimation != c.decimation || !delivered) {
        printf("analog %u ch, decimation %d (card %d), block %u: %s\n", c.channels, c.decimation, decimation,
               c.blockSize, delivered ? "wrong decimation" : "not every block was delivered");
        return false;
    }
    printf("%-8s %3u %5d %6u | %7.3f %7.3f | %7.3f %7.3f | %7.3f %7.3f | %6.2f %6.2f\n", "analog", c.channels,
           c.decimation, c.blockSize, f[0].min * 1e9, f[0].median * 1e9, f[1].min * 1e9, f[1].median * 1e9,
           f[2].min * 1e9, f[2].median * 1e9, f[0].median / f[1].median, f[0].median / f[2].median);
    return true;
}

// Digital input: 4 channels read a block each per call (one port read per sample);
// digital output: 4 channels write a block each per call (one port write per
// sample). Beside them the bare driver operation through a function pointer.
bool RunDigital(bench::BenchHost& host, HMODULE driver, int rounds) {
    const uint32_t block = 1000;
    host.setTiming(1.0, block);
    ModuleRecord* in = host.create("KA:MMTK17DI", 0, 4);
    ModuleRecord* out = host.create("KA:MMTK17DO", 4, 0);
    if (!in || !out) return false;
    host.setRunning(1);
    host.setStartTicks(GetTickCount() - 0x40000000u);  // every block is due at once
    if (host.callClass(in, VELK_CODE_START) != 1 || host.callClass(out, VELK_CODE_START) != 1) return false;
    std::vector<float> samples(block);
    for (uint32_t j = 0; j < block; ++j) samples[j] = (j % 3 == 0) ? 5.0f : 0.0f;
    for (uint32_t c = 0; c < 4; ++c) host.setInput(out, c, samples);
    auto inPort = reinterpret_cast<Tk17InPortFn>(reinterpret_cast<void*>(GetProcAddress(driver, "Tk17InPort")));
    auto outPort = reinterpret_cast<Tk17OutPortFn>(reinterpret_cast<void*>(GetProcAddress(driver, "Tk17OutPort")));
    const double accesses = 4.0 * block;
    const int reps = 10;
    std::vector<Figures> f = Interleaved(
        {
            [&] { host.process(in); },
            [&] {
                uint8_t v = 0;
                for (uint32_t k = 0; k < 4 * block; ++k) inPort(0, &v);
                g_byteSink = v;
            },
            [&] { host.process(out); },
            [&] {
                for (uint32_t k = 0; k < 4 * block; ++k) outPort(0, static_cast<uint8_t>(k));
            },
        },
        reps, accesses, rounds);
    host.callClass(in, VELK_CODE_STOP);
    host.callClass(out, VELK_CODE_STOP);
    host.setRunning(0);
    host.remove(in);
    host.remove(out);
    printf("%-8s %3u %5s %6u | %7.3f %7.3f | %7.3f %7.3f | %7s %7s | %6.2f %6s\n", "dig.in", 4u, "-", block,
           f[0].min * 1e9, f[0].median * 1e9, f[1].min * 1e9, f[1].median * 1e9, "", "", f[0].median / f[1].median, "");
    printf("%-8s %3u %5s %6u | %7.3f %7.3f | %7.3f %7.3f | %7s %7s | %6.2f %6s\n", "dig.out", 4u, "-", block,
           f[2].min * 1e9, f[2].median * 1e9, f[3].min * 1e9, f[3].median * 1e9, "", "", f[2].median / f[3].median, "");
    return true;
}

// The simulated driver's own costs, so that one can see it never dominates a run:
// a status call, a port access and a generated conversion per signal kind.
bool RunSimulatedDriver(const std::string& path, int rounds) {
    HMODULE sim = LoadLibraryW(velk::widePath(path).c_str());
    if (!sim) {
        printf("cannot load %s\n", path.c_str());
        return false;
    }
    auto proc = [sim](const char* name) { return reinterpret_cast<void*>(GetProcAddress(sim, name)); };
    auto configure = reinterpret_cast<int32_t(WINAPI*)(const char*)>(proc("SimConfigure"));
    auto create = reinterpret_cast<Tk17CreateFn>(proc("Tk17Create"));
    auto setMode = reinterpret_cast<Tk17SetModeFn>(proc("Tk17SetMode"));
    auto startSampling = reinterpret_cast<Tk17StartSamplingFn>(proc("Tk17StartSampling"));
    auto status = reinterpret_cast<Tk17GetSamplingStatusFn>(proc("Tk17GetSamplingStatus"));
    auto getData = reinterpret_cast<Tk17GetDataFn>(proc("Tk17GetData"));
    auto inPort = reinterpret_cast<Tk17InPortFn>(proc("Tk17InPort"));
    auto outPort = reinterpret_cast<Tk17OutPortFn>(proc("Tk17OutPort"));
    bool ok = configure && create && setMode && startSampling && status && getData && inPort && outPort;
    const char* const kinds[] = {"dc offset=1", "scan", "codes 1 2 3 4 5", "square amplitude=3 frequency=50",
                                 "sine amplitude=3 frequency=50", "noise amplitude=1"};
    std::vector<uint16_t> buffer(8 * 4096);
    for (const char* kind : kinds) {
        if (!ok) break;
        std::string config = "[card 0]\nclock = virtual\n";
        for (int c = 0; c < 8; ++c) config += "ai" + std::to_string(c) + " = " + kind + "\n";
        uint32_t cell = 0;
        Tk17Mode mode = {0, 0, 7, 10, 0, 1, 262144, 1};
        if (configure(config.c_str()) != 1 || create(&cell, nullptr, TK17_MSG_CARD_REMOVED, 0) != 1 ||
            setMode(0, &mode) != 1 || startSampling(0) != 1) {
            ok = false;
            break;
        }
        uint32_t count = 0, word = 0;
        uint8_t byte = 0;
        const int calls = 20000;
        std::vector<Figures> f = Interleaved(
            {
                [&] { getData(0, buffer.data(), static_cast<uint32_t>(buffer.size())); },
                [&] {
                    for (int k = 0; k < calls; ++k) status(0, &count, &word);
                },
                [&] {
                    for (int k = 0; k < calls; ++k) inPort(0, &byte);
                },
                [&] {
                    for (int k = 0; k < calls; ++k) outPort(0, static_cast<uint8_t>(k));
                },
            },
            1, 1.0, rounds);
        printf("%-8s %-32s | %7.2f %7.2f | %7.1f %7.1f | %7.1f %7.1f | %7.1f %7.1f\n", "simcard", kind,
               f[0].min * 1e9 / buffer.size(), f[0].median * 1e9 / buffer.size(), f[1].min * 1e9 / calls,
               f[1].median * 1e9 / calls, f[2].min * 1e9 / calls, f[2].median * 1e9 / calls, f[3].min * 1e9 / calls,
               f[3].median * 1e9 / calls);
    }
    FreeLibrary(sim);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(3, atoi(argv[1])) : 31;
    const double realSeconds = argc > 2 ? std::max(1.0, atof(argv[2])) : 3.0;
    const std::string bin = BinDir();
    // The simulated driver first, alone: the stub driver below has the same name.
    printf("The simulated driver (virtual clock, 8 channels; ns per conversion read, per status call, per\n"
           "port read, per port write; min and median of %d rounds)\n\n",
           rounds);
    printf("%-8s %-32s | %-15s | %-15s | %-15s | %-15s\n", "", "signal", "conversion", "status", "in port",
           "out port");
    if (!RunSimulatedDriver(bin + "\\driver\\vyttk17.dll", rounds)) return 1;
    printf("\n");
    bool ok = true;
    {
    bench::BenchHost host(bin + "\\Velk_ux1.dll", bin + "\\bench-driver");
    if (!host.ok()) {
        printf("%s\n", host.error().c_str());
        return 1;
    }
    HMODULE driver = GetModuleHandleA("vyttk17.dll");
    printf("The extension's processing routines (%d rounds, interleaved; ns per delivered sample or per port\n"
           "access; min and median)\n\n",
           rounds);
    printf("%-8s %3s %5s %6s | %-15s | %-15s | %-15s | %-13s\n", "routine", "ch", "dec", "block", "extension",
           "plain loop", "memcpy", "ext/plain ext/memcpy");
    printf("%-8s %3s %5s %6s | %7s %7s | %7s %7s | %7s %7s | %6s %6s\n", "", "", "", "", "min", "median", "min",
           "median", "min", "median", "", "");
    for (uint32_t channels : {1u, 8u})
        for (int decimation : {1, 50})
            for (uint32_t block : {100u, 1000u, 10000u})
                ok = RunAnalog(host, AnalogCase{channels, decimation, block}, rounds) && ok;
    ok = RunDigital(host, driver, rounds) && ok;
    printf("\nanalog: one processing call (status, read, conversion of every channel, hand-over) against a plain\n"
           "strided loop converting the same codes in double precision into a block per channel, and memcpy\n"
           "of the codes read.\n"
           "dig.in / dig.out: per port access, against the driver's Tk17InPort / Tk17OutPort called directly.\n");
    if (host.warnings() != 0) ok = false;
    }
    // The stand-in around the extension, on the simulated driver again.
    printf("\nThe Velk stand-in (simulated driver, virtual clock; min and median of %d rounds)\n\n", rounds);
    ok = bench::RunStandInCosts(rounds) && ok;
    ok = bench::RunRealTimeTable(realSeconds) && ok;
    return ok ? 0 : 1;
}
