// Driver failures on cards in sockets 1 to 3 while every other card holds a last error
// of its own: each warning must show the failing socket's code, so fetching another
// socket's error (socket 0, the slot, a fixed number) shows in the text.
#include "tests/extension/driver_log.h"
#include "tests/extension/fixture.h"

namespace exttest {
namespace {

constexpr char kFourCards[] =
    "[card 0]\nclock = virtual\n[card 1]\nclock = virtual\n[card 2]\nclock = virtual\n[card 3]\nclock = virtual\n";

class SocketErrors : public ExtensionTest, public ::testing::WithParamInterface<uint16_t> {
protected:
    void SetUp() override {
        ASSERT_EQ(StartHost(kFourCards), 1);
        host().setBlockSize(4);
        host().setSamplePeriodMs(1.0);
        host().setStartTicks(GetTickCount() - 100000);
        SimApi sim = Sim();
        ASSERT_TRUE(sim.ok());
        // Every other socket's last error: 40 + its number.
        for (uint16_t k = 0; k < 4; ++k)
            if (k != GetParam()) {
                ASSERT_TRUE(SetLastErrorOf(sim, k, 40 + k));
            }
        sim.ClearCallLog();
    }
    // The module of `classId` on the card of socket GetParam() (list line = socket,
    // all four cards being free).
    ModuleRecord* OnTheSocket(const char* classId) {
        velk::NewModule how;
        (strcmp(classId, kDigitalOut) == 0 ? how.inputCount : how.outputCount) = 1;
        return CreateOnLine(classId, GetParam(), how);
    }
    std::string LastWarning() {
        std::vector<velk::Warning> w = host().log().warnings();
        return w.empty() ? std::string() : w.back().text;
    }
    void TearDown() override {
        if (host_) host().setRunning(0);
        ExtensionTest::TearDown();
    }
};

TEST_P(SocketErrors, AnalogFailuresShowTheSocketsCode) {
    const uint16_t s = GetParam();
    ModuleRecord* m = OnTheSocket(kAnalog);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(static_cast<const unsigned char*>(m->privateData)[192], s);
    SimApi sim = Sim();
    const struct {
        const char* op;
        bool atStart;
        const char* text;
    } cases[] = {
        {"Tk17SetMode", true, "サンプリング開始に失敗しました\nエラーコード： "},
        {"Tk17StartSampling", true, "サンプリング開始に失敗しました\nエラーコード： "},
        {"Tk17GetSamplingStatus", false, "サンプリング状態の取得に失敗しました\nエラーコード： "},
        {"Tk17GetData", false, "サンプリングデータ取り込みを失敗しました\nエラーコード： "},
    };
    int32_t code = 60 + s;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.op);
        code += 10;
        ASSERT_TRUE(sim.InjectFault(c.op, s, 1, code));
        ASSERT_EQ(StartRun(m), 1);
        if (!c.atStart) {
            EXPECT_EQ(host().process(m), 0);
        }
        EXPECT_EQ(LastWarning(), c.text + std::to_string(code));
        ASSERT_TRUE(sim.ClearFaults());
        StopRun(m);
    }
    EXPECT_EQ(host().log().warnings().size(), 4u);
    EXPECT_EQ(SocketsCalled(sim, "Tk17GetLastError"), std::vector<int>{s});
}

TEST_P(SocketErrors, DigitalInputFailureShowsTheSocketsCode) {
    const uint16_t s = GetParam();
    ModuleRecord* m = OnTheSocket(kDigitalIn);
    ASSERT_NE(m, nullptr);
    SimApi sim = Sim();
    ASSERT_TRUE(sim.InjectFault("Tk17InPort", s, 2, 90 + s));
    ASSERT_EQ(StartRun(m), 1);
    host().process(m);
    EXPECT_EQ(LastWarning(), "LogSlot = " + std::to_string(s) + "\nChannel = 0\nErrCode = " + std::to_string(90 + s));
    EXPECT_EQ(SocketsCalled(sim, "Tk17InPort"), std::vector<int>{s});
    EXPECT_EQ(SocketsCalled(sim, "Tk17GetLastError"), std::vector<int>{s});
    StopRun(m);
}

TEST_P(SocketErrors, DigitalOutputFailureShowsTheSocketsCode) {
    const uint16_t s = GetParam();
    ModuleRecord* m = OnTheSocket(kDigitalOut);
    ASSERT_NE(m, nullptr);
    SimApi sim = Sim();
    ASSERT_TRUE(sim.InjectFault("Tk17OutPort", s, 3, 80 + s));
    ASSERT_EQ(StartRun(m), 1);
    velk::BlockContent block;
    block.samples.assign(4, 5.0f);
    ASSERT_TRUE(host().pushInputBlock(m, 0, block));
    host().process(m);
    EXPECT_EQ(LastWarning(), "データ出力に失敗しました\nエラーコード " + std::to_string(80 + s) + "\nソケット番号 " +
                                 std::to_string(s) + "\n");
    EXPECT_EQ(SocketsCalled(sim, "Tk17GetLastError"), std::vector<int>{s});
    StopRun(m);
}

INSTANTIATE_TEST_SUITE_P(Sockets, SocketErrors, ::testing::Values(1, 2, 3));

}  // namespace
}  // namespace exttest
