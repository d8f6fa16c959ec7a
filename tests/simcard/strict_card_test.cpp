// The driver's stricter sides: status words with bits of their own, 16-bit code
// sources, card time that moves only with status polls and SimAdvanceClock (clock =
// stepped), and port calls that take their time and are counted when they meet.
#include "driver_loader.h"

using namespace simtest;

namespace {

class SimcardStrict : public DriverTest {
protected:
    uint32_t status(uint16_t socket, uint32_t* word = nullptr)
    {
        uint32_t n = 0, w = 0;
        EXPECT_EQ(1, d().Tk17GetSamplingStatus(socket, &n, &w)) << "error " << d().Tk17GetLastError(socket);
        if (word) *word = w;
        return n;
    }
    std::string configError(const char* text)
    {
        EXPECT_EQ(0, sim().Configure(text)) << text;
        char reason[256] = {};
        uint32_t line = 0;
        sim().ConfigError(&line, reason, sizeof reason);
        return "line " + std::to_string(line) + ": " + reason;
    }
};

// Calls Tk17InPort `calls` times on another thread.
struct PortReader {
    LoadedDriver* driver;
    uint16_t socket;
    int calls;
    int failures = 0;
    static DWORD WINAPI run(void* self)
    {
        PortReader* r = static_cast<PortReader*>(self);
        for (int i = 0; i < r->calls; ++i) {
            uint8_t b = 0;
            if (r->driver->Tk17InPort(r->socket, &b) != 1) ++r->failures;
        }
        return 0;
    }
};

}  // namespace

TEST_F(SimcardStrict, StatusBitsAreReportedBesideTheCardsOwn)
{
    configure("[card 0]\nclock = virtual\nstatus_bits = 0x80000025\n[card 1]\nclock = virtual\n");
    start(0, makeMode(0, 0, 0, 10));
    start(1, makeMode(0, 0, 0, 10));
    uint32_t word = 0;
    status(0, &word);
    EXPECT_EQ(0x80000025u, word);
    status(1, &word);
    EXPECT_EQ(0u, word) << "a card without status_bits";
    ASSERT_EQ(1, sim().TriggerOverflow(0));
    status(0, &word);
    EXPECT_EQ(0x8000002Du, word) << "the overflow bit joins the configured ones";
    ASSERT_EQ(1, sim().SetStatusBits(1, 0x1004));
    status(1, &word);
    EXPECT_EQ(0x1004u, word);
    SimCardState state;
    ASSERT_EQ(1, sim().GetCardState(1, &state));
    EXPECT_EQ(0x1004u, state.status);
    // A new start clears the card's own bits; the configured ones stay.
    ASSERT_EQ(1, d().Tk17StopSampling(0));
    ASSERT_EQ(1, d().Tk17StartSampling(0));
    status(0, &word);
    EXPECT_EQ(0x80000025u, word);
    EXPECT_NE(std::string::npos, d().callLog().find("Tk17GetSamplingStatus 0 -> 1 4294967295 0x80000025"))
        << d().callLog();
    EXPECT_EQ(0, sim().SetStatusBits(2, 1)) << "no card in socket 2";
}

TEST_F(SimcardStrict, SixteenBitCodesAndScans)
{
    configure("[card 0]\nclock = virtual\nai0 = codes bits=16 4095 4096 32768 65535\n"
              "ai1 = scan start=65534 step=1 bits=16\nai2 = scan start=4095 step=1\n");
    start(0, makeMode(0, 0, 2, 10));
    EXPECT_EQ((std::vector<uint16_t>{4095, 65534, 4095, 4096, 65535, 0, 32768, 0, 1, 65535, 1, 2}), read(0, 12));
    EXPECT_EQ("line 2: ai0: '4096' is not a code 0..4095", configError("[card 0]\nai0 = codes 0 4096\n"));
    EXPECT_EQ("line 2: ai0: '65536' is not a code 0..65535", configError("[card 0]\nai0 = codes bits=16 65536\n"));
    EXPECT_EQ("line 2: ai3: bits is 12 or 16, found 'bits=8'", configError("[card 0]\nai3 = scan bits=8\n"));
    EXPECT_EQ("line 2: ai0: parameter 'bits' does not apply to sine",
              configError("[card 0]\nai0 = sine bits=16\n"));
    EXPECT_EQ(1, sim().SetChannel(0, 3, "codes 1 bits=16 40000")) << d().lastError();
}

TEST_F(SimcardStrict, TimingKeysAreCheckedWithTheirLine)
{
    EXPECT_EQ("line 3: poll_time_us is a whole number of microseconds, 0 to 1000000000",
              configError("[card 0]\nclock = stepped\npoll_time_us = 1.5\n"));
    EXPECT_EQ("line 2: status_bits is a 32-bit unsigned number (0x80000025)",
              configError("[card 0]\nstatus_bits = 0x100000000\n"));
    EXPECT_EQ("line 2: port_hold_us is a whole number of microseconds, 0 to 1000000",
              configError("[card 0]\nport_hold_us = -1\n"));
    configure("[card 0]\nclock = stepped\n[card 1]\nclock = virtual\n");
    SimCardState state;
    ASSERT_EQ(1, sim().GetCardState(0, &state));
    EXPECT_EQ(1u, state.virtualClock) << "no real time passes on the stepped clock";
    EXPECT_EQ(0, sim().SetAvailable(0, 5)) << "the stepped clock's count follows its card time";
    EXPECT_EQ(0, sim().AdvanceClock(1, 1000)) << "the plain virtual clock has no card time";
    EXPECT_EQ(0, sim().SetPollTime(1, 1000));
}

