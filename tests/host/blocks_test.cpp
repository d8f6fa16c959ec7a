// Data blocks: the output channel's current block, bounded pools (back-pressure),
// release to connected inputs and recorders, input queues, and the faults of a
// producer or consumer that the host notices.
#include "host_test_support.h"

#include <cmath>
#include <cstring>

using hosttest::TestClass;
using velk::Host;

namespace {

class Blocks : public hosttest::HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        velk::HostOptions o = hosttest::quietOptions();
        o.blockSize = 4;
        host = std::make_unique<Host>(o);
        TestClass::registerWith(*host, "TEST:SRC");
        TestClass::registerWith(*host, "TEST:SINK", 0, 104);
        velk::NewModule src;
        src.outputCount = 2;
        source = host->createModule("TEST:SRC", src);
        velk::NewModule snk;
        snk.inputCount = 2;
        sink = host->createModule("TEST:SINK", snk);
        ASSERT_TRUE(source && sink);
        getOut = hosttest::velkFunction<GetCurrentOutputBlockFn>(*host, "GetCurrentOutputBlock");
        releaseOut = hosttest::velkFunction<NewReleaseOutputBlockFn>(*host, "NewReleaseOutputBlock");
        getIn = hosttest::velkFunction<GetInputBlockFn>(*host, "GetInputBlock");
        releaseIn = hosttest::velkFunction<NewReleaseInputBlockFn>(*host, "NewReleaseInputBlock");
    }
    void TearDown() override {
        host.reset();
        HostTest::TearDown();
    }
    static float sample(const DataBlock* b, int j) {
        float v;
        std::memcpy(&v, reinterpret_cast<const unsigned char*>(b) + 24 + 4 * j, 4);
        return v;
    }
    // Asks for the channel's current block as a producing class does: the mark
    // cleared first.
    DataBlock* ask(OutputChannel* channel) const {
        channel->outputMark = 0;
        return getOut(channel);
    }
    bool hasError(const std::string& part) const {
        for (const auto& e : host->log().errors())
            if (e.find(part) != std::string::npos) return true;
        return false;
    }

    std::unique_ptr<Host> host;
    ModuleRecord* source = nullptr;
    ModuleRecord* sink = nullptr;
    GetCurrentOutputBlockFn getOut = nullptr;
    NewReleaseOutputBlockFn releaseOut = nullptr;
    GetInputBlockFn getIn = nullptr;
    NewReleaseInputBlockFn releaseIn = nullptr;
};

}  // namespace

TEST_F(Blocks, CurrentBlockStaysUntilReleasedAndStartsUnwritten) {
    DataBlock* b = ask(source->outputChannels[0]);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(ask(source->outputChannels[0]), b);
    EXPECT_NE(ask(source->outputChannels[1]), b);
    // Fields a producer leaves alone stay recognisably unwritten.
    EXPECT_TRUE(std::isnan(b->startTime));
    EXPECT_TRUE(std::isnan(b->sampleDistance));
    EXPECT_EQ(b->sampleCount, 0xFFFF);
    EXPECT_TRUE(std::isnan(sample(b, 3)));
    EXPECT_EQ(releaseOut(source->outputChannels[0], "TestSrc", 1), 1);
    EXPECT_TRUE(host->log().errors().empty());
}

TEST_F(Blocks, ReleasedBlocksAreObservedPerChannel) {
    host->process(source);
    host->process(source);
    const auto ch0 = host->releasedBlocks(source, 0);
    const auto ch1 = host->releasedBlocks(source, 1);
    ASSERT_EQ(ch0.size(), 2u);
    ASSERT_EQ(ch1.size(), 2u);
    EXPECT_EQ(ch0[0].samples, (std::vector<float>{0, 1, 2, 3}));
    EXPECT_EQ(ch1[0].samples, (std::vector<float>{4, 5, 6, 7}));
    EXPECT_EQ(ch0[1].samples, (std::vector<float>{8, 9, 10, 11}));
    EXPECT_EQ(ch1[0].startTime, 1.0);
    EXPECT_EQ(ch0[0].sampleDistance, 0.001);
    EXPECT_EQ(ch0[0].sampleCount, 4);
    EXPECT_EQ(ch0[0].tag, "TestSrc");
    EXPECT_EQ(ch0[0].line, 42);
    EXPECT_EQ(ch0[0].sequence, 1u);
    EXPECT_EQ(ch1[0].sequence, 2u);
    EXPECT_EQ(ch0[1].sequence, 3u);
    EXPECT_EQ(host->releaseCount(), 4u);
    EXPECT_TRUE(host->log().errors().empty());
}

TEST_F(Blocks, WithoutConsumersABlockReturnsToThePoolAtOnce) {
    host->setPoolCapacity(source, 0, 1);
    for (int i = 0; i < 5; ++i) host->process(source);
    EXPECT_EQ(host->releasedBlocks(source, 0).size(), 5u);
    const velk::PoolStats s = host->poolStats(source, 0);
    EXPECT_EQ(s.total, 1u);
    EXPECT_EQ(s.idle, 1u);
    EXPECT_EQ(s.out, 0u);
}

