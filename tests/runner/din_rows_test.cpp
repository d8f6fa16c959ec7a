// What a row of a digital input recording holds, as docs/worksheets.md (Recordings)
// and docs/simcard.md (digital input) describe it: each line comes from port reads of
// its own, channel 0's whole block first, so a row combines reads taken at different
// moments.
#include "runner_support.h"

namespace runnertest {
namespace {

TEST_F(RunnerTest, EachLineOfADigitalInputComesFromReadsOfItsOwn) {
    // The counter gives 00, 01, 02, ... one byte a read; blocks of 3 samples.
    ASSERT_TRUE(Build("[experiment]\nblock_size = 3\nduration_s = 0.006\n"
                      "[module din]\nclass = digital_in\nchannels = 2\n[record din]\nfile = din.csv\n"
                      "[card 0]\nclock = virtual\ndin = counter\n"));
    ASSERT_EQ(E().run().end, velk::RunEnd::Completed);
    std::string error;
    ASSERT_TRUE(E().writeRecordings(error)) << error;
    const Csv csv = ReadCsv(Out("din.csv"));
    ASSERT_EQ(csv.rows.size(), 6u);
    for (size_t j = 0; j < csv.rows.size(); ++j) {
        // Block b's channel 0 reads bytes 6b .. 6b+2, its channel 1 the next three.
        const size_t block = j / 3, sample = j % 3;
        const unsigned line0 = static_cast<unsigned>(6 * block + sample);
        const unsigned line1 = line0 + 3;
        SCOPED_TRACE(j);
        EXPECT_EQ(csv.rows[j][1], (line0 & 1) ? "5" : "0");
        EXPECT_EQ(csv.rows[j][2], (line1 & 2) ? "5" : "0") << "bit 1 of the byte read three reads later";
    }
    // Row 0 holds bit 0 of byte 0 and bit 1 of byte 3: a port state that was never read as one.
    EXPECT_EQ(csv.rows[0][1], "0");
    EXPECT_EQ(csv.rows[0][2], "5");
}

}  // namespace
}  // namespace runnertest
