// How long reading a worksheet takes as it grows: 25,000 to 200,000 modules with a
// mistake on the last line (so that the whole text is read and the error found
// there). Linear reading gives a constant time per thousand modules. Timing:
// QueryPerformanceCounter, best of three.
#include "velk/worksheet/worksheet.h"

#include "bench/bench_timing.h"

#include <windows.h>

#include <stdio.h>

#include <string>

namespace {

using bench::Now;


std::string Sheet(int modules) {
    std::string text;
    for (int i = 0; i < modules; ++i) text += "[module m" + std::to_string(i) + "]\nclass = analog_in\nchannels = 2\n";
    return text + "[record m0]\nfile = x.csv\nfiel = y.csv\n";
}

}  // namespace

int main() {
    printf("%10s %10s %12s %16s\n", "modules", "MB", "parse_ms", "ms_per_1000");
    for (int modules : {25000, 50000, 100000, 200000}) {
        const std::string text = Sheet(modules);
        double best = 1e30;
        for (int run = 0; run < 3; ++run) {
            const double t0 = Now();
            velk::WorksheetResult r = velk::parseWorksheet(text, "bench.vws");
            const double t = Now() - t0;
            if (r.ok() || r.error.find("unknown key 'fiel'") == std::string::npos) {
                fprintf(stderr, "unexpected result: %s\n", r.error.c_str());
                return 1;
            }
            if (t < best) best = t;
        }
        printf("%10d %10.1f %12.1f %16.3f\n", modules, text.size() / 1048576.0, best * 1000,
               best * 1000 / (modules / 1000.0));
    }
    return 0;
}
