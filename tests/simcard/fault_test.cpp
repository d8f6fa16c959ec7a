// Injected faults, a pulled card, buffer events and notifications.
#include "driver_loader.h"

using namespace simtest;

namespace {

using Messages = std::vector<std::pair<UINT, WPARAM>>;

class SimcardFault : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        configure("[card 0]\nclock = virtual\n[card 2]\nclock = virtual\n");
    }
    void begin(uint16_t socket, uint32_t message = TK17_MSG_CARD_REMOVED)
    {
        ASSERT_EQ(1, d().open(socket, window.hwnd(), message));
        Tk17Mode m = makeMode(0, 0, 1, 10);
        ASSERT_EQ(1, d().Tk17SetMode(socket, &m));
        ASSERT_EQ(1, d().Tk17StartSampling(socket));
    }
    int32_t readOne(uint16_t socket)
    {
        uint16_t sample;
        return d().Tk17GetData(socket, &sample, 1);
    }
    uint32_t status(uint16_t socket)
    {
        uint32_t n = 0, s = 0;
        EXPECT_EQ(1, d().Tk17GetSamplingStatus(socket, &n, &s));
        return s;
    }

    MessageWindow window;
};

}  // namespace

TEST_F(SimcardFault, OperationFailsFromItsNthCallSinceTheFaultWasSet)
{
    begin(0);
    begin(2);
    EXPECT_EQ(1, readOne(0));  // calls before the fault do not count
    EXPECT_EQ(1, readOne(0));
    ASSERT_EQ(1, sim().InjectFault("Tk17GetData", 0, 3, 42));
    EXPECT_EQ(1, readOne(0));
    EXPECT_EQ(1, readOne(2));  // other sockets are not counted and not affected
    EXPECT_EQ(1, readOne(0));
    EXPECT_EQ(0, d().Tk17GetLastError(0));
    EXPECT_EQ(0, readOne(0));
    EXPECT_EQ(42, d().Tk17GetLastError(0));
    EXPECT_EQ(0, readOne(0));
    EXPECT_EQ(1, readOne(2));
    EXPECT_EQ(0, d().Tk17GetLastError(2));
    uint64_t position = 0;
    ASSERT_EQ(1, sim().GetPosition(0, &position));
    EXPECT_EQ(4u, position) << "failed reads take nothing";

    // Setting it again restarts the count; from call 0 disarms it.
    ASSERT_EQ(1, sim().InjectFault("Tk17GetData", 0, 2, 43));
    EXPECT_EQ(1, readOne(0));
    EXPECT_EQ(0, readOne(0));
    EXPECT_EQ(43, d().Tk17GetLastError(0));
    ASSERT_EQ(1, sim().InjectFault("Tk17GetData", 0, 0, 0));
    EXPECT_EQ(1, readOne(0));
}

TEST_F(SimcardFault, EveryOperationCanBeMadeToFail)
{
    const char* names[] = {
#define SIMTEST_NAME(name) #name,
        TK17_OPERATION_NAMES(SIMTEST_NAME)
#undef SIMTEST_NAME
    };
    for (int i = 0; i < 12; ++i) {
        std::string op = names[i];
        SCOPED_TRACE(op);
        configure("[card 0]\nclock = virtual\n");
        int32_t code = 50 + i;
        if (op != "Tk17Create") {
            ASSERT_EQ(1, d().open(0));
            if (op == "Tk17StartSampling" || op == "Tk17StopSampling" || op == "Tk17GetSamplingStatus" ||
                op == "Tk17GetData") {
                Tk17Mode m = makeMode(0, 0, 0, 10);
                ASSERT_EQ(1, d().Tk17SetMode(0, &m));
                if (op != "Tk17StartSampling") {
                    ASSERT_EQ(1, d().Tk17StartSampling(0));
                }
            }
        }
        ASSERT_EQ(1, sim().InjectFault(op.c_str(), 0, 1, code));
        Tk17Resource r;
        Tk17Mode m = makeMode(0, 0, 0, 10);
        uint32_t n, s;
        uint16_t sample;
        uint8_t b;
        int32_t result = -1;
        switch (i) {
        case 0: result = d().Tk17GetVersion(); break;
        case 1: result = d().open(0); break;
        case 2: result = d().Tk17Close(0); break;
        case 3: result = d().Tk17GetResource(0, &r); break;
        case 4: result = d().Tk17SetMode(0, &m); break;
        case 5: result = d().Tk17StartSampling(0); break;
        case 6: result = d().Tk17StopSampling(0); break;
        case 7: result = d().Tk17GetSamplingStatus(0, &n, &s); break;
        case 8: result = d().Tk17GetData(0, &sample, 1); break;
        case 9: result = d().Tk17OutPort(0, 1); break;
        case 10: result = d().Tk17InPort(0, &b); break;
        case 11: result = d().Tk17GetLastError(0); break;
        }
        if (op == "Tk17GetLastError") {
            EXPECT_EQ(code, result) << "a failing Tk17GetLastError answers the fault's code";
        } else {
            EXPECT_EQ(0, result);
            if (op != "Tk17GetVersion") {
                ASSERT_EQ(1, sim().ClearFaults());
                EXPECT_EQ(code, d().Tk17GetLastError(0));
            }
        }
    }
}

