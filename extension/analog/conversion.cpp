#include "extension/analog/conversion.h"

#include <emmintrin.h>

namespace {

struct Scale {
    float perCode;
    float offset;
};

Scale ScaleOf(int32_t range) {
    const float span = range == 0 ? 20.0f : 10.0f;
    return Scale{span / 4096.0f, span / 2.0f};
}

// Eight contiguous codes at a time: widened to 32 bits, converted, scaled.
void ConvertContiguous(const uint16_t* source, uint32_t count, Scale s, float* out) {
    const __m128 perCode = _mm_set1_ps(s.perCode);
    const __m128 offset = _mm_set1_ps(s.offset);
    const __m128i zero = _mm_setzero_si128();
    uint32_t j = 0;
    for (; j + 8 <= count; j += 8) {
        const __m128i codes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + j));
        const __m128 low = _mm_cvtepi32_ps(_mm_unpacklo_epi16(codes, zero));
        const __m128 high = _mm_cvtepi32_ps(_mm_unpackhi_epi16(codes, zero));
        _mm_storeu_ps(out + j, _mm_sub_ps(_mm_mul_ps(low, perCode), offset));
        _mm_storeu_ps(out + j + 4, _mm_sub_ps(_mm_mul_ps(high, perCode), offset));
    }
    for (; j < count; ++j) out[j] = static_cast<float>(source[j]) * s.perCode - s.offset;
}

// Eight codes a stride apart at a time: gathered into one vector of 16-bit codes,
// then widened, converted and scaled like the contiguous ones.
void ConvertStrided(const uint16_t* source, uint32_t stride, uint32_t count, Scale s, float* out) {
    const __m128 perCode = _mm_set1_ps(s.perCode);
    const __m128 offset = _mm_set1_ps(s.offset);
    const __m128i zero = _mm_setzero_si128();
    const uint16_t* p = source;
    const size_t step = stride;
    uint32_t j = 0;
    for (; j + 8 <= count; j += 8, p += 8 * step) {
        __m128i codes = _mm_cvtsi32_si128(p[0]);
        codes = _mm_insert_epi16(codes, p[step], 1);
        codes = _mm_insert_epi16(codes, p[2 * step], 2);
        codes = _mm_insert_epi16(codes, p[3 * step], 3);
        codes = _mm_insert_epi16(codes, p[4 * step], 4);
        codes = _mm_insert_epi16(codes, p[5 * step], 5);
        codes = _mm_insert_epi16(codes, p[6 * step], 6);
        codes = _mm_insert_epi16(codes, p[7 * step], 7);
        const __m128 low = _mm_cvtepi32_ps(_mm_unpacklo_epi16(codes, zero));
        const __m128 high = _mm_cvtepi32_ps(_mm_unpackhi_epi16(codes, zero));
        _mm_storeu_ps(out + j, _mm_sub_ps(_mm_mul_ps(low, perCode), offset));
        _mm_storeu_ps(out + j + 4, _mm_sub_ps(_mm_mul_ps(high, perCode), offset));
    }
    for (; j < count; ++j, p += step) out[j] = static_cast<float>(*p) * s.perCode - s.offset;
}

}  // namespace

double RawToVolts(uint16_t raw, int32_t range) {
    const double span = range == 0 ? 20.0 : 10.0;
    return static_cast<double>(raw) * span / 4096.0 - span / 2.0;
}

void ConvertCodes(const uint16_t* source, uint32_t stride, uint32_t count, int32_t range, float* out) {
    const Scale s = ScaleOf(range);
    if (stride == 1)
        ConvertContiguous(source, count, s, out);
    else
        ConvertStrided(source, stride, count, s, out);
}
