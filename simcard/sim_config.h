// Configuration of the simulated card driver: which sockets hold a card, each card's
// resources, clock and signal generators, and the faults and events armed at start.
// The text format is described in docs/simcard.md.
#pragma once

#include <stdint.h>
#include <string>
#include <vector>

namespace simcard {

constexpr int kSockets = 4;
constexpr int kChannels = 8;
constexpr int kOperations = 12;

// The twelve operations, in export order; an operation is referred to by its index.
enum Operation : int {
    OpGetVersion, OpCreate, OpClose, OpGetResource, OpSetMode, OpStartSampling,
    OpStopSampling, OpGetSamplingStatus, OpGetData, OpOutPort, OpInPort, OpGetLastError,
};
const char* operationName(int op);
int operationIndex(const std::string& name);  // -1 when unknown

enum class SignalKind { Dc, Sine, Square, Triangle, Ramp, Noise, Scan, Codes };

// One analog channel's generator. Voltages and frequencies in V and Hz, phase in
// degrees; Scan and Codes produce raw codes instead of voltages: 12-bit codes, or
// 16-bit ones with bits=16 (a source whose words use the upper bits as well).
struct SignalSpec {
    SignalKind kind = SignalKind::Dc;
    double amplitude = 0.0;
    double offset = 0.0;
    double frequency = 0.0;
    double phase = 0.0;
    double duty = 0.5;
    uint64_t seed = 1;
    int64_t start = 0;               // Scan: code of scan 0
    int64_t step = 1;                // Scan: increase per scan
    std::vector<uint16_t> codes;     // Codes: repeating raw codes, one per scan
    uint32_t codeSpan = 4096;        // Scan, Codes: codes lie in 0 .. codeSpan-1 (bits=12 or 16)
};

enum class InputKind { Fixed, Counter, Pattern, Loopback };

// The digital input port's generator.
struct InputSpec {
    InputKind kind = InputKind::Counter;
    uint8_t value = 0;               // Fixed: the byte; Counter: the first byte
    std::vector<uint8_t> pattern;    // Pattern: repeating bytes
};

struct CardConfig {
    bool present = false;
    uint32_t ioAddress = 0x300;
    uint32_t ioLength = 16;
    bool virtualClock = false;
    SignalSpec channels[kChannels];
    InputSpec input;
    // socket_cell: what Tk17Create writes back into the caller's socket cell. The card
    // is then served under the cell's low 16 bits instead of its section number.
    bool hasSocketCell = false;
    uint32_t socketCell = 0;
    int socketCellLine = 0;  // the line of the key, for a clash found at the end
    // clock = stepped (virtualClock is set as well): conversions follow card time that
    // only the status polls (pollMicros each) and SimAdvanceClock move on.
    bool steppedClock = false;
    uint32_t pollMicros = 1000;
    uint32_t statusBits = 0;      // ORed into every status word the card reports
    uint32_t portHoldMicros = 0;  // each Tk17InPort / Tk17OutPort takes this long
};

// The socket a configured card is served under: its section number, or the low 16
// bits of its socket_cell.
inline uint16_t servedSocket(const CardConfig& card, int section)
{
    return card.hasSocketCell ? static_cast<uint16_t>(card.socketCell & 0xFFFF) : static_cast<uint16_t>(section);
}

// The card keys of the timing and status group (poll_time_us, status_bits,
// port_hold_us): 1 when `key` is one of them and its value was taken, 0 with
// `problem` set when the value is wrong, -1 for another key.
int parseCardTimingKey(const std::string& key, const std::string& value, CardConfig& card, std::string& problem);

// What a trigger does once its operation has been called often enough on its socket.
enum class TriggerAction { Fail, Pull, Overrun, Overflow };

// Fail: every call from the fromCall-th on fails with errorCode (only `failCount`
// calls when that is not 0). The other actions happen once, just before the
// fromCall-th call runs.
struct TriggerSpec {
    TriggerAction action = TriggerAction::Fail;
    int op = OpGetVersion;
    uint16_t socket = 0;
    uint32_t fromCall = 1;
    uint32_t failCount = 0;  // 0: every call from fromCall on
    int32_t errorCode = 0;
};

// The [driver] section: what the driver as a whole answers.
struct DriverConfig {
    // What each operation returns when it succeeds (1 unless configured). Only the
    // operations whose result says success or failure have one: not Tk17GetVersion
    // (the version) nor Tk17GetLastError (an error code).
    int32_t success[kOperations] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
};

struct Config {
    CardConfig cards[kSockets];
    std::vector<TriggerSpec> triggers;
    DriverConfig driver;
};

// Whether `op` has a configurable success value.
bool hasSuccessValue(int op);

// One key = value line of the [driver] section ("success Tk17SetMode = 2").
bool parseDriverKey(const std::string& key, const std::string& value, DriverConfig& driver, std::string& error);

// A card's socket_cell value: a 32-bit number whose low 16 bits name a socket 0..3.
bool parseSocketCell(const std::string& value, uint32_t& cell, std::string& error);

// The sockets of a whole configuration: no two cards may be served under one socket.
// On a clash `error` names it and `line` the socket_cell line that made it.
bool checkServedSockets(const Config& config, std::string& error, int& line);

// The configuration used when no configuration is given at all.
Config defaultConfig();

// Parse a whole configuration text. On failure `error` names the line and the problem
// ("line 3: ..."), `errorLine` (when given) receives the line, and `out` is left
// unchanged. The text is ASCII or UTF-8: UTF-16 and NUL bytes are refused.
bool parseConfig(const std::string& text, Config& out, std::string& error, int* errorLine = nullptr);

// Helpers of the parser: a quoted text cut to its first 40 characters and "...", and a
// whole number in C notation (decimal, or hexadecimal with 0x; optional sign).
std::string clip(const std::string& s);
bool parseInteger(const std::string& s, int64_t& out);

// Parse one generator in the syntax of an "aiN" or a "din" value.
bool parseSignal(const std::string& text, SignalSpec& out, std::string& error);
bool parseInput(const std::string& text, InputSpec& out, std::string& error);

}  // namespace simcard
