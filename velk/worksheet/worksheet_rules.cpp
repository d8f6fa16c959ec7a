#include "velk/worksheet/worksheet_rules.h"

#include "velk/common/text.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <unordered_map>

namespace velk {

namespace {

constexpr int kSockets = 4;
constexpr uint64_t kChannelCountLimit = 0xFFFFFFFFull;  // samplesDone is 32 bits wide
const char* const kBufferNames[8] = {"64K", "128K", "256K", "512K", "1M", "2M", "4M", "8M"};
constexpr uint64_t kBufferIndexByte = 248;  // where the analog module's area keeps its buffer size index

std::string num(double v) {
    char text[32];
    snprintf(text, sizeof text, "%g", v);
    return text;
}

// A module's name as the worksheet wrote it, a long one by its beginning.
std::string id(const std::string& name) { return clipText(name); }

bool isSource(ModuleKind kind) { return kind != ModuleKind::DigitalOut; }

bool hasSources(const Worksheet& s) {
    for (const ModuleDef& m : s.modules)
        if (isSource(m.kind)) return true;
    return false;
}

// The round-up digit of the analog rate check: the first digit after the point of
// T x 100, formatted as the extension formats it.
bool roundsUp(double t) {
    const double v = t * 100.0;
    char text[64];
    snprintf(text, sizeof text, fabs(v) <= 100000.0 ? "%.10f" : "%.10e", v);
    const char* dot = strchr(text, '.');
    if (!dot || dot == text) return false;
    const char d = dot[1];
    return d >= '5' && d <= '9';
}

class Rules {
public:
    Rules(const Worksheet& s, int& line, std::string& what) : s_(s), line_(line), what_(what) {}

    bool run() {
        return modules() && connections() && records() && pause() && cards() && counts() && analogReads() &&
               pauseReached();
    }

private:
    bool fail(int line, const std::string& what) {
        line_ = line;
        what_ = what;
        return false;
    }

    bool modules() {
        for (const ModuleDef& m : s_.modules) {
            if (!m.keyLines.count("class")) return fail(m.line, "[module " + id(m.id) + "] has no class");
            // A saved module's counts are its record's, beyond the class's maximum
            // too: the module answers for them when it starts.
            if (!m.saved && m.channels && *m.channels > maxChannelsOf(m.kind))
                return fail(m.lineOf("channels"), std::string("a ") + kindName(m.kind) + " module has at most " +
                                                      std::to_string(maxChannelsOf(m.kind)) + " channels");
            for (const char* key : {"range", "buffer"})
                if (m.kind != ModuleKind::AnalogIn && m.keyLines.count(key))
                    return fail(m.lineOf(key), std::string(key) + " applies to analog_in modules only");
            for (const auto& n : m.channelNames)
                if (n.first >= m.channelCount()) {
                    const std::string key = "channel" + std::to_string(n.first);
                    return fail(m.lineOf(key), key + " names a channel beyond channels = " +
                                                   std::to_string(m.channelCount()));
                }
        }
        return true;
    }

    bool connections() {
        std::map<std::pair<std::string, uint32_t>, const ConnectionDef*> fed;
        for (const ConnectionDef& c : s_.connections) {
            const ModuleDef* from = module(c.from);
            const ModuleDef* to = module(c.to);
            if (!from) return fail(c.line, "no module '" + id(c.from) + "'");
            if (!to) return fail(c.line, "no module '" + id(c.to) + "'");
            if (from->kind == ModuleKind::DigitalOut)
                return fail(c.line, "'" + id(c.from) + "' has no output channels");
            if (to->kind != ModuleKind::DigitalOut) return fail(c.line, "'" + id(c.to) + "' has no input channels");
            if (c.output >= from->channelCount())
                return fail(c.line, "'" + id(c.from) + "' has no output channel " + std::to_string(c.output));
            if (c.input >= to->channelCount())
                return fail(c.line, "'" + id(c.to) + "' has no input channel " + std::to_string(c.input));
            // Two sources into one input would interleave their blocks in one queue.
            auto it = fed.emplace(std::make_pair(c.to, c.input), &c);
            if (!it.second) {
                const ConnectionDef& first = *it.first->second;
                return fail(c.line, id(c.to) + "." + std::to_string(c.input) + " is already fed by " +
                                        id(first.from) + "." + std::to_string(first.output) + " (line " +
                                        std::to_string(first.line) + "); an input channel takes one connection");
            }
        }
        return true;
    }

