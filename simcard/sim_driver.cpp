// The exports of the simulated driver: the twelve card operations and the Sim* control
// functions. All of them run under one lock; notifications are posted with
// PostMessageA, which never waits for the receiving window.
#define VYTTK17_SIM_BUILDING
#include "simcard/vyttk17_sim.h"

#include "simcard/sim_call_log.h"
#include "simcard/sim_card.h"
#include "simcard/sim_config.h"

#include <windows.h>

#include <algorithm>
#include <string>
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

// The bytes written to the output ports, the latest kOutputLogLimit of them, in a
// ring allocated at the first write.
class OutputLog {
public:
    void add(const SimPortWrite& w)
    {
        if (ring_.empty()) ring_.resize(kOutputLogLimit);
        if (size_ < kOutputLogLimit) {
            ring_[(head_ + size_++) % kOutputLogLimit] = w;
        } else {
            ring_[head_] = w;
            head_ = (head_ + 1) % kOutputLogLimit;
        }
    }
    void clear() { head_ = size_ = 0; }
    size_t size() const { return size_; }
    const SimPortWrite& at(size_t i) const { return ring_[(head_ + i) % kOutputLogLimit]; }

private:
    std::vector<SimPortWrite> ring_;
    size_t head_ = 0, size_ = 0;
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

CallEntry& logCall(int op, int64_t socket, int32_t result)
{
    CallEntry& e = g.callLog.add();
    e.op = static_cast<uint8_t>(op);
    e.socket = socket;
    e.result = result;
    return e;
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
            if (t.calls >= t.gen.fromCall && (t.gen.failCount == 0 || t.calls - t.gen.fromCall < t.gen.failCount)) {
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

// Notes why a configuration could not be used; `line` 0 when it concerns no line.
void setConfigError(const std::string& source, const std::string& reason, int line)
{
    g.lastErrorReason = reason;
    g.lastErrorLine = line;
    g.lastError = source.empty() ? reason : source + ": " + (line ? "line " + std::to_string(line) + ": " : "") + reason;
    OutputDebugStringA(("vyttk17: " + g.lastError + "\n").c_str());
}

void clearConfigError()
{
    g.lastError.clear();
    g.lastErrorReason.clear();
    g.lastErrorLine = 0;
}

// Takes "line N: reason" from parseConfig apart.
std::string reasonOf(const std::string& parseError)
{
    const size_t colon = parseError.compare(0, 5, "line ") == 0 ? parseError.find(": ") : std::string::npos;
    return colon == std::string::npos ? parseError : parseError.substr(colon + 2);
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
        if (path.empty()) {
            path = iniBesideDriver();
            if (path.empty() || GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
                clearConfigError();
                apply(defaultConfig(), "default");
                return true;
            }
        }
        source = "file " + path;
        if (!readFile(path, text)) {
            setConfigError("", "cannot read the configuration file " + path, 0);
            apply(Config(), source + " (unreadable)");
            return false;
        }
    }
    Config config;
    std::string error;
    int line = 0;
    if (!parseConfig(text, config, error, &line)) {
        setConfigError(source, reasonOf(error), line);
        apply(Config(), source + " (invalid)");
        return false;
    }
    clearConfigError();
    apply(config, source);
    return true;
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------- card operations

#ifndef VYTTK17_NO_VERSION
int32_t WINAPI Tk17GetVersion(void)
{
    Lock lock;
    int32_t r = enter(OpGetVersion, kNoSocket) ? kVersion : 0;
    logCall(OpGetVersion, 0, r);
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
    CallEntry& e = logCall(OpCreate, socketCell ? *socketCell : 0, r);
    e.null = socketCell == nullptr;
    e.args[0] = message;
    e.args[1] = reserved;
    e.argCount = 2;
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
    logCall(OpClose, socket, r);
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
    logCall(OpGetResource, socket, r);
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
    CallEntry& e = logCall(OpSetMode, socket, r);
    e.null = modeRecord == nullptr;
    const int32_t fields[8] = {m.range, m.firstChannel, m.lastChannel, m.interval,
                               m.reserved16, m.reserved20, m.driverBufferSize, m.decimation};
    for (int i = 0; i < 8; ++i) e.args[i] = fields[i];
    e.argCount = 8;
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
    logCall(OpStartSampling, socket, r);
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
    logCall(OpStopSampling, socket, r);
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
            // The virtual clock needs no time: reading the performance counter costs
            // more under Wine than the rest of the call.
            const Clock clock = card->config.virtualClock ? Clock() : now();
            const uint64_t converted = card->converted(clock);
            if (card->update(clock, converted)) postOverflow(*card, socket);
            if (card->sampling && card->config.virtualClock && card->pollStep > 0) {
                if (card->available == TK17SIM_UNLIMITED) card->available = 0;
                uint64_t grown = static_cast<uint64_t>(card->available) + card->pollStep;
                card->available = static_cast<uint32_t>(std::min<uint64_t>(grown, TK17SIM_UNLIMITED - 1));
            }
            count = static_cast<uint32_t>(std::min<uint64_t>(card->ready(converted), UINT32_MAX));
            word = card->status;
            *sampleCount = count;
            *status = word;
            r = 1;
        }
    }
    CallEntry& e = logCall(OpGetSamplingStatus, socket, r);
    e.detail = true;
    e.args[0] = count;
    e.args[1] = word;
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
            const Clock clock = card->config.virtualClock ? Clock() : now();
            const uint64_t converted = card->converted(clock);
            if (card->update(clock, converted)) postOverflow(*card, socket);
            if (card->ready(converted) < count) {
                r = failWith(socket, TK17SIM_ERR_NOT_ENOUGH_DATA);
            } else {
                card->read(buffer, count);
                r = 1;
            }
        }
    }
    CallEntry& e = logCall(OpGetData, socket, r);
    e.args[0] = count;
    e.argCount = 1;
    return r;
}

int32_t WINAPI Tk17OutPort(uint16_t socket, uint8_t value)
{
    Lock lock;
    int32_t r = 0;
    if (enter(OpOutPort, socket)) {
        if (Card* card = openCard(socket)) {
            card->lastOutput = value;
            g.outputLog.add(SimPortWrite{card->microsSinceOpen(now()), socket, value});
            r = 1;
        }
    }
    CallEntry& e = logCall(OpOutPort, socket, r);
    e.args[0] = value;
    e.argCount = 1;
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
    CallEntry& e = logCall(OpInPort, socket, r);
    e.detail = true;
    e.args[0] = byte;
    return r;
}

int32_t WINAPI Tk17GetLastError(uint16_t socket)
{
    Lock lock;
    int32_t injected = 0;
    int32_t r;
    if (!enter(OpGetLastError, socket, &injected)) r = injected;
    else r = validSocket(socket) ? g.cards[socket].lastError : TK17SIM_ERR_BAD_ARGUMENT;
    logCall(OpGetLastError, socket, r);
    return r;
}

// ---------------------------------------------------------------- control exports

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
