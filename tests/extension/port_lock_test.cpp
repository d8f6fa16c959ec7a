// The port lock: digital input and output processing running on two threads at once
// never have two port calls inside the driver together. The card holds every port
// call for 2 ms (port_hold_us), so calls that were not kept apart would meet there,
// and the driver counts each one that enters while another is inside.
#include "tests/extension/fixture.h"

namespace exttest {
namespace {

constexpr char kSlowPortCard[] =
    "[card 0]\nio_address = 0x300\nio_length = 16\nclock = virtual\ndin = fixed 0x0A\nport_hold_us = 2000\n";
// 500 reads of 2 ms: the input loop lasts a second, so the output thread, started
// when the first read is made, begins its processing long before the input loop ends
// even on a loaded machine.
constexpr uint32_t kBlock = 500;

// The digital output module's processing call, made on a thread of its own once the
// digital input module is reading the port.
struct OutputThread {
    velk::Host* host;
    ModuleRecord* module;
    SimApi sim;
    int32_t result = -1;
    int32_t readsBefore = -1;  // input reads made when the output processing began
    std::string failure;
    static DWORD WINAPI Run(void* self) {
        OutputThread* t = static_cast<OutputThread*>(self);
        const DWORD start = GetTickCount();
        while (t->sim.CallCount("Tk17InPort", 0) < 1) {
            if (GetTickCount() - start > velk::ui::kDefaultTimeoutMs) {
                t->failure = "the input module made no port read within 10 s";
                return 0;
            }
            Sleep(1);
        }
        t->readsBefore = t->sim.CallCount("Tk17InPort", 0);
        t->result = t->host->process(t->module);
        return 0;
    }
};

class PortLock : public ExtensionTest {};

TEST_F(PortLock, InputAndOutputProcessingOnTwoThreadsNeverMeetInTheDriver) {
    ASSERT_EQ(StartHost(kSlowPortCard), 1);
    // A second a sample: the input block, once filled, is due long after the test.
    host().setSamplePeriodMs(1000.0);
    host().setBlockSize(kBlock);
    velk::NewModule in;
    in.outputCount = 1;
    ModuleRecord* din = CreateOnLine(kDigitalIn, 0, in);
    velk::NewModule out;
    out.inputCount = 1;
    ModuleRecord* dout = CreateOnLine(kDigitalOut, 0, out);
    ASSERT_NE(din, nullptr);
    ASSERT_NE(dout, nullptr);
    host().setRunning(1);
    ASSERT_EQ(host().callClass(din, 106), 1);
    ASSERT_EQ(host().callClass(dout, 106), 1);
    host().setStartTicks(GetTickCount());
    velk::BlockContent block;
    for (uint32_t j = 0; j < kBlock; ++j) block.samples.push_back(j % 2 ? 5.0f : 0.0f);
    ASSERT_TRUE(host().pushInputBlock(dout, 0, block));
    SimApi sim = Sim();
    ASSERT_TRUE(sim.ClearCallLog());
    sim.PortOverlaps(1);

    // The input module asks Velk for its block before its first read, so from then on
    // until it returns it calls nothing of Velk's: the two threads share only the driver.
    OutputThread output{&host(), dout, sim, -1, -1, ""};
    HANDLE thread = CreateThread(nullptr, 0, OutputThread::Run, &output, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(host().process(din), 1);
    const DWORD ended = WaitForSingleObject(thread, velk::ui::kDefaultTimeoutMs);
    CloseHandle(thread);
    ASSERT_EQ(ended, WAIT_OBJECT_0) << "the output thread did not end within 10 s";
    ASSERT_EQ(output.failure, "");
    EXPECT_EQ(output.result, 1);

    EXPECT_EQ(sim.CallCount("Tk17InPort", 0), static_cast<int32_t>(kBlock));
    EXPECT_EQ(sim.CallCount("Tk17OutPort", 0), static_cast<int32_t>(kBlock));
    // The output processing began while the input loop was still reading, so without
    // the lock its writes would have entered the driver beside the reads. (With the
    // lock the writes may still wait until the reads end: the lock owes no turns.)
    EXPECT_LT(output.readsBefore, static_cast<int32_t>(kBlock))
        << "the output thread began only after the input module's reads";
    EXPECT_EQ(sim.PortOverlaps(0), 0) << "port calls met inside the driver";
    EXPECT_TRUE(host().log().warnings().empty());

    ASSERT_EQ(host().callClass(dout, 107), 1);
    ASSERT_EQ(host().callClass(din, 107), 1);
    host().setRunning(0);
}

}  // namespace
}  // namespace exttest
