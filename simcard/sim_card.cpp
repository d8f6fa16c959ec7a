#include "simcard/sim_card.h"

#include "simcard/sim_muldiv.h"

#include <algorithm>

namespace simcard {


void Card::reset(const CardConfig& cfg)
{
    *this = Card();
    config = cfg;
    present = cfg.present;
    input.configure(cfg.input);
    pollMicros = cfg.pollMicros;
    statusBits = cfg.statusBits;
    portHoldMicros = cfg.portHoldMicros;
}

void Card::advance(uint64_t micros)
{
    if (!sampling || !config.steppedClock) return;
    const uint64_t most = static_cast<uint64_t>(INT64_MAX);
    cardMicros_ = micros > most - cardMicros_ ? most : cardMicros_ + micros;
}

uint64_t Card::capacity() const
{
    return mode.driverBufferSize > 0 ? static_cast<uint64_t>(mode.driverBufferSize) / 2 : 0;
}

void Card::startSampling(const Clock& clock)
{
    sampling = true;
    status = 0;
    cardMicros_ = 0;
    startTicks_ = config.steppedClock ? 0 : clock.now;
    readIndex_ = 0;
    overflowed_ = false;
    frozenEnd_ = 0;
}

void Card::stopSampling()
{
    sampling = false;
}

uint64_t Card::convertedBy(const Clock& clock) const
{
    // One conversion every interval x 10 us.
    int64_t elapsed = clock.now - startTicks_;
    if (elapsed <= 0 || mode.interval <= 0) return 0;
    const uint64_t perInterval = static_cast<uint64_t>(clock.frequency) * static_cast<unsigned>(mode.interval);
    uint64_t converted = MulDiv64(static_cast<uint64_t>(elapsed), 100000u, perInterval);
    return overflowed_ ? std::min(converted, frozenEnd_) : converted;
}

bool Card::update(const Clock&, uint64_t converted)
{
    if (!sampling || countsOnly() || overflowed_) return false;
    if (converted - readIndex_ <= capacity()) return false;
    overflowed_ = true;
    frozenEnd_ = readIndex_ + capacity();
    status |= TK17_STATUS_OVERFLOW;
    return true;
}

uint64_t Card::ready(uint64_t converted) const
{
    if (!sampling) return 0;
    if (countsOnly()) return available;
    return (overflowed_ ? std::min(converted, frozenEnd_) : converted) - readIndex_;
}

uint64_t Card::converted(const Clock& clock) const
{
    return sampling && !countsOnly() ? convertedBy(clock) : 0;
}

void Card::overflow(const Clock& clock)
{
    status |= TK17_STATUS_OVERFLOW;
    if (!sampling || countsOnly() || overflowed_) return;
    uint64_t converted = convertedBy(clock);
    frozenEnd_ = std::min(converted, readIndex_ + capacity());
    overflowed_ = true;
}

uint16_t Card::conversion(uint64_t index) const
{
    uint64_t channels = static_cast<uint64_t>(channelCount());
    uint64_t scan = index / channels;
    int channel = mode.firstChannel + static_cast<int>(index % channels);
    double seconds = static_cast<double>(index) * mode.interval * 1e-5;
    return sampleCode(config.channels[channel], mode.range, seconds, channel, scan);
}

// The conversions of a read, one after another: the channel and scan advance with
// each conversion instead of being divided out of the index, and a DC, scan or code
// list channel takes its next code without the converter's arithmetic. Every code is
// the one conversion(index) gives.
void Card::read(uint16_t* buffer, uint32_t count)
{
    const int channels = channelCount();
    if (channels <= 0) return;
    struct Lane {
        const SignalSpec* gen;
        uint16_t constant;  // DC: its code
        bool isConstant;
    };
    Lane lanes[kChannels];
    for (int c = 0; c < channels && c < kChannels; ++c) {
        const SignalSpec& gen = config.channels[mode.firstChannel + c];
        lanes[c].gen = &gen;
        lanes[c].isConstant = gen.kind == SignalKind::Dc;
        lanes[c].constant = lanes[c].isConstant ? sampleCode(gen, mode.range, 0.0, mode.firstChannel + c, 0) : 0;
    }
    uint64_t index = readIndex_;
    uint64_t scan = index / static_cast<uint64_t>(channels);
    int lane = static_cast<int>(index % static_cast<uint64_t>(channels));
    for (uint32_t i = 0; i < count; ++i, ++index) {
        const Lane& l = lanes[lane];
        const SignalSpec& gen = *l.gen;
        uint16_t code;
        if (l.isConstant) {
            code = l.constant;
        } else if (gen.kind == SignalKind::Scan) {
            code = scanCode(gen, scan);
        } else if (gen.kind == SignalKind::Codes) {
            code = gen.codes.empty() ? 0 : gen.codes[scan % gen.codes.size()];
        } else {
            // The same expression as conversion(): seconds = index x interval x 1e-5.
            const double seconds = static_cast<double>(index) * mode.interval * 1e-5;
            code = sampleCode(gen, mode.range, seconds, mode.firstChannel + lane, scan);
        }
        buffer[i] = code;
        if (++lane == channels) {
            lane = 0;
            ++scan;
        }
    }
    readIndex_ += count;
    if (countsOnly() && available != 0xFFFFFFFFu) available -= count;
}

uint64_t Card::microsSinceOpen(const Clock& clock) const
{
    int64_t elapsed = clock.now - openTicks;
    if (elapsed <= 0) return 0;
    return MulDiv64(static_cast<uint64_t>(elapsed), 1000000u, static_cast<uint64_t>(clock.frequency));
}

void Card::markOpened(const Clock& clock)
{
    openTicks = clock.now;
    lastWriteMicros_ = 0;
}

uint64_t Card::writeStamp(const Clock& clock)
{
    lastWriteMicros_ = std::max(lastWriteMicros_, microsSinceOpen(clock));
    return lastWriteMicros_;
}

}  // namespace simcard
