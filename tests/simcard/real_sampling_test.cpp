// Analog sampling on the real clock: the count grows at the programmed rate, reads
// beyond it are refused, and an unread buffer overflows as on the card. These tests
// assert only what holds however late any call comes on a busy machine: they wait
// for what they need (with a deadline that only keeps a broken driver from hanging
// the run), never a fixed time, and never bound the time that passes.
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
    // Polls without pause until the count reaches `n`; a failure after 30 s.
    ::testing::AssertionResult waitFor(uint32_t n)
    {
        const ULONGLONG deadline = GetTickCount64() + kDeadlineMs;
        uint32_t got = 0;
        while ((got = count()) < n)
            if (GetTickCount64() > deadline)
                return ::testing::AssertionFailure() << "the count stayed at " << got << ", below " << n << ", for "
                                                     << kDeadlineMs / 1000 << " s";
        return ::testing::AssertionSuccess();
    }
    // Polls the status until the overflow bit shows; a failure after 30 s.
    ::testing::AssertionResult waitForOverflow()
    {
        const ULONGLONG deadline = GetTickCount64() + kDeadlineMs;
        for (;;) {
            uint32_t n = 0, status = 0;
            if (d().Tk17GetSamplingStatus(kSocket, &n, &status) != 1)
                return ::testing::AssertionFailure() << "the status poll failed";
            if (status & TK17_STATUS_OVERFLOW) return ::testing::AssertionSuccess();
            if (GetTickCount64() > deadline)
                return ::testing::AssertionFailure() << "no overflow within " << kDeadlineMs / 1000 << " s";
        }
    }

    static constexpr ULONGLONG kDeadlineMs = 30000;

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
    uint64_t position = 0;
    ASSERT_EQ(1, sim().GetPosition(kSocket, &position));
    EXPECT_EQ(n, position);
    // Read samples leave the count: the next one ready is conversion n.
    ASSERT_TRUE(waitFor(1));
    EXPECT_EQ(n % 4096, read(kSocket, 1)[0]);
    uint32_t status = 1, ignored;
    poll(ignored, status);
    EXPECT_EQ(0u, status);
}

TEST_F(SimcardReal, SuccessiveReadsDeliverEveryConversionInOrder)
{
    // 10 kHz with a buffer of 32 M samples: it would take a pause of almost an hour
    // between two polls to overflow it.
    begin(makeMode(1, 0, 1, 10, 64 << 20));
    uint32_t next = 0;
    int reads = 0;
    const ULONGLONG deadline = GetTickCount64() + kDeadlineMs;
    while (reads < 3) {
        ASSERT_LT(GetTickCount64(), deadline) << "three reads of whole scans within 30 s (" << reads << " done)";
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
    }
    EXPECT_TRUE(window.take().empty());
}

TEST_F(SimcardReal, ReadingMoreThanIsReadyIsRefused)
{
    // A buffer of 1000 samples: never more than that is ready, however late the read.
    begin(makeMode(0, 0, 0, 255, 2000));
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
    ASSERT_TRUE(waitForOverflow());
    uint32_t n = 0, status = 0;
    poll(n, status);
    EXPECT_EQ(TK17_STATUS_OVERFLOW, status & TK17_STATUS_OVERFLOW);
    EXPECT_EQ(32u, n);
    auto got = window.take();
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(static_cast<UINT>(TK17_MSG_BUFFER_OVERFLOW), got[0].first);
    EXPECT_EQ(static_cast<WPARAM>(kSocket), got[0].second);

    // Posted once; nothing more arrives and the buffer holds the first 32 conversions,
    // however long the card goes on.
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
    // Reads of 33 samples never find them (the buffer holds 32); one of them notices
    // the overflow once the card has made more than 32 conversions.
    std::vector<uint16_t> buffer(33);
    std::vector<std::pair<UINT, WPARAM>> got;
    const ULONGLONG deadline = GetTickCount64() + kDeadlineMs;
    while (got.empty()) {
        ASSERT_LT(GetTickCount64(), deadline) << "no overflow notification after reads for 30 s";
        ASSERT_EQ(0, d().Tk17GetData(kSocket, buffer.data(), 33));
        ASSERT_EQ(TK17SIM_ERR_NOT_ENOUGH_DATA, d().Tk17GetLastError(kSocket));
        got = window.take();
    }
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(static_cast<UINT>(TK17_MSG_BUFFER_OVERFLOW), got[0].first);
    uint32_t n = 0, status = 0;
    poll(n, status);
    EXPECT_EQ(TK17_STATUS_OVERFLOW, status & TK17_STATUS_OVERFLOW) << "the read set the bit";
    EXPECT_EQ(1, d().Tk17GetData(kSocket, buffer.data(), 32));
    EXPECT_TRUE(window.take().empty());
}
