// The exports of the simulated driver: the twelve card operations and the Sim* control
// functions. All of them run under one lock; notifications are posted with
// PostMessageA, which never waits for the receiving window.
#define VYTTK17_SIM_BUILDING
#include "simcard/vyttk17_sim.h"

#include "simcard/sim_card.h"
#include "simcard/sim_config.h"

#include <windows.h>

#include <algorithm>
#include <deque>
#include <string>
#include <type_traits>
#include <vector>

using namespace simcard;

namespace {

constexpr int32_t kVersion = 0x0210;
constexpr size_t kCallLogLimit = 100000;
constexpr size_t kOutputLogLimit = 1u << 20;
constexpr int kNoSocket = kSockets;  // call-count column of calls without a valid socket

struct Trigger {
    TriggerSpec gen;
    uint32_t calls = 0;
};

struct Driver {
    CRITICAL_SECTION lock;
    HMODULE module = nullptr;
    int64_t frequency = 1;

    Config config;
    std::string configSource;
    std::string lastError;
    Card cards[kSockets];
    std::vector<Trigger> triggers;
    std::deque<std::string> callLog;
    uint64_t callCounts[kOperations][kSockets + 1] = {};
    std::deque<SimPortWrite> outputLog;
};

Driver g;

class Lock {
public:
    Lock() { EnterCriticalSection(&g.lock); }
    ~Lock() { LeaveCriticalSection(&g.lock); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
};

Clock now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return Clock{t.QuadPart, g.frequency};
}

std::string hex(uint64_t v, int width = 2)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    do {
        s.insert(s.begin(), digits[v & 15]);
        v >>= 4;
    } while (v);
    while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
    return "0x" + s;
}

std::string str(int64_t v) { return std::to_string(v); }

void logCall(std::string line)
{
    if (g.callLog.size() >= kCallLogLimit) g.callLog.pop_front();
    g.callLog.push_back(std::move(line));
}

// Copies `text` into a caller's buffer (always terminated when size > 0) and returns
// the length of the whole text.
int32_t copyOut(const std::string& text, char* buffer, uint32_t size)
{
    if (buffer && size > 0) {
        size_t n = std::min<size_t>(text.size(), size - 1);
        memcpy(buffer, text.data(), n);
        buffer[n] = 0;
    }
    return static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX));
}

bool validSocket(uint32_t socket) { return socket < static_cast<uint32_t>(kSockets); }

int32_t failWith(uint32_t socket, int32_t error)
{
    if (validSocket(socket)) g.cards[socket].lastError = error;
    return 0;
}

void post(const Card& card, uint32_t message, uint16_t socket)
{
    if (card.window) PostMessageA(card.window, message, socket, 0);
}

// Notification numbers follow the message given to Tk17Create (1224 from the
// extension): removal that number, overflow +3, overrun +4.
void postRemoved(const Card& c, uint16_t s) { post(c, c.message, s); }
void postOverflow(const Card& c, uint16_t s) { post(c, c.message + (TK17_MSG_BUFFER_OVERFLOW - TK17_MSG_CARD_REMOVED), s); }
void postOverrun(const Card& c, uint16_t s) { post(c, c.message + (TK17_MSG_BUFFER_OVERRUN - TK17_MSG_CARD_REMOVED), s); }

void pull(uint16_t socket)
{
    Card& card = g.cards[socket];
    if (!card.present) return;
    card.present = false;
    card.removed = true;
    card.sampling = false;
    if (card.open) postRemoved(card, socket);
}

void overrun(uint16_t socket)
{
    Card& card = g.cards[socket];
    card.status |= TK17_STATUS_OVERRUN;
    postOverrun(card, socket);
}

void overflow(uint16_t socket)
{
    Card& card = g.cards[socket];
    card.overflow(now());
    postOverflow(card, socket);
}

