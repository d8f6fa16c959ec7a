// The simulated driver's state, shared by its card operations (sim_operations.cpp)
// and its control exports (sim_control.cpp): the cards, the configuration, faults,
// call and output logs, and the one lock every export takes. Notifications are posted
// with PostMessageA, which never waits for the receiving window.
#pragma once

#define VYTTK17_SIM_BUILDING
#include "simcard/vyttk17_sim.h"

#include "simcard/sim_call_log.h"
#include "simcard/sim_card.h"
#include "simcard/sim_config.h"

#include <windows.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

// Every control export, declared for the driver's own files (the header declares
// them only for callers, as imports).
extern "C" {
#define VYTTK17_SIM_DEFINE(name, result, params) result WINAPI Sim##name params;
VYTTK17_SIM_EXPORTS(VYTTK17_SIM_DEFINE)
#undef VYTTK17_SIM_DEFINE
}

namespace simcard {

constexpr int32_t kVersion = 0x0210;
constexpr size_t kCallLogLimit = 100000;
constexpr size_t kOutputLogLimit = 1u << 20;
constexpr int kNoSocket = kSockets;  // call-count column of calls without a valid socket

struct Trigger {
    TriggerSpec gen;
    uint32_t calls = 0;
};

// The bytes written to the output ports, the latest kOutputLogLimit of them. The log
// grows as the writes come (a port write never waits for the whole log's memory) and
// drops its oldest entry once it holds the limit.
class OutputLog {
public:
    void add(const SimPortWrite& w)
    {
        if (entries_.size() == kOutputLogLimit) entries_.pop_front();
        entries_.push_back(w);
    }
    void clear() { entries_.clear(); }
    size_t size() const { return entries_.size(); }
    const SimPortWrite& at(size_t i) const { return entries_[i]; }

private:
    std::deque<SimPortWrite> entries_;
};

struct Driver {
    CRITICAL_SECTION lock;
    HMODULE module = nullptr;
    int64_t frequency = 1;

    Config config;
    std::string configSource;
    std::string lastError;        // "<source>: line 3: ..." (SimLastError)
    std::string lastErrorReason;  // the same without source and line (SimConfigError)
    int lastErrorLine = 0;        // 0: none, or the problem concerns no line
    Card cards[kSockets];
    std::vector<Trigger> triggers;
    CallLog callLog{kCallLogLimit};
    uint64_t callCounts[kOperations][kSockets + 1] = {};
    OutputLog outputLog;
    // What each operation returns on success ([driver] success, SimSetSuccessValue).
    int32_t success[kOperations] = {};
    // A card remapped by socket_cell answers under its section number only in the
    // probe right after its Tk17Create (Tk17GetResource, Tk17Close); -1: no such card.
    int probeCard = -1;
    // Last errors of socket numbers no card is served under.
    int32_t strayError[kSockets] = {};
    // Port calls (Tk17InPort, Tk17OutPort, any card) inside the driver now, and how
    // many entered while another was inside; changed without the lock.
    volatile LONG portsInside = 0;
    volatile LONG portOverlaps = 0;
};

extern Driver g;


class Lock {
public:
    Lock() { EnterCriticalSection(&g.lock); }
    ~Lock() { LeaveCriticalSection(&g.lock); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
};

Clock now();
// The clock a card's sampling runs on: the computer's, none (virtual count) or its
// card time (stepped).
Clock cardClock(const Card& card);

// A port call's stay in the driver, made before the driver's lock is taken: counts it
// in, notes an overlap when another port call is inside, and holds the card's port
// hold time (outside the lock, as a card's port access takes its time).
class PortCall {
public:
    explicit PortCall(uint32_t socket);
    ~PortCall();
    PortCall(const PortCall&) = delete;
    PortCall& operator=(const PortCall&) = delete;
};
CallEntry& logCall(int op, int64_t socket, int32_t result);
// Copies `text` into a caller's buffer (always terminated when size > 0) and returns
// the length of the whole text.
int32_t copyOut(const std::string& text, char* buffer, uint32_t size);
bool validSocket(uint32_t socket);
// The card a call on `socket` reaches (an index into g.cards), or -1: the card in the
// probe right after Tk17Create, else the card served under that socket, else the card
// of that section when it is not remapped.
int route(uint32_t socket);
Card* cardFor(uint32_t socket);
// Stores `error` as the last error of `socket` (its card's, or the stray one); returns 0.
int32_t failWith(uint32_t socket, int32_t error);
// What `op` returns when it succeeds.
inline int32_t succeeded(int op) { return g.success[op]; }
// Notifications to the card's window; each one posted is counted in Card::posted.
void post(Card& card, uint32_t message, uint16_t socket);
void postRemoved(Card& c, uint16_t s);
void postOverflow(Card& c, uint16_t s);
void postOverrun(Card& c, uint16_t s);
void pull(uint16_t socket);
void overrun(uint16_t socket);
void overflow(uint16_t socket);
// Counts the call and applies the armed faults and events; false when the call fails.
bool enter(int op, uint32_t socket, int32_t* injectedError = nullptr);
// The open card in `socket`, or null after storing the reason in its last error.
Card* openCard(uint32_t socket);
// Replaces the configuration and resets every card, trigger and log.
void apply(const Config& config, const std::string& source);
void setConfigError(const std::string& source, const std::string& reason, int line);
void clearConfigError();
// The reason of a parser message without its "line N: " prefix.
std::string reasonOf(const std::string& parseError);
// Reads the configuration from its usual sources (environment, file, default).
bool loadConfiguration();

}  // namespace simcard
