// Analog sampling on the virtual clock: codes of the generators at the times of their
// conversions, both ranges, channel order, and the scripted sample count.
#include "driver_loader.h"

#include <math.h>

using namespace simtest;

namespace {

constexpr double kPi = 3.14159265358979323846;

class SimcardVirtual : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        configure("[card 0]\nclock = virtual\n"
                  "ai0 = dc offset=-1\nai1 = dc offset=-2\nai2 = dc offset=1\nai3 = dc offset=2\n"
                  "ai4 = dc offset=3\nai5 = dc offset=4\nai6 = dc offset=-3\nai7 = dc offset=-4\n"
                  "[card 1]\nclock = real\n");
    }
    void restart(const Tk17Mode& mode)
    {
        d().Tk17StopSampling(0);
        Tk17Mode m = mode;
        ASSERT_EQ(1, d().Tk17SetMode(0, &m));
        ASSERT_EQ(1, d().Tk17StartSampling(0));
    }
    std::vector<uint16_t> channelRun(const char* generator, int32_t range, int32_t interval, uint32_t n)
    {
        EXPECT_EQ(1, sim().SetChannel(0, 0, generator)) << d().lastError();
        restart(makeMode(range, 0, 0, interval));
        return read(0, n);
    }
    uint32_t count()
    {
        uint32_t n = 0, status = 0;
        EXPECT_EQ(1, d().Tk17GetSamplingStatus(0, &n, &status));
        return n;
    }
};

}  // namespace

TEST_F(SimcardVirtual, DcLevelsInBothRanges)
{
    ASSERT_EQ(1, d().open(0));
    // (v + S/2) x 4096 / S, rounded: range 0 has 204.8 codes per volt, range 1 409.6.
    EXPECT_EQ(std::vector<uint16_t>(3, 2304), channelRun("dc offset=1.25", 0, 10, 3));
    EXPECT_EQ(std::vector<uint16_t>(3, 2560), channelRun("dc offset=1.25", 1, 10, 3));
    EXPECT_EQ(std::vector<uint16_t>(2, 1536), channelRun("dc offset=-2.5", 0, 10, 2));
    EXPECT_EQ(std::vector<uint16_t>(2, 1024), channelRun("dc offset=-2.5", 1, 10, 2));
    EXPECT_EQ(std::vector<uint16_t>(2, 2048), channelRun("dc offset=0", 1, 10, 2));
    EXPECT_EQ(std::vector<uint16_t>(2, 0), channelRun("dc offset=-10", 0, 10, 2));
}

TEST_F(SimcardVirtual, CodesClampAtTheEndsOfTheRange)
{
    ASSERT_EQ(1, d().open(0));
    EXPECT_EQ(4095, channelRun("dc offset=12", 0, 10, 1)[0]);
    EXPECT_EQ(0, channelRun("dc offset=-12", 0, 10, 1)[0]);
    EXPECT_EQ(4095, channelRun("dc offset=6", 1, 10, 1)[0]);
    EXPECT_EQ(4095, channelRun("dc offset=9.999", 0, 10, 1)[0]);  // would round to 4096
    EXPECT_EQ(0, channelRun("dc offset=-7", 1, 10, 1)[0]);
}

TEST_F(SimcardVirtual, SineAtQuarterPeriods)
{
    ASSERT_EQ(1, d().open(0));
    // 250 Hz sampled every 1 ms: conversion k at a quarter period k.
    EXPECT_EQ((std::vector<uint16_t>{2048, 3072, 2048, 1024, 2048}),
              channelRun("sine amplitude=5 frequency=250", 0, 100, 5));
    // +-5 V range: 0.5, 4.5, 0.5, -3.5 V.
    EXPECT_EQ((std::vector<uint16_t>{2253, 3891, 2253, 614}),
              channelRun("sine amplitude=4 offset=0.5 frequency=250", 1, 100, 4));
}

