// Conversion of the card's raw codes to volts: code x span / 4096 - span / 2, with
// a span of 20 V for range 0 and 10 V otherwise. Every 16-bit code gives a value
// that single precision holds exactly (code x 5 < 2^24, scaled by a power of two,
// and the difference needs at most 19 bits), so float arithmetic gives the same
// floats as the double formula, and lends itself to SSE2.
#pragma once

#include <stdint.h>

double RawToVolts(uint16_t raw, int32_t range);

// Converts `count` codes, taken every `stride` codes from `source`, into `out`.
void ConvertCodes(const uint16_t* source, uint32_t stride, uint32_t count, int32_t range, float* out);
