// Opening and closing cards, resources, the digital ports, the output-port log, the
// call log and concurrent use.
#include "driver_loader.h"

#include <algorithm>
#include <map>
#include <thread>

using namespace simtest;

namespace {

class SimcardCard : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        configure("[card 0]\nclock = virtual\n"
                  "[card 2]\nclock = virtual\nio_address = 0x3C0\nio_length = 8\n");
    }
};

}  // namespace

TEST_F(SimcardCard, CreateOpensOnlyConfiguredSockets)
{
    EXPECT_EQ(1, d().open(0));
    EXPECT_EQ(0, d().open(1));
    EXPECT_EQ(TK17SIM_ERR_NO_CARD, d().Tk17GetLastError(1));
    EXPECT_EQ(1, d().open(2));
    EXPECT_EQ(0, d().open(3));
    EXPECT_EQ(0, d().open(4));
    EXPECT_EQ(TK17SIM_ERR_BAD_ARGUMENT, d().Tk17GetLastError(4));
    EXPECT_EQ(0, d().open(0x10000));  // the whole cell is the socket number
    EXPECT_EQ(0, d().Tk17Create(nullptr, nullptr, TK17_MSG_CARD_REMOVED, 0));
    EXPECT_EQ(1, sim().IsOpen(0));
    EXPECT_EQ(0, sim().IsOpen(1));
    EXPECT_EQ(1, sim().IsOpen(2));
}

TEST_F(SimcardCard, CreateLeavesTheSocketCell)
{
    uint32_t cell = 2;
    ASSERT_EQ(1, d().Tk17Create(&cell, nullptr, TK17_MSG_CARD_REMOVED, 0));
    EXPECT_EQ(2u, cell);
}

TEST_F(SimcardCard, SecondCreateIsRefusedUntilClosed)
{
    ASSERT_EQ(1, d().open(0));
    EXPECT_EQ(0, d().open(0));
    EXPECT_EQ(TK17SIM_ERR_ALREADY_OPEN, d().Tk17GetLastError(0));
    EXPECT_EQ(1, d().Tk17Close(0));
    EXPECT_EQ(0, sim().IsOpen(0));
    EXPECT_EQ(1, d().open(0));
}

TEST_F(SimcardCard, OperationsNeedAnOpenCard)
{
    Tk17Resource r;
    Tk17Mode m = makeMode(0, 0, 0, 10);
    uint32_t count, status;
    uint16_t sample;
    uint8_t byte;
    EXPECT_EQ(0, d().Tk17GetResource(0, &r));
    EXPECT_EQ(TK17SIM_ERR_NOT_OPEN, d().Tk17GetLastError(0));
    EXPECT_EQ(0, d().Tk17SetMode(0, &m));
    EXPECT_EQ(0, d().Tk17StartSampling(0));
    EXPECT_EQ(0, d().Tk17StopSampling(0));
    EXPECT_EQ(0, d().Tk17GetSamplingStatus(0, &count, &status));
    EXPECT_EQ(0, d().Tk17GetData(0, &sample, 1));
    EXPECT_EQ(0, d().Tk17OutPort(0, 1));
    EXPECT_EQ(0, d().Tk17InPort(0, &byte));
    EXPECT_EQ(0, d().Tk17Close(0));
    EXPECT_EQ(TK17SIM_ERR_NOT_OPEN, d().Tk17GetLastError(0));
    // A socket without a card says so, also for a close.
    EXPECT_EQ(0, d().Tk17Close(1));
    EXPECT_EQ(TK17SIM_ERR_NO_CARD, d().Tk17GetLastError(1));
    EXPECT_EQ(0, d().Tk17GetResource(3, &r));
    EXPECT_EQ(TK17SIM_ERR_NO_CARD, d().Tk17GetLastError(3));

    ASSERT_EQ(1, d().open(0));
    ASSERT_EQ(1, d().Tk17Close(0));
    EXPECT_EQ(0, d().Tk17GetResource(0, &r));
    EXPECT_EQ(TK17SIM_ERR_NOT_OPEN, d().Tk17GetLastError(0));
}

