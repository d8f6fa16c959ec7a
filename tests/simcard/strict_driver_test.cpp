// What makes the driver stricter and more varied than a lenient stand-in: success
// values other than 1, a card served under a socket other than its section number,
// the record of the mode call, notifications with an lParam.
#include "driver_loader.h"

#include <string.h>

using namespace simtest;

namespace {

std::string configError(const SimApi& sim, uint32_t* line)
{
    char text[256] = {};
    sim.ConfigError(line, text, sizeof text);
    return text;
}

// A configuration the driver must refuse, with the line and reason it gives.
struct Refusal {
    const char* text;
    uint32_t line;
    const char* reason;
};

void ExpectRefused(const SimApi& sim, const Refusal& c)
{
    SCOPED_TRACE(c.text);
    EXPECT_EQ(0, sim.Configure(c.text));
    uint32_t line = 0;
    EXPECT_EQ(c.reason, configError(sim, &line));
    EXPECT_EQ(c.line, line);
}

class SuccessValues : public DriverTest {};

TEST_F(SuccessValues, EachOperationAnswersItsConfiguredValueAndFailuresStayZero)
{
    configure("[card 0]\nclock = virtual\n[driver]\n"
              "success Tk17Create = 2\nsuccess Tk17GetResource = -1\nsuccess Tk17SetMode = 0x100\n"
              "SUCCESS Tk17StartSampling = 0xFFFFFFFF\nsuccess Tk17GetSamplingStatus = 7\n"
              "success Tk17GetData = 3\nsuccess Tk17OutPort = 4\nsuccess Tk17InPort = 5\n"
              "success Tk17StopSampling = 6\nsuccess Tk17Close = 9\n");
    EXPECT_EQ(2, d().open(0));
    Tk17Resource resource;
    EXPECT_EQ(-1, d().Tk17GetResource(0, &resource));
    Tk17Mode mode = makeMode(0, 0, 0, 10);
    EXPECT_EQ(0x100, d().Tk17SetMode(0, &mode));
    EXPECT_EQ(-1, d().Tk17StartSampling(0)) << "0xFFFFFFFF is the bits of -1";
    uint32_t count = 0, status = 0;
    EXPECT_EQ(7, d().Tk17GetSamplingStatus(0, &count, &status));
    uint16_t sample = 0;
    EXPECT_EQ(3, d().Tk17GetData(0, &sample, 1));
    EXPECT_EQ(4, d().Tk17OutPort(0, 0x12));
    uint8_t byte = 0;
    EXPECT_EQ(5, d().Tk17InPort(0, &byte));
    EXPECT_EQ(6, d().Tk17StopSampling(0));
    // A failure is 0 whatever the success value, and the version is the version.
    EXPECT_EQ(0, d().Tk17GetData(0, &sample, 1));
    EXPECT_EQ(TK17SIM_ERR_NOT_SAMPLING, d().Tk17GetLastError(0));
    EXPECT_EQ(0x0210, d().Tk17GetVersion());
    EXPECT_EQ(9, d().Tk17Close(0));
    EXPECT_EQ(0, d().Tk17Close(0));
    EXPECT_NE(std::string::npos, d().callLog().find("Tk17SetMode 0 0 0 0 10 0 1 262144 1 -> 256\n"));
}

TEST_F(SuccessValues, TheControlChangesOneOperationUntilTheNextConfiguration)
{
    configure("[card 0]\nclock = virtual\n");
    ASSERT_EQ(1, d().open(0));
    EXPECT_EQ(1, sim().SetSuccessValue("Tk17OutPort", 2));
    EXPECT_EQ(2, d().Tk17OutPort(0, 1));
    uint8_t byte;
    EXPECT_EQ(1, d().Tk17InPort(0, &byte)) << "other operations keep 1";
    EXPECT_EQ(1, sim().SetSuccessValue("Tk17OutPort", -7));
    EXPECT_EQ(-7, d().Tk17OutPort(0, 1));
    // Refused: no success value for the version and the error code, 0, unknown names.
    EXPECT_EQ(0, sim().SetSuccessValue("Tk17GetVersion", 2));
    EXPECT_EQ(0, sim().SetSuccessValue("Tk17GetLastError", 2));
    EXPECT_EQ(0, sim().SetSuccessValue("Tk17OutPort", 0));
    EXPECT_EQ(0, sim().SetSuccessValue("tk17outport", 2));
    EXPECT_EQ(0, sim().SetSuccessValue(nullptr, 2));
    EXPECT_EQ(-7, d().Tk17OutPort(0, 1));
    configure("[card 0]\nclock = virtual\n");
    ASSERT_EQ(1, d().open(0));
    EXPECT_EQ(1, d().Tk17OutPort(0, 1));
}

TEST_F(SuccessValues, MistakesInTheDriverSectionAreNamedWithTheirLine)
{
    const Refusal cases[] = {
        {"[driver]\nsuccess Tk17SetMode = 0\n", 2, "a success value of 0 would read as a failure"},
        {"[driver]\n\nsuccess Tk17GetVersion = 2\n", 3,
         "Tk17GetVersion has no success value (it answers a version or an error code)"},
        {"[driver]\nsuccess Tk17GetLastError = 2\n", 2,
         "Tk17GetLastError has no success value (it answers a version or an error code)"},
        {"[driver]\nsuccess tk17setmode = 2\n", 2, "unknown operation 'tk17setmode'"},
        {"[driver]\nsuccess = 2\n", 2, "unknown key 'success' (success <operation>)"},
        {"[driver]\nfailure Tk17SetMode = 2\n", 2, "unknown key 'failure Tk17SetMode' (success <operation>)"},
        {"[driver]\nsuccess Tk17SetMode = 0x100000000\n", 2, "'0x100000000' is not a 32-bit number"},
        {"[driver]\nsuccess Tk17SetMode = two\n", 2, "'two' is not a 32-bit number"},
        {"[drivers]\n", 1, "unknown section [drivers] (expected [card N], [fault] or [driver])"},
    };
    for (const Refusal& c : cases) ExpectRefused(sim(), c);
}

class SocketCell : public DriverTest {
protected:
    // Card 1 answers 0x00010002 (socket 2), card 3 answers 0x80030000 (socket 0).
    void SetUp() override
    {
        DriverTest::SetUp();
        configure("[card 1]\nclock = virtual\nio_address = 0x310\nsocket_cell = 0x00010002\n"
                  "[card 3]\nclock = virtual\nio_address = 0x330\nsocket_cell = 0x80030000\n");
    }
    int32_t create(uint32_t probe, uint32_t* cell)
    {
        *cell = probe;
        return d().Tk17Create(cell, window.hwnd(), TK17_MSG_CARD_REMOVED, 0);
    }
    uint32_t address(uint16_t socket, int32_t* result)
    {
        Tk17Resource resource;
        memset(&resource, 0, sizeof resource);
        *result = d().Tk17GetResource(socket, &resource);
        uint32_t v;
        memcpy(&v, resource.bytes + TK17_RESOURCE_IO_ADDRESS, 4);
        return v;
    }
    MessageWindow window;
};

TEST_F(SocketCell, CreateWritesTheCellAndTheProbeMayReadAndCloseByItsNumber)
{
    uint32_t cell = 0;
    EXPECT_EQ(0, create(0, &cell));
    EXPECT_EQ(0u, cell) << "a failed probe leaves the cell";
    ASSERT_EQ(1, create(1, &cell));
    EXPECT_EQ(0x00010002u, cell);
    int32_t r = 0;
    EXPECT_EQ(0x310u, address(1, &r)) << "the probe reads the resources by the number it probed";
    EXPECT_EQ(1, r);
    EXPECT_EQ(1, d().Tk17Close(1)) << "and may close by it";
    EXPECT_FALSE(sim().IsOpen(1));
    ASSERT_EQ(1, create(3, &cell));
    EXPECT_EQ(0x80030000u, cell);
    EXPECT_EQ(0x330u, address(3, &r));
    EXPECT_EQ(1, r);
    EXPECT_EQ(0x330u, address(0, &r)) << "and now by its socket";
    EXPECT_EQ(1, r);
    EXPECT_EQ(1, d().Tk17Close(0));
    EXPECT_FALSE(sim().IsOpen(3));
    EXPECT_EQ("Tk17Create 0 1224 0 -> 0\nTk17Create 1 1224 0 -> 1\nTk17GetResource 1 -> 1\nTk17Close 1 -> 1\n"
              "Tk17Create 3 1224 0 -> 1\nTk17GetResource 3 -> 1\nTk17GetResource 0 -> 1\nTk17Close 0 -> 1\n",
              d().callLog());
}

TEST_F(SocketCell, AfterTheProbeOnlyTheSocketReachesTheCard)
{
    uint32_t cell;
    ASSERT_EQ(1, create(1, &cell));
    int32_t r = 0;
    address(1, &r);
    ASSERT_EQ(1, r);
    ASSERT_EQ(1, create(3, &cell));  // ends card 1's probe
    // Card 1 is socket 2 now; socket 1 reaches nothing.
    EXPECT_EQ(0x310u, address(2, &r));
    EXPECT_EQ(1, r);
    address(1, &r);
    EXPECT_EQ(0, r);
    EXPECT_EQ(TK17SIM_ERR_NO_CARD, d().Tk17GetLastError(1));
    Tk17Mode mode = makeMode(0, 0, 1, 10);
    EXPECT_EQ(0, d().Tk17SetMode(1, &mode));
    EXPECT_EQ(0, d().Tk17OutPort(1, 0x55));
    EXPECT_EQ(0, d().Tk17Close(1));
    EXPECT_TRUE(sim().IsOpen(1)) << "the card is still open under socket 2";
    // Everything works under socket 2, and its errors are socket 2's.
    EXPECT_EQ(1, d().Tk17SetMode(2, &mode));
    EXPECT_EQ(1, d().Tk17StartSampling(2));
    EXPECT_EQ(0, d().Tk17SetMode(2, &mode));
    EXPECT_EQ(TK17SIM_ERR_BUSY, d().Tk17GetLastError(2));
    EXPECT_EQ(TK17SIM_ERR_NO_CARD, d().Tk17GetLastError(1));
    uint16_t samples[4];
    EXPECT_EQ(1, d().Tk17GetData(2, samples, 4));
    EXPECT_EQ(1, d().Tk17OutPort(2, 0xA5));
    SimPortWrite writes[2];
    ASSERT_EQ(1, sim().GetOutputLog(-1, writes, 2));
    EXPECT_EQ(2, writes[0].socket);
    // Notifications name the socket: card 1's go out with wParam 2, card 3's with 0.
    window.take();
    ASSERT_EQ(1, sim().TriggerOverrun(1));
    ASSERT_EQ(1, sim().PullCard(3));
    using Messages = std::vector<std::pair<UINT, WPARAM>>;
    EXPECT_EQ((Messages{{TK17_MSG_BUFFER_OVERRUN, 2}, {TK17_MSG_CARD_REMOVED, 0}}), window.take());
    EXPECT_EQ(0, d().Tk17OutPort(0, 1));
    EXPECT_EQ(TK17SIM_ERR_CARD_REMOVED, d().Tk17GetLastError(0));
    EXPECT_EQ(1, d().Tk17Close(2));
    EXPECT_FALSE(sim().IsOpen(1));
}

TEST_F(SocketCell, FaultsAreArmedOnTheSocketTheCallsName)
{
    uint32_t cell;
    ASSERT_EQ(1, create(1, &cell));
    ASSERT_EQ(1, sim().InjectFault("Tk17OutPort", 2, 2, 61));
    EXPECT_EQ(1, d().Tk17OutPort(2, 1));
    EXPECT_EQ(0, d().Tk17OutPort(2, 1));
    EXPECT_EQ(61, d().Tk17GetLastError(2));
    ASSERT_EQ(1, sim().Configure("[card 1]\nclock = virtual\nsocket_cell = 2\n[fault]\npull = socket 2 at Tk17InPort 1\n"));
    ASSERT_EQ(1, create(1, &cell));
    uint8_t byte;
    EXPECT_EQ(0, d().Tk17InPort(2, &byte));
    EXPECT_EQ(TK17SIM_ERR_CARD_REMOVED, d().Tk17GetLastError(2));
    SimCardState state;
    ASSERT_EQ(1, sim().GetCardState(1, &state));
    EXPECT_EQ(0u, state.present) << "the card served under socket 2 was pulled";
}

TEST_F(SocketCell, TwoCardsUnderOneSocketOrALowPartBeyondThreeAreRefused)
{
    const Refusal cases[] = {
        {"[card 0]\n[card 1]\nsocket_cell = 0x10000\n", 3, "cards 0 and 1 would both be socket 0 (socket_cell)"},
        {"[card 1]\nsocket_cell = 0x10002\n[card 2]\n", 2, "cards 1 and 2 would both be socket 2 (socket_cell)"},
        {"[card 0]\nsocket_cell = 3\n[card 1]\nsocket_cell = 0x80000003\n", 4,
         "cards 0 and 1 would both be socket 3 (socket_cell)"},
        {"[card 0]\nsocket_cell = 0x00010004\n", 2, "socket_cell: the low 16 bits name the socket, 0..3"},
        {"[card 0]\nsocket_cell = -1\n", 2, "socket_cell: '-1' is not a 32-bit unsigned number"},
    };
    for (const Refusal& c : cases) ExpectRefused(sim(), c);
    // Two cards that swap sockets are fine.
    configure("[card 0]\nsocket_cell = 1\n[card 1]\nsocket_cell = 0\n");
}

class ModeCall : public DriverTest {};

TEST_F(ModeCall, TheAddressAndTheBytesAtTheCallAreKept)
{
    configure("[card 0]\nclock = virtual\n[card 2]\nclock = virtual\nsocket_cell = 0x00070001\n");
    uint64_t address = 0;
    uint8_t bytes[32];
    EXPECT_EQ(0, sim().GetSetModeCall(0, &address, bytes)) << "no call yet";
    ASSERT_EQ(1, d().open(0));
    Tk17Mode modes[2] = {makeMode(1, 2, 5, 33, 65536, 3), makeMode(0, 0, 9, 10)};
    EXPECT_EQ(1, d().Tk17SetMode(0, &modes[0]));
    modes[0].interval = 99;  // changed after the call: the record keeps what the driver was given
    EXPECT_EQ(1, sim().GetSetModeCall(0, &address, bytes));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(&modes[0]), address);
    Tk17Mode seen;
    memcpy(&seen, bytes, sizeof seen);
    EXPECT_EQ(33, seen.interval);
    EXPECT_EQ(65536, seen.driverBufferSize);
    EXPECT_EQ(3, seen.decimation);
    // A refused mode and a null address are recorded too.
    EXPECT_EQ(0, d().Tk17SetMode(0, &modes[1]));
    EXPECT_EQ(2, sim().GetSetModeCall(0, &address, bytes));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(&modes[1]), address);
    EXPECT_EQ(0, d().Tk17SetMode(0, nullptr));
    EXPECT_EQ(3, sim().GetSetModeCall(0, &address, bytes));
    EXPECT_EQ(0u, address);
    EXPECT_EQ(0, bytes[12]);
    // The remapped card keeps its call under its section number, reached by its socket.
    uint32_t cell = 2;
    ASSERT_EQ(1, d().Tk17Create(&cell, nullptr, TK17_MSG_CARD_REMOVED, 0));
    ASSERT_EQ(0x00070001u, cell);
    EXPECT_EQ(1, d().Tk17SetMode(1, &modes[0]));
    EXPECT_EQ(1, sim().GetSetModeCall(2, &address, nullptr));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(&modes[0]), address);
    EXPECT_EQ(0, sim().GetSetModeCall(1, &address, bytes));
    EXPECT_EQ(0, sim().GetSetModeCall(4, &address, bytes));
}