TEST_F(Blocks, ConnectedInputGetsTheReleasedBlockInOrder) {
    ASSERT_TRUE(host->connect(source, 1, sink, 0));
    host->process(source);
    host->process(source);
    EXPECT_EQ(host->inputBlocksWaiting(sink, 0), 2u);
    EXPECT_EQ(host->inputBlocksWaiting(sink, 1), 0u);
    EXPECT_EQ(getIn(sink, 1), nullptr);
    DataBlock* first = getIn(sink, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->sampleCount, 4);
    EXPECT_EQ(first->startTime, 1.0);
    EXPECT_EQ(sample(first, 0), 4.0f);
    EXPECT_EQ(getIn(sink, 0), first);  // the head stays until given back
    EXPECT_EQ(releaseIn(sink, 0, "Vyttk17DOUT", 336), 1);
    DataBlock* second = getIn(sink, 0);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(sample(second, 0), 12.0f);
    EXPECT_EQ(releaseIn(sink, 0, "Vyttk17DOUT", 336), 1);
    EXPECT_EQ(getIn(sink, 0), nullptr);
    const auto rel = host->inputReleases(sink);
    ASSERT_EQ(rel.size(), 2u);
    EXPECT_EQ(rel[0].channel, 0u);
    EXPECT_EQ(rel[0].tag, "Vyttk17DOUT");
    EXPECT_EQ(rel[0].line, 336);
    EXPECT_TRUE(host->log().errors().empty());
}

TEST_F(Blocks, FullPoolIsBackPressureUntilAConsumerGivesABlockBack) {
    host->connect(source, 0, sink, 0);
    host->setPoolCapacity(source, 0, 2);
    host->process(source);
    host->process(source);
    EXPECT_EQ(ask(source->outputChannels[0]), nullptr);
    host->process(source);
    EXPECT_EQ(host->releasedBlocks(source, 0).size(), 2u);
    EXPECT_EQ(host->releasedBlocks(source, 1).size(), 3u);  // the other channel is not held up
    EXPECT_EQ(host->poolStats(source, 0).out, 2u);

    ASSERT_NE(getIn(sink, 0), nullptr);
    releaseIn(sink, 0, "Vyttk17DOUT", 336);
    EXPECT_EQ(host->poolStats(source, 0).out, 1u);
    host->process(source);
    EXPECT_EQ(host->releasedBlocks(source, 0).size(), 3u);
    EXPECT_EQ(host->poolStats(source, 0).total, 2u);  // the block came back and was used again
}

TEST_F(Blocks, BlockWithTwoConsumersReturnsWhenBothGaveItBack) {
    host->connect(source, 0, sink, 0);
    host->connect(source, 0, sink, 1);
    host->setPoolCapacity(source, 0, 1);
    host->process(source);
    EXPECT_EQ(getIn(sink, 0), getIn(sink, 1));
    releaseIn(sink, 0, "x", 1);
    EXPECT_EQ(host->poolStats(source, 0).out, 1u);
    EXPECT_EQ(ask(source->outputChannels[0]), nullptr);
    releaseIn(sink, 1, "x", 2);
    EXPECT_EQ(host->poolStats(source, 0).out, 0u);
    EXPECT_NE(ask(source->outputChannels[0]), nullptr);
}

TEST_F(Blocks, ExhaustedPoolAnswersNullUntilRaised) {
    host->exhaustPool(source, 1);
    EXPECT_EQ(ask(source->outputChannels[1]), nullptr);
    EXPECT_NE(ask(source->outputChannels[0]), nullptr);
    host->setPoolCapacity(source, 1, 3);
    EXPECT_NE(ask(source->outputChannels[1]), nullptr);
}

TEST_F(Blocks, RecordersCopyEachReleaseWithoutHoldingTheBlock) {
    std::vector<velk::ReleasedBlock> seen;
    const int id = host->addRecorder(source, 1, [&](const velk::BlockView& b) { seen.push_back(b.copy()); });
    ASSERT_NE(id, 0);
    host->setPoolCapacity(source, 1, 1);
    host->process(source);
    host->process(source);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].module, source);
    EXPECT_EQ(seen[0].channel, 1u);
    EXPECT_EQ(seen[1].samples, (std::vector<float>{12, 13, 14, 15}));
    EXPECT_TRUE(host->removeRecorder(id));
    host->process(source);
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_EQ(host->addRecorder(source, 16, [](const velk::BlockView&) {}), 0);
}