TEST_F(SimcardVirtual, PeriodicShapesOverOnePeriod)
{
    ASSERT_EQ(1, d().open(0));
    // 125 Hz every 1 ms with a phase of 22.5 degrees: eighths of the period, each in
    // the middle of a sixteenth, away from every edge.
    EXPECT_EQ((std::vector<uint16_t>{2867, 2867, 2867, 2867, 1229, 1229, 1229, 1229}),
              channelRun("square amplitude=4 frequency=125 phase=22.5", 0, 100, 8));
    EXPECT_EQ((std::vector<uint16_t>{2867, 2867, 1229, 1229, 1229, 1229, 1229, 1229}),
              channelRun("square amplitude=4 frequency=125 phase=22.5 duty=0.25", 0, 100, 8));
    // Triangle in phase with a sine: 1, 3, 3, 1, -1, -3, -3, -1 V.
    EXPECT_EQ((std::vector<uint16_t>{2253, 2662, 2662, 2253, 1843, 1434, 1434, 1843}),
              channelRun("triangle amplitude=4 frequency=125 phase=22.5", 0, 100, 8));
    // Ramp from -4 to +4 V: -3.5, -2.5, ... 3.5 V.
    EXPECT_EQ((std::vector<uint16_t>{1331, 1536, 1741, 1946, 2150, 2355, 2560, 2765}),
              channelRun("ramp amplitude=4 frequency=125 phase=22.5", 0, 100, 8));
}

TEST_F(SimcardVirtual, ChannelsInterleaveFromFirstToLast)
{
    ASSERT_EQ(1, d().open(0));
    restart(makeMode(0, 2, 5, 10));
    // ai2..ai5 are 1, 2, 3, 4 V.
    std::vector<uint16_t> scan = {2253, 2458, 2662, 2867};
    std::vector<uint16_t> expected;
    for (int s = 0; s < 3; ++s) expected.insert(expected.end(), scan.begin(), scan.end());
    EXPECT_EQ(expected, read(0, 12));

    restart(makeMode(1, 6, 7, 10));
    // -3 and -4 V in the +-5 V range.
    EXPECT_EQ((std::vector<uint16_t>{819, 410, 819, 410}), read(0, 4));
}

TEST_F(SimcardVirtual, EachConversionHasItsOwnTime)
{
    ASSERT_EQ(1, d().open(0));
    ASSERT_EQ(1, sim().SetChannel(0, 1, "sine amplitude=5 frequency=250"));
    restart(makeMode(0, 0, 1, 50));
    // Channel 1 is converted at (2s + 1) x 500 us, an odd eighth of the period:
    // +-5 sin(45 degrees) = +-3.5355 V.
    std::vector<uint16_t> codes = read(0, 8);
    EXPECT_EQ((std::vector<uint16_t>{1843, 2772, 1843, 2772, 1843, 1324, 1843, 1324}), codes);
}

TEST_F(SimcardVirtual, SineMatchesItsFormulaWithinOneStep)
{
    ASSERT_EQ(1, d().open(0));
    for (int32_t range : {0, 1}) {
        ASSERT_EQ(1, sim().SetChannel(0, 2, "sine amplitude=4.3 offset=0.4 frequency=37.3 phase=10"));
        restart(makeMode(range, 1, 3, 17));
        std::vector<uint16_t> codes = read(0, 3000);
        double lsb = (range == 0 ? 20.0 : 10.0) / 4096;
        for (size_t i = 1; i < codes.size(); i += 3) {
            double t = i * 17 * 10e-6;
            double v = 0.4 + 4.3 * sin(2 * kPi * (37.3 * t + 10.0 / 360));
            ASSERT_NEAR(v, codeToVolts(codes[i], range), lsb) << "range " << range << " index " << i;
        }
    }
}

TEST_F(SimcardVirtual, ScanAndCodeGenerators)
{
    ASSERT_EQ(1, d().open(0));
    ASSERT_EQ(1, sim().SetChannel(0, 0, "scan start=100 step=2"));
    ASSERT_EQ(1, sim().SetChannel(0, 1, "scan"));
    restart(makeMode(0, 0, 1, 10));
    EXPECT_EQ((std::vector<uint16_t>{100, 0, 102, 1, 104, 2}), read(0, 6));

    EXPECT_EQ((std::vector<uint16_t>{4094, 4095, 0, 1}), channelRun("scan start=4094", 0, 10, 4));
    EXPECT_EQ((std::vector<uint16_t>{0, 2048, 4095, 0, 2048}), channelRun("codes 0 2048 4095", 1, 10, 5));
}

