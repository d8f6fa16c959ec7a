// Cards whose socket numbers differ from their slots: the driver writes another socket
// into Tk17Create's cell (with high bits set), the extension keeps its low 16 bits and
// must name that socket in every later call, while the scan's own resource read and
// close use the number it probed.
#include "tests/extension/driver_log.h"
#include "tests/extension/fixture.h"

namespace exttest {
namespace {

// The card probed at 1 becomes socket 2, the one probed at 3 socket 0.
constexpr char kRemapped[] =
    "[card 1]\nclock = virtual\nio_address = 0x310\nio_length = 8\nsocket_cell = 0x00010002\n"
    "ai0 = scan start=100 step=1\ndin = fixed 0x05\n"
    "[card 3]\nclock = virtual\nio_address = 0x330\nio_length = 24\nsocket_cell = 0x80030000\n"
    "ai0 = scan start=3000 step=1\ndin = fixed 0x0A\n";

class SocketCell : public ExtensionTest {
protected:
    uint16_t Socket(ModuleRecord* m, int offset) {
        const unsigned char* area = static_cast<const unsigned char*>(m->privateData);
        return static_cast<uint16_t>(area[offset] | area[offset + 1] << 8);
    }
    // The shown details of each line of the device selection dialog, then OK on `line`.
    ModuleRecord* CreateReading(const char* classId, int line, std::vector<std::string>& details,
                                const velk::NewModule& how) {
        return CreateAnswering(
            classId,
            [&details, line](HWND dialog) {
                HWND list = GetDlgItem(dialog, 103);
                const int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
                for (int i = 0; i < count; ++i) {
                    velk::ui::selectListLine(list, i);
                    velk::ui::settle(dialog);
                    details.push_back(ItemText(dialog, 1001) + " " + ItemText(dialog, 1002) + " " +
                                      ItemText(dialog, 1011));
                }
                velk::ui::selectListLine(list, line);
                velk::ui::clickButton(dialog, IDOK);
            },
            how);
    }
};

TEST_F(SocketCell, TheScanProbesByNumberAndTheTableKeepsTheSockets) {
    ASSERT_EQ(StartHost(kRemapped), 1);
    SimApi sim = Sim();
    ASSERT_TRUE(sim.ok());
    EXPECT_EQ(CallLines(sim), (std::vector<std::string>{"Tk17Create 0 1224 0 -> 0", "Tk17Create 1 1224 0 -> 1",
                                                        "Tk17GetResource 1 -> 1", "Tk17Create 2 1224 0 -> 0",
                                                        "Tk17Create 3 1224 0 -> 1", "Tk17GetResource 3 -> 1"}));
    std::vector<std::string> details;
    ModuleRecord* m = CreateReading(kAnalog, 1, details, velk::NewModule());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(details, (std::vector<std::string>{"310 H 8 2", "330 H 24 0"})) << "the socket field shows the socket";
    EXPECT_EQ(Socket(m, 192), 0) << "the module keeps the socket, not the slot";
    details.clear();
    ModuleRecord* in = CreateReading(kDigitalIn, 0, details, velk::NewModule());
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(Socket(in, 96), 2);
}

TEST_F(SocketCell, EveryCallAfterTheScanNamesTheSocket) {
    ASSERT_EQ(StartHost(kRemapped), 1);
    SimApi sim = Sim();
    ASSERT_TRUE(sim.ok());
    host().setBlockSize(10);
    host().setSamplePeriodMs(1.0);
    velk::NewModule one;
    one.outputCount = 1;
    velk::NewModule oneIn;
    oneIn.inputCount = 1;
    velk::NewModule four;
    four.outputCount = 4;
    ModuleRecord* analog = CreateOnLine(kAnalog, 0, one);      // probed at 1: socket 2
    ModuleRecord* in = CreateOnLine(kDigitalIn, 1, four);      // probed at 3: socket 0
    ModuleRecord* out = CreateOnLine(kDigitalOut, 0, oneIn);   // socket 2
    ASSERT_TRUE(analog && in && out);
    sim.ClearCallLog();
    for (ModuleRecord* m : {analog, in, out}) EXPECT_EQ(host().callClass(m, 105), 1);
    EXPECT_EQ(SocketsCalled(sim, "Tk17GetResource"), (std::vector<int>{2, 0}));

    host().setRunning(1);
    host().setStartTicks(GetTickCount() - 100000);
    for (ModuleRecord* m : {analog, in, out}) ASSERT_EQ(host().callClass(m, 106), 1);
    velk::BlockContent block;
    block.samples.assign(10, 5.0f);
    ASSERT_TRUE(host().pushInputBlock(out, 0, block));
    for (ModuleRecord* m : {analog, in, out}) ASSERT_EQ(host().process(m), 1);
    for (ModuleRecord* m : {analog, in, out}) ASSERT_EQ(host().callClass(m, 107), 1);
    host().setRunning(0);
    EXPECT_TRUE(host().log().warnings().empty());

    for (const char* op : {"Tk17SetMode", "Tk17StartSampling", "Tk17GetSamplingStatus", "Tk17GetData",
                           "Tk17StopSampling", "Tk17OutPort"})
        EXPECT_EQ(SocketsCalled(sim, op), std::vector<int>{2}) << op;
    EXPECT_EQ(SocketsCalled(sim, "Tk17InPort"), std::vector<int>{0});
    // The modules recorded the remapped cards' data: card 1's scan counter, card 3's port.
    std::vector<velk::ReleasedBlock> blocks = host().releasedBlocks(analog, 0);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].samples[0], static_cast<float>(100 * 20.0 / 4096 - 10.0));
    EXPECT_EQ(blocks[0].samples[9], static_cast<float>(109 * 20.0 / 4096 - 10.0));
    const float levels[4] = {0.0f, 5.0f, 0.0f, 5.0f};  // 0x0A
    for (uint32_t c = 0; c < 4; ++c) {
        ASSERT_EQ(host().releasedBlocks(in, c).size(), 1u);
        EXPECT_EQ(host().releasedBlocks(in, c)[0].samples, std::vector<float>(10, levels[c])) << c;
    }
    SimPortWrite writes[10];
    ASSERT_EQ(sim.GetOutputLog(-1, writes, 10), 10);
    EXPECT_EQ(writes[9].socket, 2);
    EXPECT_EQ(writes[9].value, 1);
}

