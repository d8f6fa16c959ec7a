// value x mul / div in 64-bit integers without losing the product's high bits,
// for turning performance-counter ticks into conversions and microseconds on
// both targets (i686 has no 128-bit integer type).
#pragma once

#include <stdint.h>

namespace simcard {

// floor(value x mul / div) for div > 0; UINT64_MAX when the quotient does not fit.
inline uint64_t MulDiv64(uint64_t value, uint64_t mul, uint64_t div)
{
    const uint64_t whole = value / div;
    const uint64_t rest = value % div;  // rest x mul / div < mul, so it always fits
    if (whole != 0 && mul > UINT64_MAX / whole) return UINT64_MAX;
    uint64_t result = whole * mul;
    uint64_t part;
    if (rest == 0 || mul <= UINT64_MAX / rest) {
        part = rest * mul / div;
    } else {
        // rest x mul needs more than 64 bits: form it as high:low halves and
        // divide by shifting and subtracting, one quotient bit at a time.
        const uint64_t r0 = rest & 0xFFFFFFFFu, r1 = rest >> 32;
        const uint64_t m0 = mul & 0xFFFFFFFFu, m1 = mul >> 32;
        const uint64_t lowLow = r0 * m0;
        const uint64_t cross1 = r1 * m0, cross2 = r0 * m1;
        const uint64_t middle = (lowLow >> 32) + (cross1 & 0xFFFFFFFFu) + (cross2 & 0xFFFFFFFFu);
        uint64_t high = r1 * m1 + (cross1 >> 32) + (cross2 >> 32) + (middle >> 32);
        uint64_t low = (middle << 32) | (lowLow & 0xFFFFFFFFu);
        part = 0;
        uint64_t remainder = 0;
        for (int bit = 127; bit >= 0; --bit) {
            const uint64_t next = bit >= 64 ? (high >> (bit - 64)) & 1 : (low >> bit) & 1;
            const bool carry = (remainder >> 63) != 0;
            remainder = (remainder << 1) | next;
            part <<= 1;
            if (carry || remainder >= div) {
                remainder -= div;
                part |= 1;
            }
        }
    }
    return part > UINT64_MAX - result ? UINT64_MAX : result + part;
}

}  // namespace simcard
