// What the parts of the Velk stand-in's host share behind host.h: a module as the
// host keeps it, and small helpers. Only the host's own source files include it.
#pragma once

#include "velk/host/host.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace velk {

// Text of at most `limit` bytes from a C string that may lack its zero.
inline std::string boundedText(const char* p, size_t limit) {
    if (!p) return std::string();
    size_t n = 0;
    while (n < limit && p[n]) ++n;
    return std::string(p, n);
}

inline void copyField(char* field, size_t room, const std::string& text) {
    std::memset(field, 0, room);
    std::memcpy(field, text.data(), std::min(text.size(), room - 1));
}

inline std::string pointerText(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

constexpr char kMainWindowClass[] = "VelkMainWindow";
// The extension registers its notification window class under Velk's instance and
// leaves it registered; a Velk that exits does not care, the stand-in must.
constexpr char kNotifyWindowClass[] = "TK17GETMSG";

// A module instance: Velk's record, its private data area and channel state records
// (each followed by guard bytes), its output pools and input queues.
struct ModuleInstance {
    static constexpr size_t kGuardBytes = 16;
    static constexpr unsigned char kGuardByte = 0xFD;
    // What a new private data area and channel state record hold before the class
    // writes them (Velk gives them uncleared).
    static constexpr unsigned char kUnclearedByte = 0xCB;

    struct Waiting {
        BlockBuffer* block;
        std::unique_ptr<BlockBuffer> owned;  // pushed blocks belong to the queue entry
        bool lent = false;                   // GetInputBlock has handed it out
    };

    size_t classIndex = 0;
    uint32_t number = 0;
    uint64_t processCalls = 0;  // calls of the class's processing routine
    std::unique_ptr<unsigned char[]> recordBytes;
    ModuleRecord* record = nullptr;
    uint32_t privateSize = 0;
    std::unique_ptr<unsigned char[]> privateBytes;
    uint32_t channelSize = 0;
    std::unique_ptr<unsigned char[]> channelBytes;
    std::array<HostOutputChannel, Host::kMaxChannels> outputs{};
    std::array<BlockPool, Host::kMaxChannels> pools;
    std::array<std::deque<Waiting>, Host::kMaxChannels> inputs;
    std::array<std::vector<ReleasedBlock>, Host::kMaxChannels> released;
    std::vector<InputRelease> inputReleases;

    unsigned char* channelRecord(uint32_t i) { return channelBytes.get() + i * (channelSize + kGuardBytes); }

    static bool intact(const unsigned char* guard) {
        for (size_t i = 0; i < kGuardBytes; ++i)
            if (guard[i] != kGuardByte) return false;
        return true;
    }

    // Writes past the private data area or a channel state record.
    std::vector<std::string> damage() {
        std::vector<std::string> out;
        const std::string who = "module " + std::to_string(number);
        if (privateBytes && !intact(privateBytes.get() + privateSize))
            out.push_back(who + " wrote past its private data area of " + std::to_string(privateSize) + " bytes");
        if (channelBytes) {
            for (uint32_t i = 0; i < Host::kMaxChannels; ++i)
                if (!intact(channelRecord(i) + channelSize))
                    out.push_back(who + " wrote past channel state record " + std::to_string(i) + " of " +
                                  std::to_string(channelSize) + " bytes");
        }
        return out;
    }
};

}  // namespace velk
