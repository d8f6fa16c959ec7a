// Driver results other than 1: the scan takes a card only when Tk17Create and its
// Tk17GetResource answer exactly 1, every other call counts any non-zero result as
// success. Driven through the real extension on a driver whose success values are
// configured per operation.
#include "tests/extension/driver_log.h"
#include "tests/extension/fixture.h"

namespace exttest {
namespace {

constexpr char kCard[] = "[card 0]\nclock = virtual\nai0 = scan start=0 step=1\ndin = fixed 0x0A\n";

class SuccessValue : public ExtensionTest {};

TEST_F(SuccessValue, ACreateAnsweringTwoOpensNoCardAtTheScan) {
    const std::string config = std::string(kCard) + "[card 2]\nclock = virtual\n[driver]\nsuccess Tk17Create = 2\n";
    ASSERT_EQ(StartHost(config.c_str()), 1);
    SimApi sim = Sim();
    ASSERT_TRUE(sim.ok());
    EXPECT_EQ(CallLines(sim), (std::vector<std::string>{"Tk17Create 0 1224 0 -> 2", "Tk17Create 1 1224 0 -> 0",
                                                        "Tk17Create 2 1224 0 -> 2", "Tk17Create 3 1224 0 -> 0"}))
        << "no resource read and no close after a create that did not answer 1";
    EXPECT_EQ(CreateAnswering(kAnalog, [](HWND) {}, velk::NewModule(), 300), nullptr);
    ASSERT_EQ(host().log().warnings().size(), 1u);
    EXPECT_EQ(host().log().warnings()[0].text, "使えるデバイスがありません");
}

TEST_F(SuccessValue, AResourceReadAnsweringTwoFailsTheScanAndClosesTheCard) {
    const std::string config = std::string(kCard) + "[driver]\nsuccess Tk17GetResource = 2\n";
    ASSERT_EQ(StartHost(config.c_str()), 1);
    SimApi sim = Sim();
    ASSERT_TRUE(sim.ok());
    EXPECT_EQ(CallLines(sim, {"Tk17Create", "Tk17GetResource", "Tk17Close"}),
              (std::vector<std::string>{"Tk17Create 0 1224 0 -> 1", "Tk17GetResource 0 -> 2", "Tk17Close 0 -> 1",
                                        "Tk17Create 1 1224 0 -> 0", "Tk17Create 2 1224 0 -> 0",
                                        "Tk17Create 3 1224 0 -> 0"}));
    EXPECT_FALSE(sim.IsOpen(0));
    EXPECT_EQ(CreateAnswering(kDigitalIn, [](HWND) {}, velk::NewModule(), 300), nullptr);
    EXPECT_EQ(host().log().warnings().size(), 1u);
}

// Every call after the scan with the same success value: the device check, set-mode,
// start, status, read, stop, both ports and the closes at finish.
class AnyNonZeroValue : public ExtensionTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(AnyNonZeroValue, CountsAsSuccessEverywhereAfterTheScan) {
    const int32_t value = GetParam();
    std::string config = std::string(kCard) + "[driver]\n";
    for (const char* op : {"Tk17SetMode", "Tk17StartSampling", "Tk17StopSampling", "Tk17GetSamplingStatus",
                           "Tk17GetData", "Tk17OutPort", "Tk17InPort", "Tk17Close"})
        config += std::string("success ") + op + " = " + std::to_string(value) + "\n";
    ASSERT_EQ(StartHost(config.c_str()), 1);
    SimApi sim = Sim();
    ASSERT_TRUE(sim.ok());
    // The scan needs 1 from the resource read; the device check takes any value.
    ASSERT_EQ(sim.SetSuccessValue("Tk17GetResource", value), 1);
    host().setBlockSize(20);
    host().setSamplePeriodMs(1.0);
    velk::NewModule analogHow;
    analogHow.outputCount = 1;
    velk::NewModule inHow;
    inHow.outputCount = 2;
    velk::NewModule outHow;
    outHow.inputCount = 1;
    ModuleRecord* analog = CreateOnLine(kAnalog, 0, analogHow);
    ModuleRecord* in = CreateOnLine(kDigitalIn, 0, inHow);
    ModuleRecord* out = CreateOnLine(kDigitalOut, 0, outHow);
    ASSERT_TRUE(analog && in && out);
    sim.ClearCallLog();
    for (ModuleRecord* m : {analog, in, out}) EXPECT_EQ(host().callClass(m, 105), 1) << "device check";

    host().setRunning(1);
    host().setStartTicks(GetTickCount() - 100000);
    for (ModuleRecord* m : {analog, in, out}) ASSERT_EQ(host().callClass(m, 106), 1);
    velk::BlockContent block;
    block.samples.assign(20, 5.0f);
    ASSERT_TRUE(host().pushInputBlock(out, 0, block));
    for (ModuleRecord* m : {analog, in, out}) EXPECT_EQ(host().process(m), 1);
    for (ModuleRecord* m : {analog, in, out}) EXPECT_EQ(host().callClass(m, 107), 1);
    host().setRunning(0);

    EXPECT_TRUE(host().log().warnings().empty()) << velk::cp932ToUtf8(host().log().warnings()[0].text);
    EXPECT_EQ(host().log().stopRequests(), 0);
    EXPECT_EQ(sim.CallCount("Tk17GetLastError", -1), 0) << "no call was taken for a failure";
    // Each operation was called on socket 0 and answered the value.
    const std::string answered = " -> " + std::to_string(value);
    for (const char* op : {"Tk17GetResource", "Tk17SetMode", "Tk17StartSampling", "Tk17GetSamplingStatus",
                           "Tk17GetData", "Tk17InPort", "Tk17OutPort", "Tk17StopSampling"}) {
        const std::vector<std::string> lines = CallLines(sim, {op});
        EXPECT_FALSE(lines.empty()) << op << " was not called";
        for (const std::string& line : lines) {
            const size_t at = line.find(answered);
            EXPECT_TRUE(line.compare(0, strlen(op) + 3, std::string(op) + " 0 ") == 0 && at != std::string::npos &&
                        (at + answered.size() == line.size() || line[at + answered.size()] == ' '))
                << line;
        }
    }
    EXPECT_EQ(CallLines(sim, {"Tk17GetResource"}).size(), 3u);
    // The data arrived: the analog scan counter and the input port 0x0A, bit by bit.
    std::vector<velk::ReleasedBlock> analogBlocks = host().releasedBlocks(analog, 0);
    ASSERT_EQ(analogBlocks.size(), 1u);
    EXPECT_EQ(analogBlocks[0].samples[19], static_cast<float>(19 * 20.0 / 4096 - 10.0));
    ASSERT_EQ(host().releasedBlocks(in, 1).size(), 1u);
    EXPECT_EQ(host().releasedBlocks(in, 0)[0].samples, std::vector<float>(20, 0.0f));
    EXPECT_EQ(host().releasedBlocks(in, 1)[0].samples, std::vector<float>(20, 5.0f));
    EXPECT_EQ(sim.CallCount("Tk17InPort", 0), 40);
    EXPECT_EQ(sim.GetOutputLog(0, nullptr, 0), 20) << "every output sample written";
    EXPECT_EQ(host().inputReleases(out).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Values, AnyNonZeroValue, ::testing::Values(2, -1, 0x100));

}  // namespace
}  // namespace exttest
