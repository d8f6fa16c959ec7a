// What makes the simulated card as strict in time as a real one may be: card time that
// moves only by status polls and SimAdvanceClock (clock = stepped), status words with
// bits of their own beside the overflow and overrun bits, and port calls that take
// their time and are counted when they meet inside the driver. The card keys of this
// group and their control exports.
#include "simcard/sim_muldiv.h"
#include "simcard/sim_state.h"

namespace simcard {

namespace {

// Keeps the calling thread for `micros` microseconds of the performance counter:
// whole milliseconds asleep, the rest yielding.
void holdFor(uint32_t micros)
{
    if (micros == 0) return;
    const int64_t start = now().now;
    const int64_t ticks = static_cast<int64_t>(MulDiv64(micros, static_cast<uint64_t>(g.frequency), 1000000u));
    const int64_t twoMillis = g.frequency / 500;
    for (;;) {
        const int64_t left = start + ticks - now().now;
        if (left <= 0) return;
        if (left >= twoMillis) Sleep(1);
        else SwitchToThread();
    }
}

bool wholeNumber(const std::string& value, int64_t lowest, int64_t highest, uint32_t& out)
{
    int64_t v;
    if (!parseInteger(value, v) || v < lowest || v > highest) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

PortCall::PortCall(uint32_t socket)
{
    if (InterlockedIncrement(&g.portsInside) > 1) InterlockedIncrement(&g.portOverlaps);
    uint32_t hold = 0;
    {
        Lock lock;
        if (validSocket(socket)) hold = g.cards[socket].portHoldMicros;
    }
    holdFor(hold);
}

PortCall::~PortCall()
{
    InterlockedDecrement(&g.portsInside);
}

int parseCardTimingKey(const std::string& key, const std::string& value, CardConfig& card, std::string& problem)
{
    if (key == "poll_time_us") {
        if (wholeNumber(value, 0, 1000000000, card.pollMicros)) return 1;
        problem = "poll_time_us is a whole number of microseconds, 0 to 1000000000";
        return 0;
    }
    if (key == "status_bits") {
        if (wholeNumber(value, 0, 0xFFFFFFFFll, card.statusBits)) return 1;
        problem = "status_bits is a 32-bit unsigned number (0x80000025)";
        return 0;
    }
    if (key == "port_hold_us") {
        if (wholeNumber(value, 0, 1000000, card.portHoldMicros)) return 1;
        problem = "port_hold_us is a whole number of microseconds, 0 to 1000000";
        return 0;
    }
    return -1;
}

}  // namespace simcard

using namespace simcard;

extern "C" {

int32_t WINAPI SimSetStatusBits(uint16_t socket, uint32_t bits)
{
    Lock lock;
    if (!validSocket(socket) || !g.cards[socket].config.present) return 0;
    g.cards[socket].statusBits = bits;
    return 1;
}

int32_t WINAPI SimSetPortHold(uint16_t socket, uint32_t micros)
{
    Lock lock;
    if (!validSocket(socket) || !g.cards[socket].config.present || micros > 1000000) return 0;
    g.cards[socket].portHoldMicros = micros;
    return 1;
}

int32_t WINAPI SimPortOverlaps(uint32_t clear)
{
    const LONG overlaps = clear ? InterlockedExchange(&g.portOverlaps, 0) : InterlockedCompareExchange(&g.portOverlaps, 0, 0);
    return static_cast<int32_t>(overlaps);
}

int32_t WINAPI SimAdvanceClock(uint16_t socket, uint32_t micros)
{
    Lock lock;
    if (!validSocket(socket) || !g.cards[socket].config.steppedClock) return 0;
    g.cards[socket].advance(micros);
    return 1;
}

int32_t WINAPI SimSetPollTime(uint16_t socket, uint32_t micros)
{
    Lock lock;
    if (!validSocket(socket) || !g.cards[socket].config.steppedClock) return 0;
    g.cards[socket].pollMicros = micros;
    return 1;
}

}  // extern "C"