    bool records() {
        for (const RecordDef& rec : s_.records) {
            const ModuleDef* m = module(rec.module);
            if (!m) return fail(rec.line, "no module '" + id(rec.module) + "' to record");
            if (m->kind == ModuleKind::DigitalOut)
                return fail(rec.line, "'" + id(rec.module) + "' has no output channels to record");
            if (rec.file.empty()) return fail(rec.line, "[record " + id(rec.module) + "] has no file");
        }
        return true;
    }

    bool pause() {
        if (s_.pauseAtS && *s_.pauseAtS >= s_.durationS)
            return fail(s_.lineOf("pause_at_s"), "pause_at_s lies beyond duration_s");
        return true;
    }

    // Each card serves one module of each class: at most four modules of a class,
    // never two of a class on one socket.
    bool cards() {
        // Said at the end of the text, where a module would be added.
        if (s_.modules.empty())
            return fail(std::max(s_.lineCount, 1), "the worksheet defines no [module]; there is nothing to run");
        std::map<std::pair<ModuleKind, int>, const ModuleDef*> onSocket;
        std::map<ModuleKind, int> count;
        for (const ModuleDef& m : s_.modules) {
            if (++count[m.kind] > kSockets)
                return fail(m.line, std::string("a fifth ") + kindName(m.kind) +
                                        " module: each of the 4 card sockets serves one module of a class");
            if (!m.socket) continue;
            auto it = onSocket.emplace(std::make_pair(m.kind, *m.socket), &m);
            if (!it.second)
                return fail(m.lineOf("socket"), "socket " + std::to_string(*m.socket) + " already serves " +
                                                    kindName(m.kind) + " module '" + id(it.first->second->id) +
                                                    "' (line " + std::to_string(it.first->second->line) +
                                                    "); a card serves one module of each class");
        }
        return true;
    }

    // The channel state record counts a channel's samples in 32 bits, and block time
    // stamps are that count times the sample distance: past 2^32 they start again at 0.
    bool counts() {
        if (!hasSources(s_)) return true;
        const double samples = static_cast<double>(blocksNeeded(s_)) * s_.blockSize;
        if (samples <= static_cast<double>(kChannelCountLimit)) return true;
        const double most = floor(static_cast<double>(kChannelCountLimit / s_.blockSize) * blockSeconds(s_));
        char count[32];
        snprintf(count, sizeof count, "%.0f", samples);
        return fail(s_.lineOf("duration_s"),
                    "duration_s = " + num(s_.durationS) + " needs " + count +
                        " samples per channel (whole blocks of " + std::to_string(s_.blockSize) + " at " +
                        num(s_.periodMs) + " ms), more than a channel counts in 32 bits (its time stamps would "
                        "wrap at 4294967296 samples): at most " + num(most) + " s at this period and block size");
    }

    // One analog read larger than the driver buffer can never be ready: the card
    // overflows first (after waiting inside one processing call for as long as the
    // buffer takes to fill). The check holds on the virtual clock too, so that a
    // worksheet that runs here also runs on the real clock.
    bool analogReads() {
        for (const ModuleDef& m : s_.modules) {
            if (m.kind != ModuleKind::AnalogIn) continue;
            // A saved count the module refuses at start is left to its own message.
            if (m.channelCount() == 0 || m.channelCount() > maxChannelsOf(m.kind)) continue;
            const AnalogRead r = analogReadOf(s_, m);
            if (r.refused || r.samplesPerRead * 2 <= r.bufferBytes) continue;
            const uint64_t bytes = r.samplesPerRead * 2;
            int fits = -1;  // the smallest buffer that holds the read
            for (int i = 7; i >= 0; --i)
                if ((65536ull << i) >= bytes) fits = i;
            const int bufferIndex = m.bufferIndex.value_or(2);
            std::string advice = "choose a smaller block_size";
            int line = m.keyLines.count("buffer") ? m.lineOf("buffer") : m.line;
            std::string buffer = std::string("its driver buffer of ") + kBufferNames[bufferIndex];
            if (m.saved) {
                // A saved module keeps its buffer size in its area, where no buffer
                // key can reach it: the advice names the byte that holds it.
                line = savedBufferLine(m);
                buffer = std::string("the driver buffer of ") + kBufferNames[bufferIndex] +
                         " that its saved area holds";
                if (fits >= 0)
                    advice += ", or save the module again with a driver buffer of " + std::string(kBufferNames[fits]) +
                              " or more (the buffer size index at byte 248 of its area, " + std::to_string(fits) +
                              " or more)";
            } else if (fits >= 0) {
                advice = std::string("choose buffer = ") + kBufferNames[fits] + " or more, or a smaller block_size";
            }
            return fail(line, "module " + id(m.id) + ": one read of the card is " + std::to_string(m.channelCount()) +
                                  " channels x " + std::to_string(s_.blockSize) + " samples x decimation " +
                                  std::to_string(r.decimation) + " x 2 bytes = " + std::to_string(bytes) +
                                  " bytes, more than " + buffer + " (" + std::to_string(r.bufferBytes) +
                                  " bytes): the card would overflow before the read is ready; " + advice);
        }
        return true;
    }