TEST_F(SocketCell, FailuresFetchTheSocketsLastError) {
    ASSERT_EQ(StartHost(kRemapped), 1);
    SimApi sim = Sim();
    ASSERT_TRUE(sim.ok());
    host().setBlockSize(5);
    velk::NewModule one;
    one.outputCount = 1;
    velk::NewModule oneIn;
    oneIn.inputCount = 1;
    ModuleRecord* analog = CreateOnLine(kAnalog, 1, one);   // socket 0
    ModuleRecord* out = CreateOnLine(kDigitalOut, 0, oneIn);  // socket 2
    ASSERT_TRUE(analog && out);
    // The numbers the scan probed hold other codes: fetching them shows the wrong one.
    ASSERT_TRUE(SetLastErrorOf(sim, 1, 41));
    ASSERT_TRUE(SetLastErrorOf(sim, 3, 43));
    ASSERT_TRUE(sim.InjectFault("Tk17GetData", 0, 1, 70));
    ASSERT_TRUE(sim.InjectFault("Tk17OutPort", 2, 1, 72));
    sim.ClearCallLog();
    host().setRunning(1);
    ASSERT_EQ(host().callClass(analog, 106), 1);
    ASSERT_EQ(host().callClass(out, 106), 1);
    EXPECT_EQ(host().process(analog), 0);
    velk::BlockContent block;
    block.samples.assign(5, 0.0f);
    ASSERT_TRUE(host().pushInputBlock(out, 0, block));
    host().process(out);
    ASSERT_EQ(host().callClass(analog, 107), 1);
    ASSERT_EQ(host().callClass(out, 107), 1);
    host().setRunning(0);
    std::vector<velk::Warning> warnings = host().log().warnings();
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0].text, "サンプリングデータ取り込みを失敗しました\nエラーコード： 70");
    EXPECT_EQ(warnings[1].text, "データ出力に失敗しました\nエラーコード 72\nソケット番号 2\n");
    EXPECT_EQ(CallLines(sim, {"Tk17GetLastError"}),
              (std::vector<std::string>{"Tk17GetLastError 0 -> 70", "Tk17GetLastError 2 -> 72"}));
}

TEST_F(SocketCell, RemovalFreesTheSlotOfTheSocketAndFinishClosesBySocket) {
    ASSERT_EQ(StartHost(kRemapped), 1);
    ModuleRecord* first = CreateOnLine(kAnalog, 1);  // socket 0 (slot 3)
    ASSERT_NE(first, nullptr);
    std::vector<std::string> details;
    ModuleRecord* second = CreateReading(kAnalog, 0, details, velk::NewModule());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(details, std::vector<std::string>{"310 H 8 2"}) << "slot 3 is taken by the first module";
    EXPECT_TRUE(host().removeModule(first));
    details.clear();
    ModuleRecord* third = CreateReading(kAnalog, 0, details, velk::NewModule());
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(details, std::vector<std::string>{"330 H 24 0"}) << "removing the module freed the slot of socket 0";
    // The closes at finish: the driver is kept loaded by a reference of our own, so
    // its call log can be read after the extension released it.
    HMODULE driver = GetModuleHandleA("vyttk17.dll");
    ASSERT_NE(driver, nullptr);
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(driver, path, sizeof path), 0u);
    HMODULE kept = LoadLibraryA(path);
    ASSERT_EQ(kept, driver);
    SimApi sim = SimApi::from(kept);
    sim.ClearCallLog();
    // As Velk closes a worksheet: the modules go first, then the extension finishes.
    for (ModuleRecord* m : host().modules()) EXPECT_TRUE(host().removeModule(m));
    EXPECT_EQ(host().finishExtension(), 1);
    EXPECT_EQ(CallLines(sim), (std::vector<std::string>{"Tk17Close 2 -> 1", "Tk17Close 0 -> 1"}));
    EXPECT_FALSE(sim.IsOpen(1));
    EXPECT_FALSE(sim.IsOpen(3));
    FreeLibrary(kept);
}

}  // namespace
}  // namespace exttest
