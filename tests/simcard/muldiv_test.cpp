// The tick scaling of the simulated card: value x mul / div exact in 64-bit
// integers on both targets (the product may need 128 bits; i686 has no such type).
#include <gtest/gtest.h>

#include "simcard/sim_muldiv.h"

using simcard::MulDiv64;

TEST(SimcardMulDiv, ExactWhereTheProductNeedsMoreThanSixtyFourBits)
{
    // Expected values computed with arbitrary-precision integers.
    EXPECT_EQ(MulDiv64(0x8000000000003039u, 999983u, 0x4000000000000007u), 1999966u);
    EXPECT_EQ(MulDiv64(0xFFFFFFFFFFFFFFFFu, 1000000u, 10000000u), 1844674407370955161u);
    EXPECT_EQ(MulDiv64(0x0DB4DA5F7EF412B1u, 0xFFFFFFFFFFFFu, 0xFFFFFFFFFFFFF1u), 3858024695264261u);
    EXPECT_EQ(MulDiv64(123456789u, 0x800000000000000Bu, 0x8000000000000007u), 123456789u);
}

TEST(SimcardMulDiv, TicksOfTheRealClock)
{
    // 10 MHz counter, interval 3 (30 us per conversion).
    EXPECT_EQ(MulDiv64(12345678901234567u, 100000u, 30000000u), 41152263004115u);
    EXPECT_EQ(MulDiv64(29999999u, 100000u, 30000000u), 99999u) << "rounds down";
    EXPECT_EQ(MulDiv64(0u, 100000u, 30000000u), 0u);
}

TEST(SimcardMulDiv, QuotientsBeyondSixtyFourBitsSaturate)
{
    EXPECT_EQ(MulDiv64(0xFFFFFFFFFFFFFFFFu, 1u << 20, 1u << 10), UINT64_MAX);
    EXPECT_EQ(MulDiv64(0xFFFFFFFFFFFFFFFFu, 0xFFFFFFFFFFFFFFFFu, 0xFFFFFFFFFFFFFFFFu), UINT64_MAX) << "exactly the largest";
}
