// The digital input and output modules on the simulated card: port reads and the
// levels they give, block time stamps and the real-time release rule (across the
// wrap of the tick count), the sample period refused at start, port writes bit by
// bit in channel order, and port failures with their messages.
#include "tests/extension/fixture.h"

#include <math.h>

#include <limits>

namespace exttest {
namespace {

class Digital : public ExtensionTest {
protected:
    ModuleRecord* Create(const char* classId, uint32_t channels, double periodMs, uint32_t blockSize) {
        if (StartHost() != 1) return nullptr;
        host().setSamplePeriodMs(periodMs);
        host().setBlockSize(blockSize);
        velk::NewModule how;
        if (strcmp(classId, kDigitalOut) == 0)
            how.inputCount = channels;
        else
            how.outputCount = channels;
        return CreateOnLine(classId, 0, how);
    }
    int32_t Reads() { return Sim().CallCount("Tk17InPort", 0); }
    // Puts the experiment start `ago` milliseconds before now (negative: in the future).
    // A block that is due must stay due however late the next call comes, and one
    // that is not must stay held: the tests put the start either so that the
    // release time has come, or an hour or more ahead of it.
    void StartedAgo(int64_t ago) { host().setStartTicks(static_cast<uint32_t>(GetTickCount() - ago)); }
    static constexpr int64_t kAnHour = 3600000;
    std::vector<uint8_t> PortBytes() {
        SimApi sim = Sim();
        const int32_t n = sim.GetOutputLog(0, nullptr, 0);
        std::vector<SimPortWrite> log(static_cast<size_t>(n > 0 ? n : 0));
        sim.GetOutputLog(0, log.data(), static_cast<uint32_t>(log.size()));
        std::vector<uint8_t> bytes;
        for (const SimPortWrite& w : log) bytes.push_back(w.value);
        return bytes;
    }
    static velk::BlockContent Block(std::vector<float> samples) {
        velk::BlockContent b;
        b.samples = std::move(samples);
        return b;
    }
};

// ---- digital input

TEST_F(Digital, InputLevelsComeFromTheBitsOfOneReadPerSampleAndChannel) {
    ModuleRecord* m = Create(kDigitalIn, 4, 1.0, 100);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    StartedAgo(1000000);
    for (int call = 0; call < 3; ++call) ASSERT_EQ(host().process(m), 1);
    EXPECT_EQ(Reads(), 3 * 4 * 100) << "the input port 0x0A is read once per sample of every channel";
    const float level[4] = {0.0f, 5.0f, 0.0f, 5.0f};
    for (uint32_t c = 0; c < 4; ++c) {
        std::vector<velk::ReleasedBlock> blocks = host().releasedBlocks(m, c);
        ASSERT_EQ(blocks.size(), 3u) << c;
        for (size_t k = 0; k < 3; ++k) {
            EXPECT_DOUBLE_EQ(blocks[k].startTime, 0.1 * k);
            EXPECT_DOUBLE_EQ(blocks[k].sampleDistance, 0.001);
            EXPECT_EQ(blocks[k].sampleCount, 100);
            EXPECT_EQ(blocks[k].tag, "Vyttk17DIN");
            EXPECT_EQ(blocks[k].line, 351);
            for (float s : blocks[k].samples) ASSERT_EQ(s, level[c]) << "channel " << c;
        }
        EXPECT_EQ(m->channelData[c]->samplesDone, 300u);
        EXPECT_EQ(m->channelData[c]->blockPending, 0u);
    }
    StopRun(m);
}

TEST_F(Digital, NothingIsReadWithoutChannelsWithTheGateClosedOrWhilePaused) {
    ModuleRecord* m = Create(kDigitalIn, 2, 1.0, 10);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    StartedAgo(1000000);
    m->outputGate = 0;
    EXPECT_EQ(host().process(m), 1);
    m->outputGate = 1;
    host().setPaused(1);
    EXPECT_EQ(host().process(m), 1);
    host().setPaused(0);
    const uint32_t channels = m->outputCount;
    m->outputCount = 0;
    EXPECT_EQ(host().process(m), 1);
    m->outputCount = channels;
    EXPECT_EQ(Reads(), 0);
    EXPECT_TRUE(host().releasedBlocks(m, 0).empty());
    EXPECT_EQ(m->channelData[0]->samplesDone, 0u);
    StopRun(m);
}

// With 10 samples of 100 ms a block covers 1 s: the k-th block goes at start + k s.
TEST_F(Digital, AFilledBlockWaitsForTheNominalEndOfItsSamples) {
    ModuleRecord* m = Create(kDigitalIn, 1, 100.0, 10);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    StartedAgo(-kAnHour);
    ASSERT_EQ(host().process(m), 1);
    EXPECT_EQ(m->channelData[0]->blockPending, 1u) << "filled at once, due an hour and a second from now";
    EXPECT_EQ(m->channelData[0]->samplesDone, 10u);
    EXPECT_TRUE(host().releasedBlocks(m, 0).empty());
    ASSERT_EQ(host().process(m), 1);
    EXPECT_EQ(Reads(), 10) << "later calls only test the time";
    EXPECT_TRUE(host().releasedBlocks(m, 0).empty());
    StartedAgo(1000);  // the block's nominal end is now
    ASSERT_EQ(host().process(m), 1);
    ASSERT_EQ(host().releasedBlocks(m, 0).size(), 1u);
    EXPECT_EQ(host().releasedBlocks(m, 0)[0].startTime, 0.0);
    EXPECT_DOUBLE_EQ(host().releasedBlocks(m, 0)[0].sampleDistance, 0.1);
    EXPECT_EQ(m->channelData[0]->blockPending, 0u);
    // The next call fills the next block, due at start + 2 s.
    StartedAgo(1000 - kAnHour);
    ASSERT_EQ(host().process(m), 1);
    EXPECT_EQ(m->channelData[0]->blockPending, 1u);
    EXPECT_EQ(Reads(), 20);
    EXPECT_EQ(host().releasedBlocks(m, 0).size(), 1u);
    StartedAgo(2000);
    ASSERT_EQ(host().process(m), 1);
    ASSERT_EQ(host().releasedBlocks(m, 0).size(), 2u);
    EXPECT_DOUBLE_EQ(host().releasedBlocks(m, 0)[1].startTime, 1.0);
    StopRun(m);
}

// An experiment that started before the tick count passed 2^32: its start tick is
// numerically above the current one. The block due 1 s after the start is long
// overdue and goes at once.
TEST_F(Digital, TheReleaseRuleHoldsAcrossTheWrapOfTheTickCount) {
    ModuleRecord* m = Create(kDigitalIn, 1, 100.0, 10);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    const uint32_t now = GetTickCount();
    // A start above `now` lies in the past only while it is less than 2^31 ms
    // behind: this takes a tick count (the time since the machine started) below
    // about 24 days, with an hour to spare.
    const uint32_t half = 0x80000000u;
    if (now >= half - 2 * static_cast<uint32_t>(kAnHour))
        GTEST_SKIP() << "the tick count " << now << " is too far on for a start before its wrap";
    const uint32_t start = half + (half + now) / 2;  // (2^31 + now) / 2 ms ago, at least 12 days
    host().setStartTicks(start);
    ASSERT_GT(host().startTicks(), now);
    ASSERT_EQ(host().process(m), 1);
    EXPECT_EQ(host().releasedBlocks(m, 0).size(), 1u);
    // And a start that lies ahead (a tick count about to wrap) holds the block.
    host().setStartTicks(now + 0x20000000u);  // six days ahead
    EXPECT_EQ(host().process(m), 1);
    host().setStartTicks(now + 0x40000000u);  // twelve days ahead
    EXPECT_EQ(host().process(m), 1);
    EXPECT_EQ(host().releasedBlocks(m, 0).size(), 1u);
    EXPECT_EQ(m->channelData[0]->blockPending, 1u);
    StopRun(m);
}

TEST_F(Digital, BlockSizeZeroReleasesEmptyBlocksWithoutReading) {
    ModuleRecord* m = Create(kDigitalIn, 2, 1.0, 0);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    StartedAgo(10);
    ASSERT_EQ(host().process(m), 1);
    EXPECT_EQ(Reads(), 0);
    for (uint32_t c = 0; c < 2; ++c) {
        ASSERT_EQ(host().releasedBlocks(m, c).size(), 1u);
        EXPECT_EQ(host().releasedBlocks(m, c)[0].sampleCount, 0);
    }
    StopRun(m);
}

TEST_F(Digital, AChannelWithoutABlockFromVelkStaysGapless) {
    ModuleRecord* m = Create(kDigitalIn, 1, 1.0, 50);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    StartedAgo(1000000);
    ASSERT_EQ(host().process(m), 1);
    host().exhaustPool(m, 0);
    ASSERT_EQ(host().process(m), 1);
    EXPECT_EQ(m->channelData[0]->blockPending, 0u);
    EXPECT_EQ(m->channelData[0]->samplesDone, 50u);
    host().setPoolCapacity(m, 0, 8);
    ASSERT_EQ(host().process(m), 1);
    ASSERT_EQ(host().releasedBlocks(m, 0).size(), 2u);
    EXPECT_DOUBLE_EQ(host().releasedBlocks(m, 0)[1].startTime, 0.05);
    StopRun(m);
}

// A period that is not a number, infinite, negative, or so large that its product
// with a sample count is not finite cannot pace blocks: the start is refused.
TEST_F(Digital, AnUnusableSamplePeriodIsRefusedAtStart) {
    ModuleRecord* m = Create(kDigitalIn, 1, 1.0, 10);
    ASSERT_NE(m, nullptr);
    const double bad[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), -1.0,
                          1e300};
    for (double period : bad) {
        host().setSamplePeriodMs(period);
        EXPECT_EQ(StartRun(m), 0) << period;
        host().setRunning(0);
    }
    std::vector<velk::Warning> warnings = host().log().warnings();
    ASSERT_EQ(warnings.size(), 4u);
    for (const velk::Warning& w : warnings) {
        EXPECT_EQ(w.caption, "エラー");
        EXPECT_EQ(w.text, "サンプリング周期が不正です");
    }
    host().setSamplePeriodMs(0.0);
    EXPECT_EQ(StartRun(m), 1) << "a period of 0 releases every block at once";
    StopRun(m);
}

TEST_F(Digital, AFailedReadStopsTheExperimentAndTheBlockStillGoes) {
    ModuleRecord* m = Create(kDigitalIn, 2, 1.0, 3);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    StartedAgo(1000000);
    ASSERT_EQ(Sim().InjectFault("Tk17InPort", 0, 5, 77), 1);  // channel 1's second read
    ASSERT_EQ(host().process(m), 1);
    Sim().ClearFaults();
    EXPECT_TRUE(host().log().stopRequested());
    std::vector<velk::Warning> warnings = host().log().warnings();
    ASSERT_FALSE(warnings.empty());
    EXPECT_EQ(warnings[0].caption, "サンプリングエラー");
    EXPECT_EQ(warnings[0].text, "LogSlot = 0\nChannel = 1\nErrCode = 77");
    EXPECT_EQ(Reads(), 6) << "the remaining samples are still read";
    ASSERT_EQ(host().releasedBlocks(m, 1).size(), 1u);
    EXPECT_EQ(host().releasedBlocks(m, 1)[0].samples[0], 5.0f);
    EXPECT_EQ(host().releasedBlocks(m, 1)[0].samples[2], 5.0f);
    StopRun(m);
}

// ---- digital output

TEST_F(Digital, OutputBitsFollowTheSamplesInChannelOrder) {
    ModuleRecord* m = Create(kDigitalOut, 2, 1.0, 3);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    ASSERT_TRUE(host().pushInputBlock(m, 0, Block({5.0f, 0.0f, 5.0f})));
    ASSERT_TRUE(host().pushInputBlock(m, 1, Block({0.0f, 5.0f, 5.0f})));
    ASSERT_EQ(host().process(m), 1);
    EXPECT_EQ(PortBytes(), (std::vector<uint8_t>{0x01, 0x00, 0x01, 0x01, 0x02, 0x03}));
    std::vector<velk::InputRelease> released = host().inputReleases(m);
    ASSERT_EQ(released.size(), 2u);
    EXPECT_EQ(released[0].channel, 0u);
    EXPECT_EQ(released[0].tag, "Vyttk17DOUT");
    EXPECT_EQ(released[0].line, 336);
    StopRun(m);
    EXPECT_EQ(host().allocator().liveCount("Vyttk17DOUT"), 0u);
    // The output buffer came from line 154 and went back from line 177.
    std::vector<std::string> sites;
    for (const velk::AllocationEvent& e : host().allocator().events())
        if (e.tag == "Vyttk17DOUT")
            sites.push_back((e.kind == velk::AllocationEvent::Kind::Alloc ? "alloc " : "free ") + std::to_string(e.line));
    EXPECT_EQ(sites, (std::vector<std::string>{"alloc 154", "free 177"}));
}

TEST_F(Digital, FiveVoltsOrMoreIsOneAndAnythingElseZero) {
    ModuleRecord* m = Create(kDigitalOut, 3, 1.0, 5);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    ASSERT_TRUE(host().pushInputBlock(m, 2, Block({4.999f, 5.0f, -7.0f, nan, 1e30f})));
    ASSERT_EQ(host().process(m), 1);
    EXPECT_EQ(PortBytes(), (std::vector<uint8_t>{0x00, 0x04, 0x00, 0x00, 0x04}));
    StopRun(m);
}

TEST_F(Digital, OutputBlocksBeyondTheBlockSizeOrEmptyAndAFifthChannel) {
    ModuleRecord* m = Create(kDigitalOut, 5, 1.0, 2);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    ASSERT_TRUE(host().pushInputBlock(m, 0, Block({5.0f, 5.0f, 5.0f, 5.0f})));  // longer than the block size
    ASSERT_TRUE(host().pushInputBlock(m, 1, Block({})));                         // empty
    ASSERT_TRUE(host().pushInputBlock(m, 4, Block({5.0f, 5.0f})));               // no line of its own
    ASSERT_EQ(host().process(m), 1);
    EXPECT_EQ(PortBytes(), (std::vector<uint8_t>{0x01, 0x01, 0x01, 0x01}));
    EXPECT_EQ(host().inputReleases(m).size(), 3u) << "every block is given back whole";
    StopRun(m);
}

TEST_F(Digital, FourChannelsInOneCallLeaveTheirLevelsInTheLastByte) {
    ModuleRecord* m = Create(kDigitalOut, 4, 1.0, 3);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    for (uint32_t c = 0; c < 4; ++c) {
        const float v = (c % 2 == 0) ? 5.0f : 0.0f;
        ASSERT_TRUE(host().pushInputBlock(m, c, Block({v, v, v})));
    }
    ASSERT_EQ(host().process(m), 1);
    std::vector<uint8_t> bytes = PortBytes();
    ASSERT_EQ(bytes.size(), 12u) << "one write per sample and channel";
    EXPECT_EQ(bytes.back(), 0x05);
    // The bits stay for the next call until a channel stores another level.
    ASSERT_TRUE(host().pushInputBlock(m, 1, Block({5.0f})));
    ASSERT_EQ(host().process(m), 1);
    EXPECT_EQ(PortBytes().back(), 0x07);
    StopRun(m);
}

TEST_F(Digital, WhilePausedNoBlockIsTakenAndNothingWritten) {
    ModuleRecord* m = Create(kDigitalOut, 1, 1.0, 2);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    ASSERT_TRUE(host().pushInputBlock(m, 0, Block({5.0f, 5.0f})));
    host().setPaused(1);
    ASSERT_EQ(host().process(m), 1);
    EXPECT_TRUE(PortBytes().empty());
    EXPECT_EQ(host().inputBlocksWaiting(m, 0), 1u);
    host().setPaused(0);
    ASSERT_EQ(host().process(m), 1);
    EXPECT_EQ(PortBytes().size(), 2u);
    StopRun(m);
}

TEST_F(Digital, AFailedWriteStopsTheExperimentAndTheRestIsStillWritten) {
    ModuleRecord* m = Create(kDigitalOut, 1, 1.0, 3);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    ASSERT_EQ(Sim().InjectFault("Tk17OutPort", 0, 3, 55), 1);
    ASSERT_TRUE(host().pushInputBlock(m, 0, Block({5.0f, 5.0f, 5.0f})));
    ASSERT_EQ(host().process(m), 1);
    Sim().ClearFaults();
    EXPECT_TRUE(host().log().stopRequested());
    std::vector<velk::Warning> warnings = host().log().warnings();
    ASSERT_FALSE(warnings.empty());
    EXPECT_EQ(warnings[0].caption, "サンプリングエラー");
    EXPECT_EQ(warnings[0].text, "データ出力に失敗しました\nエラーコード 55\nソケット番号 0\n");
    EXPECT_EQ(PortBytes().size(), 2u) << "the third write failed";
    EXPECT_EQ(host().inputReleases(m).size(), 1u);
    StopRun(m);
}

TEST_F(Digital, NoMemoryForTheOutputBufferRefusesTheStart) {
    ModuleRecord* m = Create(kDigitalOut, 1, 1.0, 3);
    ASSERT_NE(m, nullptr);
    host().allocator().failNext("Vyttk17DOUT", 154);
    EXPECT_EQ(StartRun(m), 0);
    ASSERT_EQ(host().log().warnings().size(), 1u);
    EXPECT_EQ(host().log().warnings()[0].caption, "VYT-TK17 D-Out:エラー");
    EXPECT_EQ(host().log().warnings()[0].text, "出力バッファ確保を失敗しました");
    ASSERT_TRUE(host().pushInputBlock(m, 0, Block({5.0f})));
    EXPECT_EQ(host().process(m), 1) << "no buffer: nothing to write into";
    EXPECT_TRUE(PortBytes().empty());
    StopRun(m);
}

}  // namespace
}  // namespace exttest