// 100 us a conversion (interval 10); each poll moves the card on by 1 ms: 10 conversions.
TEST_F(SimcardStrict, SteppedClockConvertsWithCardTime)
{
    configure("[card 0]\nclock = stepped\nai0 = scan start=0 step=1\nai1 = scan start=100 step=1\n");
    start(0, makeMode(0, 0, 1, 10, 1024));
    EXPECT_EQ(10u, status(0));
    EXPECT_EQ(20u, status(0));
    std::vector<uint16_t> codes(21);
    EXPECT_EQ(0, d().Tk17GetData(0, codes.data(), 21)) << "only 20 converted";
    EXPECT_EQ(TK17SIM_ERR_NOT_ENOUGH_DATA, d().Tk17GetLastError(0));
    EXPECT_EQ((std::vector<uint16_t>{0, 100, 1, 101, 2, 102}), read(0, 6));
    ASSERT_EQ(1, sim().SetPollTime(0, 0));
    EXPECT_EQ(14u, status(0)) << "card time stands still";
    ASSERT_EQ(1, sim().AdvanceClock(0, 250));
    EXPECT_EQ(16u, status(0)) << "250 us: two more whole conversions";
    ASSERT_EQ(1, sim().AdvanceClock(0, 50));
    EXPECT_EQ(17u, status(0));
    // A new start begins at card time 0.
    ASSERT_EQ(1, d().Tk17StopSampling(0));
    ASSERT_EQ(1, d().Tk17StartSampling(0));
    EXPECT_EQ(0u, status(0));
    ASSERT_EQ(1, sim().SetPollTime(0, 1000));
    EXPECT_EQ(10u, status(0));
    EXPECT_EQ((std::vector<uint16_t>{0, 100}), read(0, 2));
}

// The buffer of 1024 bytes holds 512 samples: card time past that overflows it as a
// real card's would.
TEST_F(SimcardStrict, SteppedClockOverflowsAFullBuffer)
{
    configure("[card 0]\nclock = stepped\npoll_time_us = 0\n");
    MessageWindow sink;
    ASSERT_EQ(1, d().open(0, sink.hwnd()));
    Tk17Mode m = makeMode(0, 0, 0, 10, 1024);
    ASSERT_EQ(1, d().Tk17SetMode(0, &m));
    ASSERT_EQ(1, d().Tk17StartSampling(0));
    ASSERT_EQ(1, sim().AdvanceClock(0, 51200));
    uint32_t word = 0;
    EXPECT_EQ(512u, status(0, &word));
    EXPECT_EQ(0u, word);
    ASSERT_EQ(1, sim().AdvanceClock(0, 100));
    EXPECT_EQ(512u, status(0, &word)) << "the 513th conversion is lost";
    EXPECT_EQ(static_cast<uint32_t>(TK17_STATUS_OVERFLOW), word);
    ASSERT_EQ(1, sim().AdvanceClock(0, 100000));
    EXPECT_EQ(512u, status(0));
    auto posted = sink.take();
    ASSERT_EQ(1u, posted.size());
    EXPECT_EQ(static_cast<UINT>(TK17_MSG_BUFFER_OVERFLOW), posted[0].first);
}

TEST_F(SimcardStrict, PortCallsOfOneThreadNeverOverlap)
{
    configure("[card 0]\nclock = virtual\nport_hold_us = 200\n[card 1]\nclock = virtual\n");
    ASSERT_EQ(1, d().open(0));
    ASSERT_EQ(1, d().open(1));
    for (int i = 0; i < 20; ++i) {
        uint8_t b = 0;
        ASSERT_EQ(1, d().Tk17InPort(static_cast<uint16_t>(i % 2), &b));
        ASSERT_EQ(1, d().Tk17OutPort(static_cast<uint16_t>(i % 2), b));
    }
    EXPECT_EQ(0, sim().PortOverlaps(0));
    EXPECT_EQ(0, sim().SetPortHold(0, 1000001)) << "at most a second";
}

// Two threads reading the port at once meet inside the driver: each call is held for
// 20 ms, so they meet unless one thread's 10 calls end before the other's begin.
// Tried a few times, so that a thread the system starts late cannot fail the test.
TEST_F(SimcardStrict, PortCallsOfTwoThreadsAtOnceAreCounted)
{
    configure("[card 0]\nclock = virtual\nport_hold_us = 20000\n[card 1]\nclock = virtual\n");
    ASSERT_EQ(1, d().open(0));
    ASSERT_EQ(1, d().open(1));
    int32_t overlaps = 0;
    for (int attempt = 0; attempt < 5 && overlaps == 0; ++attempt) {
        PortReader other{&d(), 1, 10, 0};
        HANDLE thread = CreateThread(nullptr, 0, PortReader::run, &other, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        PortReader mine{&d(), 0, 10, 0};
        PortReader::run(&mine);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 20000)) << "the other reader did not end within 20 s";
        CloseHandle(thread);
        EXPECT_EQ(0, other.failures + mine.failures);
        overlaps = sim().PortOverlaps(1);
    }
    EXPECT_GT(overlaps, 0) << "two threads' port calls never met in five tries";
    EXPECT_EQ(0, sim().PortOverlaps(0)) << "cleared when read with clear = 1";
}