// Counts the call and runs the triggers armed for it. Returns false when an injected
// fault makes the call fail; `injectedError` then holds the fault's code.
bool enter(int op, uint32_t socket, int32_t* injectedError = nullptr)
{
    g.callCounts[op][validSocket(socket) ? socket : kNoSocket]++;
    bool fails = false;
    int32_t error = 0;
    for (Trigger& t : g.triggers) {
        if (t.gen.op != op) continue;
        if (op != OpGetVersion && t.gen.socket != socket) continue;
        if (t.calls < UINT32_MAX) ++t.calls;
        switch (t.gen.action) {
        case TriggerAction::Fail:
            if (t.calls >= t.gen.fromCall) {
                fails = true;
                error = t.gen.errorCode;
            }
            break;
        case TriggerAction::Pull:
            if (t.calls == t.gen.fromCall) pull(t.gen.socket);
            break;
        case TriggerAction::Overrun:
            if (t.calls == t.gen.fromCall && g.cards[t.gen.socket].open) overrun(t.gen.socket);
            break;
        case TriggerAction::Overflow:
            if (t.calls == t.gen.fromCall && g.cards[t.gen.socket].open) overflow(t.gen.socket);
            break;
        }
    }
    if (fails) {
        failWith(socket, error);
        if (injectedError) *injectedError = error;
    }
    return !fails;
}

// The open card in `socket`, or null after storing the reason in its last error.
Card* openCard(uint32_t socket)
{
    if (!validSocket(socket)) return nullptr;
    Card& card = g.cards[socket];
    int32_t error = card.removed ? TK17SIM_ERR_CARD_REMOVED
                  : !card.present ? TK17SIM_ERR_NO_CARD
                  : !card.open ? TK17SIM_ERR_NOT_OPEN : TK17SIM_ERR_NONE;
    if (error) {
        failWith(socket, error);
        return nullptr;
    }
    return &card;
}

// Replaces the configuration and resets every card, trigger and log.
void apply(const Config& config, const std::string& source)
{
    g.config = config;
    g.configSource = source;
    for (int s = 0; s < kSockets; ++s) g.cards[s].reset(config.cards[s]);
    g.triggers.clear();
    for (const TriggerSpec& t : config.triggers) g.triggers.push_back(Trigger{t, 0});
    g.callLog.clear();
    memset(g.callCounts, 0, sizeof g.callCounts);
    g.outputLog.clear();
}

bool readFile(const std::string& path, std::string& text)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    text.clear();
    char chunk[4096];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(f, chunk, sizeof chunk, &got, nullptr) != 0) && got > 0) text.append(chunk, got);
    CloseHandle(f);
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    return ok;
}

std::string environment(const char* name)
{
    DWORD n = GetEnvironmentVariableA(name, nullptr, 0);
    if (n == 0) return std::string();
    std::string value(n, '\0');
    n = GetEnvironmentVariableA(name, &value[0], n);
    value.resize(n);
    return value;
}

std::string iniBesideDriver()
{
    char path[MAX_PATH * 2];
    DWORD n = GetModuleFileNameA(g.module, path, sizeof path);
    if (n == 0 || n >= sizeof path) return std::string();
    std::string p(path, n);
    size_t slash = p.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : p.substr(0, slash + 1)) + "vyttk17.ini";
}

// Reads the configuration from its usual sources: VYTTK17_CONFIG_TEXT, the file named
// by VYTTK17_CONFIG, vyttk17.ini beside the driver, else the built-in default. A source
// that cannot be read or parsed leaves no card configured.
bool loadConfiguration()
{
    std::string text = environment("VYTTK17_CONFIG_TEXT");
    std::string source = "VYTTK17_CONFIG_TEXT";
    bool fromText = !text.empty();
    if (!fromText) {
        std::string path = environment("VYTTK17_CONFIG");
        if (!path.empty()) {
            source = "file " + path;
            if (!readFile(path, text)) {
                g.lastError = "cannot read the configuration file " + path;
                apply(Config(), source + " (unreadable)");
                return false;
            }
        } else {
            path = iniBesideDriver();
            if (path.empty() || GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
                g.lastError.clear();
                apply(defaultConfig(), "default");
                return true;
            }
            source = "file " + path;
            if (!readFile(path, text)) {
                g.lastError = "cannot read the configuration file " + path;
                apply(Config(), source + " (unreadable)");
                return false;
            }
        }
    }
    Config config;
    std::string error;
    if (!parseConfig(text, config, error)) {
        g.lastError = source + ": " + error;
        OutputDebugStringA(("vyttk17: " + g.lastError + "\n").c_str());
        apply(Config(), source + " (invalid)");
        return false;
    }
    g.lastError.clear();
    apply(config, source);
    return true;
}