TEST_F(Blocks, PushedInputBlocksCarryWhatWasGiven) {
    velk::BlockContent c;
    c.startTime = 0.5;
    c.sampleDistance = 0.002;
    c.samples = {5.0f, 4.999f, -1.0f};
    ASSERT_TRUE(host->pushInputBlock(sink, 1, c));
    velk::BlockContent empty;
    empty.sampleCount = 0;
    host->pushInputBlock(sink, 1, empty);
    DataBlock* b = getIn(sink, 1);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->startTime, 0.5);
    EXPECT_EQ(b->sampleDistance, 0.002);
    EXPECT_EQ(b->sampleCount, 3);
    EXPECT_EQ(sample(b, 1), 4.999f);
    EXPECT_EQ(sample(b, 2), -1.0f);
    releaseIn(sink, 1, "x", 1);
    b = getIn(sink, 1);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->sampleCount, 0);
    releaseIn(sink, 1, "x", 1);
    EXPECT_FALSE(host->pushInputBlock(sink, 16, c));
    EXPECT_TRUE(host->log().errors().empty());
}

TEST_F(Blocks, ReleaseWithoutABlockOrOfUnknownChannelsIsAnError) {
    EXPECT_EQ(releaseOut(source->outputChannels[0], "Vyttk17AD", 422), 0);
    EXPECT_TRUE(hasError("without a block (Vyttk17AD:422)"));
    OutputChannel stray = {};
    EXPECT_EQ(getOut(&stray), nullptr);
    EXPECT_EQ(releaseOut(&stray, "Vyttk17AD", 422), 0);
    EXPECT_TRUE(hasError("GetCurrentOutputBlock with an output channel record Velk did not make"));
    EXPECT_EQ(releaseIn(sink, 0, "Vyttk17DOUT", 336), 0);
    EXPECT_TRUE(hasError("with no block waiting (Vyttk17DOUT:336)"));
}

TEST_F(Blocks, GivingBackAnInputNeverFetchedIsAnError) {
    host->pushInputBlock(sink, 0, velk::BlockContent());
    EXPECT_EQ(releaseIn(sink, 0, "x", 1), 1);
    EXPECT_TRUE(hasError("GetInputBlock never handed out"));
}

TEST_F(Blocks, ChannelsBeyondTheModulesCountsAreReported) {
    DataBlock* b = ask(source->outputChannels[2]);
    EXPECT_NE(b, nullptr);
    EXPECT_TRUE(hasError("output channel 2 of module 1, which has 2"));
    EXPECT_EQ(getIn(sink, 2), nullptr);
    EXPECT_TRUE(hasError("input channel 2 of module 2, which has 2"));
}

TEST_F(Blocks, OverrunsAndOverwrittenHeadersAreFoundAtRelease) {
    DataBlock* b = ask(source->outputChannels[0]);
    auto* bytes = reinterpret_cast<unsigned char*>(b);
    std::memset(bytes + 24 + 4 * 4, 0, 4);  // a fifth sample into a block of four
    releaseOut(source->outputChannels[0], "Vyttk17AD", 422);
    EXPECT_TRUE(hasError("past the end of block"));
    b = ask(source->outputChannels[1]);
    reinterpret_cast<unsigned char*>(b)[2] ^= 0xFF;
    releaseOut(source->outputChannels[1], "Vyttk17AD", 422);
    EXPECT_TRUE(hasError("6 bytes at the start of block"));
}

TEST_F(Blocks, NewBlocksFollowTheBlockSize) {
    host->setPoolCapacity(source, 0, 1);
    host->process(source);
    host->setBlockSize(300);
    host->process(source);
    const auto rel = host->releasedBlocks(source, 0);
    ASSERT_EQ(rel.size(), 2u);
    EXPECT_EQ(rel[1].samples.size(), 300u);
    EXPECT_TRUE(host->log().errors().empty());  // no sample landed past the end
}

TEST_F(Blocks, RemovingASourceTakesItsBlocksOutOfOtherQueues) {
    host->connect(source, 0, sink, 0);
    host->process(source);
    velk::BlockContent c;
    c.samples = {1.0f};
    host->pushInputBlock(sink, 0, c);
    EXPECT_EQ(host->inputBlocksWaiting(sink, 0), 2u);
    host->removeModule(source);
    EXPECT_EQ(host->inputBlocksWaiting(sink, 0), 1u);
    DataBlock* b = getIn(sink, 0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(sample(b, 0), 1.0f);
}

// Velk marks an output channel when it hands a block out, and a producing class
// clears the mark on each visit before it asks: asking with the mark still set is a
// misuse the host reports.
TEST_F(Blocks, AskingWithoutClearingTheOutputMarkIsReported) {
    DataBlock* b = ask(source->outputChannels[0]);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(source->outputChannels[0]->outputMark, velk::kHandedOutMark);
    EXPECT_TRUE(host->log().errors().empty());
    EXPECT_EQ(getOut(source->outputChannels[0]), b);
    EXPECT_TRUE(hasError("GetCurrentOutputBlock on output channel 0 of module 1 with outputMark 1 not cleared first"));
}