TEST_F(SimcardCard, LastErrorIsZeroUntilSomethingFailsAndKeptPerSocket)
{
    EXPECT_EQ(0, d().Tk17GetLastError(0));
    ASSERT_EQ(1, d().open(0));
    ASSERT_EQ(1, d().open(2));
    uint16_t sample;
    EXPECT_EQ(0, d().Tk17GetData(0, &sample, 1));
    EXPECT_EQ(TK17SIM_ERR_NOT_SAMPLING, d().Tk17GetLastError(0));
    EXPECT_EQ(0, d().Tk17GetLastError(2));
    uint8_t b;
    EXPECT_EQ(1, d().Tk17InPort(0, &b));
    EXPECT_EQ(TK17SIM_ERR_NOT_SAMPLING, d().Tk17GetLastError(0)) << "a success does not clear the last error";
    EXPECT_EQ(0, d().Tk17InPort(0, nullptr));
    EXPECT_EQ(TK17SIM_ERR_BAD_ARGUMENT, d().Tk17GetLastError(0));
}

TEST_F(SimcardCard, ResourceRecordCarriesAddressAndLength)
{
    ASSERT_EQ(1, d().open(2));
    Tk17Resource r;
    memset(r.bytes, 0xCC, sizeof r.bytes);
    ASSERT_EQ(1, d().Tk17GetResource(2, &r));
    uint32_t address, length;
    memcpy(&address, r.bytes + TK17_RESOURCE_IO_ADDRESS, 4);
    memcpy(&length, r.bytes + TK17_RESOURCE_IO_LENGTH, 4);
    EXPECT_EQ(0x3C0u, address);
    EXPECT_EQ(8u, length);
    // The whole record is written, not only the two fields.
    EXPECT_EQ(0, r.bytes[0]);
    EXPECT_EQ(0, r.bytes[407]);
    EXPECT_EQ(0, d().Tk17GetResource(2, nullptr));
    EXPECT_EQ(TK17SIM_ERR_BAD_ARGUMENT, d().Tk17GetLastError(2));
}

// ---------------------------------------------------------------- digital input

namespace {

std::vector<uint8_t> readInput(LoadedDriver& d, uint16_t socket, int n)
{
    std::vector<uint8_t> bytes;
    for (int i = 0; i < n; ++i) {
        uint8_t b = 0xEE;
        EXPECT_EQ(1, d.Tk17InPort(socket, &b));
        bytes.push_back(b);
    }
    return bytes;
}

}  // namespace

TEST_F(SimcardCard, InputGenerators)
{
    ASSERT_EQ(1, d().open(0));
    ASSERT_EQ(1, sim().SetInput(0, "fixed 0A"));
    EXPECT_EQ((std::vector<uint8_t>{0x0A, 0x0A, 0x0A}), readInput(d(), 0, 3));

    ASSERT_EQ(1, sim().SetInput(0, "counter start=FE"));
    EXPECT_EQ((std::vector<uint8_t>{0xFE, 0xFF, 0x00, 0x01}), readInput(d(), 0, 4));

    ASSERT_EQ(1, sim().SetInput(0, "counter"));
    EXPECT_EQ((std::vector<uint8_t>{0, 1, 2}), readInput(d(), 0, 3));

    ASSERT_EQ(1, sim().SetInput(0, "pattern 01 02 04 08"));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 4, 8, 1, 2}), readInput(d(), 0, 6));

    EXPECT_EQ(0, sim().SetInput(0, "pattern 1 2 300"));
    EXPECT_NE(std::string::npos, d().lastError().find("300"));
    EXPECT_EQ(0, sim().SetInput(1, "fixed 00")) << "no card in socket 1";
    // A rejected generator leaves the previous one.
    EXPECT_EQ((std::vector<uint8_t>{4, 8}), readInput(d(), 0, 2));
}