std::string resultText(int32_t r) { return " -> " + str(r); }

}  // namespace

extern "C" {

// ---------------------------------------------------------------- card operations

#ifndef VYTTK17_NO_VERSION
int32_t WINAPI Tk17GetVersion(void)
{
    Lock lock;
    int32_t r = enter(OpGetVersion, kNoSocket) ? kVersion : 0;
    logCall("Tk17GetVersion" + resultText(r));
    return r;
}
#endif

int32_t WINAPI Tk17Create(uint32_t* socketCell, HWND notifyWindow, uint32_t message, int32_t reserved)
{
    Lock lock;
    uint32_t socket = socketCell ? *socketCell : kNoSocket;
    int32_t r = 0;
    if (enter(OpCreate, socket)) {
        if (!socketCell || !validSocket(socket)) {
            r = failWith(socket, TK17SIM_ERR_BAD_ARGUMENT);
        } else {
            Card& card = g.cards[socket];
            if (card.removed) r = failWith(socket, TK17SIM_ERR_CARD_REMOVED);
            else if (!card.present) r = failWith(socket, TK17SIM_ERR_NO_CARD);
            else if (card.open) r = failWith(socket, TK17SIM_ERR_ALREADY_OPEN);
            else {
                card.open = true;
                card.window = notifyWindow;
                card.message = message;
                card.openTicks = now().now;
                card.modeSet = false;
                card.sampling = false;
                card.status = 0;
                r = 1;
            }
        }
    }
    logCall("Tk17Create " + (socketCell ? str(*socketCell) : std::string("null")) + " " + str(message) + " " +
            str(reserved) + resultText(r));
    return r;
}

int32_t WINAPI Tk17Close(uint16_t socket)
{
    Lock lock;
    int32_t r = 0;
    if (enter(OpClose, socket)) {
        if (validSocket(socket) && g.cards[socket].removed && g.cards[socket].open) {
            g.cards[socket].open = false;  // released, but the card is gone
            r = failWith(socket, TK17SIM_ERR_CARD_REMOVED);
        } else if (Card* card = openCard(socket)) {
            card->open = false;
            card->sampling = false;
            card->window = nullptr;
            r = 1;
        }
    }
    logCall("Tk17Close " + str(socket) + resultText(r));
    return r;
}

int32_t WINAPI Tk17GetResource(uint16_t socket, void* resource408)
{
    Lock lock;
    int32_t r = 0;
    if (enter(OpGetResource, socket)) {
        Card* card = openCard(socket);
        if (card && !resource408) r = failWith(socket, TK17SIM_ERR_BAD_ARGUMENT);
        else if (card) {
            uint8_t* record = static_cast<uint8_t*>(resource408);
            memset(record, 0, sizeof(Tk17Resource));
            memcpy(record + TK17_RESOURCE_IO_ADDRESS, &card->config.ioAddress, 4);
            memcpy(record + TK17_RESOURCE_IO_LENGTH, &card->config.ioLength, 4);
            r = 1;
        }
    }
    logCall("Tk17GetResource " + str(socket) + resultText(r));
    return r;
}

int32_t WINAPI Tk17SetMode(uint16_t socket, void* modeRecord)
{
    Lock lock;
    int32_t r = 0;
    Tk17Mode m{};
    if (modeRecord) memcpy(&m, modeRecord, sizeof m);
    if (enter(OpSetMode, socket)) {
        Card* card = openCard(socket);
        if (!card) {
        } else if (!modeRecord) {
            r = failWith(socket, TK17SIM_ERR_BAD_ARGUMENT);
        } else if (card->sampling) {
            r = failWith(socket, TK17SIM_ERR_BUSY);
        } else if ((m.range != 0 && m.range != 1) || m.firstChannel < 0 || m.lastChannel >= kChannels ||
                   m.firstChannel > m.lastChannel || m.interval < 1 || m.interval > 255 ||
                   m.reserved16 != 0 || m.reserved20 != 1 || m.driverBufferSize < 2 || m.decimation < 1) {
            r = failWith(socket, TK17SIM_ERR_BAD_MODE);
        } else {
            card->mode = m;
            card->modeSet = true;
            r = 1;
        }
    }
    std::string args = modeRecord ? str(m.range) + " " + str(m.firstChannel) + " " + str(m.lastChannel) + " " +
                                        str(m.interval) + " " + str(m.reserved16) + " " + str(m.reserved20) + " " +
                                        str(m.driverBufferSize) + " " + str(m.decimation)
                                  : std::string("null");
    logCall("Tk17SetMode " + str(socket) + " " + args + resultText(r));
    return r;
}

int32_t WINAPI Tk17StartSampling(uint16_t socket)
{
    Lock lock;
    int32_t r = 0;
    if (enter(OpStartSampling, socket)) {
        Card* card = openCard(socket);
        if (!card) {
        } else if (card->sampling) {
            r = failWith(socket, TK17SIM_ERR_BUSY);
        } else if (!card->modeSet) {
            r = failWith(socket, TK17SIM_ERR_NO_MODE);
        } else {
            card->startSampling(now());
            r = 1;
        }
    }
    logCall("Tk17StartSampling " + str(socket) + resultText(r));
    return r;
}

int32_t WINAPI Tk17StopSampling(uint16_t socket)
{
    Lock lock;
    int32_t r = 0;
    if (enter(OpStopSampling, socket)) {
        if (Card* card = openCard(socket)) {
            card->stopSampling();
            r = 1;
        }
    }
    logCall("Tk17StopSampling " + str(socket) + resultText(r));
    return r;
}

int32_t WINAPI Tk17GetSamplingStatus(uint16_t socket, uint32_t* sampleCount, uint32_t* status)
{
    Lock lock;
    int32_t r = 0;
    uint32_t count = 0, word = 0;
    if (enter(OpGetSamplingStatus, socket)) {
        Card* card = openCard(socket);
        if (card && (!sampleCount || !status)) {
            r = failWith(socket, TK17SIM_ERR_BAD_ARGUMENT);
        } else if (card) {
            Clock clock = now();
            if (card->update(clock)) postOverflow(*card, socket);
            if (card->sampling && card->config.virtualClock && card->pollStep > 0) {
                if (card->available == TK17SIM_UNLIMITED) card->available = 0;
                uint64_t grown = static_cast<uint64_t>(card->available) + card->pollStep;
                card->available = static_cast<uint32_t>(std::min<uint64_t>(grown, TK17SIM_UNLIMITED - 1));
            }
            count = static_cast<uint32_t>(std::min<uint64_t>(card->ready(clock), UINT32_MAX));
            word = card->status;
            *sampleCount = count;
            *status = word;
            r = 1;
        }
    }
    logCall("Tk17GetSamplingStatus " + str(socket) + resultText(r) + (r ? " " + str(count) + " " + hex(word) : ""));
    return r;
}

int32_t WINAPI Tk17GetData(uint16_t socket, uint16_t* buffer, uint32_t count)
{
    Lock lock;
    int32_t r = 0;
    if (enter(OpGetData, socket)) {
        Card* card = openCard(socket);
        if (!card) {
        } else if (!buffer && count > 0) {
            r = failWith(socket, TK17SIM_ERR_BAD_ARGUMENT);
        } else if (!card->sampling) {
            r = failWith(socket, TK17SIM_ERR_NOT_SAMPLING);
        } else {
            Clock clock = now();
            if (card->update(clock)) postOverflow(*card, socket);
            if (card->ready(clock) < count) {
                r = failWith(socket, TK17SIM_ERR_NOT_ENOUGH_DATA);
            } else {
                card->read(buffer, count);
                r = 1;
            }
        }
    }
    logCall("Tk17GetData " + str(socket) + " " + str(count) + resultText(r));
    return r;
}

int32_t WINAPI Tk17OutPort(uint16_t socket, uint8_t value)
{
    Lock lock;
    int32_t r = 0;
    if (enter(OpOutPort, socket)) {
        if (Card* card = openCard(socket)) {
            card->lastOutput = value;
            if (g.outputLog.size() >= kOutputLogLimit) g.outputLog.pop_front();
            g.outputLog.push_back(SimPortWrite{card->microsSinceOpen(now()), socket, value});
            r = 1;
        }
    }
    logCall("Tk17OutPort " + str(socket) + " " + hex(value) + resultText(r));
    return r;
}

int32_t WINAPI Tk17InPort(uint16_t socket, uint8_t* value)
{
    Lock lock;
    int32_t r = 0;
    uint8_t byte = 0;
    if (enter(OpInPort, socket)) {
        Card* card = openCard(socket);
        if (card && !value) {
            r = failWith(socket, TK17SIM_ERR_BAD_ARGUMENT);
        } else if (card) {
            byte = card->input.next(card->lastOutput);
            *value = byte;
            r = 1;
        }
    }
    logCall("Tk17InPort " + str(socket) + resultText(r) + (r ? " " + hex(byte) : ""));
    return r;
}

int32_t WINAPI Tk17GetLastError(uint16_t socket)
{
    Lock lock;
    int32_t injected = 0;
    int32_t r;
    if (!enter(OpGetLastError, socket, &injected)) r = injected;
    else r = validSocket(socket) ? g.cards[socket].lastError : TK17SIM_ERR_BAD_ARGUMENT;
    logCall("Tk17GetLastError " + str(socket) + resultText(r));
    return r;
}

// ---------------------------------------------------------------- control exports

int32_t WINAPI SimConfigure(const char* text)
{
    Lock lock;
    if (!text) return loadConfiguration() ? 1 : 0;
    Config config;
    std::string error;
    if (!parseConfig(text, config, error)) {
        g.lastError = error;
        return 0;
    }
    g.lastError.clear();
    apply(config, "SimConfigure");
    return 1;
}

int32_t WINAPI SimLastError(char* buffer, uint32_t size)
{
    Lock lock;
    return copyOut(g.lastError, buffer, size);
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
    if (!validSocket(socket) || !g.cards[socket].window) return 0;
    return PostMessageA(g.cards[socket].window, message, socket, 0) ? 1 : 0;
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
    std::string text;
    for (const std::string& line : g.callLog) {
        text += line;
        text += '\n';
    }
    return copyOut(text, buffer, size);
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
    for (const SimPortWrite& w : g.outputLog) {
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
    if (!validSocket(socket) || !g.cards[socket].config.present || !g.cards[socket].config.virtualClock) return 0;
    g.cards[socket].available = count;
    return 1;
}

int32_t WINAPI SimSetPollStep(uint16_t socket, uint32_t samplesPerPoll)
{
    Lock lock;
    if (!validSocket(socket) || !g.cards[socket].config.present || !g.cards[socket].config.virtualClock) return 0;
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

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        InitializeCriticalSection(&g.lock);
        g.module = instance;
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        g.frequency = f.QuadPart > 0 ? f.QuadPart : 1;
        Lock lock;
        loadConfiguration();
    } else if (reason == DLL_PROCESS_DETACH) {
        DeleteCriticalSection(&g.lock);
    }
    return TRUE;
}

}  // extern "C"

