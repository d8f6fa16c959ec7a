// Analog sampling on the real clock: the count grows at the programmed rate, reads
// beyond it are refused, and an unread buffer overflows as on the card. These tests
// assert on behaviour only; the deadlines below merely keep a broken driver from
// hanging the run.
#include "driver_loader.h"

using namespace simtest;

namespace {

constexpr uint16_t kSocket = 1;

class SimcardReal : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        configure("[card 1]\nclock = real\nai0 = scan\nai1 = scan start=2000\n");
    }
    void begin(const Tk17Mode& mode)
    {
        ASSERT_EQ(1, d().open(kSocket, window.hwnd()));
        Tk17Mode m = mode;
        ASSERT_EQ(1, d().Tk17SetMode(kSocket, &m));
        ASSERT_EQ(1, d().Tk17StartSampling(kSocket));
    }
    void poll(uint32_t& count, uint32_t& status)
    {
        ASSERT_EQ(1, d().Tk17GetSamplingStatus(kSocket, &count, &status));
    }
    uint32_t count()
    {
        uint32_t n = 0, status = 0;
        poll(n, status);
        return n;
    }
    // Polls without pause until the count reaches `n`; false after 10 s.
    bool waitFor(uint32_t n)
    {
        ULONGLONG deadline = GetTickCount64() + 10000;
        while (count() < n)
            if (GetTickCount64() > deadline) return false;
        return true;
    }

    MessageWindow window;
};

}  // namespace

TEST_F(SimcardReal, CountGrowsForACallerPollingInATightLoop)
{
    begin(makeMode(0, 0, 0, 1, 8388608));  // 100 000 conversions a second
    ASSERT_TRUE(waitFor(200));
    uint32_t first = count();
    ASSERT_TRUE(waitFor(first + 1));
    uint32_t n = count();
    std::vector<uint16_t> codes = read(kSocket, n);
    for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(i % 4096, codes[i]) << i;
    EXPECT_LT(count(), n) << "read samples leave the count";
    uint32_t status = 1, ignored;
    poll(ignored, status);
    EXPECT_EQ(0u, status);
}

TEST_F(SimcardReal, SuccessiveReadsDeliverEveryConversionInOrder)
{
    begin(makeMode(1, 0, 1, 10, 65536));  // 32768 samples of buffer: seconds at 10 kHz
    uint32_t next = 0;
    ULONGLONG until = GetTickCount64() + 30;
    int reads = 0;
    while (GetTickCount64() < until || reads < 3) {
        uint32_t n = 0, status = 0;
        poll(n, status);
        ASSERT_EQ(0u, status & (TK17_STATUS_OVERFLOW | TK17_STATUS_OVERRUN));
        if (n < 2) continue;
        n &= ~1u;  // whole scans
        std::vector<uint16_t> codes = read(kSocket, n);
        for (uint32_t i = 0; i < n; i += 2, ++next) {
            ASSERT_EQ(next % 4096, codes[i]);
            ASSERT_EQ((2000 + next) % 4096, codes[i + 1]);
        }
        ++reads;
        ASSERT_LT(GetTickCount64(), until + 10000);
    }
    EXPECT_TRUE(window.take().empty());
}

TEST_F(SimcardReal, ReadingMoreThanIsReadyIsRefused)
{
    begin(makeMode(0, 0, 0, 255));  // 2.55 ms per conversion
    std::vector<uint16_t> buffer(100000);
    EXPECT_EQ(0, d().Tk17GetData(kSocket, buffer.data(), 100000));
    EXPECT_EQ(TK17SIM_ERR_NOT_ENOUGH_DATA, d().Tk17GetLastError(kSocket));
    uint64_t position = 99;
    ASSERT_EQ(1, sim().GetPosition(kSocket, &position));
    EXPECT_EQ(0u, position);
    EXPECT_LT(count(), 100000u);
    ASSERT_TRUE(waitFor(1));
    EXPECT_EQ(0u, read(kSocket, 1)[0]) << "the refused read took nothing";
}

TEST_F(SimcardReal, UnreadBufferOverflowsOnceAndKeepsWhatItHeld)
{
    begin(makeMode(0, 0, 0, 1, 64));  // 32 samples of buffer, filled in 0.32 ms
    Sleep(20);
    uint32_t n = 0, status = 0;
    poll(n, status);
    EXPECT_EQ(TK17_STATUS_OVERFLOW, status & TK17_STATUS_OVERFLOW);
    EXPECT_EQ(32u, n);
    auto got = window.take();
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(static_cast<UINT>(TK17_MSG_BUFFER_OVERFLOW), got[0].first);
    EXPECT_EQ(static_cast<WPARAM>(kSocket), got[0].second);

    // Posted once; nothing more arrives and the buffer holds the first 32 conversions.
    Sleep(10);
    poll(n, status);
    EXPECT_EQ(32u, n);
    EXPECT_TRUE(window.take().empty());
    std::vector<uint16_t> codes = read(kSocket, 32);
    for (uint16_t i = 0; i < 32; ++i) EXPECT_EQ(i, codes[i]);
    uint16_t more;
    EXPECT_EQ(0, d().Tk17GetData(kSocket, &more, 1));
    EXPECT_EQ(TK17SIM_ERR_NOT_ENOUGH_DATA, d().Tk17GetLastError(kSocket));
    poll(n, status);
    EXPECT_EQ(0u, n);
    EXPECT_EQ(TK17_STATUS_OVERFLOW, status & TK17_STATUS_OVERFLOW) << "the bit stays until the next start";

    // A new start with room enough clears the state.
    ASSERT_EQ(1, d().Tk17StopSampling(kSocket));
    Tk17Mode roomy = makeMode(0, 0, 0, 255, 8388608);
    ASSERT_EQ(1, d().Tk17SetMode(kSocket, &roomy));
    ASSERT_EQ(1, d().Tk17StartSampling(kSocket));
    poll(n, status);
    EXPECT_EQ(0u, status);
}

TEST_F(SimcardReal, OverflowIsNoticedByAReadToo)
{
    begin(makeMode(0, 0, 0, 1, 64));
    Sleep(20);
    std::vector<uint16_t> buffer(33);
    EXPECT_EQ(0, d().Tk17GetData(kSocket, buffer.data(), 33));
    EXPECT_EQ(TK17SIM_ERR_NOT_ENOUGH_DATA, d().Tk17GetLastError(kSocket));
    auto got = window.take();
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(static_cast<UINT>(TK17_MSG_BUFFER_OVERFLOW), got[0].first);
    EXPECT_EQ(1, d().Tk17GetData(kSocket, buffer.data(), 32));
}
