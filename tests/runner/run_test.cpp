// Experiments built from worksheets on the simulated card's virtual clock: what
// the CSV files hold, how a refused start and a driver fault end the run, pause
// and resume, digital input feeding digital output, and sockets without a card.
#include "runner_support.h"

#include "velk/common/text.h"
#include "velk/worksheet/worksheet_rules.h"

#include <math.h>

namespace runnertest {
namespace {

using velk::RunEnd;

double Num(const std::string& cell) { return strtod(cell.c_str(), nullptr); }

// Checks the recording's time column: row k at k × period, no row missing.
void ExpectGaplessTimes(const Csv& csv, size_t rows, double periodS) {
    ASSERT_EQ(csv.rows.size(), rows);
    for (size_t k = 0; k < rows; ++k)
        ASSERT_NEAR(Num(csv.rows[k][0]), k * periodS, 1e-12) << "row " << k;
}

const char kScanSheet[] =
    "[experiment]\nperiod_ms = 1\nblock_size = 50\nduration_s = 0.5\n"
    "[module ai]\nclass = analog_in\nsocket = 0\nchannels = 2\nchannel0 = A\nchannel1 = B\n"
    "[record ai]\nfile = ai.csv\n"
    "[card 0]\nclock = virtual\nai0 = scan start=0 step=1\nai1 = scan start=1000 step=3\n";

TEST_F(RunnerTest, ScanSignalsLandInTheCsvAtTheirTimes) {
    ASSERT_TRUE(Build(kScanSheet));
    velk::RunReport r = E().run();
    EXPECT_EQ(r.end, RunEnd::Completed) << r.detail;
    EXPECT_EQ(E().host().running(), 0);
    EXPECT_EQ(Sim().IsSampling(0), 0) << "107 stopped the card";
    std::string error;
    ASSERT_TRUE(E().writeRecordings(error)) << error;

    const velk::ChannelStats& a = Stats("ai", 0);
    EXPECT_EQ(a.blocks, 10u);
    EXPECT_EQ(a.samples, 500u);
    EXPECT_EQ(a.gaps, 0u);
    EXPECT_DOUBLE_EQ(a.firstTime, 0.0);
    EXPECT_NEAR(a.lastTime, 0.499, 1e-12);
    EXPECT_DOUBLE_EQ(a.min, CodeVolts(0));
    EXPECT_DOUBLE_EQ(a.max, CodeVolts(499));
    double sum = 0;
    for (int j = 0; j < 500; ++j) sum += CodeVolts(j);
    EXPECT_NEAR(a.mean(), sum / 500, 1e-9);
    EXPECT_DOUBLE_EQ(Stats("ai", 1).max, CodeVolts(1000 + 3 * 499));

    Csv csv = ReadCsv(Out("ai.csv"));
    EXPECT_EQ(csv.header, (std::vector<std::string>{"time_s", "A", "B"}));
    ExpectGaplessTimes(csv, 500, 0.001);
    for (size_t k = 0; k < csv.rows.size(); ++k) {
        ASSERT_EQ(csv.rows[k].size(), 3u);
        ASSERT_EQ(static_cast<float>(Num(csv.rows[k][1])), CodeVolts(static_cast<int>(k))) << k;
        ASSERT_EQ(static_cast<float>(Num(csv.rows[k][2])), CodeVolts((1000 + 3 * static_cast<int>(k)) % 4096)) << k;
    }
}

TEST_F(RunnerTest, UnnamedChannelsAreNumberedInTheHeader) {
    ASSERT_TRUE(Build("[experiment]\nblock_size = 10\nduration_s = 0.02\n"
                      "[module ai]\nclass = analog_in\nchannels = 3\nchannel1 = mid\n"
                      "[record ai]\nfile = sub/folder/x.csv\n"
                      "[card 0]\nclock = virtual\n"));
    EXPECT_EQ(E().run().end, RunEnd::Completed);
    std::string error;
    ASSERT_TRUE(E().writeRecordings(error)) << error;
    Csv csv = ReadCsv(Out("sub/folder/x.csv"));
    EXPECT_EQ(csv.header, (std::vector<std::string>{"time_s", "ch0", "mid", "ch2"}));
    EXPECT_EQ(csv.rows.size(), 20u);
}

TEST_F(RunnerTest, ARefusedStartStopsTheModulesAlreadyStarted) {
    ASSERT_TRUE(Build("[experiment]\nperiod_ms = 0.05\nblock_size = 10\n"
                      "[module one]\nclass = analog_in\nsocket = 0\n"
                      "[module two]\nclass = analog_in\nsocket = 1\nchannels = 2\n"
                      "[card 0]\nclock = virtual\n[card 1]\nclock = virtual\n"));
    SimApi sim = Sim();
    velk::RunReport r = E().run();
    EXPECT_EQ(r.end, RunEnd::Refused);
    EXPECT_EQ(r.detail, "module two refused to start");
    EXPECT_EQ(r.rounds, 0u) << "no processing after a refused start";
    EXPECT_EQ(sim.CallCount("Tk17StartSampling", 0), 1) << "the first module had started";
    EXPECT_EQ(sim.CallCount("Tk17StopSampling", 0), 1) << "and was stopped again";
    EXPECT_EQ(sim.IsSampling(0), 0);
    EXPECT_EQ(sim.CallCount("Tk17StartSampling", 1), 0);
    EXPECT_EQ(E().host().running(), 0);
    EXPECT_EQ(E().host().allocator().liveCount("Vyttk17AD"), 0u);
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_EQ(r.warnings[0].caption, "エラー");
    EXPECT_EQ(r.warnings[0].text.rfind("チャンネルが複数ある場合は", 0), 0u);
    const std::string summary = Summary();
    EXPECT_NE(summary.find("summary: start refused (module two refused to start)"), std::string::npos) << summary;
    EXPECT_NE(summary.find(u8"[エラー] チャンネルが複数ある場合は"), std::string::npos) << summary;
}

TEST_F(RunnerTest, ADriverFaultMidRunStopsTheExperimentWithItsMessage) {
    ASSERT_TRUE(Build("[experiment]\nblock_size = 20\nduration_s = 1\n"
                      "[module ai]\nclass = analog_in\nchannels = 2\n"
                      "[record ai]\nfile = ai.csv\n"
                      "[card 0]\nclock = virtual\nai0 = scan\n"
                      "[fault]\nTk17GetData = socket 0 from 4 error 42\n"));
    velk::RunReport r = E().run();
    EXPECT_EQ(r.end, RunEnd::StoppedByModule);
    EXPECT_EQ(r.detail, "module ai stopped the experiment");
    EXPECT_EQ(r.rounds, 4u);
    EXPECT_EQ(Stats("ai", 0).blocks, 3u) << "three good reads";
    EXPECT_EQ(Stats("ai", 1).samples, 60u);
    EXPECT_EQ(Sim().IsSampling(0), 0) << "the stop code went out";
    EXPECT_EQ(E().host().running(), 0);
    ASSERT_FALSE(r.warnings.empty());
    EXPECT_EQ(r.warnings.back().caption, "VYT-TK17");
    EXPECT_EQ(r.warnings.back().text, "サンプリングデータ取り込みを失敗しました\nエラーコード： 42");
    const std::string summary = Summary();
    EXPECT_NE(summary.find("stopped by a module (module ai stopped the experiment)"), std::string::npos) << summary;
    EXPECT_NE(summary.find(u8"[VYT-TK17] サンプリングデータ取り込みを失敗しました エラーコード： 42"), std::string::npos)
        << summary;
    std::string error;
    ASSERT_TRUE(E().writeRecordings(error)) << error;
    ExpectGaplessTimes(ReadCsv(Out("ai.csv")), 60, 0.001);
}

TEST_F(RunnerTest, APauseDropsTheCardsDataAndKeepsTimeStampsGapless) {
    ASSERT_TRUE(Build("[experiment]\nblock_size = 10\nduration_s = 0.1\n"
                      "[module ai]\nclass = analog_in\n[record ai]\nfile = ai.csv\n"
                      "[card 0]\nclock = virtual\nai0 = scan\n"));
    ASSERT_TRUE(E().start());
    ASSERT_TRUE(E().round());
    ASSERT_TRUE(E().round());
    E().pause();
    EXPECT_EQ(E().host().paused(), 1);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(E().round());
    EXPECT_EQ(Stats("ai", 0).samples, 20u) << "nothing delivered while paused";
    uint64_t position = 0;
    ASSERT_TRUE(Sim().GetPosition(0, &position));
    EXPECT_EQ(position, 50u) << "the card was still read";
    E().resume();
    EXPECT_EQ(E().host().paused(), 0);
    while (E().round()) {
    }
    EXPECT_EQ(E().report().end, RunEnd::Completed);
    EXPECT_EQ(E().report().pausedRounds, 3u);
    EXPECT_EQ(Stats("ai", 0).gaps, 0u);
    EXPECT_EQ(Stats("ai", 0).samples, 100u);
    std::string error;
    ASSERT_TRUE(E().writeRecordings(error)) << error;
    Csv csv = ReadCsv(Out("ai.csv"));
    ExpectGaplessTimes(csv, 100, 0.001);
    EXPECT_EQ(static_cast<float>(Num(csv.rows[19][1])), CodeVolts(19));
    EXPECT_EQ(static_cast<float>(Num(csv.rows[20][1])), CodeVolts(50)) << "the paused reads were dropped";
}

TEST_F(RunnerTest, TheWorksheetsPauseHappensOnceAtItsDataTime) {
    ASSERT_TRUE(Build("[experiment]\nblock_size = 10\nduration_s = 0.1\npause_at_s = 0.05\npause_for_s = 0\n"
                      "[module ai]\nclass = analog_in\n[record ai]\nfile = ai.csv\n"
                      "[card 0]\nclock = virtual\nai0 = scan\n"));
    velk::RunReport r = E().run();
    EXPECT_EQ(r.end, RunEnd::Completed);
    ASSERT_EQ(r.pausedRounds, 1u) << "a pause of 0 s on the virtual clock: the one round every pause has";
    EXPECT_EQ(Stats("ai", 0).gaps, 0u);
    std::string error;
    ASSERT_TRUE(E().writeRecordings(error)) << error;
    Csv csv = ReadCsv(Out("ai.csv"));
    ExpectGaplessTimes(csv, 100, 0.001);
    EXPECT_EQ(static_cast<float>(Num(csv.rows[49][1])), CodeVolts(49));
    EXPECT_EQ(static_cast<float>(Num(csv.rows[50][1])), CodeVolts(50 + 10 * static_cast<int>(r.pausedRounds)));
}

TEST_F(RunnerTest, DigitalInputFeedsDigitalOutputThroughAConnection) {
    ASSERT_TRUE(Build("[experiment]\nblock_size = 10\nduration_s = 0.05\n"
                      "[module din]\nclass = digital_in\nsocket = 0\nchannels = 2\n"
                      "[module dout]\nclass = digital_out\nsocket = 0\n"
                      "[connect]\ndin.0 -> dout.0\n"
                      "[record din]\nfile = din.csv\n"
                      "[card 0]\nclock = virtual\ndin = fixed 05\n"));
    velk::RunReport r = E().run();
    EXPECT_EQ(r.end, RunEnd::Completed) << r.detail;
    EXPECT_EQ(E().module("din")->outputCount, 2u);
    EXPECT_EQ(E().module("dout")->inputCount, 1u);
    EXPECT_EQ(Stats("din", 0).min, 5.0);
    EXPECT_EQ(Stats("din", 0).max, 5.0);
    EXPECT_EQ(Stats("din", 1).max, 0.0);
    EXPECT_EQ(Stats("din", 0).samples, 50u);
    EXPECT_EQ(Stats("din", 1).gaps, 0u);
    SimApi sim = Sim();
    const int32_t writes = sim.GetOutputLog(0, nullptr, 0);
    EXPECT_GE(writes, 50) << "one port write per sample that reached the output module";
    std::vector<SimPortWrite> log(static_cast<size_t>(writes > 0 ? writes : 0));
    sim.GetOutputLog(0, log.data(), static_cast<uint32_t>(log.size()));
    for (const SimPortWrite& w : log) ASSERT_EQ(w.value, 0x01);
    std::string error;
    ASSERT_TRUE(E().writeRecordings(error)) << error;
    ExpectGaplessTimes(ReadCsv(Out("din.csv")), 50, 0.001);
}

TEST_F(RunnerTest, ASocketWithoutACardStopsTheBuild) {
    EXPECT_FALSE(Build("[module ai]\nclass = analog_in\nsocket = 2\n[card 0]\nclock = virtual\n", false));
    EXPECT_EQ(E().error(),
              "test.vws:3: module ai: no free card in socket 2 for class analog_in (the driver could not open the card: "
              "error 1, no card in that socket)");
    EXPECT_TRUE(E().host().modules().empty()) << "the dialog was cancelled";
}

// A card the driver fails to open at set-up is not offered; the build names the
// driver's error code, asked of the simulated driver without a card operation.
TEST_F(RunnerTest, ACardTheDriverCannotOpenIsReportedWithTheDriversErrorCode) {
    EXPECT_FALSE(Build("[module ai]\nclass = analog_in\nsocket = 1\n"
                       "[card 0]\nclock = virtual\n[card 1]\nclock = virtual\n"
                       "[fault]\nTk17Create = socket 1 error 17\n",
                       false));
    EXPECT_EQ(E().error(),
              "test.vws:3: module ai: no free card in socket 1 for class analog_in (the driver could not open the card: "
              "error 17)");
    EXPECT_EQ(Sim().CallCount("Tk17GetLastError", -1), 0) << "the stand-in made no card operation to ask";
    // Without a socket: every card the driver could not open, by its socket.
    EXPECT_FALSE(Build("[module ai]\nclass = analog_in\n[card 0]\nclock = virtual\n[card 2]\nclock = virtual\n"
                       "[fault]\nTk17Create = socket 0 error 17\nTk17GetResource = socket 2 error 23\n",
                       false));
    const std::string error = E().error();
    EXPECT_EQ(error.rfind("test.vws:1: module ai: no free card in any socket for class analog_in", 0), 0u) << error;
    EXPECT_NE(error.find("(the driver could not open the card in socket 0: error 17; the driver could not open the "
                         "card in socket 2: error 23)"),
              std::string::npos)
        << error;
}

TEST_F(RunnerTest, TheSocketPicksTheCardFromTheList) {
    ASSERT_TRUE(Build("[experiment]\nblock_size = 5\nduration_s = 0.01\n"
                      "[module ai]\nclass = analog_in\nsocket = 3\n"
                      "[card 1]\nclock = virtual\n[card 3]\nclock = virtual\nai0 = codes 4095\n"));
    EXPECT_EQ(E().run().end, RunEnd::Completed);
    EXPECT_EQ(Sim().CallCount("Tk17StartSampling", 3), 1);
    EXPECT_EQ(Sim().CallCount("Tk17StartSampling", 1), 0);
    EXPECT_EQ(Stats("ai", 0).min, CodeVolts(4095));
}

TEST_F(RunnerTest, ASecondModuleOfAClassFindsTheCardTaken) {
    EXPECT_FALSE(Build("[module a]\nclass = analog_in\n[module b]\nclass = analog_in\nsocket = 0\n"
                       "[card 0]\nclock = virtual\n",
                       false));
    EXPECT_EQ(E().error().rfind("test.vws:5: module b: no free card in socket 0 for class analog_in", 0), 0u)
        << E().error();
    EXPECT_NE(E().error().find("(module a uses that card)"), std::string::npos) << "a took the first card offered";
    ASSERT_FALSE(E().host().log().warnings().empty());
    EXPECT_EQ(E().host().log().warnings().back().text, "使えるデバイスがありません");
}


// A digital input releases each block when real time reaches its end: with blocks
// of 65535 at 1 ms the first one comes after 65.5 s, whatever the duration, and the
// real-time limit leaves room for it.
TEST_F(RunnerTest, TheRealTimeLimitLeavesRoomForAWholeDigitalInputBlock) {
    ASSERT_TRUE(Build("[experiment]\nblock_size = 65535\nduration_s = 1\n"
                      "[module din]\nclass = digital_in\n[card 0]\nclock = virtual\n"));
    EXPECT_DOUBLE_EQ(E().realTimeLimitSeconds(), 65.535 * 3 + 10);
    ASSERT_TRUE(Build("[experiment]\nblock_size = 65535\nduration_s = 1\n"
                      "[module ai]\nclass = analog_in\nbuffer = 128K\n[card 0]\nclock = virtual\n"));
    EXPECT_DOUBLE_EQ(E().realTimeLimitSeconds(), 1 * 3 + 10) << "analog data do not wait for real time";
}

// When the limit is reached all the same, the message names the channel behind and why.
// The digital input's first block is due 65.5 s into the run, far beyond the limit of
// 0.3 s, so it is behind however slowly the rounds come.
TEST_F(RunnerTest, ARunOutOfTimeNamesTheChannelsBehindAndTheirCause) {
    ASSERT_TRUE(Build("[experiment]\nblock_size = 65535\nduration_s = 0.5\n"
                      "[module ai]\nclass = analog_in\nchannels = 2\n[module din]\nclass = digital_in\n"
                      "[card 0]\nclock = virtual\n"));
    E().setRealTimeLimitSeconds(0.3);
    ASSERT_TRUE(E().start());
    E().host().exhaustPool(E().module("ai"), 1);
    while (E().round()) Sleep(1);
    EXPECT_EQ(E().report().end, RunEnd::TimeLimit);
    EXPECT_EQ(E().report().detail,
              "the data did not reach the duration in time: ai.1 reached 0 of 0.5 s (no block arrived); din.0 reached "
              "0 of 0.5 s (a digital input block of 65535 samples takes 65.535 s of real time) after 0.3 s, the "
              "real-time limit");
    EXPECT_GE(E().report().wallSeconds, 0.3) << "ended by the limit, not before it";
    EXPECT_TRUE(Stats("ai", 0).reachedEnd);
    E().host().setPoolCapacity(E().module("ai"), 1, 8);
}

// The stand-in's prediction of an analog read (for the check against the driver
// buffer) is what the module asks of the card.
TEST_F(RunnerTest, ThePredictedAnalogReadIsTheOneTheModuleProgrammes) {
    struct Case {
        double periodMs;
        uint32_t channels;
    } cases[] = {{1, 4}, {10, 2}, {6.649, 1}, {6.65, 1}, {1, 3}, {0.3, 3}, {25.5, 1}, {100, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.periodMs);
        const std::string text = "[experiment]\nblock_size = 10\nduration_s = 2\nperiod_ms = " +
                                 velk::fmtNumber("%.10g", c.periodMs) + "\n[module ai]\nclass = analog_in\nchannels = " +
                                 std::to_string(c.channels) + "\nbuffer = 8M\n[card 0]\nclock = virtual\n";
        ASSERT_TRUE(Build(text));
        const velk::AnalogRead predicted = velk::analogReadOf(E().sheet(), E().sheet().modules[0]);
        ASSERT_TRUE(E().start());
        Tk17Mode mode;
        ASSERT_TRUE(Sim().GetMode(0, &mode));
        EXPECT_FALSE(predicted.refused);
        EXPECT_EQ(predicted.decimation, static_cast<uint32_t>(mode.decimation));
        EXPECT_EQ(predicted.bufferBytes, static_cast<uint64_t>(mode.driverBufferSize));
        E().stop();
    }
}

// ---- which module a stop concerns

// Two analog modules without sockets take the cards the device dialog offers first:
// socket 0, then socket 1.
const char kTwoCards[] =
    "[experiment]\nblock_size = 10\nduration_s = 10\n"
    "[module ai0]\nclass = analog_in\n[module ai1]\nclass = analog_in\n"
    "[card 0]\nclock = virtual\n[card 1]\nclock = virtual\n[card 2]\nclock = virtual\n";

TEST_F(RunnerTest, AModuleWithoutASocketUsesTheFirstCardTheDialogOffers) {
    ASSERT_TRUE(Build(kTwoCards));
    EXPECT_EQ(E().moduleRun("ai0")->socket, 0);
    EXPECT_EQ(E().moduleRun("ai1")->socket, 1);
    ASSERT_TRUE(E().start());
    EXPECT_EQ(Sim().IsSampling(0), 1);
    EXPECT_EQ(Sim().IsSampling(1), 1) << "the socket the runner reckons is the one the module samples";
    EXPECT_EQ(Sim().IsSampling(2), 0);
    E().stop();
}

// A card pulled out between two rounds: its notification is dispatched at the next
// round's start, before any module is called, and names the module on that card.
TEST_F(RunnerTest, ACardPulledOutNamesTheModuleOnThatCard) {
    ASSERT_TRUE(Build(kTwoCards));
    ASSERT_TRUE(E().start());
    ASSERT_EQ(Sim().PullCard(1), 1);
    EXPECT_FALSE(E().round());
    EXPECT_EQ(E().report().end, RunEnd::StoppedByModule);
    EXPECT_EQ(E().report().detail, "module ai1 stopped the experiment: its card in socket 1 was pulled out");
    EXPECT_EQ(E().report().rounds, 0u) << "no module was called after the notification";
    ASSERT_FALSE(E().report().warnings.empty());
    EXPECT_EQ(E().report().warnings.back().caption, "VYT-TK17 警告");
}

TEST_F(RunnerTest, ABufferOverflowNamesTheAnalogModuleOnThatCard) {
    ASSERT_TRUE(Build(kTwoCards));
    ASSERT_TRUE(E().start());
    ASSERT_TRUE(E().round());
    ASSERT_EQ(Sim().TriggerOverflow(1), 1);
    EXPECT_FALSE(E().round());
    EXPECT_EQ(E().report().detail, "module ai1 stopped the experiment: its card in socket 1 reported a buffer overflow");
    EXPECT_EQ(Stats("ai0", 0).blocks, 1u) << "ai0 was not called in the round the notification stopped";
}

TEST_F(RunnerTest, APulledCardThatNoModuleUsesIsNamedByItsSocket) {
    ASSERT_TRUE(Build(kTwoCards));
    ASSERT_TRUE(E().start());
    ASSERT_EQ(Sim().PullCard(2), 1);
    EXPECT_FALSE(E().round());
    EXPECT_EQ(E().report().detail, "the card in socket 2, which no module uses, was pulled out (a driver notification)");
}

// An overrun on a card with two digital modules and no analog one, raised inside a
// port read that still succeeds: nothing but the notification stops the run, and on
// the virtual clock it does so at the round after the read, every time.
TEST_F(RunnerTest, ANotificationNamesEveryModuleOnTheCardThatSentIt) {
    ASSERT_TRUE(Build("[experiment]\nblock_size = 10\nduration_s = 1\n"
                      "[module ai0]\nclass = analog_in\nsocket = 0\n"
                      "[module din1]\nclass = digital_in\nsocket = 1\n"
                      "[module dout1]\nclass = digital_out\nsocket = 1\n"
                      "[connect]\ndin1.0 -> dout1.0\n"
                      "[card 0]\nclock = virtual\n[card 1]\nclock = virtual\n"
                      "[fault]\noverrun = socket 1 at Tk17InPort 3\n"));
    ASSERT_TRUE(E().virtualClock());
    velk::RunReport r = E().run();
    EXPECT_EQ(r.end, RunEnd::StoppedByModule);
    EXPECT_EQ(r.detail, "modules din1 and dout1 stopped the experiment: their card in socket 1 reported a buffer overrun");
    EXPECT_EQ(r.rounds, 1u) << "the round with the read, and none after it";
    EXPECT_EQ(Stats("ai0", 0).blocks, 1u);
}

TEST_F(RunnerTest, AModuleThatStopsTheExperimentAtItsStartIsNamed) {
    ASSERT_TRUE(Build("[module ai0]\nclass = analog_in\nsocket = 0\n[module ai1]\nclass = analog_in\nsocket = 1\n"
                      "[card 0]\nclock = virtual\n[card 1]\nclock = virtual\n"
                      "[fault]\nTk17StartSampling = socket 1 error 33\n"));
    velk::RunReport r = E().run();
    EXPECT_EQ(r.end, RunEnd::StoppedByModule);
    EXPECT_EQ(r.detail, "module ai1 stopped the experiment at its start");
    EXPECT_EQ(r.rounds, 0u);
    ASSERT_FALSE(r.warnings.empty());
    EXPECT_EQ(r.warnings.back().text, "サンプリング開始に失敗しました\nエラーコード： 33");
    EXPECT_EQ(Sim().IsSampling(0), 0) << "the modules started before it were stopped";
}

// ---- processing calls after a stop
//
// Velk ends an experiment some time after StopExperiment: the round goes on, and
// more rounds may follow before code 107. Every class must take those calls.

// A start that failed at the card stopped the experiment and left its buffer for
// code 107; the late calls find nothing started and must neither poll that card
// (it would never have samples) nor warn again. The other module goes on working.
TEST_F(RunnerTest, ProcessingCallsAfterAFailedStartDoNotPollTheCardThatDidNotStart) {
    ASSERT_TRUE(Build("[module ai0]\nclass = analog_in\nsocket = 0\n[module ai1]\nclass = analog_in\nsocket = 1\n"
                      "[card 0]\nclock = virtual\n[card 1]\nclock = virtual\n"
                      "[fault]\nTk17StartSampling = socket 1 error 33\n", true, 3));
    velk::RunReport r = E().run();
    EXPECT_EQ(r.end, RunEnd::StoppedByModule);
    EXPECT_EQ(r.detail, "module ai1 stopped the experiment at its start");
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_EQ(r.warnings[0].text, "サンプリング開始に失敗しました\nエラーコード： 33");
    EXPECT_EQ(Sim().CallCount("Tk17GetSamplingStatus", 1), 0);
    EXPECT_EQ(Sim().CallCount("Tk17GetData", 1), 0);
    EXPECT_EQ(Sim().CallCount("Tk17GetData", 0), 3) << "ai0 read in each of the three late rounds";
    EXPECT_EQ(Stats("ai0", 0).blocks, 3u);
    EXPECT_EQ(Stats("ai1", 0).blocks, 0u);
    EXPECT_EQ(Sim().IsSampling(0), 0) << "code 107 came after the late rounds";
    EXPECT_TRUE(E().host().log().errors().empty()) << E().host().log().errors().front();
}

// A read that failed stopped the experiment in the middle of a round: the modules
// after it are still processed in that round, the failed one is called again in the
// late round (its card still samples) and its buffer is given back at code 107.
TEST_F(RunnerTest, ProcessingCallsAfterAFailedReadFinishTheRound) {
    ASSERT_TRUE(Build("[experiment]\nblock_size = 10\nduration_s = 10\n"
                      "[module ai0]\nclass = analog_in\nsocket = 0\n[module ai1]\nclass = analog_in\nsocket = 1\n"
                      "[card 0]\nclock = virtual\n[card 1]\nclock = virtual\n"
                      "[fault]\nTk17GetData = socket 0 from 2 for 1 error 21\n", true, 1));
    velk::RunReport r = E().run();
    EXPECT_EQ(r.end, RunEnd::StoppedByModule);
    EXPECT_EQ(r.detail, "module ai0 stopped the experiment");
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_EQ(r.warnings[0].text, "サンプリングデータ取り込みを失敗しました\nエラーコード： 21");
    EXPECT_EQ(Sim().CallCount("Tk17GetData", 0), 3) << "two rounds and the late one";
    EXPECT_EQ(Stats("ai0", 0).blocks, 2u) << "blocks of the first read and the late read";
    EXPECT_EQ(E().host().processCalls(E().module("ai1")), 3u)
        << "ai1 was processed in the round of the failed read and in the late round";
    EXPECT_EQ(Stats("ai1", 0).blocks, 3u);
    EXPECT_TRUE(E().host().log().errors().empty()) << E().host().log().errors().front();
    EXPECT_EQ(E().host().allocator().liveCount(), 0u) << "the sample buffer was given back at code 107";
}

// ---- repeatable runs on the virtual clock

class RepeatableRun : public RunnerTest {
protected:
    // Runs the worksheet in a fresh experiment writing to `out`; the bytes of each
    // recording, in order.
    std::vector<std::string> RunOnce(const std::string& sheet, const std::string& out,
                                     const std::vector<std::string>& files) {
        velk::WorksheetResult w = velk::parseWorksheet(sheet, "test.vws");
        EXPECT_TRUE(w.ok()) << w.error;
        velk::HostOptions options;
        options.warnings = velk::WarningOutput::None;
        exp_ = std::make_unique<velk::Experiment>(w.sheet, options);
        exp_->setOutputDir(out);
        exp_->setCharts(false);
        EXPECT_TRUE(exp_->prepare()) << exp_->error();
        EXPECT_TRUE(exp_->virtualClock());
        EXPECT_EQ(exp_->run().end, RunEnd::Completed);
        std::string error;
        EXPECT_TRUE(exp_->writeRecordings(error)) << error;
        std::vector<std::string> bytes;
        for (const std::string& f : files) bytes.push_back(ReadText(out + "\\" + f));
        return bytes;
    }
    // The recordings of two runs of the worksheet, which must be the same bytes; the
    // second run's files stay in Out().
    void Twice(const std::string& sheet, const std::vector<std::string>& files) {
        const std::vector<std::string> first = RunOnce(sheet, TempFolder("first"), files);
        out_ = TempFolder("second");
        const std::vector<std::string> second = RunOnce(sheet, out_, files);
        EXPECT_EQ(first, second) << "two runs of one worksheet on the virtual clock";
        for (const std::string& b : first) EXPECT_FALSE(b.empty());
    }
};

// The pause lasts 0.03 s of the card's time: three rounds of blocks of 10 at 1 ms,
// whose data are read and dropped, however long the rounds take.
TEST_F(RepeatableRun, APauseDropsWhatTheCardConvertsInThePausesLength) {
    const std::string sheet =
        "[experiment]\nblock_size = 10\nduration_s = 0.1\npause_at_s = 0.05\npause_for_s = 0.03\n"
        "[module ai]\nclass = analog_in\nsocket = 0\n[record ai]\nfile = ai.csv\n"
        "[card 0]\nclock = virtual\nai0 = scan\n";
    Twice(sheet, {"ai.csv"});
    EXPECT_EQ(E().report().pausedRounds, 3u);
    Csv csv = ReadCsv(Out("ai.csv"));
    ExpectGaplessTimes(csv, 100, 0.001);
    for (int k = 0; k < 100; ++k)
        ASSERT_EQ(static_cast<float>(Num(csv.rows[k][1])), CodeVolts(k < 50 ? k : k + 30)) << "row " << k;
}

// A digital input beside the analog module waits for real time; in step, the analog
// module is where the data time says when the pause begins, so the same 30
// conversions are dropped.
TEST_F(RepeatableRun, APauseWithADigitalInputBesideTheAnalogModule) {
    const std::string sheet =
        "[experiment]\nblock_size = 10\nduration_s = 0.1\npause_at_s = 0.05\npause_for_s = 0.03\n"
        "[module ai]\nclass = analog_in\nsocket = 0\n[module din]\nclass = digital_in\nsocket = 0\n"
        "[record ai]\nfile = ai.csv\n[record din]\nfile = din.csv\n"
        "[card 0]\nclock = virtual\nai0 = scan\ndin = counter\n";
    Twice(sheet, {"ai.csv", "din.csv"});
    Csv ai = ReadCsv(Out("ai.csv"));
    ExpectGaplessTimes(ai, 100, 0.001);
    for (int k = 0; k < 100; ++k)
        ASSERT_EQ(static_cast<float>(Num(ai.rows[k][1])), CodeVolts(k < 50 ? k : k + 30)) << "row " << k;
    Csv din = ReadCsv(Out("din.csv"));
    ExpectGaplessTimes(din, 100, 0.001);
    for (int k = 0; k < 100; ++k) ASSERT_EQ(Num(din.rows[k][1]), k % 2 ? 5.0 : 0.0) << "row " << k;
}

// The analog module's channel 0 drives the output line and the input reads it back
// on the same card. In step, the input's block k is filled after the output took the
// analog block k, so it holds the level of that block's last sample: codes of a
// period of 7 against blocks of 10.
TEST_F(RepeatableRun, ALoopBackInputReadsWhatTheOutputWasGivenForTheSameBlock) {
    const std::string sheet =
        "[experiment]\nblock_size = 10\nduration_s = 0.2\n"
        "[module ai]\nclass = analog_in\nsocket = 0\n[module dout]\nclass = digital_out\nsocket = 0\n"
        "[module din]\nclass = digital_in\nsocket = 0\n"
        "[connect]\nai.0 -> dout.0\n[record din]\nfile = din.csv\n"
        "[card 0]\nclock = virtual\nai0 = codes 0 0 0 3072 3072 3072 3072\ndin = loopback\n";
    Twice(sheet, {"din.csv"});
    Csv din = ReadCsv(Out("din.csv"));
    ExpectGaplessTimes(din, 200, 0.001);
    const int codes[7] = {0, 0, 0, 3072, 3072, 3072, 3072};  // 3072 is 5 V: the line is 1
    for (int k = 0; k < 200; ++k) {
        const int lastOfBlock = (k / 10) * 10 + 9;
        ASSERT_EQ(Num(din.rows[k][1]), codes[lastOfBlock % 7] == 3072 ? 5.0 : 0.0) << "row " << k;
    }
}

// A card on the real clock is read as its data come: no step, no pause in rounds.
TEST_F(RunnerTest, ACardOnTheRealClockMakesARunOfRealTime) {
    ASSERT_TRUE(Build("[module ai]\nclass = analog_in\nsocket = 0\n[module din]\nclass = digital_in\nsocket = 1\n"
                      "[card 0]\nclock = virtual\n[card 1]\nclock = real\n"));
    EXPECT_FALSE(E().virtualClock());
    ASSERT_TRUE(Build("[module ai]\nclass = analog_in\nsocket = 0\n[card 0]\nclock = virtual\n[card 1]\n"));
    EXPECT_TRUE(E().virtualClock()) << "an unused card does not count";
}

}  // namespace
}  // namespace runnertest
