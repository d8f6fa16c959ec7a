// The analog input module class: its private data area (with the sampling mode
// record handed to the driver), the class callback, the processing routine, the
// rate check and the raw-to-volt conversion.
#pragma once

#include "abi/tk17_abi.h"
#include "extension/analog/conversion.h"
#include "extension/frame/class_protocol.h"

#pragma pack(push, 1)
struct AnalogSettings {
    char channelNames[8][24];
    uint16_t socket;
    uint8_t unused194[6];
    Tk17Mode mode;  // range, firstChannel, lastChannel, interval, 0, 1, driverBufferSize, decimation
    union {
        uint16_t* sampleBuffer;
        uint8_t sampleBufferSlot[8];
    };
    uint32_t samplesPerRead;
    uint8_t unused244[4];
    int32_t bufferSizeIndex;
    uint8_t unused252[4];
};
#pragma pack(pop)

static_assert(sizeof(AnalogSettings) == 256, "analog private data area");
static_assert(offsetof(AnalogSettings, socket) == 192, "socket");
static_assert(offsetof(AnalogSettings, mode) == 200, "sampling mode record");
static_assert(offsetof(AnalogSettings, mode) + offsetof(Tk17Mode, decimation) == 228, "decimation");
static_assert(offsetof(AnalogSettings, sampleBuffer) == 232, "sampleBuffer");
static_assert(offsetof(AnalogSettings, samplesPerRead) == 240, "samplesPerRead");
static_assert(offsetof(AnalogSettings, bufferSizeIndex) == 248, "bufferSizeIndex");

constexpr uint32_t kAnalogMaxChannels = 8;
constexpr int32_t kDefaultBufferSizeIndex = 2;

inline AnalogSettings* AnalogArea(ModuleRecord* m) { return static_cast<AnalogSettings*>(m->privateData); }

// Rate check and mode derivation for period `periodMs` and `channels` channels:
// 1 and the mode fields written, or 0 with the refusal text in *refusal.
int32_t DeriveSamplingMode(AnalogSettings* a, double periodMs, uint32_t channels, uint32_t blockSize,
                           const char** refusal);
// The round-up flag: the first digit after the decimal point of T x 100 is 5 or more.
int32_t RoundUpFlag(double t);
// Formats with printf conventions: fixed notation up to 100000, exponent above.
void FormatNumber(char* text, size_t size, double value, int digits);
