// Timing for the benchmarks: seconds from the performance counter, and contenders
// run round by round in turn so that they share the machine's state and load.
#pragma once

#include <windows.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace bench {

inline double Now() {
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

inline Figures Summarise(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return Figures{v.front(), v[v.size() / 2]};
}

// Runs every contender `reps` times per round, round after round, in turn (after
// one warm-up call each); gives seconds per unit of work for each: its time /
// (reps x units).
inline std::vector<Figures> Interleaved(const std::vector<std::function<void()>>& contenders, int reps, double units,
                                        int rounds) {
    std::vector<std::vector<double>> times(contenders.size());
    for (const auto& f : contenders) f();
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

}  // namespace bench
