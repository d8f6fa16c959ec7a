// The digital input's real-time pacing: the nominal end of the samples produced so
// far, in milliseconds modulo 2^32 like the tick count, and the comparison with
// the tick count across its wrap.
#include <gtest/gtest.h>

#include "extension/digital_in/Vyttk17DIN.h"

#include <math.h>

namespace {

TEST(Pacing, NominalEndIsTheProductTruncated) {
    EXPECT_EQ(NominalElapsedMs(10, 0.25), 2u) << "2.5 ms truncated";
    EXPECT_EQ(NominalElapsedMs(100, 1.0), 100u);
    EXPECT_EQ(NominalElapsedMs(300, 1.0), 300u);
    EXPECT_EQ(NominalElapsedMs(3, 0.1), 0u);
    EXPECT_EQ(NominalElapsedMs(0, 123.0), 0u);
    EXPECT_EQ(NominalElapsedMs(7, 0.0), 0u);
}

TEST(Pacing, NominalEndBeyondTwoToThe32WrapsLikeTheTickCount) {
    EXPECT_EQ(NominalElapsedMs(2147483651u, 2.0), 6u) << "2^32 + 6";
    EXPECT_EQ(NominalElapsedMs(3000000000u, 2.0), 1705032704u) << "6e9 - 2^32";
    EXPECT_EQ(NominalElapsedMs(4294967295u, 3.0), 4294967293u) << "3 * (2^32 - 1) = 2 * 2^32 + 2^32 - 3";
    EXPECT_EQ(NominalElapsedMs(1, 4 * 4294967296.0 + 7.5), 7u) << "far beyond 2^32, still exact";
    EXPECT_EQ(NominalElapsedMs(5, NAN), 0u);
    EXPECT_EQ(NominalElapsedMs(5, -1.0), 0u);
}

TEST(Pacing, TheTickComparisonIsWrapSafe) {
    EXPECT_TRUE(TickReached(100, 100));
    EXPECT_TRUE(TickReached(101, 100));
    EXPECT_FALSE(TickReached(99, 100));
    EXPECT_TRUE(TickReached(5, 0xFFFFFFF0u)) << "due just before the wrap, now just after";
    EXPECT_FALSE(TickReached(0xFFFFFFF0u, 5)) << "due just after the wrap";
    EXPECT_TRUE(TickReached(0x7FFFFFFFu, 0)) << "2^31 - 1 ms late";
    EXPECT_FALSE(TickReached(0x80000000u, 0)) << "beyond half the range counts as ahead";
}

}  // namespace
