#include "simcard/sim_config.h"

#include "velk/common/strings.h"

#include <ctype.h>
#include <algorithm>
#include <string.h>

namespace simcard {

namespace {

const char* const kOperationNames[kOperations] = {
    "Tk17GetVersion", "Tk17Create", "Tk17Close", "Tk17GetResource", "Tk17SetMode",
    "Tk17StartSampling", "Tk17StopSampling", "Tk17GetSamplingStatus", "Tk17GetData",
    "Tk17OutPort", "Tk17InPort", "Tk17GetLastError",
};

// The configuration is UTF-8 text: lowering ASCII letters leaves its characters whole.
using velk::lowerAscii;
using velk::trim;

std::vector<std::string> words(const std::string& s)
{
    std::vector<std::string> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && isspace(static_cast<unsigned char>(s[i]))) ++i;
        size_t b = i;
        while (i < s.size() && !isspace(static_cast<unsigned char>(s[i]))) ++i;
        if (i > b) out.push_back(s.substr(b, i - b));
    }
    return out;
}

// Byte in hexadecimal, with or without 0x: "0A", "0x0a", "ff".
bool parseHexByte(const std::string& s, uint8_t& out)
{
    std::string_view digits = s;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits.remove_prefix(2);
    uint64_t v;
    if (digits.size() > 2 || !velk::parseDigits(digits, v, 16)) return false;
    out = static_cast<uint8_t>(v);
    return true;
}

bool parseSignalKind(const std::string& name, SignalKind& kind)
{
    static const struct { const char* name; SignalKind kind; } kinds[] = {
        {"dc", SignalKind::Dc}, {"sine", SignalKind::Sine}, {"square", SignalKind::Square},
        {"triangle", SignalKind::Triangle}, {"ramp", SignalKind::Ramp},
        {"noise", SignalKind::Noise}, {"scan", SignalKind::Scan}, {"codes", SignalKind::Codes},
    };
    for (const auto& k : kinds) {
        if (name == k.name) {
            kind = k.kind;
            return true;
        }
    }
    return false;
}

bool parseCode(const std::string& s, uint32_t span, uint16_t& out)
{
    int64_t v;
    if (!parseInteger(s, v) || v < 0 || v >= static_cast<int64_t>(span)) return false;
    out = static_cast<uint16_t>(v);
    return true;
}

// "bits=12" or "bits=16" of a scan or a code list: the span of its codes; 0 otherwise.
uint32_t codeSpanOf(const std::string& word)
{
    const std::string w = lowerAscii(word);
    return w == "bits=12" ? 4096u : w == "bits=16" ? 65536u : 0u;
}

}  // namespace

// Text of the configuration quoted in a message: a long one by its first 40
// characters and "...", cut before a UTF-8 lead byte, never inside a character.
std::string clip(const std::string& s)
{
    const size_t most = 40;
    if (s.size() <= most) return s;
    size_t cut = most;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
    return s.substr(0, cut) + "...";
}