    // The pause happens when the data reach pause_at_s, at the end of a block; the
    // block that gets there must not be the last one, or the run ends first.
    bool pauseReached() {
        if (!s_.pauseAtS || !hasSources(s_)) return true;
        const double block = blockSeconds(s_);
        const double at = ceil(*s_.pauseAtS / block - 1e-9);
        const uint64_t last = blocksNeeded(s_);
        if (at < static_cast<double>(last)) return true;
        return fail(s_.lineOf("pause_at_s"),
                    "pause_at_s = " + num(*s_.pauseAtS) + " is never reached: the data arrive in blocks of " +
                        num(block) + " s, and the block that reaches " + num(*s_.pauseAtS) + " s ends at " +
                        num(at * block) + " s, where the run ends (duration_s = " + num(s_.durationS) +
                        "); the last point a pause can take is " + num(static_cast<double>(last - 1) * block) + " s");
    }

    // The line of a saved module's area that holds its buffer size index (byte 248).
    static int savedBufferLine(const ModuleDef& m) {
        for (const auto& p : m.saved->pieces)
            if (p.first <= kBufferIndexByte && kBufferIndexByte < p.first + p.second.bytes.size()) return p.second.line;
        return m.line;
    }

    const ModuleDef* module(const std::string& name) {
        if (index_.empty())
            for (const ModuleDef& m : s_.modules) index_.emplace(m.id, &m);
        auto it = index_.find(name);
        return it == index_.end() ? nullptr : it->second;
    }

    const Worksheet& s_;
    int& line_;
    std::string& what_;
    std::unordered_map<std::string, const ModuleDef*> index_;
};

}  // namespace

bool checkWorksheetRules(const Worksheet& sheet, int& line, std::string& what) {
    return Rules(sheet, line, what).run();
}

double blockSeconds(const Worksheet& s) { return s.blockSize * s.periodMs * 0.001; }

uint64_t blocksNeeded(const Worksheet& s) {
    const double blocks = ceil(s.durationS / blockSeconds(s) - 1e-9);
    // Held exactly up to 2^53; beyond, the count is far past any limit anyway.
    return blocks < 1 ? 1 : blocks < 9007199254740992.0 ? static_cast<uint64_t>(blocks) : 9007199254740992ull;
}

double coveredSeconds(const Worksheet& s) { return static_cast<double>(blocksNeeded(s)) * blockSeconds(s); }

double minimumRealSeconds(const Worksheet& s) {
    for (const ModuleDef& m : s.modules)
        if (m.kind == ModuleKind::DigitalIn) return coveredSeconds(s);
    return 0.0;
}

AnalogRead analogReadOf(const Worksheet& s, const ModuleDef& m) {
    AnalogRead r;
    const uint32_t n = m.channelCount();
    const double t = s.periodMs / n;
    r.bufferBytes = 65536ull << m.bufferIndex.value_or(2);
    if ((t * 10 < 0.9999 && n > 1) || t < 0.01) {
        r.refused = true;
        return r;
    }
    const bool up = roundsUp(t);
    r.decimation = t <= 2.55 ? 1u : static_cast<uint32_t>(t * 10) + (up ? 1u : 0u);
    r.samplesPerRead = static_cast<uint64_t>(n) * s.blockSize * r.decimation;
    return r;
}

}  // namespace velk