TEST_F(SimcardVirtual, NoiseRepeatsForTheSameSeedAndStaysInItsBand)
{
    ASSERT_EQ(1, d().open(0));
    std::vector<uint16_t> a = channelRun("noise amplitude=0.5 offset=1 seed=3", 0, 10, 200);
    std::vector<uint16_t> b = channelRun("noise amplitude=0.5 offset=1 seed=3", 0, 10, 200);
    std::vector<uint16_t> c = channelRun("noise amplitude=0.5 offset=1 seed=4", 0, 10, 200);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    int distinct = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_GE(a[i], 2150);  // 0.5 V
        EXPECT_LE(a[i], 2355);  // 1.5 V
        if (i > 0 && a[i] != a[i - 1]) ++distinct;
    }
    EXPECT_GT(distinct, 150);
}

TEST_F(SimcardVirtual, ReadsContinueTheTimeLineAndStartBeginsAgain)
{
    ASSERT_EQ(1, d().open(0));
    ASSERT_EQ(1, sim().SetChannel(0, 0, "sine amplitude=5 frequency=33"));
    restart(makeMode(0, 0, 0, 20));
    std::vector<uint16_t> whole = read(0, 12);
    uint64_t position = 0;
    ASSERT_EQ(1, sim().GetPosition(0, &position));
    EXPECT_EQ(12u, position);

    restart(makeMode(0, 0, 0, 20));
    ASSERT_EQ(1, sim().GetPosition(0, &position));
    EXPECT_EQ(0u, position);
    std::vector<uint16_t> parts = read(0, 5);
    std::vector<uint16_t> rest = read(0, 7);
    parts.insert(parts.end(), rest.begin(), rest.end());
    EXPECT_EQ(whole, parts);
    EXPECT_NE(whole.front(), whole.back());
}

TEST_F(SimcardVirtual, GeneratorChangesApplyToLaterConversions)
{
    ASSERT_EQ(1, d().open(0));
    restart(makeMode(0, 0, 0, 10));
    EXPECT_EQ(std::vector<uint16_t>(2, 1843), read(0, 2));  // ai0 = -1 V
    ASSERT_EQ(1, sim().SetChannel(0, 0, "dc offset=2"));
    EXPECT_EQ(std::vector<uint16_t>(2, 2458), read(0, 2));
    EXPECT_EQ(0, sim().SetChannel(0, 8, "dc offset=2"));
    EXPECT_EQ(0, sim().SetChannel(0, 0, "dc offset=two"));
    EXPECT_EQ(std::vector<uint16_t>(1, 2458), read(0, 1));
}

TEST_F(SimcardVirtual, CountIsAlwaysEnoughWhileSampling)
{
    ASSERT_EQ(1, d().open(0));
    uint32_t n = 7, status = 7;
    ASSERT_EQ(1, d().Tk17GetSamplingStatus(0, &n, &status));
    EXPECT_EQ(0u, n) << "not sampling";
    EXPECT_EQ(0u, status);
    restart(makeMode(0, 0, 7, 1, 4));  // a buffer of two samples
    EXPECT_EQ(TK17SIM_UNLIMITED, count());
    read(0, 100000);
    Sleep(20);
    ASSERT_EQ(1, d().Tk17GetSamplingStatus(0, &n, &status));
    EXPECT_EQ(TK17SIM_UNLIMITED, n);
    EXPECT_EQ(0u, status) << "the virtual clock never overflows on its own";
    ASSERT_EQ(1, d().Tk17StopSampling(0));
    EXPECT_EQ(0u, count());
}

TEST_F(SimcardVirtual, ScriptedAvailableCount)
{
    ASSERT_EQ(1, d().open(0));
    restart(makeMode(0, 0, 0, 10));
    ASSERT_EQ(1, sim().SetAvailable(0, 10));
    EXPECT_EQ(10u, count());
    uint16_t buffer[16];
    EXPECT_EQ(0, d().Tk17GetData(0, buffer, 11));
    EXPECT_EQ(TK17SIM_ERR_NOT_ENOUGH_DATA, d().Tk17GetLastError(0));
    EXPECT_EQ(1, d().Tk17GetData(0, buffer, 6));
    EXPECT_EQ(4u, count());
    EXPECT_EQ(1, d().Tk17GetData(0, buffer, 4));
    EXPECT_EQ(0u, count());
    uint64_t position = 0;
    ASSERT_EQ(1, sim().GetPosition(0, &position));
    EXPECT_EQ(10u, position) << "a refused read takes nothing";
    ASSERT_EQ(1, sim().SetAvailable(0, TK17SIM_UNLIMITED));
    EXPECT_EQ(TK17SIM_UNLIMITED, count());
    EXPECT_EQ(0, sim().SetAvailable(1, 10)) << "socket 1 runs on the real clock";
}

