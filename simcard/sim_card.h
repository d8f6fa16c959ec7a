// One simulated VYT-TK17 card: its open state, sampling time line, buffer and ports.
// Not locked itself; the driver calls it under its single lock.
#pragma once

#include "abi/tk17_abi.h"
#include "simcard/sim_config.h"
#include "simcard/sim_signal.h"

#include <stdint.h>

namespace simcard {

// Time in ticks of the performance counter, with its frequency.
struct Clock {
    int64_t now = 0;
    int64_t frequency = 1;
};

class Card {
public:
    // Back to the configured, closed, idle state.
    void reset(const CardConfig& config);

    CardConfig config;
    bool present = false;   // configured and not pulled
    bool removed = false;   // pulled out (SimPullCard or a pull trigger)
    bool open = false;
    HWND window = nullptr;
    uint32_t message = TK17_MSG_CARD_REMOVED;
    uint32_t posted = 0;    // notifications posted to the card's window since the configuration
    int64_t openTicks = 0;
    int32_t lastError = 0;
    uint16_t socket = 0;    // the socket the card is served under (its section number unless remapped)

    bool modeSet = false;
    Tk17Mode mode{};
    bool sampling = false;
    uint32_t status = 0;

    // Virtual clock: samples the status reports and a read may take
    // (TK17SIM_UNLIMITED: always enough), and how many each status poll adds.
    uint32_t available = 0xFFFFFFFFu;
    uint32_t pollStep = 0;
    // Stepped clock: card time each status poll adds.
    uint32_t pollMicros = 0;
    // Bits ORed into every status word reported, and how long a port call takes.
    uint32_t statusBits = 0;
    uint32_t portHoldMicros = 0;

    // The virtual clock's plain count (no card time): the count is `available`.
    bool countsOnly() const { return config.virtualClock && !config.steppedClock; }
    // Stepped clock: the card time since the start, as a clock in microseconds.
    Clock cardTime() const { return Clock{static_cast<int64_t>(cardMicros_), 1000000}; }
    // Stepped clock: card time moves on by `micros` while sampling.
    void advance(uint64_t micros);
    // The status word the card reports.
    uint32_t statusWord() const { return status | statusBits; }

    InputPort input;
    uint8_t lastOutput = 0;

    // The latest Tk17SetMode call that reached the card: the address it was given and
    // the record's bytes as they stood at the call (zero for a null address).
    uint32_t modeCalls = 0;
    uint64_t modeAddress = 0;
    uint8_t modeBytes[sizeof(Tk17Mode)] = {};

    // Sampling. `startSampling` restarts the time line at conversion 0.
    void startSampling(const Clock& clock);
    void stopSampling();
    // Conversions made since the start by `clock` (real clock; 0 otherwise).
    uint64_t converted(const Clock& clock) const;
    // Brings the real-clock buffer up to `converted`; true when it overflowed just
    // now (the caller then posts the overflow notification).
    bool update(const Clock& clock, uint64_t converted);
    bool update(const Clock& clock) { return update(clock, converted(clock)); }
    // Samples converted and not yet read (real clock), or the virtual count.
    uint64_t ready(uint64_t converted) const;
    uint64_t ready(const Clock& clock) const { return ready(converted(clock)); }
    // Delivers the next `count` conversions of the time line.
    void read(uint16_t* buffer, uint32_t count);
    // Forces the overflow state now (status bit, data beyond what is buffered lost).
    void overflow(const Clock& clock);

    uint64_t position() const { return readIndex_; }
    uint64_t capacity() const;            // buffer size in samples
    int channelCount() const { return mode.lastChannel - mode.firstChannel + 1; }
    // Code of conversion `index` of the current run.
    uint16_t conversion(uint64_t index) const;
    // Tk17Create: the output log's times count from now.
    void markOpened(const Clock& clock);
    // Microseconds since the card was opened.
    uint64_t microsSinceOpen(const Clock& clock) const;
    // The output log's time of a write made now: microseconds since the opening,
    // never less than the card's previous write since then (so the card's entries
    // are in time order whatever the performance counter does between processors).
    uint64_t writeStamp(const Clock& clock);

private:
    uint64_t convertedBy(const Clock& clock) const;

    int64_t startTicks_ = 0;
    uint64_t cardMicros_ = 0;  // stepped clock: card time since the start
    uint64_t lastWriteMicros_ = 0;
    uint64_t readIndex_ = 0;
    bool overflowed_ = false;
    uint64_t frozenEnd_ = 0;  // after an overflow: no conversion at or past this index is kept
};

}  // namespace simcard