TEST_F(SimcardFault, BadFaultRequestsAreRefused)
{
    EXPECT_EQ(0, sim().InjectFault("Tk17GetDat", 0, 1, 5));
    EXPECT_EQ(0, sim().InjectFault(nullptr, 0, 1, 5));
    EXPECT_EQ(0, sim().InjectFault("Tk17GetData", 4, 1, 5));
    EXPECT_EQ(1, sim().InjectFault("Tk17GetVersion", 9, 1, 5)) << "Tk17GetVersion has no socket";
    EXPECT_EQ(0, d().Tk17GetVersion());
}

TEST_F(SimcardFault, FaultsFromTheConfiguration)
{
    configure("[card 0]\nclock = virtual\n[card 1]\n"
              "[fault]\n"
              "Tk17GetSamplingStatus = socket 0 from 2 error 7\n"
              "Tk17Create = socket 1\n");
    begin(0);
    uint32_t n, s;
    EXPECT_EQ(1, d().Tk17GetSamplingStatus(0, &n, &s));
    EXPECT_EQ(0, d().Tk17GetSamplingStatus(0, &n, &s));
    EXPECT_EQ(7, d().Tk17GetLastError(0));
    EXPECT_EQ(0, d().open(1));
    EXPECT_EQ(TK17SIM_ERR_INJECTED, d().Tk17GetLastError(1)) << "the code when none is given";
    ASSERT_EQ(1, sim().ClearFaults());
    EXPECT_EQ(1, d().Tk17GetSamplingStatus(0, &n, &s));
    EXPECT_EQ(1, d().open(1));
}

TEST_F(SimcardFault, PulledCardNotifiesAndFailsUntilInsertedAndOpenedAgain)
{
    begin(0);
    begin(2);
    ASSERT_EQ(1, sim().PullCard(2));
    EXPECT_EQ((Messages{{TK17_MSG_CARD_REMOVED, 2}}), window.take());
    EXPECT_EQ(0, sim().IsSampling(2));

    uint32_t n, s;
    uint8_t b;
    Tk17Resource r;
    EXPECT_EQ(0, d().Tk17GetSamplingStatus(2, &n, &s));
    EXPECT_EQ(TK17SIM_ERR_CARD_REMOVED, d().Tk17GetLastError(2));
    d().Tk17GetLastError(0);
    EXPECT_EQ(0, readOne(2));
    EXPECT_EQ(0, d().Tk17InPort(2, &b));
    EXPECT_EQ(0, d().Tk17OutPort(2, 1));
    EXPECT_EQ(0, d().Tk17GetResource(2, &r));
    EXPECT_EQ(TK17SIM_ERR_CARD_REMOVED, d().Tk17GetLastError(2));
    EXPECT_EQ(1, readOne(0)) << "the other card goes on";
    EXPECT_EQ(0, d().open(2));
    EXPECT_EQ(TK17SIM_ERR_CARD_REMOVED, d().Tk17GetLastError(2));
    EXPECT_EQ(0, sim().PullCard(2)) << "already out";

    EXPECT_EQ(0, d().Tk17Close(2));
    EXPECT_EQ(0, sim().IsOpen(2)) << "the close still releases the card";
    ASSERT_EQ(1, sim().InsertCard(2));
    EXPECT_EQ(0, d().Tk17GetResource(2, &r));
    EXPECT_EQ(TK17SIM_ERR_NOT_OPEN, d().Tk17GetLastError(2));
    ASSERT_EQ(1, d().open(2));
    EXPECT_EQ(1, d().Tk17GetResource(2, &r));
    EXPECT_TRUE(window.take().empty());
    EXPECT_EQ(0, sim().InsertCard(1)) << "no card configured there";
}

