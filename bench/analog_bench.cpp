// The analog processing routine's cost per delivered sample, for 1 and 8 channels
// at decimation 1 and 50, measured through the Velk stand-in on the simulated
// card's virtual clock (so the card is always ready), beside
//   - the driver's read alone (Tk17GetData of the same size), and
//   - a baseline loop that reads a buffer of the same size with the same stride
//     and converts each code to a float, which is the least the routine must do.
// The ratio routine / baseline is printed for each case. Timing: QueryPerformanceCounter.
#include "abi/tk17_abi.h"
#include "simcard/vyttk17_sim.h"
#include "velk/host.h"
#include "velk/module_setup.h"

#include <windows.h>

#include <stdio.h>

#include <vector>

namespace {

constexpr uint32_t kBlockSize = 1000;
constexpr double kMinSeconds = 1.0;

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Case {
    uint32_t channels;
    double periodMs;  // chosen so that the card runs at the wanted decimation
    int decimation;
};

// Runs `call` until kMinSeconds have passed (at least `minCalls` times); seconds per call.
template <typename F>
double TimePerCall(F call, int minCalls = 20) {
    for (int i = 0; i < 3; ++i) call();  // warm-up
    int calls = 0;
    const double start = Now();
    double elapsed = 0;
    while (calls < minCalls || elapsed < kMinSeconds) {
        call();
        ++calls;
        elapsed = Now() - start;
    }
    return elapsed / calls;
}

volatile float g_sink;

// Reads the same buffer the routine reads, channel by channel with its stride,
// converting each code to volts in a float block.
double BaselinePerCall(const Case& c) {
    const size_t n = static_cast<size_t>(c.channels) * kBlockSize * c.decimation;
    std::vector<uint16_t> raw(n);
    for (size_t i = 0; i < n; ++i) raw[i] = static_cast<uint16_t>((i * 7) % 4096);
    std::vector<float> block(kBlockSize);
    const double span = 20.0;
    return TimePerCall([&] {
        const size_t stride = static_cast<size_t>(c.channels) * c.decimation;
        for (uint32_t ch = 0; ch < c.channels; ++ch) {
            const uint16_t* p = raw.data() + ch;
            for (uint32_t j = 0; j < kBlockSize; ++j)
                block[j] = static_cast<float>(p[j * stride] * span / 4096 - span / 2);
            g_sink = block[kBlockSize - 1];
        }
    });
}

bool RunCase(const Case& c) {
    velk::HostOptions options;
    options.warnings = velk::WarningOutput::Stdout;
    options.keepReleasedBlocks = false;
    options.logBlockReleases = false;
    options.samplePeriodMs = c.periodMs;
    options.blockSize = kBlockSize;
    options.poolCapacity = 4;
    velk::Host host(options);
    if (!host.loadAndSetup() || host.classes().empty()) {
        printf("cannot load the extension: %s\n", host.loadError().c_str());
        return false;
    }
    velk::NewModule how;
    how.outputCount = c.channels;
    std::string error;
    ModuleRecord* m = velk::createModuleOnSocket(host, velk::ModuleKind::AnalogIn, 0, how, error);
    if (!m) {
        printf("cannot create the module: %s\n", error.c_str());
        return false;
    }
    uint64_t delivered = 0;
    for (uint32_t ch = 0; ch < c.channels; ++ch)
        host.addRecorder(m, ch, [&delivered](const velk::ReleasedBlock& b) { delivered += b.sampleCount; });
    host.setStartTicks(GetTickCount());
    host.setRunning(1);
    if (host.callClass(m, VELK_CODE_START) != 1) {
        printf("the module refused to start\n");
        return false;
    }
    HMODULE driver = GetModuleHandleA("vyttk17.dll");
    SimApi sim = SimApi::from(driver);
    Tk17Mode mode{};
    sim.GetMode(0, &mode);
    if (mode.decimation != c.decimation) {
        printf("the card runs at decimation %d, not %d\n", mode.decimation, c.decimation);
        return false;
    }

    const double samplesPerCall = static_cast<double>(c.channels) * kBlockSize;
    bool failed = false;
    const uint64_t before = delivered;
    int calls = 0;
    const double routine = TimePerCall([&] {
        if (host.process(m) != 1) failed = true;
        ++calls;
    });
    if (failed || delivered - before != static_cast<uint64_t>(calls) * static_cast<uint64_t>(samplesPerCall)) {
        printf("the routine did not deliver every block (%llu samples in %d calls)\n",
               static_cast<unsigned long long>(delivered - before), calls);
        return false;
    }

    auto getData = reinterpret_cast<Tk17GetDataFn>(reinterpret_cast<void*>(GetProcAddress(driver, "Tk17GetData")));
    std::vector<uint16_t> buffer(static_cast<size_t>(c.channels) * kBlockSize * c.decimation);
    const double read = TimePerCall([&] { getData(0, buffer.data(), static_cast<uint32_t>(buffer.size())); });
    host.callClass(m, VELK_CODE_STOP);
    host.setRunning(0);
    host.finish();

    const double baseline = BaselinePerCall(c);
    const double ns = 1e9 / samplesPerCall;
    printf("%8u %10d %10g %10.2f %12.2f %10.2f %10.2f %8.1f %10.1f\n", c.channels, c.decimation, c.periodMs,
           routine * ns, read * ns, (routine - read) * ns, baseline * ns, routine / baseline,
           (routine - read) / baseline);
    fflush(stdout);
    return true;
}

}  // namespace

int main() {
    SetEnvironmentVariableA("VYTTK17_CONFIG_TEXT",
                            "[card 0]\nclock = virtual\nai0 = scan\nai1 = scan start=100\nai2 = scan start=200\n"
                            "ai3 = scan start=300\nai4 = scan start=400\nai5 = scan start=500\n"
                            "ai6 = scan start=600\nai7 = scan start=700\n");
    const Case cases[] = {
        {1, 1.0, 1},    // T = 1 ms: interval 100, every scan delivered
        {8, 1.0, 1},    // T = 0.125 ms: interval 13
        {1, 5.0, 50},   // T = 5 ms: interval 10, every 50th scan
        {8, 40.0, 50},  // T = 5 ms per channel
    };
    printf("analog processing routine, block size %u, virtual clock; ns per delivered sample\n", kBlockSize);
    printf("%8s %10s %10s %10s %12s %10s %10s %8s %10s\n", "channels", "decimation", "period_ms", "routine",
           "driver_read", "net", "baseline", "ratio", "net_ratio");
    int result = 0;
    for (const Case& c : cases)
        if (!RunCase(c)) result = 1;
    printf("routine: host.process() (driver status and read, conversion, block hand-over to the host);\n"
           "driver_read: Tk17GetData of the same size alone; baseline: strided read and float conversion\n"
           "of a buffer of the same size; net = routine - driver_read (the extension's and the host's share);\n"
           "ratio = routine / baseline, net_ratio = net / baseline.\n");
    return result;
}
