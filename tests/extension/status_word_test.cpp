// What the analog module makes of the card's status call and samples when the card
// uses the whole of each value: a status word with bits of its own beside 0x08 and
// 0x10 (only those two of the low byte stop a run), sample counts at and above
// 0x80000000 (counts, compared unsigned), and 16-bit codes above 4095 (converted as
// unsigned 16-bit, with no mask).
#include "tests/extension/fixture.h"

namespace exttest {
namespace {

// The volts of raw code r: r x S / 4096 - S / 2, S = 20 (range 0) or 10 (range 1).
float Volts(uint32_t r, int32_t range) {
    const double span = range == 0 ? 20.0 : 10.0;
    return static_cast<float>(r * span / 4096.0 - span / 2.0);
}

class StatusWord : public ExtensionTest {
protected:
    int32_t Polls() { return Sim().CallCount("Tk17GetSamplingStatus", 0); }
    int32_t Reads() { return Sim().CallCount("Tk17GetData", 0); }
};

TEST_F(StatusWord, BitsBesideOverflowAndOverrunLeaveTheRunGoing) {
    ModuleRecord* m = CreateAnalog(1, 1.0, 10);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    // The two bits one byte up and in the top byte, single bits of the low byte, the
    // top bit, and every bit but the two.
    const uint32_t kBits[] = {0x01, 0x04, 0x20, 0x80, 0x80000000u, 0x0800, 0x1000, 0x08000000, 0x10000000,
                              0x80000025u, 0xFFFFFFE7u};
    size_t blocks = 0;
    for (uint32_t bits : kBits) {
        SCOPED_TRACE(bits);
        ASSERT_TRUE(Sim().SetStatusBits(0, bits));
        host().log().clearEvents();
        EXPECT_EQ(host().process(m), 1);
        EXPECT_EQ(EventIndex("StopExperiment"), -1);
        EXPECT_TRUE(host().log().warnings().empty());
        EXPECT_EQ(host().releasedBlocks(m, 0).size(), ++blocks) << "the read goes on";
    }
    StopRun(m);
}

TEST_F(StatusWord, EitherOfTheTwoBitsStopsWithoutAMessage) {
    ModuleRecord* m = CreateAnalog(1, 1.0, 10);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    const uint32_t kBits[] = {0x08, 0x10, 0x18, 0x80000008u, 0xFFFFFFEFu, 0xFFFFFFF7u, 0xFFFFFFFFu};
    for (uint32_t bits : kBits) {
        SCOPED_TRACE(bits);
        ASSERT_TRUE(Sim().SetStatusBits(0, bits));
        const int32_t reads = Reads();
        host().log().clearEvents();
        EXPECT_EQ(host().process(m), 0);
        EXPECT_EQ(Events(), (std::vector<std::string>{"StopExperiment"}));
        EXPECT_EQ(Reads(), reads) << "nothing is read";
    }
    EXPECT_TRUE(host().log().warnings().empty());
    EXPECT_TRUE(host().releasedBlocks(m, 0).empty());
    StopRun(m);
}

// The count is the number of samples ready, an unsigned 32-bit number: 0x80000000 and
// more are plenty for a read of 20. A second poll in one processing call would fail
// (armed fault), so a count taken for negative ends the call with the status message.
TEST_F(StatusWord, CountsFromTheTopHalfAreEnoughForARead) {
    ModuleRecord* m = CreateAnalog(2, 1.0, 10);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    const uint32_t kCounts[] = {0x80000000u, 0x80000014u, 0xC0000000u, 0xFFFFFFFEu};
    size_t blocks = 0;
    for (uint32_t count : kCounts) {
        SCOPED_TRACE(count);
        ASSERT_TRUE(Sim().SetAvailable(0, count));
        ASSERT_TRUE(Sim().InjectFault("Tk17GetSamplingStatus", 0, 2, 55));
        const int32_t polls = Polls();
        EXPECT_EQ(host().process(m), 1);
        EXPECT_EQ(Polls(), polls + 1) << "one poll is enough";
        EXPECT_TRUE(host().log().warnings().empty());
        ASSERT_EQ(host().releasedBlocks(m, 1).size(), ++blocks);
        const velk::ReleasedBlock b = host().releasedBlocks(m, 1).back();
        for (uint32_t j = 0; j < 10; ++j) ASSERT_EQ(b.samples[j], Volts(1000 + (blocks - 1) * 10 + j, 0)) << j;
        ASSERT_TRUE(Sim().InjectFault("Tk17GetSamplingStatus", 0, 0, 0));
    }
    // The other side of the same check: one sample short, the module polls again, and
    // the armed fault ends the call.
    ASSERT_TRUE(Sim().SetAvailable(0, 19));
    ASSERT_TRUE(Sim().InjectFault("Tk17GetSamplingStatus", 0, 2, 55));
    host().log().clearEvents();
    EXPECT_EQ(host().process(m), 0);
    ASSERT_EQ(host().log().warnings().size(), 1u);
    EXPECT_EQ(host().log().warnings()[0].text, "サンプリング状態の取得に失敗しました\nエラーコード： 55");
    StopRun(m);
}

// Codes above 4095 from a 16-bit source are converted as they come: 65535 is
// 309.9951171875 V in range 0. Both ways of converting are met: one channel at
// decimation 1 (codes side by side) and two channels at decimation 50 (codes a
// stride apart).
TEST_F(StatusWord, SixteenBitCodesAreConvertedWhole) {
    const std::vector<uint32_t> kHigh = {0, 4095, 4096, 8191, 32767, 32768, 49152, 65535, 12345, 54321, 61440};
    const std::vector<uint32_t> kOther = {65535, 4096, 2048, 40000, 65280, 255, 30000, 4097, 36864};
    auto list = [](const std::vector<uint32_t>& codes) {
        std::string text = "codes bits=16";
        for (uint32_t c : codes) text += " " + std::to_string(c);
        return text;
    };
    for (int32_t range : {0, 1}) {
        SCOPED_TRACE(range);
        ModuleRecord* m = CreateAnalog(1, 1.0, 22);
        ASSERT_NE(m, nullptr);
        ASSERT_TRUE(Sim().SetChannel(0, 0, list(kHigh).c_str()));
        memcpy(static_cast<unsigned char*>(m->privateData) + 200, &range, 4);
        ASSERT_EQ(StartRun(m), 1);
        ASSERT_EQ(host().process(m), 1);
        ASSERT_EQ(host().releasedBlocks(m, 0).size(), 1u);
        const std::vector<float> s = host().releasedBlocks(m, 0)[0].samples;
        ASSERT_EQ(s.size(), 22u);
        for (size_t j = 0; j < s.size(); ++j) EXPECT_EQ(s[j], Volts(kHigh[j % kHigh.size()], range)) << j;
        StopRun(m);
        TearDown();
    }
    // 10 ms with two channels: interval 10, decimation 50; block sample j is scan 50 j,
    // code 50 j mod 11 and 50 j mod 9 of the two lists.
    ModuleRecord* m = CreateAnalog(2, 10.0, 12);
    ASSERT_NE(m, nullptr);
    ASSERT_TRUE(Sim().SetChannel(0, 0, list(kHigh).c_str()));
    ASSERT_TRUE(Sim().SetChannel(0, 1, list(kOther).c_str()));
    ASSERT_EQ(StartRun(m), 1);
    ASSERT_EQ(host().process(m), 1);
    const std::vector<float> a = host().releasedBlocks(m, 0).at(0).samples;
    const std::vector<float> b = host().releasedBlocks(m, 1).at(0).samples;
    for (size_t j = 0; j < 12; ++j) {
        EXPECT_EQ(a[j], Volts(kHigh[50 * j % kHigh.size()], 0)) << j;
        EXPECT_EQ(b[j], Volts(kOther[50 * j % kOther.size()], 0)) << j;
    }
    StopRun(m);
}

}  // namespace
}  // namespace exttest