TEST_F(SimcardVirtual, PollStepFeedsAPollingLoop)
{
    ASSERT_EQ(1, d().open(0));
    restart(makeMode(0, 0, 0, 10));
    ASSERT_EQ(1, sim().SetPollStep(0, 96));
    ASSERT_EQ(1, sim().ClearCallLog());
    // The extension's loop: poll until the count reaches one read.
    uint32_t polls = 0;
    while (count() < 300) ASSERT_LT(++polls, 100u);
    EXPECT_EQ(4, sim().CallCount("Tk17GetSamplingStatus", 0));  // 96, 192, 288, 384
    uint16_t buffer[300];
    ASSERT_EQ(1, d().Tk17GetData(0, buffer, 300));
    EXPECT_EQ(84u + 96u, count());
    ASSERT_EQ(1, sim().SetPollStep(0, 0));
    EXPECT_EQ(180u, count());
}

TEST_F(SimcardVirtual, ModeRecordIsCheckedAndKept)
{
    ASSERT_EQ(1, d().open(0));
    Tk17Mode got;
    EXPECT_EQ(0, sim().GetMode(0, &got)) << "no mode yet";
    EXPECT_EQ(0, d().Tk17StartSampling(0));
    EXPECT_EQ(TK17SIM_ERR_NO_MODE, d().Tk17GetLastError(0));

    Tk17Mode good = makeMode(1, 0, 3, 25, 262144, 4);
    std::vector<Tk17Mode> bad(10, good);
    bad[0].range = 2;
    bad[1].firstChannel = -1;
    bad[2].lastChannel = 8;
    bad[3].firstChannel = 3, bad[3].lastChannel = 2;
    bad[4].interval = 0;
    bad[5].interval = 256;
    bad[6].reserved16 = 1;
    bad[7].reserved20 = 0;
    bad[8].driverBufferSize = 0;
    bad[9].decimation = 0;
    for (size_t i = 0; i < bad.size(); ++i) {
        EXPECT_EQ(0, d().Tk17SetMode(0, &bad[i])) << "case " << i;
        EXPECT_EQ(TK17SIM_ERR_BAD_MODE, d().Tk17GetLastError(0)) << "case " << i;
    }
    EXPECT_EQ(0, d().Tk17SetMode(0, nullptr));
    EXPECT_EQ(TK17SIM_ERR_BAD_ARGUMENT, d().Tk17GetLastError(0));
    EXPECT_EQ(0, sim().GetMode(0, &got)) << "rejected modes are not kept";

    ASSERT_EQ(1, d().Tk17SetMode(0, &good));
    ASSERT_EQ(1, sim().GetMode(0, &got));
    EXPECT_EQ(0, memcmp(&good, &got, sizeof good));

    ASSERT_EQ(1, d().Tk17StartSampling(0));
    EXPECT_EQ(1, sim().IsSampling(0));
    EXPECT_EQ(0, d().Tk17SetMode(0, &good));
    EXPECT_EQ(TK17SIM_ERR_BUSY, d().Tk17GetLastError(0));
    EXPECT_EQ(0, d().Tk17StartSampling(0));
    EXPECT_EQ(TK17SIM_ERR_BUSY, d().Tk17GetLastError(0));
    ASSERT_EQ(1, d().Tk17StopSampling(0));
    EXPECT_EQ(0, sim().IsSampling(0));
    EXPECT_EQ(1, d().Tk17StopSampling(0)) << "stopping twice is harmless";
    uint16_t sample;
    EXPECT_EQ(0, d().Tk17GetData(0, &sample, 1));
    EXPECT_EQ(TK17SIM_ERR_NOT_SAMPLING, d().Tk17GetLastError(0));
    // Start again with the mode kept from before.
    EXPECT_EQ(1, d().Tk17StartSampling(0));
}
