// The Sim* control exports of the simulated driver: configuration, faults and events,
// the logs, and the virtual clock's controls, for tests and demos.
#include "simcard/sim_state.h"

#include <type_traits>

using namespace simcard;

namespace {

// Posts `message` to the window of the card of section `socket`: wParam the socket
// the card is served under, lParam as given. 1 when posted.
int32_t postNotification(uint16_t socket, uint32_t message, intptr_t lParam)
{
    if (!validSocket(socket) || !g.cards[socket].window) return 0;
    Card& card = g.cards[socket];
    if (!PostMessageA(card.window, message, card.socket, static_cast<LPARAM>(lParam))) return 0;
    ++card.posted;
    return 1;
}

}  // namespace

extern "C" {

int32_t WINAPI SimConfigure(const char* text)
{
    Lock lock;
    if (!text) return loadConfiguration() ? 1 : 0;
    Config config;
    std::string error;
    int line = 0;
    if (!parseConfig(text, config, error, &line)) {
        setConfigError("", reasonOf(error), line);
        g.lastError = error;
        return 0;
    }
    clearConfigError();
    apply(config, "SimConfigure");
    return 1;
}

int32_t WINAPI SimLastError(char* buffer, uint32_t size)
{
    Lock lock;
    return copyOut(g.lastError, buffer, size);
}

int32_t WINAPI SimConfigError(uint32_t* line, char* buffer, uint32_t size)
{
    Lock lock;
    if (line) *line = static_cast<uint32_t>(g.lastErrorLine);
    return copyOut(g.lastErrorReason, buffer, size);
}

int32_t WINAPI SimConfigSource(char* buffer, uint32_t size)
{
    Lock lock;
    return copyOut(g.configSource, buffer, size);
}

int32_t WINAPI SimInjectFault(const char* operation, uint16_t socket, uint32_t fromCall, int32_t errorCode)
{
    Lock lock;
    int op = operation ? operationIndex(operation) : -1;
    if (op < 0 || (!validSocket(socket) && op != OpGetVersion)) return 0;
    uint16_t s = op == OpGetVersion ? 0 : socket;
    g.triggers.erase(std::remove_if(g.triggers.begin(), g.triggers.end(),
                                    [&](const Trigger& t) {
                                        return t.gen.action == TriggerAction::Fail && t.gen.op == op &&
                                               t.gen.socket == s;
                                    }),
                     g.triggers.end());
    if (fromCall > 0) {
        TriggerSpec gen;
        gen.action = TriggerAction::Fail;
        gen.op = op;
        gen.socket = s;
        gen.fromCall = fromCall;
        gen.errorCode = errorCode;
        g.triggers.push_back(Trigger{gen, 0});
    }
    return 1;
}

int32_t WINAPI SimClearFaults(void)
{
    Lock lock;
    g.triggers.clear();
    return 1;
}

int32_t WINAPI SimPullCard(uint16_t socket)
{
    Lock lock;
    if (!validSocket(socket) || !g.cards[socket].present) return 0;
    pull(socket);
    return 1;
}

int32_t WINAPI SimInsertCard(uint16_t socket)
{
    Lock lock;
    if (!validSocket(socket) || !g.cards[socket].config.present || g.cards[socket].present) return 0;
    Card& card = g.cards[socket];
    card.present = true;
    card.removed = false;
    card.open = false;
    card.window = nullptr;
    card.sampling = false;
    return 1;
}

int32_t WINAPI SimPostNotification(uint16_t socket, uint32_t message)
{
    Lock lock;
    return postNotification(socket, message, 0);
}

int32_t WINAPI SimTriggerOverrun(uint16_t socket)
{
    Lock lock;
    if (!validSocket(socket) || !g.cards[socket].open) return 0;
    overrun(socket);
    return 1;
}

int32_t WINAPI SimTriggerOverflow(uint16_t socket)
{
    Lock lock;
    if (!validSocket(socket) || !g.cards[socket].open) return 0;
    overflow(socket);
    return 1;
}

int32_t WINAPI SimGetCallLog(char* buffer, uint32_t size)
{
    Lock lock;
    return copyOut(g.callLog.text(), buffer, size);
}

int32_t WINAPI SimClearCallLog(void)
{
    Lock lock;
    g.callLog.clear();
    memset(g.callCounts, 0, sizeof g.callCounts);
    return 1;
}

int32_t WINAPI SimCallCount(const char* operation, int32_t socket)
{
    Lock lock;
    int op = operation && *operation ? operationIndex(operation) : -2;
    if (op == -1 || socket < -1 || socket >= kSockets) return -1;
    uint64_t total = 0;
    for (int o = 0; o < kOperations; ++o) {
        if (op >= 0 && o != op) continue;
        for (int s = 0; s <= kSockets; ++s)
            if (socket == -1 || s == socket) total += g.callCounts[o][s];
    }
    return static_cast<int32_t>(std::min<uint64_t>(total, INT32_MAX));
}

int32_t WINAPI SimGetOutputLog(int32_t socket, SimPortWrite* entries, uint32_t max)
{
    Lock lock;
    uint32_t total = 0;
    for (size_t i = 0; i < g.outputLog.size(); ++i) {
        const SimPortWrite& w = g.outputLog.at(i);
        if (socket != -1 && w.socket != socket) continue;
        if (entries && total < max) entries[total] = w;
        ++total;
    }
    return static_cast<int32_t>(std::min<uint32_t>(total, INT32_MAX));
}

int32_t WINAPI SimClearOutputLog(void)
{
    Lock lock;
    g.outputLog.clear();
    return 1;
}

int32_t WINAPI SimGetMode(uint16_t socket, Tk17Mode* mode)
{
    Lock lock;
    if (!validSocket(socket) || !g.cards[socket].modeSet) return 0;
    if (mode) *mode = g.cards[socket].mode;
    return 1;
}

int32_t WINAPI SimIsOpen(uint16_t socket)
{
    Lock lock;
    return validSocket(socket) && g.cards[socket].open ? 1 : 0;
}

int32_t WINAPI SimIsSampling(uint16_t socket)
{
    Lock lock;
    return validSocket(socket) && g.cards[socket].sampling ? 1 : 0;
}

int32_t WINAPI SimSetInput(uint16_t socket, const char* generatorSpec)
{
    Lock lock;
    if (!validSocket(socket) || !g.cards[socket].config.present || !generatorSpec) return 0;
    InputSpec gen;
    std::string error;
    if (!parseInput(generatorSpec, gen, error)) {
        g.lastError = error;
        return 0;
    }
    g.cards[socket].config.input = gen;
    g.cards[socket].input.configure(gen);
    return 1;
}

int32_t WINAPI SimSetChannel(uint16_t socket, uint32_t channel, const char* generatorSpec)
{
    Lock lock;
    if (!validSocket(socket) || !g.cards[socket].config.present || channel >= kChannels || !generatorSpec) return 0;
    SignalSpec gen;
    std::string error;
    if (!parseSignal(generatorSpec, gen, error)) {
        g.lastError = error;
        return 0;
    }
    g.cards[socket].config.channels[channel] = gen;
    return 1;
}

int32_t WINAPI SimSetAvailable(uint16_t socket, uint32_t count)
{
    Lock lock;
    if (!validSocket(socket) || !g.cards[socket].config.present || !g.cards[socket].countsOnly()) return 0;
    g.cards[socket].available = count;
    return 1;
}

int32_t WINAPI SimSetPollStep(uint16_t socket, uint32_t samplesPerPoll)
{
    Lock lock;
    if (!validSocket(socket) || !g.cards[socket].config.present || !g.cards[socket].countsOnly()) return 0;
    g.cards[socket].pollStep = samplesPerPoll;
    if (samplesPerPoll > 0 && g.cards[socket].available == TK17SIM_UNLIMITED) g.cards[socket].available = 0;
    return 1;
}

int32_t WINAPI SimGetPosition(uint16_t socket, uint64_t* conversionIndex)
{
    Lock lock;
    if (!validSocket(socket) || !conversionIndex) return 0;
    *conversionIndex = g.cards[socket].position();
    return 1;
}

int32_t WINAPI SimGetCardState(uint16_t socket, SimCardState* state)
{
    Lock lock;
    if (!validSocket(socket) || !state) return 0;
    const Card& card = g.cards[socket];
    state->configured = card.config.present ? 1 : 0;
    state->present = card.present ? 1 : 0;
    state->open = card.open ? 1 : 0;
    state->sampling = card.sampling ? 1 : 0;
    state->virtualClock = card.config.virtualClock ? 1 : 0;
    state->status = card.statusWord();
    state->lastError = card.lastError;
    state->notifications = card.posted;
    return 1;
}

int32_t WINAPI SimSetSuccessValue(const char* operation, int32_t value)
{
    Lock lock;
    const int op = operation ? operationIndex(operation) : -1;
    if (!hasSuccessValue(op) || value == 0) return 0;
    g.success[op] = value;
    return 1;
}

int32_t WINAPI SimGetSetModeCall(uint16_t socket, uint64_t* address, uint8_t* bytes32)
{
    Lock lock;
    if (!validSocket(socket) || g.cards[socket].modeCalls == 0) return 0;
    const Card& card = g.cards[socket];
    if (address) *address = card.modeAddress;
    if (bytes32) memcpy(bytes32, card.modeBytes, sizeof card.modeBytes);
    return static_cast<int32_t>(std::min<uint32_t>(card.modeCalls, INT32_MAX));
}

int32_t WINAPI SimPostNotificationParam(uint16_t socket, uint32_t message, intptr_t lParam)
{
    Lock lock;
    return postNotification(socket, message, lParam);
}

}  // extern "C"

// Each control export has exactly the type the tests call it through (the calling
// convention is part of the type on i686).
#define SIM_SAME_TYPE_CONTROL(name, result, params) \
    static_assert(std::is_same<decltype(&Sim##name), Sim##name##Fn>::value, "Sim" #name);
VYTTK17_SIM_EXPORTS(SIM_SAME_TYPE_CONTROL)
#undef SIM_SAME_TYPE_CONTROL
