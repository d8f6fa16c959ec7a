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
}

uint64_t Card::capacity() const
{
    return mode.driverBufferSize > 0 ? static_cast<uint64_t>(mode.driverBufferSize) / 2 : 0;
}

void Card::startSampling(const Clock& clock)
{
    sampling = true;
    status = 0;
    startTicks_ = clock.now;
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

bool Card::update(const Clock& clock)
{
    if (!sampling || config.virtualClock || overflowed_) return false;
    uint64_t converted = convertedBy(clock);
    if (converted - readIndex_ <= capacity()) return false;
    overflowed_ = true;
    frozenEnd_ = readIndex_ + capacity();
    status |= TK17_STATUS_OVERFLOW;
    return true;
}

uint64_t Card::ready(const Clock& clock) const
{
    if (!sampling) return 0;
    if (config.virtualClock) return available;
    return convertedBy(clock) - readIndex_;
}

void Card::overflow(const Clock& clock)
{
    status |= TK17_STATUS_OVERFLOW;
    if (!sampling || config.virtualClock || overflowed_) return;
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

void Card::read(uint16_t* buffer, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) buffer[i] = conversion(readIndex_ + i);
    readIndex_ += count;
    if (config.virtualClock && available != 0xFFFFFFFFu) available -= count;
}

uint64_t Card::microsSinceOpen(const Clock& clock) const
{
    int64_t elapsed = clock.now - openTicks;
    if (elapsed <= 0) return 0;
    return MulDiv64(static_cast<uint64_t>(elapsed), 1000000u, static_cast<uint64_t>(clock.frequency));
}

}  // namespace simcard
