// The extension's own cost: its processing routines called through a driver that
// answers at once (bench-driver\vyttk17.dll) by a host that hands out blocks
// without work (bench_host), so nothing but the extension is measured. Beside each
// analog case, in the same process and interleaved round by round, the same bytes
// go through a plain strided read-and-convert loop and through memcpy; the digital
// routines are set beside bare calls of the driver's port operations.
//
//   extension_bench.exe [rounds]      (default 31 rounds; minimum and median shown)
#include "bench/bench_host.h"

#include "abi/tk17_abi.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

double Now() {
    static const double tick = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return 1.0 / static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * tick;
}

struct Figures {
    double min;
    double median;
};

Figures Summarise(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return Figures{v.front(), v[v.size() / 2]};
}

// Runs every contender `reps` times per round, round after round, in turn; gives
// seconds per unit of work for each (its time / (reps x units)).
std::vector<Figures> Interleaved(const std::vector<std::function<void()>>& contenders, int reps, double units,
                                 int rounds) {
    std::vector<std::vector<double>> times(contenders.size());
    for (const auto& f : contenders) f();  // warm-up
    for (int r = 0; r < rounds; ++r) {
        for (size_t i = 0; i < contenders.size(); ++i) {
            const double start = Now();
            for (int k = 0; k < reps; ++k) contenders[i]();
            times[i].push_back((Now() - start) / (reps * units));
        }
    }
    std::vector<Figures> out;
    for (auto& t : times) out.push_back(Summarise(t));
    return out;
}

volatile float g_sink;
volatile uint8_t g_byteSink;

std::string BinDir() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir = path;
    return dir.substr(0, dir.find_last_of("\\/"));
}

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

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(3, atoi(argv[1])) : 31;
    const std::string bin = BinDir();
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
    bool ok = true;
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
    return ok ? 0 : 1;
}
