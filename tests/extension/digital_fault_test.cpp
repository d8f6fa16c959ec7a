// Port failures of the digital modules: the experiment is stopped and the failure
// shown once per episode of failing port accesses, not once per sample, and the
// blocks are completed and handed on as before.
#include "tests/extension/fixture.h"

namespace exttest {
namespace {

class DigitalFaults : public ExtensionTest {
protected:
    // One card on the virtual clock with the faults given, block size `block`.
    bool Begin(const std::string& faults, uint32_t block) {
        const std::string config = "[card 0]\nclock = virtual\ndin = pattern 01 02 04 08 0F\n[fault]\n" + faults;
        if (StartHost(config.c_str()) != 1) return false;
        host().setBlockSize(block);
        host().setSamplePeriodMs(1.0);
        host().setRunning(1);
        // Started long ago: every filled block may be released at once.
        host().setStartTicks(GetTickCount() - 100000);
        return true;
    }
    std::vector<std::string> Warnings() {
        std::vector<std::string> texts;
        for (const velk::Warning& w : host().log().warnings()) {
            EXPECT_EQ(w.caption, "サンプリングエラー");
            texts.push_back(w.text);
        }
        return texts;
    }
    void TearDown() override {
        if (host_) host().setRunning(0);
        ExtensionTest::TearDown();
    }
};

TEST_F(DigitalFaults, ReadsFailingForAWholeCallGiveOneWarningAndCompleteEveryBlock) {
    ASSERT_TRUE(Begin("Tk17InPort = socket 0 from 3\n", 200));
    velk::NewModule how;
    how.outputCount = 4;
    ModuleRecord* m = CreateOnLine(kDigitalIn, 0, how);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(host().callClass(m, 106), 1);
    ASSERT_EQ(host().process(m), 1);
    EXPECT_EQ(Sim().CallCount("Tk17InPort", 0), 800) << "every sample is still a read of its own";
    EXPECT_EQ(Warnings(), (std::vector<std::string>{"LogSlot = 0\nChannel = 0\nErrCode = 100"}));
    EXPECT_EQ(host().log().stopRequests(), 1);
    for (uint32_t c = 0; c < 4; ++c) {
        std::vector<velk::ReleasedBlock> blocks = host().releasedBlocks(m, c);
        ASSERT_EQ(blocks.size(), 1u) << "channel " << c << ": the block is completed and released";
        EXPECT_EQ(blocks[0].sampleCount, 200);
    }
    // The two good reads saw 01 and 02; the failing ones keep the last byte read.
    const std::vector<float> ch1 = host().releasedBlocks(m, 1)[0].samples;
    EXPECT_EQ(ch1[1], 5.0f);
    EXPECT_EQ(ch1[199], 5.0f);
    EXPECT_EQ(host().releasedBlocks(m, 0)[0].samples[1], 0.0f);
}

TEST_F(DigitalFaults, AReadThatSucceedsEndsTheEpisodeAndTheNextFailureIsShownAgain) {
    // Channel 0 makes reads 1 to 8, channel 1 reads 9 to 16: reads 3 and 4 fail, the
    // fifth succeeds, reads 10 to 12 fail again.
    ASSERT_TRUE(Begin("Tk17InPort = socket 0 from 3 for 2 error 7\nTk17InPort = socket 0 from 10 for 3 error 8\n", 8));
    velk::NewModule how;
    how.outputCount = 2;
    ModuleRecord* m = CreateOnLine(kDigitalIn, 0, how);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(host().callClass(m, 106), 1);
    ASSERT_EQ(host().process(m), 1);
    EXPECT_EQ(Warnings(), (std::vector<std::string>{"LogSlot = 0\nChannel = 0\nErrCode = 7",
                                                    "LogSlot = 0\nChannel = 1\nErrCode = 8"}));
    EXPECT_EQ(host().log().stopRequests(), 2);
    EXPECT_EQ(host().releasedBlocks(m, 1).size(), 1u);
}

TEST_F(DigitalFaults, WritesFailingGiveOneWarningPerEpisodeAndTheBlocksGoBack) {
    // Of the 2 x 50 writes, 3 to 52 fail (one episode across both channels), 61 to 62 again.
    ASSERT_TRUE(Begin("Tk17OutPort = socket 0 from 3 for 50 error 5\nTk17OutPort = socket 0 from 61 for 2 error 6\n", 50));
    velk::NewModule how;
    how.inputCount = 2;
    ModuleRecord* m = CreateOnLine(kDigitalOut, 0, how);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(host().callClass(m, 106), 1);
    velk::BlockContent block;
    block.samples.assign(50, 5.0f);
    ASSERT_TRUE(host().pushInputBlock(m, 0, block));
    ASSERT_TRUE(host().pushInputBlock(m, 1, block));
    ASSERT_EQ(host().process(m), 1);
    EXPECT_EQ(Sim().CallCount("Tk17OutPort", 0), 100);
    EXPECT_EQ(Warnings(), (std::vector<std::string>{"データ出力に失敗しました\nエラーコード 5\nソケット番号 0\n",
                                                    "データ出力に失敗しました\nエラーコード 6\nソケット番号 0\n"}));
    EXPECT_EQ(host().log().stopRequests(), 2);
    EXPECT_EQ(host().inputReleases(m).size(), 2u) << "both blocks are given back";
    EXPECT_EQ(host().inputBlocksWaiting(m, 0), 0u);
    ASSERT_EQ(host().callClass(m, 107), 1);
}

}  // namespace
}  // namespace exttest
