// The analog input module on the simulated card: the mode programmed at start,
// blocks and their time stamps, decimation and channel interleaving, pause and
// the output gate, and every driver failure with its message and order.
#include "tests/extension/fixture.h"

#include <math.h>

#include <algorithm>

namespace exttest {
namespace {

// The i-th 12-bit code of a scan counter starting at `start`, in volts (range 0).
double ScanVolts(int start, uint64_t scan) { return ((start + scan) % 4096) * 20.0 / 4096 - 10.0; }

class Analog : public ExtensionTest {
protected:
    struct AnalogArea {
        unsigned char* bytes;
        int32_t Word(int offset) const {
            int32_t v;
            memcpy(&v, bytes + offset, 4);
            return v;
        }
        void SetWord(int offset, int32_t v) { memcpy(bytes + offset, &v, 4); }
        void* Buffer() const {
            void* p;
            memcpy(&p, bytes + 232, sizeof(p));
            return p;
        }
    };
    AnalogArea Area(ModuleRecord* m) { return AnalogArea{static_cast<unsigned char*>(m->privateData)}; }
};

TEST_F(Analog, StartProgramsTheCardAndBlocksCarryNominalTime) {
    ModuleRecord* m = CreateAnalog(4, 1.0, 50);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    SimApi sim = Sim();
    Tk17Mode mode;
    ASSERT_TRUE(sim.GetMode(0, &mode));
    EXPECT_EQ(mode.interval, 25);
    EXPECT_EQ(mode.decimation, 1);
    EXPECT_EQ(mode.firstChannel, 0);
    EXPECT_EQ(mode.lastChannel, 3);
    EXPECT_EQ(mode.reserved16, 0);
    EXPECT_EQ(mode.reserved20, 1);
    EXPECT_EQ(mode.driverBufferSize, 262144);
    EXPECT_TRUE(sim.IsSampling(0));
    EXPECT_EQ(Area(m).Word(240), 200);
    EXPECT_EQ(host().allocator().liveCount("Vyttk17AD", 200), 1u);
    for (uint32_t c = 0; c < 4; ++c) host().outputChannel(m, c)->outputMark = 0x77;

    for (int call = 0; call < 3; ++call) ASSERT_EQ(host().process(m), 1);
    EXPECT_EQ(sim.CallCount("Tk17GetData", 0), 3) << "one read per processing call";
    for (uint32_t c = 0; c < 4; ++c) {
        std::vector<velk::ReleasedBlock> blocks = host().releasedBlocks(m, c);
        ASSERT_EQ(blocks.size(), 3u);
        for (size_t k = 0; k < blocks.size(); ++k) {
            EXPECT_DOUBLE_EQ(blocks[k].startTime, k * 50 * 0.001);
            EXPECT_DOUBLE_EQ(blocks[k].sampleDistance, 0.001);
            EXPECT_EQ(blocks[k].sampleCount, 50);
            EXPECT_EQ(blocks[k].tag, "Vyttk17AD");
            EXPECT_EQ(blocks[k].line, 422);
            for (int j = 0; j < 50; ++j)
                ASSERT_EQ(blocks[k].samples[j], static_cast<float>(ScanVolts(1000 * c, k * 50 + j))) << c << " " << j;
        }
    }
    // Each visit cleared the mark before asking (the host reports a misuse otherwise);
    // what stands there now is Velk's mark of the last block handed out.
    for (uint32_t c = 0; c < 4; ++c) EXPECT_EQ(host().outputChannel(m, c)->outputMark, velk::kHandedOutMark);
    StopRun(m);
    EXPECT_FALSE(sim.IsSampling(0));
    EXPECT_EQ(Area(m).Buffer(), nullptr);
    EXPECT_EQ(host().allocator().liveCount(), 0u);
    EXPECT_EQ(host().process(m), 1) << "nothing started: nothing to do";
    EXPECT_EQ(sim.CallCount("Tk17GetSamplingStatus", 0), 3);
}

TEST_F(Analog, TheCardIsGivenTheModeRecordInsideThePrivateAreaAtByte200) {
    ModuleRecord* m = CreateAnalog(3, 2.0, 10);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    uint64_t address = 0;
    uint8_t bytes[32];
    ASSERT_EQ(Sim().GetSetModeCall(0, &address, bytes), 1);
    EXPECT_EQ(address, reinterpret_cast<uintptr_t>(m->privateData) + 200) << "the record itself, not a copy";
    EXPECT_EQ(memcmp(bytes, Area(m).bytes + 200, 32), 0) << "the bytes the driver saw are the area's";
    Tk17Mode accepted;
    ASSERT_TRUE(Sim().GetMode(0, &accepted));
    EXPECT_EQ(memcmp(bytes, &accepted, 32), 0);
    EXPECT_EQ(accepted.lastChannel, 2);
    StopRun(m);
}

TEST_F(Analog, DecimationTakesEveryFiftiethScan) {
    ModuleRecord* m = CreateAnalog(2, 10.0, 4);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    EXPECT_EQ(Area(m).Word(228), 50);
    EXPECT_EQ(Area(m).Word(240), 2 * 4 * 50);
    ASSERT_EQ(host().process(m), 1);
    ASSERT_EQ(host().process(m), 1);
    std::vector<velk::ReleasedBlock> ch1 = host().releasedBlocks(m, 1);
    ASSERT_EQ(ch1.size(), 2u);
    // Block sample j of channel 1 is buffer index 1 + 100 j: scan 50 j of the read.
    for (int j = 0; j < 4; ++j) {
        EXPECT_EQ(ch1[0].samples[j], static_cast<float>(ScanVolts(1000, 50 * j)));
        EXPECT_EQ(ch1[1].samples[j], static_cast<float>(ScanVolts(1000, 200 + 50 * j)));
    }
    EXPECT_DOUBLE_EQ(ch1[1].startTime, 4 * 0.010);
    EXPECT_DOUBLE_EQ(ch1[1].sampleDistance, 0.010);
    StopRun(m);
}

TEST_F(Analog, ConversionPointsOfBothRanges) {
    ModuleRecord* m = CreateAnalog(1, 1.0, 3);
    ASSERT_NE(m, nullptr);
    ASSERT_TRUE(Sim().SetChannel(0, 0, "codes 0 2048 4095"));
    ASSERT_EQ(StartRun(m), 1);
    ASSERT_EQ(host().process(m), 1);
    StopRun(m);
    Area(m).SetWord(200, 1);  // the setup dialog's ±5 V
    ASSERT_EQ(StartRun(m), 1);
    ASSERT_EQ(host().process(m), 1);
    StopRun(m);
    std::vector<velk::ReleasedBlock> blocks = host().releasedBlocks(m, 0);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].samples, (std::vector<float>{-10.0f, 0.0f, 9.9951171875f}));
    EXPECT_EQ(blocks[1].samples, (std::vector<float>{-5.0f, 0.0f, 4.99755859375f}));
    EXPECT_DOUBLE_EQ(blocks[1].startTime, 0.0) << "a new start begins at time 0";
}