class NotificationParam : public DriverTest {};

TEST_F(NotificationParam, TheGivenLParamArrivesWithTheCardsSocket)
{
    configure("[card 0]\nclock = virtual\n[card 1]\nclock = virtual\nsocket_cell = 0x00010003\n");
    MessageWindow window;
    EXPECT_EQ(0, sim().PostNotificationParam(0, TK17_MSG_BUFFER_OVERRUN, 5)) << "no window before Tk17Create";
    ASSERT_EQ(1, d().open(0, window.hwnd()));
    ASSERT_EQ(1, d().open(1, window.hwnd()));
    const intptr_t values[] = {1, -1, 0x7FFFFFFF, 0x1224};
    for (intptr_t v : values) EXPECT_EQ(1, sim().PostNotificationParam(0, TK17_MSG_BUFFER_OVERRUN, v));
    EXPECT_EQ(1, sim().PostNotificationParam(1, TK17_MSG_CARD_REMOVED, 9));
    EXPECT_EQ(1, sim().PostNotification(0, TK17_MSG_BUFFER_OVERFLOW));
    std::vector<MSG> got;
    MSG m;
    while (PeekMessageA(&m, window.hwnd(), WM_USER, 0xFFFF, PM_REMOVE)) got.push_back(m);
    ASSERT_EQ(6u, got.size());
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(static_cast<UINT>(TK17_MSG_BUFFER_OVERRUN), got[i].message);
        EXPECT_EQ(0u, got[i].wParam);
        EXPECT_EQ(values[i], static_cast<intptr_t>(got[i].lParam));
    }
    EXPECT_EQ(3u, got[4].wParam) << "card 1 is socket 3";
    EXPECT_EQ(9, got[4].lParam);
    EXPECT_EQ(0, got[5].lParam) << "the old control posts lParam 0";
    SimCardState state;
    ASSERT_EQ(1, sim().GetCardState(0, &state));
    EXPECT_EQ(5u, state.notifications);
}

}  // namespace