TEST_F(SimcardCard, LoopbackReadsTheLastByteWrittenToTheSameCard)
{
    ASSERT_EQ(1, d().open(0));
    ASSERT_EQ(1, d().open(2));
    ASSERT_EQ(1, sim().SetInput(0, "loopback"));
    EXPECT_EQ(std::vector<uint8_t>{0}, readInput(d(), 0, 1));
    ASSERT_EQ(1, d().Tk17OutPort(0, 0x5A));
    EXPECT_EQ((std::vector<uint8_t>{0x5A, 0x5A}), readInput(d(), 0, 2));
    ASSERT_EQ(1, d().Tk17OutPort(2, 0x11));  // another card's port
    ASSERT_EQ(1, d().Tk17OutPort(0, 0xC3));
    EXPECT_EQ(std::vector<uint8_t>{0xC3}, readInput(d(), 0, 1));
}

TEST_F(SimcardCard, InputGeneratorsPerCardAreIndependent)
{
    configure("[card 0]\ndin = counter start=10\n[card 1]\ndin = counter start=80\n");
    ASSERT_EQ(1, d().open(0));
    ASSERT_EQ(1, d().open(1));
    EXPECT_EQ((std::vector<uint8_t>{0x10, 0x11}), readInput(d(), 0, 2));
    EXPECT_EQ((std::vector<uint8_t>{0x80}), readInput(d(), 1, 1));
    EXPECT_EQ((std::vector<uint8_t>{0x12}), readInput(d(), 0, 1));
}

// ---------------------------------------------------------------- output log

namespace {

// The performance counter now, and a span of its ticks in whole microseconds
// (rounded down, as the driver rounds its times).
int64_t counterNow()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

int64_t wholeMicros(int64_t ticks)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return ticks <= 0 ? 0 : static_cast<int64_t>(static_cast<double>(ticks) * 1e6 / static_cast<double>(f.QuadPart));
}

}  // namespace

// The times are what the driver guarantees whatever the machine's load: each card
// counts from its own opening, so a write's time is at least the time the test saw
// pass since that opening, and a card's writes are in time order. No upper bound:
// any call may be delayed arbitrarily.
TEST_F(SimcardCard, OutputLogKeepsEveryWriteInOrderWithSocketAndTime)
{
    ASSERT_EQ(1, d().open(0));
    const int64_t afterOpen0 = counterNow();
    Sleep(30);
    const int64_t beforeOpen2 = counterNow();
    ASSERT_EQ(1, d().open(2));
    ASSERT_EQ(1, d().Tk17OutPort(0, 0x01));
    ASSERT_EQ(1, d().Tk17OutPort(2, 0x80));
    ASSERT_EQ(1, d().Tk17OutPort(0, 0x02));
    EXPECT_EQ(0, d().Tk17OutPort(1, 0x03)) << "no card: not logged";

    SimPortWrite all[8] = {};
    ASSERT_EQ(3, sim().GetOutputLog(-1, all, 8));
    EXPECT_EQ(0, all[0].socket);
    EXPECT_EQ(0x01, all[0].value);
    EXPECT_EQ(2, all[1].socket);
    EXPECT_EQ(0x80, all[1].value);
    EXPECT_EQ(0, all[2].socket);
    EXPECT_EQ(0x02, all[2].value);
    // Card 0's first write came at least the test's pause after its opening.
    const int64_t openedBetween = wholeMicros(beforeOpen2 - afterOpen0);
    EXPECT_GE(static_cast<int64_t>(all[0].micros), openedBetween);
    EXPECT_GE(all[2].micros, all[0].micros) << "one card's writes are in time order";
    // Card 2 counts from its own, later opening: card 0's next write, made after
    // card 2's, is ahead of it by at least the time between the two openings.
    EXPECT_GE(static_cast<int64_t>(all[2].micros) - static_cast<int64_t>(all[1].micros) + 1, openedBetween);

    SimPortWrite only0[8] = {};
    ASSERT_EQ(2, sim().GetOutputLog(0, only0, 8));
    EXPECT_EQ(0x01, only0[0].value);
    EXPECT_EQ(0x02, only0[1].value);

    // A short array gets the first entries; the result is still the total.
    SimPortWrite one[1] = {};
    EXPECT_EQ(3, sim().GetOutputLog(-1, one, 1));
    EXPECT_EQ(0x01, one[0].value);
    EXPECT_EQ(1, sim().GetOutputLog(2, nullptr, 0));

    ASSERT_EQ(1, sim().ClearOutputLog());
    EXPECT_EQ(0, sim().GetOutputLog(-1, nullptr, 0));
}