TEST_F(Analog, PauseAndTheOutputGateStillReadTheCardAndDropTheData) {
    ModuleRecord* m = CreateAnalog(1, 1.0, 10);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    SimApi sim = Sim();
    ASSERT_EQ(host().process(m), 1);
    host().setPaused(1);
    ASSERT_EQ(host().process(m), 1);
    host().setPaused(0);
    m->outputGate = 0;
    ASSERT_EQ(host().process(m), 1);
    m->outputGate = 1;
    ASSERT_EQ(host().process(m), 1);
    EXPECT_EQ(sim.CallCount("Tk17GetData", 0), 4);
    std::vector<velk::ReleasedBlock> blocks = host().releasedBlocks(m, 0);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_DOUBLE_EQ(blocks[1].startTime, 0.010) << "samplesDone did not advance while dropped";
    EXPECT_EQ(blocks[1].samples[0], static_cast<float>(ScanVolts(0, 30))) << "the fourth read's data";
    StopRun(m);
}

TEST_F(Analog, ABlockFilledAsAPauseBeginsIsHeldAndReleasedUnchanged) {
    ModuleRecord* m = CreateAnalog(2, 1.0, 5);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    // The pause begins while channel 0's block is released: channel 1's block
    // is already filled and must wait.
    int id = host().addRecorder(m, 0, [this](const velk::BlockView&) { host().setPaused(1); });
    ASSERT_NE(id, 0);
    ASSERT_EQ(host().process(m), 1);
    host().removeRecorder(id);
    EXPECT_EQ(host().releasedBlocks(m, 1).size(), 0u);
    EXPECT_EQ(m->channelData[1]->blockPending, 1);
    ASSERT_EQ(host().process(m), 1);  // still paused: nothing
    host().setPaused(0);
    ASSERT_EQ(host().process(m), 1);
    std::vector<velk::ReleasedBlock> ch1 = host().releasedBlocks(m, 1);
    ASSERT_EQ(ch1.size(), 1u) << "no new block is requested while one is pending";
    EXPECT_DOUBLE_EQ(ch1[0].startTime, 0.0);
    EXPECT_EQ(ch1[0].samples[0], static_cast<float>(ScanVolts(1000, 0))) << "the first read's data, unchanged";
    EXPECT_EQ(host().releasedBlocks(m, 0).size(), 2u);
    StopRun(m);
}