TEST_F(SimcardFault, PullingACardThatIsNotOpenPostsNothing)
{
    ASSERT_EQ(1, sim().PullCard(0));
    EXPECT_TRUE(window.take().empty());
    EXPECT_EQ(0, d().open(0, window.hwnd()));
    EXPECT_EQ(0, sim().PullCard(1));
}

TEST_F(SimcardFault, ConfiguredPullOverrunAndOverflowEvents)
{
    configure("[card 0]\nclock = virtual\n[card 2]\nclock = virtual\n"
              "[fault]\n"
              "pull = socket 0 at Tk17GetData 3\n"
              "overrun = socket 2 at Tk17GetSamplingStatus 2\n"
              "overflow = socket 2 at Tk17GetSamplingStatus 4\n");
    begin(0);
    begin(2);
    EXPECT_EQ(1, readOne(0));
    EXPECT_EQ(1, readOne(0));
    EXPECT_TRUE(window.take().empty());
    EXPECT_EQ(0, readOne(0));
    EXPECT_EQ(TK17SIM_ERR_CARD_REMOVED, d().Tk17GetLastError(0));
    EXPECT_EQ((Messages{{TK17_MSG_CARD_REMOVED, 0}}), window.take());

    EXPECT_EQ(0u, status(2));
    EXPECT_EQ(TK17_STATUS_OVERRUN, status(2));
    EXPECT_EQ((Messages{{TK17_MSG_BUFFER_OVERRUN, 2}}), window.take());
    EXPECT_EQ(TK17_STATUS_OVERRUN, status(2));
    EXPECT_EQ(TK17_STATUS_OVERRUN | TK17_STATUS_OVERFLOW, status(2));
    EXPECT_EQ((Messages{{TK17_MSG_BUFFER_OVERFLOW, 2}}), window.take());
    EXPECT_EQ(TK17_STATUS_OVERRUN | TK17_STATUS_OVERFLOW, status(2));
    EXPECT_TRUE(window.take().empty()) << "events happen once";
}

TEST_F(SimcardFault, TriggeredOverrunAndOverflow)
{
    begin(0);
    EXPECT_EQ(0u, status(0));
    ASSERT_EQ(1, sim().TriggerOverrun(0));
    EXPECT_EQ(TK17_STATUS_OVERRUN, status(0));
    EXPECT_EQ((Messages{{TK17_MSG_BUFFER_OVERRUN, 0}}), window.take());
    EXPECT_EQ(1, readOne(0)) << "the data can still be read";
    ASSERT_EQ(1, sim().TriggerOverflow(0));
    EXPECT_EQ(TK17_STATUS_OVERRUN | TK17_STATUS_OVERFLOW, status(0));
    EXPECT_EQ((Messages{{TK17_MSG_BUFFER_OVERFLOW, 0}}), window.take());

    // A new start clears the bits.
    ASSERT_EQ(1, d().Tk17StopSampling(0));
    ASSERT_EQ(1, d().Tk17StartSampling(0));
    EXPECT_EQ(0u, status(0));
    EXPECT_EQ(0, sim().TriggerOverrun(2)) << "card 2 is not open";
}

TEST_F(SimcardFault, NotificationNumbersFollowTheMessageGivenAtCreate)
{
    begin(0, 2000);
    ASSERT_EQ(1, sim().TriggerOverflow(0));
    ASSERT_EQ(1, sim().TriggerOverrun(0));
    ASSERT_EQ(1, sim().PullCard(0));
    EXPECT_EQ((Messages{{2003, 0}, {2004, 0}, {2000, 0}}), window.take());
}

TEST_F(SimcardFault, PostNotificationReachesTheCardsWindow)
{
    begin(2);
    ASSERT_EQ(1, sim().PostNotification(2, 1226));
    ASSERT_EQ(1, sim().PostNotification(2, TK17_MSG_CARD_REMOVED));
    EXPECT_EQ((Messages{{1226, 2}, {TK17_MSG_CARD_REMOVED, 2}}), window.take());
    EXPECT_EQ(1, readOne(2)) << "posting alone changes nothing on the card";
    EXPECT_EQ(0, sim().PostNotification(0, 1226)) << "card 0 has no window";
}