// Each export has exactly the type its callers call it through. On i686 the calling
// convention is part of that type, and a mismatch would unbalance the caller's stack.
#define SIM_SAME_TYPE_OPERATION(name) static_assert(std::is_same<decltype(&name), name##Fn>::value, #name);
#ifndef VYTTK17_NO_VERSION
SIM_SAME_TYPE_OPERATION(Tk17GetVersion)
#endif
SIM_SAME_TYPE_OPERATION(Tk17Create)
SIM_SAME_TYPE_OPERATION(Tk17Close)
SIM_SAME_TYPE_OPERATION(Tk17GetResource)
SIM_SAME_TYPE_OPERATION(Tk17SetMode)
SIM_SAME_TYPE_OPERATION(Tk17StartSampling)
SIM_SAME_TYPE_OPERATION(Tk17StopSampling)
SIM_SAME_TYPE_OPERATION(Tk17GetSamplingStatus)
SIM_SAME_TYPE_OPERATION(Tk17GetData)
SIM_SAME_TYPE_OPERATION(Tk17OutPort)
SIM_SAME_TYPE_OPERATION(Tk17InPort)
SIM_SAME_TYPE_OPERATION(Tk17GetLastError)
#undef SIM_SAME_TYPE_OPERATION
#define SIM_SAME_TYPE_CONTROL(name, result, params) \
    static_assert(std::is_same<decltype(&Sim##name), Sim##name##Fn>::value, "Sim" #name);
VYTTK17_SIM_EXPORTS(SIM_SAME_TYPE_CONTROL)
#undef SIM_SAME_TYPE_CONTROL