// A card opened again counts from the new opening: its first write after it is
// not held back by the times of the writes before the close.
TEST_F(SimcardCard, OutputLogTimesStartAgainWhenTheCardIsOpenedAgain)
{
    ASSERT_EQ(1, d().open(0));
    Sleep(30);
    ASSERT_EQ(1, d().Tk17OutPort(0, 0x01));
    ASSERT_EQ(1, d().Tk17Close(0));
    const int64_t beforeReopen = counterNow();
    ASSERT_EQ(1, d().open(0));
    ASSERT_EQ(1, d().Tk17OutPort(0, 0x02));
    const int64_t afterWrite = counterNow();
    SimPortWrite all[2] = {};
    ASSERT_EQ(2, sim().GetOutputLog(0, all, 2));
    EXPECT_LE(static_cast<int64_t>(all[1].micros), wholeMicros(afterWrite - beforeReopen))
        << "counted from the second opening, which the test saw happen";
}

// The log keeps the latest 1,048,576 writes: the oldest go first.
TEST_F(SimcardCard, OutputLogKeepsTheLatestWritesUpToItsLimit)
{
    ASSERT_EQ(1, d().open(0));
    constexpr uint32_t kLimit = 1u << 20;
    for (uint32_t i = 0; i < kLimit + 5; ++i) ASSERT_EQ(1, d().Tk17OutPort(0, static_cast<uint8_t>(i))) << i;
    EXPECT_EQ(static_cast<int32_t>(kLimit), sim().GetOutputLog(0, nullptr, 0));
    SimPortWrite first[2] = {};
    ASSERT_EQ(static_cast<int32_t>(kLimit), sim().GetOutputLog(-1, first, 2));
    EXPECT_EQ(5, first[0].value) << "writes 0 to 4 were dropped";
    EXPECT_EQ(6, first[1].value);
}

// ---------------------------------------------------------------- call log

TEST_F(SimcardCard, CallLogHasOneLinePerCallWithArgumentsAndResult)
{
    ASSERT_EQ(1, sim().ClearCallLog());
    uint8_t b;
    uint16_t samples[4];
    uint32_t count, status;
    d().open(0);
    d().open(1);
    Tk17Mode m = makeMode(1, 0, 1, 25, 65536, 3);
    d().Tk17SetMode(0, &m);
    d().Tk17StartSampling(0);
    d().Tk17GetSamplingStatus(0, &count, &status);
    d().Tk17GetData(0, samples, 4);
    ASSERT_EQ(1, sim().SetInput(0, "fixed 3C"));
    d().Tk17InPort(0, &b);
    d().Tk17OutPort(0, 0xA5);
    d().Tk17StopSampling(0);
    d().Tk17GetLastError(1);
    d().Tk17Close(0);
    d().Tk17GetVersion();

    EXPECT_EQ("Tk17Create 0 1224 0 -> 1\n"
              "Tk17Create 1 1224 0 -> 0\n"
              "Tk17SetMode 0 1 0 1 25 0 1 65536 3 -> 1\n"
              "Tk17StartSampling 0 -> 1\n"
              "Tk17GetSamplingStatus 0 -> 1 4294967295 0x00\n"
              "Tk17GetData 0 4 -> 1\n"
              "Tk17InPort 0 -> 1 0x3C\n"
              "Tk17OutPort 0 0xA5 -> 1\n"
              "Tk17StopSampling 0 -> 1\n"
              "Tk17GetLastError 1 -> 1\n"
              "Tk17Close 0 -> 1\n"
              "Tk17GetVersion -> 528\n",
              d().callLog());
}

