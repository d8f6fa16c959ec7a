#include "simcard/sim_signal.h"

#include <math.h>

namespace simcard {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Fraction of the period reached at `seconds`, in [0, 1).
double periodFraction(const SignalSpec& gen, double seconds)
{
    double cycles = gen.frequency * seconds + gen.phase / 360.0;
    double p = cycles - floor(cycles);
    return p >= 1.0 ? 0.0 : p;
}

uint64_t splitmix64(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

}  // namespace

double rangeSpan(int32_t range)
{
    return range == 1 ? 10.0 : 20.0;
}

uint16_t voltsToCode(double volts, int32_t range)
{
    double span = rangeSpan(range);
    double code = floor((volts + span / 2) * 4096.0 / span + 0.5);
    if (!(code >= 0)) return 0;  // also NaN
    if (code > 4095) return 4095;
    return static_cast<uint16_t>(code);
}

double signalVolts(const SignalSpec& gen, double seconds, int channel, uint64_t scan)
{
    double p = periodFraction(gen, seconds);
    switch (gen.kind) {
    case SignalKind::Dc:
        return gen.offset;
    case SignalKind::Sine:
        return gen.offset + gen.amplitude * sin(2 * kPi * p);
    case SignalKind::Square:
        return gen.offset + (p < gen.duty ? gen.amplitude : -gen.amplitude);
    case SignalKind::Triangle: {
        // In phase with the sine: 0 at the start, peak at a quarter, trough at three quarters.
        double shape = p < 0.25 ? 4 * p : p < 0.75 ? 2 - 4 * p : 4 * p - 4;
        return gen.offset + gen.amplitude * shape;
    }
    case SignalKind::Ramp:
        return gen.offset + gen.amplitude * (2 * p - 1);
    case SignalKind::Noise: {
        uint64_t h = splitmix64(gen.seed ^ splitmix64(scan * 8 + static_cast<uint64_t>(channel)));
        double u = static_cast<double>(h >> 11) / 9007199254740992.0;  // [0, 1)
        return gen.offset + gen.amplitude * (2 * u - 1);
    }
    case SignalKind::Scan:
    case SignalKind::Codes:
        break;
    }
    return 0.0;
}

uint16_t scanCode(const SignalSpec& gen, uint64_t scan)
{
    const int64_t span = static_cast<int64_t>(gen.codeSpan);
    const int64_t code = (gen.start + gen.step * static_cast<int64_t>(scan)) % span;
    return static_cast<uint16_t>(code < 0 ? code + span : code);
}

uint16_t sampleCode(const SignalSpec& gen, int32_t range, double seconds, int channel, uint64_t scan)
{
    if (gen.kind == SignalKind::Scan) return scanCode(gen, scan);
    if (gen.kind == SignalKind::Codes)
        return gen.codes.empty() ? 0 : gen.codes[scan % gen.codes.size()];
    return voltsToCode(signalVolts(gen, seconds, channel, scan), range);
}

void InputPort::configure(const InputSpec& gen)
{
    gen_ = gen;
    reads_ = 0;
}

uint8_t InputPort::next(uint8_t lastOutput)
{
    uint64_t n = reads_++;
    switch (gen_.kind) {
    case InputKind::Fixed:
        return gen_.value;
    case InputKind::Counter:
        return static_cast<uint8_t>(gen_.value + n);
    case InputKind::Pattern:
        return gen_.pattern.empty() ? 0 : gen_.pattern[n % gen_.pattern.size()];
    case InputKind::Loopback:
        return lastOutput;
    }
    return 0;
}

}  // namespace simcard