TEST_F(Analog, AChannelWithoutABlockContinuesGaplessly) {
    ModuleRecord* m = CreateAnalog(1, 2.0, 500);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    ASSERT_EQ(host().process(m), 1);
    ASSERT_EQ(host().process(m), 1);
    host().exhaustPool(m, 0);
    ASSERT_EQ(host().process(m), 1);
    host().setPoolCapacity(m, 0, 8);
    ASSERT_EQ(host().process(m), 1);
    std::vector<velk::ReleasedBlock> blocks = host().releasedBlocks(m, 0);
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_DOUBLE_EQ(blocks[2].startTime, 2.0) << "1000 samples at 2 ms";
    EXPECT_DOUBLE_EQ(blocks[2].sampleDistance, 0.002);
    StopRun(m);
}

TEST_F(Analog, AnimationHookPhasesCycle) {
    ModuleRecord* m = CreateAnalog(1, 1.0, 1);
    ASSERT_NE(m, nullptr);
    host().setAnimation(1);
    ASSERT_EQ(StartRun(m), 1);
    std::vector<int32_t> phases;
    for (int i = 0; i < 22; ++i) {
        ASSERT_EQ(host().process(m), 1);
        phases.push_back(m->channelData[0]->animationPhase);
    }
    EXPECT_EQ(phases[0], 1);
    EXPECT_EQ(phases[9], 10);
    EXPECT_EQ(phases[10], -9);
    EXPECT_EQ(phases[21], 2);
    StopRun(m);
}

TEST_F(Analog, RefusedRatesWarnWithoutAllocating) {
    ModuleRecord* m = CreateAnalog(2, 0.05, 10);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(StartRun(m), 0);
    host().setSamplePeriodMs(NAN);
    EXPECT_EQ(StartRun(m), 0);
    host().setSamplePeriodMs(1.0);
    host().setBlockSize(70000);
    EXPECT_EQ(StartRun(m), 0);
    std::vector<velk::Warning> w = host().log().warnings();
    ASSERT_EQ(w.size(), 3u);
    for (const velk::Warning& warning : w) EXPECT_EQ(warning.caption, "エラー");
    EXPECT_EQ(w[0].text, "チャンネルが複数ある場合は1チャンネル当たりのサンプリングレ－トを\r100μ秒以上になるように指定して下さい");
    EXPECT_EQ(EventIndex("Alloc|Vyttk17AD"), -1);
    EXPECT_EQ(Sim().CallCount("Tk17SetMode", -1), 0);
    StopRun(m);
}

