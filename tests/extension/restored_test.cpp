// Private data areas as Velk brings them back from a saved worksheet: run-time
// references that hold another process's pointers, and settings out of range from
// another version or a damaged file. Nothing is read, written or freed through a
// pointer this load did not allocate, and every other odd value gets a sane
// default or a clear warning.
#include "tests/extension/fixture.h"

namespace exttest {
namespace {

// An address no allocation of this process made; touching it would crash the test.
void* const kForeign = reinterpret_cast<void*>(static_cast<uintptr_t>(0x7E5A0000u));

class Restored : public ExtensionTest {
protected:
    static unsigned char* Bytes(ModuleRecord* m) { return static_cast<unsigned char*>(m->privateData); }
    static void* Pointer(ModuleRecord* m, int offset) {
        void* p;
        memcpy(&p, Bytes(m) + offset, sizeof p);
        return p;
    }
    static void SetPointer(ModuleRecord* m, int offset, void* p) { memcpy(Bytes(m) + offset, &p, sizeof p); }
    void ExpectNoBadFrees() { EXPECT_TRUE(host().allocator().errors().empty()) << host().allocator().errors().front(); }
};

TEST_F(Restored, AnAnalogSampleBufferOfAnotherProcessIsNeverUsed) {
    ASSERT_EQ(StartHost(), 1);
    host().setBlockSize(10);
    ModuleRecord* m = CreateAnalogModule(2);
    ASSERT_NE(m, nullptr);
    SetPointer(m, 232, kForeign);
    EXPECT_EQ(host().process(m), 1) << "nothing was started: nothing is read";
    EXPECT_EQ(Sim().CallCount("Tk17GetData", 0), 0);
    StopRun(m);
    EXPECT_EQ(Pointer(m, 232), nullptr) << "the stop drops the reference";
    ExpectNoBadFrees();

    SetPointer(m, 232, kForeign);
    ASSERT_EQ(StartRun(m), 1);
    void* own = Pointer(m, 232);
    EXPECT_NE(own, kForeign);
    EXPECT_TRUE(host().allocator().isLive(own));
    EXPECT_EQ(host().process(m), 1);
    EXPECT_EQ(host().releasedBlocks(m, 0).size(), 1u);
    StopRun(m);
    EXPECT_FALSE(host().allocator().isLive(own));
    ExpectNoBadFrees();
}

TEST_F(Restored, ADigitalOutputBufferOfAnotherProcessIsNeverWrittenOrFreed) {
    ASSERT_EQ(StartHost(), 1);
    host().setBlockSize(4);
    ModuleRecord* m = CreateOnLine(kDigitalOut);
    ASSERT_NE(m, nullptr);
    SetPointer(m, 100, kForeign);
    velk::BlockContent block;
    block.samples = {5.0f, 5.0f, 0.0f, 5.0f};
    ASSERT_TRUE(host().pushInputBlock(m, 0, block));
    host().setRunning(1);
    EXPECT_EQ(host().process(m), 1);
    EXPECT_EQ(Sim().GetOutputLog(0, nullptr, 0), 0) << "nothing is written without a buffer of this load";
    StopRun(m);
    EXPECT_EQ(Pointer(m, 100), nullptr);
    ExpectNoBadFrees();

    SetPointer(m, 100, kForeign);
    ASSERT_EQ(StartRun(m), 1);
    EXPECT_TRUE(host().allocator().isLive(Pointer(m, 100)));
    EXPECT_EQ(host().process(m), 1);
    EXPECT_EQ(Sim().GetOutputLog(0, nullptr, 0), 4);
    StopRun(m);
    ExpectNoBadFrees();
}

TEST_F(Restored, ASecondStartOfADigitalOutputGivesTheFirstBufferBack) {
    ASSERT_EQ(StartHost(), 1);
    ModuleRecord* m = CreateOnLine(kDigitalOut);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    void* first = Pointer(m, 100);
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    EXPECT_EQ(host().allocator().liveCount("Vyttk17DOUT"), 1u);
    const std::string size = std::to_string(host().blockSize());
    EXPECT_EQ(AllocationLog("Vyttk17DOUT"),
              (std::vector<std::string>{"Alloc 154 " + size, "Free 152 " + size, "Alloc 154 " + size}));
    StopRun(m);
}

// A reference in one module's area to the live buffer of another module of this
// load (a worksheet saved by this very process) is not that module's to free: the
// start drops it and allocates its own, and the other module keeps its buffer.
TEST_F(Restored, AReferenceToAnotherModulesBufferIsOnlyDropped) {
    ASSERT_EQ(StartHost("[card 0]\nclock = virtual\n[card 1]\nclock = virtual\n"), 1);
    host().setBlockSize(4);
    ModuleRecord* a = CreateOnLine(kDigitalOut, 0);
    ModuleRecord* b = CreateOnLine(kDigitalOut, 0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(StartRun(a), 1);
    void* bufferA = Pointer(a, 100);
    ASSERT_NE(bufferA, nullptr);
    SetPointer(b, 100, bufferA);
    ASSERT_EQ(host().callClass(b, 106), 1);
    EXPECT_NE(Pointer(b, 100), bufferA) << "b has a buffer of its own";
    EXPECT_EQ(Pointer(a, 100), bufferA);
    EXPECT_EQ(host().allocator().liveCount("Vyttk17DOUT"), 2u) << "a's buffer is still allocated";
    EXPECT_EQ(host().callClass(b, 107), 1);
    StopRun(a);
    EXPECT_EQ(host().allocator().liveCount("Vyttk17DOUT"), 0u);
    ExpectNoBadFrees();
}

TEST_F(Restored, ARangeOtherThanZeroOrOneIsRunAsFiveVolts) {
    ASSERT_EQ(StartHost(), 1);
    host().setBlockSize(3);
    ModuleRecord* m = CreateAnalogModule(1);
    ASSERT_NE(m, nullptr);
    const int32_t range = 7;
    memcpy(Bytes(m) + 200, &range, 4);
    ASSERT_EQ(StartRun(m), 1);
    Tk17Mode mode;
    ASSERT_TRUE(Sim().GetMode(0, &mode));
    EXPECT_EQ(mode.range, 1) << "the card is given a range it knows";
    ASSERT_EQ(host().process(m), 1);
    ASSERT_EQ(host().releasedBlocks(m, 0).size(), 1u);
    EXPECT_EQ(host().releasedBlocks(m, 0)[0].samples[0], -5.0f) << "code 0 on the ±5 V range";
    StopRun(m);
}

TEST_F(Restored, ANegativeRangeIsRunAsFiveVolts) {
    ASSERT_EQ(StartHost(), 1);
    host().setBlockSize(3);
    ModuleRecord* m = CreateAnalogModule(1);
    ASSERT_NE(m, nullptr);
    const int32_t range = -1;
    memcpy(Bytes(m) + 200, &range, 4);
    ASSERT_EQ(StartRun(m), 1);
    EXPECT_TRUE(host().log().warnings().empty()) << velk::cp932ToUtf8(host().log().warnings()[0].text);
    Tk17Mode mode;
    ASSERT_TRUE(Sim().GetMode(0, &mode));
    EXPECT_EQ(mode.range, 1) << "the card is given a range it knows";
    EXPECT_EQ(Sim().CallCount("Tk17StartSampling", 0), 1);
    StopRun(m);
}

TEST_F(Restored, AnAnalogChannelCountBeyondTheCardIsRefusedAtStart) {
    ASSERT_EQ(StartHost(), 1);
    velk::NewModule how;
    how.outputCount = 12;
    ModuleRecord* m = CreateOnLine(kAnalog, 0, how);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(StartRun(m), 0);
    ASSERT_EQ(host().log().warnings().size(), 1u);
    EXPECT_EQ(host().log().warnings()[0].caption, "エラー");
    EXPECT_EQ(host().log().warnings()[0].text, "チャンネル数 12 は使えません (1～8)");
    EXPECT_EQ(host().allocator().liveCount("Vyttk17AD"), 0u);
    EXPECT_EQ(host().process(m), 1);
    StopRun(m);
    // The setup dialog opens on such a module and leaves it as it is on Cancel.
    RunSetupDialog(m, [](velk::ui::Operator& op, HWND dlg) {
        dialog::Same(op, dialog::State(dlg, 23001), uint16_t(3), "more disabled");
        op.check(dialog::Click(dlg, IDCANCEL), "Cancel");
    });
    EXPECT_EQ(m->outputCount, 12u);
}

TEST_F(Restored, ChannelNamesWithoutTheirZeroAreShownCutAndStoredWhole) {
    ASSERT_EQ(StartHost(), 1);
    ModuleRecord* m = CreateOnLine(kDigitalIn, 0, [] {
        velk::NewModule how;
        how.outputCount = 2;
        return how;
    }());
    ASSERT_NE(m, nullptr);
    memset(Bytes(m), 'N', 96);  // four slots without a terminating zero
    std::string shown0, shown1;
    RunSetupDialog(
        m,
        [&](velk::ui::Operator& op, HWND dlg) {
            shown0 = dialog::Text(dlg, 23021);
            op.check(dialog::Click(dlg, 23003), "channel 1");
            shown1 = dialog::Text(dlg, 23021);
            op.check(dialog::Click(dlg, IDOK), "Ok");
        },
        "VYT-TK17 デジタル入力");
    EXPECT_EQ(shown0, std::string(20, 'N')) << "the name as it can be stored";
    EXPECT_EQ(shown1, std::string(20, 'N'));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(Bytes(m))), std::string(20, 'N')) << "stored with its zero";
    EXPECT_EQ(Bytes(m)[96], 0) << "the socket field is untouched";
}

}  // namespace
}  // namespace exttest
