// The raw-code conversion: every 16-bit code of both ranges gives, in single
// precision, exactly the float of the double formula, on the contiguous path and
// the strided one, for every count (whole vectors and every tail).
#include <gtest/gtest.h>

#include "extension/analog/conversion.h"

#include <string.h>

#include <vector>

namespace {

uint32_t Bits(float f) {
    uint32_t b;
    memcpy(&b, &f, sizeof b);
    return b;
}

TEST(Conversion, EveryCodeOfBothRangesMatchesTheDoubleFormulaBitForBit) {
    std::vector<uint16_t> codes(65536);
    for (uint32_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<uint16_t>(i);
    std::vector<float> out(codes.size());
    for (int32_t range : {0, 1, 7}) {
        ConvertCodes(codes.data(), 1, static_cast<uint32_t>(codes.size()), range, out.data());
        for (uint32_t i = 0; i < codes.size(); ++i)
            ASSERT_EQ(Bits(out[i]), Bits(static_cast<float>(RawToVolts(codes[i], range)))) << "code " << i << " range " << range;
    }
    EXPECT_EQ(out[0], -5.0f);
    EXPECT_EQ(out[2048], 0.0f);
}

// Codes laid out as the card interleaves them: channel c of scan k at k * stride + c.
TEST(Conversion, StridedAndContiguousReadTheSameCodesForEveryCount) {
    for (uint32_t stride : {1u, 2u, 3u, 8u, 50u, 400u}) {
        for (uint32_t count = 0; count <= 37; ++count) {
            const uint32_t channel = stride > 1 ? 1 : 0;
            std::vector<uint16_t> buffer(static_cast<size_t>(stride) * (count + 1) + 8, 0xFFFF);
            for (uint32_t k = 0; k < count; ++k) buffer[k * stride + channel] = static_cast<uint16_t>((k * 977 + 13) % 4096);
            std::vector<float> out(count + 4, 123.0f);
            ConvertCodes(buffer.data() + channel, stride, count, 0, out.data());
            for (uint32_t k = 0; k < count; ++k)
                ASSERT_EQ(out[k], static_cast<float>(RawToVolts(buffer[k * stride + channel], 0)))
                    << "stride " << stride << " count " << count << " sample " << k;
            for (uint32_t k = count; k < count + 4; ++k) ASSERT_EQ(out[k], 123.0f) << "written past the block";
        }
    }
}

}  // namespace