TEST_F(SimcardCard, CallLogCopyIsTerminatedAndReportsTheFullLength)
{
    ASSERT_EQ(1, sim().ClearCallLog());
    d().open(0);
    std::string full = d().callLog();
    ASSERT_EQ("Tk17Create 0 1224 0 -> 1\n", full);
    char small[8];
    memset(small, 'x', sizeof small);
    EXPECT_EQ(static_cast<int32_t>(full.size()), sim().GetCallLog(small, sizeof small));
    EXPECT_EQ(std::string("Tk17Cre"), std::string(small));
    ASSERT_EQ(1, sim().ClearCallLog());
    EXPECT_EQ(0, sim().GetCallLog(nullptr, 0));
}

TEST_F(SimcardCard, CallCountsPerOperationAndSocket)
{
    ASSERT_EQ(1, sim().ClearCallLog());
    uint8_t b;
    d().open(0);
    d().open(2);
    d().open(1);
    for (int i = 0; i < 3; ++i) d().Tk17InPort(0, &b);
    d().Tk17InPort(2, &b);
    d().Tk17InPort(7, &b);
    d().Tk17GetVersion();
    EXPECT_EQ(5, sim().CallCount("Tk17InPort", -1));
    EXPECT_EQ(3, sim().CallCount("Tk17InPort", 0));
    EXPECT_EQ(1, sim().CallCount("Tk17InPort", 2));
    EXPECT_EQ(0, sim().CallCount("Tk17InPort", 1));
    EXPECT_EQ(1, sim().CallCount("Tk17Create", 1)) << "failed calls count too";
    EXPECT_EQ(3, sim().CallCount("Tk17Create", -1));
    EXPECT_EQ(1, sim().CallCount("Tk17GetVersion", -1));
    EXPECT_EQ(9, sim().CallCount(nullptr, -1));
    EXPECT_EQ(4, sim().CallCount(nullptr, 0));
    EXPECT_EQ(-1, sim().CallCount("Tk17Bogus", -1));
    EXPECT_EQ(-1, sim().CallCount("Tk17InPort", 4));
}

// ---------------------------------------------------------------- concurrency

TEST_F(SimcardCard, ConcurrentPortCallsLoseNothing)
{
    ASSERT_EQ(1, d().open(0));
    ASSERT_EQ(1, sim().SetInput(0, "counter"));
    constexpr int kThreads = 4, kCalls = 512;
    std::vector<std::vector<uint8_t>> seen(kThreads);
    std::vector<std::thread> threads;
    auto in = d().Tk17InPort;
    auto out = d().Tk17OutPort;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCalls; ++i) {
                uint8_t b;
                if (in(0, &b)) seen[t].push_back(b);
                out(0, static_cast<uint8_t>(t));
            }
        });
    }
    for (auto& th : threads) th.join();
    // 2048 counter reads: every byte value exactly 8 times, whatever the interleaving.
    std::map<int, int> histogram;
    size_t reads = 0;
    for (const auto& v : seen) {
        reads += v.size();
        for (uint8_t b : v) histogram[b]++;
    }
    EXPECT_EQ(static_cast<size_t>(kThreads * kCalls), reads);
    EXPECT_EQ(256u, histogram.size());
    for (const auto& [value, n] : histogram) EXPECT_EQ(kThreads * kCalls / 256, n) << value;
    EXPECT_EQ(kThreads * kCalls, sim().GetOutputLog(0, nullptr, 0));
    EXPECT_EQ(kThreads * kCalls, sim().CallCount("Tk17InPort", 0));
}