// Integer in C notation: decimal, or hexadecimal with 0x. Optional sign. At most
// 0x7FFFFFFFFFFF either way, far beyond any value a key takes.
bool parseInteger(const std::string& s, int64_t& out)
{
    std::string_view digits = s;
    const bool negative = !digits.empty() && digits[0] == '-';
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
    int base = 10;
    if (digits.size() > 1 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    uint64_t value;
    if (!velk::parseDigits(digits, value, base) || value > 0x7FFFFFFFFFFFull) return false;
    out = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
    return true;
}

const char* operationName(int op)
{
    return op >= 0 && op < kOperations ? kOperationNames[op] : "?";
}

int operationIndex(const std::string& name)
{
    for (int i = 0; i < kOperations; ++i)
        if (name == kOperationNames[i]) return i;
    return -1;
}

bool parseSignal(const std::string& text, SignalSpec& out, std::string& error)
{
    std::vector<std::string> w = words(text);
    if (w.empty()) {
        error = "missing signal kind";
        return false;
    }
    SignalSpec gen;
    if (!parseSignalKind(lowerAscii(w[0]), gen.kind)) {
        error = "unknown signal kind '" + clip(w[0]) + "' (dc, sine, square, triangle, ramp, noise, scan, codes)";
        return false;
    }
    // A scan or a code list may name its code width anywhere among its words.
    if (gen.kind == SignalKind::Scan || gen.kind == SignalKind::Codes) {
        for (size_t i = 1; i < w.size(); ++i) {
            if (codeSpanOf(w[i])) gen.codeSpan = codeSpanOf(w[i]);
            else if (lowerAscii(w[i]).compare(0, 5, "bits=") == 0) {
                error = "bits is 12 or 16, found '" + clip(w[i]) + "'";
                return false;
            }
        }
    }
    for (size_t i = 1; i < w.size(); ++i) {
        size_t eq = w[i].find('=');
        if ((gen.kind == SignalKind::Scan || gen.kind == SignalKind::Codes) && codeSpanOf(w[i])) continue;
        if (gen.kind == SignalKind::Codes) {
            uint16_t code;
            if (eq != std::string::npos || !parseCode(w[i], gen.codeSpan, code)) {
                error = "'" + clip(w[i]) + "' is not a code 0.." + std::to_string(gen.codeSpan - 1);
                return false;
            }
            gen.codes.push_back(code);
            continue;
        }
        if (eq == std::string::npos) {
            error = "expected name=value, found '" + clip(w[i]) + "'";
            return false;
        }
        std::string name = lowerAscii(w[i].substr(0, eq));
        std::string value = w[i].substr(eq + 1);
        bool integerParameter = gen.kind == SignalKind::Scan;
        bool known;
        if (integerParameter) {
            known = name == "start" || name == "step";
        } else {
            known = name == "offset" || (gen.kind != SignalKind::Dc &&
                    (name == "amplitude" || (gen.kind == SignalKind::Noise
                                                 ? name == "seed"
                                                 : name == "frequency" || name == "phase" ||
                                                       (gen.kind == SignalKind::Square && name == "duty"))));
        }
        if (!known) {
            error = "parameter '" + clip(name) + "' does not apply to " + lowerAscii(w[0]);
            return false;
        }
        if (integerParameter || name == "seed") {
            int64_t v;
            if (!parseInteger(value, v) || (name == "seed" && v < 0)) {
                error = "'" + clip(value) + "' is not a whole number (" + name + ")";
                return false;
            }
            if (name == "start") gen.start = v;
            else if (name == "step") gen.step = v;
            else gen.seed = static_cast<uint64_t>(v);
            continue;
        }
        double v;
        if (!velk::parseNumber(value, v)) {  // C notation whatever the locale
            error = "'" + clip(value) + "' is not a number (" + name + ")";
            return false;
        }
        if (name == "offset") gen.offset = v;
        else if (name == "amplitude") gen.amplitude = v;
        else if (name == "frequency") {
            if (v < 0) {
                error = "frequency must not be negative";
                return false;
            }
            gen.frequency = v;
        } else if (name == "phase") gen.phase = v;
        else {
            if (v < 0 || v > 1) {
                error = "duty must lie between 0 and 1";
                return false;
            }
            gen.duty = v;
        }
    }
    if (gen.kind == SignalKind::Codes && gen.codes.empty()) {
        error = "codes needs at least one code";
        return false;
    }
    out = gen;
    return true;
}

bool parseInput(const std::string& text, InputSpec& out, std::string& error)
{
    std::vector<std::string> w = words(text);
    if (w.empty()) {
        error = "missing input kind";
        return false;
    }
    InputSpec gen;
    std::string kind = lowerAscii(w[0]);
    if (kind == "fixed") {
        gen.kind = InputKind::Fixed;
        if (w.size() != 2 || !parseHexByte(w[1], gen.value)) {
            error = "fixed needs one hexadecimal byte, e.g. fixed 0A";
            return false;
        }
    } else if (kind == "counter") {
        gen.kind = InputKind::Counter;
        for (size_t i = 1; i < w.size(); ++i) {
            std::string p = lowerAscii(w[i]);
            if (p.compare(0, 6, "start=") != 0 || !parseHexByte(p.substr(6), gen.value)) {
                error = "counter takes only start=<hexadecimal byte>, found '" + clip(w[i]) + "'";
                return false;
            }
        }
    } else if (kind == "pattern") {
        gen.kind = InputKind::Pattern;
        for (size_t i = 1; i < w.size(); ++i) {
            uint8_t b;
            if (!parseHexByte(w[i], b)) {
                error = "'" + clip(w[i]) + "' is not a hexadecimal byte";
                return false;
            }
            gen.pattern.push_back(b);
        }
        if (gen.pattern.empty()) {
            error = "pattern needs at least one byte";
            return false;
        }
    } else if (kind == "loopback") {
        gen.kind = InputKind::Loopback;
        if (w.size() != 1) {
            error = "loopback takes no parameters";
            return false;
        }
    } else {
        error = "unknown input kind '" + clip(w[0]) + "' (fixed, counter, pattern, loopback)";
        return false;
    }
    out = gen;
    return true;
}

namespace {

// "socket 0 from 10 error 7", "socket 0 from 10 for 3 error 7" or "socket 0 at Tk17GetData 5".
// The keys pull, overrun and overflow are not case-sensitive; an operation name is.
bool parseTrigger(const std::string& key, const std::string& value, TriggerSpec& t, std::string& error)
{
    std::vector<std::string> w = words(value);
    const std::string event = lowerAscii(key);
    bool fail = event != "pull" && event != "overrun" && event != "overflow";
    if (fail) {
        t.action = TriggerAction::Fail;
        t.op = operationIndex(key);
        t.errorCode = 100;  // TK17SIM_ERR_INJECTED
        if (t.op < 0) {
            error = "unknown operation '" + clip(key) + "' (an operation name, pull, overrun or overflow)";
            return false;
        }
    } else {
        t.action = event == "pull" ? TriggerAction::Pull
                 : event == "overrun" ? TriggerAction::Overrun : TriggerAction::Overflow;
        t.op = -1;
    }
    for (size_t i = 0; i < w.size(); i += 2) {
        std::string word = lowerAscii(w[i]);
        if (i + 1 >= w.size()) {
            error = "'" + clip(w[i]) + "' needs a value";
            return false;
        }
        int64_t v;
        if (word == "at" && !fail) {
            t.op = operationIndex(w[i + 1]);
            if (t.op < 0 || i + 2 >= w.size() || !parseInteger(w[i + 2], v) || v < 1 || v > 0xFFFFFFFF) {
                error = "expected 'at <operation> <call number>'";
                return false;
            }
            t.fromCall = static_cast<uint32_t>(v);
            ++i;
            continue;
        }
        if (!parseInteger(w[i + 1], v)) {
            error = "'" + clip(w[i + 1]) + "' is not a whole number";
            return false;
        }
        if (word == "socket") {
            if (v < 0 || v >= kSockets) {
                error = "socket must be 0..3";
                return false;
            }
            t.socket = static_cast<uint16_t>(v);
        } else if (word == "from" && fail) {
            if (v < 1 || v > 0xFFFFFFFF) {
                error = "from counts calls from 1";
                return false;
            }
            t.fromCall = static_cast<uint32_t>(v);
        } else if (word == "for" && fail) {
            if (v < 1 || v > 0xFFFFFFFF) {
                error = "for counts the failing calls, at least 1";
                return false;
            }
            t.failCount = static_cast<uint32_t>(v);
        } else if (word == "error" && fail) {
            if (v < INT32_MIN || v > INT32_MAX) {
                error = "error code out of range";
                return false;
            }
            t.errorCode = static_cast<int32_t>(v);
        } else {
            error = fail ? "expected socket, from, for or error, found '" + clip(w[i]) + "'"
                         : "expected socket or at, found '" + clip(w[i]) + "'";
            return false;
        }
    }
    if (!fail && t.op < 0) {
        error = event + " needs 'at <operation> <call number>'";
        return false;
    }
    return true;
}

}  // namespace

Config defaultConfig()
{
    Config c;
    CardConfig& card = c.cards[0];
    card.present = true;
    std::string ignored;
    const char* signals[kChannels] = {
        "sine amplitude=5 frequency=10",
        "square amplitude=2 offset=1 frequency=5",
        "triangle amplitude=4 frequency=2",
        "ramp amplitude=3 frequency=1",
        "dc offset=1.25",
        "dc offset=-2.5",
        "noise amplitude=0.5",
        "sine amplitude=1 offset=-1 frequency=50",
    };
    for (int ch = 0; ch < kChannels; ++ch) parseSignal(signals[ch], card.channels[ch], ignored);
    card.input.kind = InputKind::Counter;
    return c;
}

bool parseConfig(const std::string& text, Config& out, std::string& error, int* errorLine)
{
    Config c;
    enum { None, Card, Fault, Driver } section = None;
    int card = -1;
    size_t pos = 0;
    int lineNumber = 0;
    auto fail = [&](const std::string& message) {
        error = "line " + std::to_string(lineNumber) + ": " + message;
        if (errorLine) *errorLine = lineNumber;
        return false;
    };
    // UTF-16 text would read as a key with a NUL after every letter: say what it is.
    if (text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0) {
        lineNumber = 1;
        return fail("the text is UTF-16; the configuration is read as ASCII or UTF-8 (save it as UTF-8)");
    }
    // A line ends with LF, CRLF or a CR alone (as older editors save).
    while (pos < text.size()) {
        const size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
        std::string line = text.substr(pos, end - pos);
        pos = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        ++lineNumber;
        if (line.find('\0') != std::string::npos)
            return fail("a NUL byte; the configuration is ASCII or UTF-8 text (UTF-16 is not read)");
        size_t comment = line.find_first_of(";#");
        if (comment != std::string::npos) line = line.substr(0, comment);
        line = trim(line);
        if (line.empty()) continue;

        if (line[0] == '[') {
            if (line.back() != ']') return fail("section header without ']'");
            std::vector<std::string> w = words(lowerAscii(line.substr(1, line.size() - 2)));
            if (w.size() == 2 && w[0] == "card") {
                int64_t n;
                if (!parseInteger(w[1], n) || n < 0 || n >= kSockets)
                    return fail("card socket must be 0..3");
                card = static_cast<int>(n);
                if (c.cards[card].present) return fail("card " + std::to_string(card) + " is configured twice");
                c.cards[card].present = true;
                section = Card;
            } else if (w.size() == 1 && w[0] == "fault") {
                section = Fault;
            } else if (w.size() == 1 && w[0] == "driver") {
                section = Driver;
            } else {
                return fail("unknown section " + clip(line) + " (expected [card N], [fault] or [driver])");
            }
            continue;
        }

        size_t eq = line.find('=');
        if (eq == std::string::npos) return fail("expected key = value");
        std::string key = trim(line.substr(0, eq));
        std::string value = trim(line.substr(eq + 1));
        if (section == None) return fail("'" + clip(key) + "' outside a section");

        if (section == Fault) {
            TriggerSpec t;
            std::string problem;
            if (!parseTrigger(key, value, t, problem)) return fail(problem);
            c.triggers.push_back(t);
            continue;
        }

        if (section == Driver) {
            std::string problem;
            if (!parseDriverKey(key, value, c.driver, problem)) return fail(problem);
            continue;
        }

        CardConfig& cc = c.cards[card];
        std::string k = lowerAscii(key);
        std::string problem;
        if (k == "io_address" || k == "io_length") {
            int64_t v;
            if (!parseInteger(value, v) || v < 0 || v > 0xFFFFFFFF)
                return fail("'" + clip(value) + "' is not a 32-bit unsigned number");
            (k == "io_address" ? cc.ioAddress : cc.ioLength) = static_cast<uint32_t>(v);
        } else if (k == "clock") {
            std::string v = lowerAscii(value);
            cc.virtualClock = v == "virtual" || v == "stepped";
            cc.steppedClock = v == "stepped";
            if (v != "real" && v != "virtual" && v != "stepped") return fail("clock is real, virtual or stepped");
        } else if (k.size() == 3 && k[0] == 'a' && k[1] == 'i' && k[2] >= '0' && k[2] < '0' + kChannels) {
            if (!parseSignal(value, cc.channels[k[2] - '0'], problem)) return fail(clip(key) + ": " + problem);
        } else if (k == "din") {
            if (!parseInput(value, cc.input, problem)) return fail("din: " + problem);
        } else if (k == "socket_cell") {
            if (!parseSocketCell(value, cc.socketCell, problem)) return fail(problem);
            cc.hasSocketCell = true;
            cc.socketCellLine = lineNumber;
        } else {
            const int timing = parseCardTimingKey(k, value, cc, problem);
            if (timing == 0) return fail(problem);
            if (timing < 0)
                return fail("unknown key '" + clip(key) +
                            "' (io_address, io_length, clock, ai0..ai7, din, socket_cell, poll_time_us, status_bits, port_hold_us)");
        }
    }
    std::string clash;
    if (!checkServedSockets(c, clash, lineNumber)) return fail(clash);
    out = c;
    return true;
}

}  // namespace simcard
