// The digital input module class and the private data layout it shares with the
// digital output class (names and socket).
#pragma once

#include "extension/frame/class_protocol.h"

#pragma pack(push, 1)
struct DigitalSettings {
    char channelNames[4][24];
    uint16_t socket;
    uint8_t reserved98[2];
    union {
        uint8_t* outputBuffer;  // digital output only
        uint8_t outputBufferSlot[sizeof(void*)];
    };
};
#pragma pack(pop)

static_assert(offsetof(DigitalSettings, socket) == 96, "socket");
static_assert(offsetof(DigitalSettings, outputBuffer) == 100, "output buffer reference");
static_assert(sizeof(DigitalSettings) == 100 + sizeof(void*), "digital output private data area");

constexpr uint32_t kDigitalMaxChannels = 4;

// Milliseconds from the experiment start to the nominal end of `samplesDone`
// samples, truncated, modulo 2^32 like the tick count (0 for a product that is not
// a finite, non-negative number).
uint32_t NominalElapsedMs(uint32_t samplesDone, double periodMs);
// Whether tick count `now` has reached `due`, across the wrap of the tick count
// (valid while the two are less than 2^31 ms apart).
int32_t TickReached(uint32_t now, uint32_t due);

inline DigitalSettings* DigitalArea(ModuleRecord* m) { return static_cast<DigitalSettings*>(m->privateData); }