TEST_F(SimcardFault, AFaultForCCallsEndsAndTwoFaultsOfOneOperationAddUp)
{
    configure("[card 0]\nclock = virtual\n[fault]\n"
              "Tk17InPort = socket 0 from 2 for 2 error 7\n"
              "Tk17InPort = socket 0 from 6 for 1 error 8\n");
    ASSERT_EQ(1, d().open(0));
    std::string results;
    uint8_t b = 0;
    for (int i = 0; i < 8; ++i) results += d().Tk17InPort(0, &b) ? '1' : '0';
    EXPECT_EQ("10011011", results);
    EXPECT_EQ(8, d().Tk17GetLastError(0)) << "the last failure's code";
    EXPECT_EQ(0, sim().Configure("[fault]\nTk17InPort = from 1 for 0\n"));
    EXPECT_NE(std::string::npos, d().lastError().find("for counts")) << d().lastError();
}

// ---------------------------------------------------------------- card state

TEST_F(SimcardFault, CardStateShowsOpeningSamplingEventsAndTheLastErrorWithoutACall)
{
    configure("[card 0]\nclock = virtual\n[card 1]\n[card 2]\nclock = virtual\n[fault]\n"
              "Tk17Create = socket 2 error 17\n");
    SimCardState s;
    memset(&s, 0xAB, sizeof s);
    ASSERT_EQ(1, sim().GetCardState(0, &s));
    EXPECT_EQ(1u, s.configured);
    EXPECT_EQ(1u, s.present);
    EXPECT_EQ(0u, s.open);
    EXPECT_EQ(0u, s.sampling);
    EXPECT_EQ(1u, s.virtualClock);
    EXPECT_EQ(0u, s.status);
    EXPECT_EQ(0, s.lastError);
    EXPECT_EQ(0u, s.notifications);

    begin(0);
    ASSERT_EQ(1, sim().GetCardState(0, &s));
    EXPECT_EQ(1u, s.open);
    EXPECT_EQ(1u, s.sampling);
    ASSERT_EQ(1, sim().TriggerOverflow(0));
    ASSERT_EQ(1, sim().GetCardState(0, &s));
    EXPECT_EQ(TK17_STATUS_OVERFLOW, s.status);
    ASSERT_EQ(1, sim().TriggerOverrun(0));
    ASSERT_EQ(1, sim().GetCardState(0, &s));
    EXPECT_EQ(TK17_STATUS_OVERFLOW | TK17_STATUS_OVERRUN, s.status);
    EXPECT_EQ(2u, s.notifications) << "one for each event";
    ASSERT_EQ(1, sim().PostNotification(0, 1300));
    ASSERT_EQ(1, sim().GetCardState(0, &s));
    EXPECT_EQ(3u, s.notifications) << "a posted message counts too";
    EXPECT_EQ(3u, window.take().size());

    // Card 1 runs on the real clock; card 2 fails to open with the injected code.
    ASSERT_EQ(1, sim().GetCardState(1, &s));
    EXPECT_EQ(0u, s.virtualClock);
    EXPECT_EQ(0, d().open(2, window.hwnd()));
    ASSERT_EQ(1, sim().GetCardState(2, &s));
    EXPECT_EQ(1u, s.configured);
    EXPECT_EQ(0u, s.open);
    EXPECT_EQ(17, s.lastError);
    EXPECT_EQ(0u, s.notifications) << "a card that did not open has no window";
    EXPECT_EQ(0, sim().CallCount("Tk17GetLastError", -1)) << "the state is read without a card operation";

    // A pulled card is configured but not present, and its calls fail with error 9.
    ASSERT_EQ(1, sim().PullCard(0));
    EXPECT_EQ(0, readOne(0));
    ASSERT_EQ(1, sim().GetCardState(0, &s));
    EXPECT_EQ(1u, s.configured);
    EXPECT_EQ(0u, s.present);
    EXPECT_EQ(0u, s.sampling);
    EXPECT_EQ(TK17SIM_ERR_CARD_REMOVED, s.lastError);
    EXPECT_EQ(4u, s.notifications);
    EXPECT_EQ((Messages{{TK17_MSG_CARD_REMOVED, 0}}), window.take());
}

TEST_F(SimcardFault, CardStateOfASocketWithoutACardAndBadArguments)
{
    EXPECT_EQ(0, d().open(3));
    SimCardState s;
    ASSERT_EQ(1, sim().GetCardState(3, &s));
    EXPECT_EQ(0u, s.configured);
    EXPECT_EQ(0u, s.present);
    EXPECT_EQ(0u, s.open);
    EXPECT_EQ(TK17SIM_ERR_NO_CARD, s.lastError);
    EXPECT_EQ(0, sim().GetCardState(4, &s));
    EXPECT_EQ(0, sim().GetCardState(0, nullptr));
}
