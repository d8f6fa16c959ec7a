// Analog signal generators, the 12-bit converter and the digital input generators of
// the simulated card.
#pragma once

#include "simcard/sim_config.h"

#include <stdint.h>

namespace simcard {

// Input span in volts of a range setting: 20 for range 0 (+-10 V), 10 for range 1 (+-5 V).
double rangeSpan(int32_t range);

// Code of the 12-bit converter for `volts`: round((v + S/2) * 4096 / S), clamped to 0..4095.
uint16_t voltsToCode(double volts, int32_t range);

// Voltage of a voltage-producing generator at time `seconds`; `channel` and `scan`
// select the noise value so that it depends on the time line only.
double signalVolts(const SignalSpec& gen, double seconds, int channel, uint64_t scan);

// Code of a scan counter in scan `scan`: (start + step x scan) mod its code span.
uint16_t scanCode(const SignalSpec& gen, uint64_t scan);

// The code the card converts for `gen` at time `seconds` in scan `scan` of the run.
uint16_t sampleCode(const SignalSpec& gen, int32_t range, double seconds, int channel, uint64_t scan);

// The digital input port of one card.
class InputPort {
public:
    void configure(const InputSpec& gen);
    // The byte the next read gives; `lastOutput` is the last byte written to the card's
    // output port (for loopback).
    uint8_t next(uint8_t lastOutput);

private:
    InputSpec gen_;
    uint64_t reads_ = 0;
};

}  // namespace simcard