TEST_F(Analog, AFailedAllocationIsReported) {
    ModuleRecord* m = CreateAnalog(1, 1.0, 10);
    ASSERT_NE(m, nullptr);
    host().allocator().failNext("Vyttk17AD", 200);
    EXPECT_EQ(StartRun(m), 0);
    ASSERT_EQ(host().log().warnings().size(), 1u);
    EXPECT_EQ(host().log().warnings()[0].caption, "VYT-TK17");
    EXPECT_EQ(host().log().warnings()[0].text, "バッファを確保できませんでした");
    EXPECT_EQ(host().process(m), 1);
    StopRun(m);
}

TEST_F(Analog, ASecondStartWithoutStopDoesNotLeak) {
    ModuleRecord* m = CreateAnalog(1, 1.0, 10);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    ASSERT_EQ(StartRun(m), 1);
    EXPECT_EQ(host().allocator().liveCount("Vyttk17AD"), 1u);
    EXPECT_GE(EventIndex("Free|Vyttk17AD|198"), 0) << "the first buffer is given back before the new one";
    StopRun(m);
}

// Driver failures: StopExperiment comes before the error code is fetched and
// before the message; the messages carry the driver's code.
class AnalogFailures : public Analog {
protected:
    void ExpectStoppedThenWarned(const std::string& text, int getLastErrorsAtStop) {
        EXPECT_EQ(errorsFetchedAtStop_, getLastErrorsAtStop);
        int stop = EventIndex("StopExperiment");
        int warn = EventIndex("ShowWarning|VYT-TK17|");
        ASSERT_GE(stop, 0);
        ASSERT_GE(warn, 0);
        EXPECT_LT(stop, warn);
        EXPECT_EQ(Events()[warn], "ShowWarning|VYT-TK17|" + text);
    }
    void WatchStops() {
        host().setStopHook([this] { errorsFetchedAtStop_ = Sim().CallCount("Tk17GetLastError", -1); });
    }
    int errorsFetchedAtStop_ = -1;
};

TEST_F(AnalogFailures, SetModeAndStartSamplingFailuresStopAndStillAnswerOne) {
    for (const char* op : {"Tk17SetMode", "Tk17StartSampling"}) {
        SCOPED_TRACE(op);
        ModuleRecord* m = CreateAnalog(1, 1.0, 10);
        ASSERT_NE(m, nullptr);
        WatchStops();
        ASSERT_TRUE(Sim().InjectFault(op, 0, 1, 77));
        host().log().clearEvents();
        EXPECT_EQ(StartRun(m), 1);
        ExpectStoppedThenWarned("サンプリング開始に失敗しました\nエラーコード： 77", 0);
        EXPECT_EQ(host().allocator().liveCount("Vyttk17AD", 200), 1u) << "the buffer stays until the stop";
        StopRun(m);
        EXPECT_EQ(host().allocator().liveCount(), 0u);
        TearDown();
    }
}

TEST_F(AnalogFailures, StatusAndDataFailuresStopAndAnswerZero) {
    const std::pair<const char*, const char*> kCases[] = {
        {"Tk17GetSamplingStatus", "サンプリング状態の取得に失敗しました\nエラーコード： 31"},
        {"Tk17GetData", "サンプリングデータ取り込みを失敗しました\nエラーコード： 31"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.first);
        ModuleRecord* m = CreateAnalog(2, 1.0, 10);
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(StartRun(m), 1);
        ASSERT_EQ(host().process(m), 1);
        WatchStops();
        ASSERT_TRUE(Sim().InjectFault(c.first, 0, 1, 31));
        host().log().clearEvents();
        EXPECT_EQ(host().process(m), 0);
        ExpectStoppedThenWarned(c.second, 0);
        EXPECT_EQ(host().releasedBlocks(m, 0).size(), 1u);
        StopRun(m);
        TearDown();
    }
}

