// The analog module on a card whose conversions follow card time (clock = stepped):
// each status poll moves the card on by 1 ms, or card time stands still until the
// test moves it. So the polling loop, a mode with decimation above 1 and a read that
// has to wait for its samples run exactly as on a card, without the real clock.
#include "tests/extension/fixture.h"

namespace exttest {
namespace {

constexpr char kSteppedCard[] =
    "[card 0]\nio_address = 0x300\nio_length = 16\nclock = stepped\npoll_time_us = 1000\n"
    "ai0 = scan start=0 step=1\nai1 = scan start=1000 step=1\n";

float ScanVolts(uint32_t code) { return static_cast<float>(code * 20.0 / 4096 - 10.0); }

class SteppedClock : public ExtensionTest {
protected:
    ModuleRecord* CreateAnalog(uint32_t channels, double periodMs, uint32_t blockSize) {
        return ExtensionTest::CreateAnalog(channels, periodMs, blockSize, kSteppedCard);
    }
    int32_t Polls() { return Sim().CallCount("Tk17GetSamplingStatus", 0); }
    int32_t Reads() { return Sim().CallCount("Tk17GetData", 0); }
    uint64_t Position() {
        uint64_t at = 0;
        EXPECT_TRUE(Sim().GetPosition(0, &at));
        return at;
    }
};

// 1 ms a sample on one channel: interval 100, one conversion a millisecond, one a
// poll. A read of 10 is there at the 10th poll: the module polls exactly that often.
TEST_F(SteppedClock, ThePollingLoopReadsAsSoonAsAFullReadIsConverted) {
    ModuleRecord* m = CreateAnalog(1, 1.0, 10);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    for (uint32_t call = 1; call <= 3; ++call) {
        SCOPED_TRACE(call);
        ASSERT_EQ(host().process(m), 1);
        EXPECT_EQ(Polls(), static_cast<int32_t>(10 * call));
        EXPECT_EQ(Reads(), static_cast<int32_t>(call));
        EXPECT_EQ(Position(), 10u * call);
        ASSERT_EQ(host().releasedBlocks(m, 0).size(), call);
        const velk::ReleasedBlock b = host().releasedBlocks(m, 0).back();
        EXPECT_DOUBLE_EQ(b.startTime, (call - 1) * 0.010);
        for (uint32_t j = 0; j < 10; ++j) ASSERT_EQ(b.samples[j], ScanVolts((call - 1) * 10 + j)) << j;
    }
    EXPECT_TRUE(host().log().warnings().empty());
    StopRun(m);
}

// 10 ms a sample on two channels: T = 5 ms, interval 10 (100 us a conversion),
// decimation 50. A read of 4 samples a channel is 2 x 4 x 50 = 400 conversions, 40 ms
// of card time: 40 polls of 1 ms. Block sample j is scan 50 j of the read.
TEST_F(SteppedClock, DecimationWaitsForEveryScanOfTheRead) {
    ModuleRecord* m = CreateAnalog(2, 10.0, 4);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    Tk17Mode mode;
    ASSERT_TRUE(Sim().GetMode(0, &mode));
    ASSERT_EQ(mode.interval, 10);
    ASSERT_EQ(mode.decimation, 50);
    for (uint32_t call = 1; call <= 2; ++call) {
        SCOPED_TRACE(call);
        ASSERT_EQ(host().process(m), 1);
        EXPECT_EQ(Polls(), static_cast<int32_t>(40 * call));
        EXPECT_EQ(Position(), 400u * call);
        for (uint32_t c = 0; c < 2; ++c) {
            ASSERT_EQ(host().releasedBlocks(m, c).size(), call);
            const velk::ReleasedBlock b = host().releasedBlocks(m, c).back();
            EXPECT_DOUBLE_EQ(b.startTime, (call - 1) * 4 * 0.010);
            EXPECT_DOUBLE_EQ(b.sampleDistance, 0.010);
            for (uint32_t j = 0; j < 4; ++j)
                ASSERT_EQ(b.samples[j], ScanVolts(1000 * c + 200 * (call - 1) + 50 * j)) << c << " " << j;
        }
    }
    EXPECT_TRUE(host().log().warnings().empty());
    StopRun(m);
}

// Moves the card on from another thread while the module waits in its polling loop,
// the way a card's conversions come while the host's thread waits in it. Every wait
// has a deadline; on one the armed fault ends the module's loop so the test can end.
class CardMover {
public:
    explicit CardMover(SimApi sim) : sim_(sim) {}
    static DWORD WINAPI Run(void* self) {
        static_cast<CardMover*>(self)->Move();
        return 0;
    }
    std::string failure;
    int32_t readsBeforeLastStep = -1;

private:
    int32_t Polls() { return sim_.CallCount("Tk17GetSamplingStatus", 0); }
    // Waits until the module has polled `more` times since now.
    bool WaitForPolls(int32_t more, const char* what) {
        const int32_t target = Polls() + more;
        const DWORD start = GetTickCount();
        while (Polls() < target) {
            if (GetTickCount() - start > velk::ui::kDefaultTimeoutMs) {
                failure = std::string("no polls within 10 s: ") + what;
                return false;
            }
            Sleep(1);
        }
        return true;
    }
    void Move() {
        if (!WaitForPolls(3, "the module waiting for its first samples") ||
            !(sim_.AdvanceClock(0, 9000) == 1) ||
            !WaitForPolls(3, "the module waiting for the last of 10 samples")) {
            if (failure.empty()) failure = "the card's clock did not move";
            sim_.InjectFault("Tk17GetSamplingStatus", 0, 1, 99);  // ends the module's loop
            return;
        }
        readsBeforeLastStep = sim_.CallCount("Tk17GetData", 0);
        if (sim_.AdvanceClock(0, 1000) != 1) {
            failure = "the card's clock did not move";
            sim_.InjectFault("Tk17GetSamplingStatus", 0, 1, 99);
        }
    }
    SimApi sim_;
};

TEST_F(SteppedClock, AReadWaitsUntilTheCardHasConvertedItsSamples) {
    ModuleRecord* m = CreateAnalog(1, 1.0, 10);
    ASSERT_NE(m, nullptr);
    ASSERT_TRUE(Sim().SetPollTime(0, 0));  // card time moves only when the mover says
    ASSERT_EQ(StartRun(m), 1);
    CardMover mover(Sim());
    HANDLE thread = CreateThread(nullptr, 0, CardMover::Run, &mover, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    const int32_t result = host().process(m);
    const DWORD ended = WaitForSingleObject(thread, velk::ui::kDefaultTimeoutMs);
    CloseHandle(thread);
    ASSERT_EQ(ended, WAIT_OBJECT_0) << "the card mover did not end within 10 s";
    ASSERT_EQ(mover.failure, "");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(mover.readsBeforeLastStep, 0) << "9 of 10 samples converted: nothing may be read yet";
    EXPECT_EQ(Sim().CallCount("Tk17GetData", 0), 1);
    ASSERT_EQ(host().releasedBlocks(m, 0).size(), 1u);
    for (uint32_t j = 0; j < 10; ++j) EXPECT_EQ(host().releasedBlocks(m, 0)[0].samples[j], ScanVolts(j)) << j;
    EXPECT_TRUE(host().log().warnings().empty());
    StopRun(m);
}

// Card time far past what the driver buffer holds (262144 bytes: 131072 samples at
// one a millisecond) overflows it; the module stops the run at its next poll, and
// the driver's notification brings the warning.
TEST_F(SteppedClock, ACardLeftBehindOverflowsAndTheRunStops) {
    ModuleRecord* m = CreateAnalog(1, 1.0, 10);
    ASSERT_NE(m, nullptr);
    ASSERT_TRUE(Sim().SetPollTime(0, 0));
    ASSERT_EQ(StartRun(m), 1);
    ASSERT_TRUE(Sim().AdvanceClock(0, 131073000));
    host().log().clearEvents();
    EXPECT_EQ(host().process(m), 0);
    EXPECT_EQ(Events(), (std::vector<std::string>{"StopExperiment"}));
    EXPECT_EQ(Reads(), 0);
    host().setRunning(0);
    host().pump();
    ASSERT_FALSE(host().log().warnings().empty());
    EXPECT_EQ(host().log().warnings().back().text, "バッファオーバーフロー");
    StopRun(m);
}

}  // namespace
}  // namespace exttest
