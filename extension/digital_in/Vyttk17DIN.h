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

inline DigitalSettings* DigitalArea(ModuleRecord* m) { return static_cast<DigitalSettings*>(m->privateData); }