// Velk's warning box is modal and dispatches the thread's messages while it is open
// (here: the hook pumps them, as the box's loop would): a driver notification
// waiting at the extension's window is handled inside the read failure's warning,
// and the extension copes with being called there.
TEST_F(AnalogFailures, ANotificationHandledInsideAWarningNestsCleanly) {
    ModuleRecord* m = CreateAnalog(2, 1.0, 10);
    ASSERT_NE(m, nullptr);
    host().setWarningHook([this](const velk::Warning&) { host().pump(); });
    ASSERT_EQ(StartRun(m), 1);
    ASSERT_TRUE(Sim().InjectFault("Tk17GetData", 0, 1, 31));
    ASSERT_TRUE(Sim().PostNotification(0, 1227));
    host().log().clearEvents();
    EXPECT_EQ(host().process(m), 0);
    EXPECT_EQ(Events(), (std::vector<std::string>{
                            "StopExperiment",
                            "ShowWarning|VYT-TK17|サンプリングデータ取り込みを失敗しました\nエラーコード： 31",
                            "StopExperiment", "ShowWarning|VYT-TK17|バッファオーバーフロー"}));
    host().setWarningHook(nullptr);
    StopRun(m);
    EXPECT_EQ(host().allocator().liveCount(), 0u);
}

// The same in a windowed Velk, where a warning is a modal message box: the box's
// loop dispatches the notification waiting at the extension's window, whose own box
// opens while the first is still open. A user answers both; the extension ends the
// read failure cleanly once its box returns.
TEST_F(AnalogFailures, WarningBoxesNestWhenANotificationComesWhileOneIsOpen) {
    SetEnvironmentVariableA("VYTTK17_CONFIG_TEXT", kOneVirtualCard);
    velk::HostOptions windowed;
    windowed.warnings = velk::WarningOutput::MessageBox;
    host_ = std::make_unique<velk::Host>(windowed);
    ASSERT_TRUE(host_->load()) << host_->loadError();
    ASSERT_EQ(host_->setup(), 1);
    host().setSamplePeriodMs(1.0);
    host().setBlockSize(10);
    velk::NewModule how;
    how.outputCount = 2;
    ModuleRecord* m = CreateOnLine(kAnalog, 0, how);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    ASSERT_TRUE(Sim().InjectFault("Tk17GetData", 0, 1, 31));
    ASSERT_TRUE(Sim().PostNotification(0, 1227));
    std::vector<std::string> texts;
    velk::ui::Operator op([&](velk::ui::Operator& op) {
        // Clicks OK in each box as it is found, in whatever order they are found.
        std::vector<HWND> answered;
        const ULONGLONG deadline = GetTickCount64() + 20000;
        while (answered.size() < 2 && GetTickCount64() < deadline) {
            HWND box = op.waitFor("VYT-TK17");
            if (!box) return;
            if (!IsWindowVisible(box) || std::find(answered.begin(), answered.end(), box) != answered.end()) {
                Sleep(10);
                continue;
            }
            answered.push_back(box);
            texts.push_back(velk::ui::windowText(GetDlgItem(box, 0xFFFF)));
            op.check(velk::ui::clickButton(box, IDOK), "OK");
        }
        op.check(answered.size() == 2, "two boxes answered");
    });
    EXPECT_EQ(host().process(m), 0);
    EXPECT_TRUE(op.join()) << op.report();
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{"サンプリングデータ取り込みを失敗しました\nエラーコード： 31",
                                               "バッファオーバーフロー"}));
    EXPECT_EQ(host().log().stopRequests(), 2);
    StopRun(m);
    EXPECT_EQ(host().allocator().liveCount(), 0u);
}

TEST_F(AnalogFailures, StatusBitsStopWithoutAMessageOfTheirOwn) {
    ModuleRecord* m = CreateAnalog(1, 1.0, 10);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(StartRun(m), 1);
    ASSERT_TRUE(Sim().TriggerOverrun(0));
    host().log().clearEvents();
    EXPECT_EQ(host().process(m), 0);
    EXPECT_EQ(Events(), (std::vector<std::string>{"StopExperiment"}));
    host().setRunning(0);
    host().pump();  // the driver's 1228 arrives as a window message
    EXPECT_EQ(host().log().warnings().back().text, "バッファオーバーラン");
    StopRun(m);
}

}  // namespace
}  // namespace exttest
