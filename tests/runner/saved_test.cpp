// Saved worksheets run by the real extension on the simulated card: a saved state
// runs again with the same results, a state saved while the run goes holds the live
// buffers and still runs, and the damaged or foreign settings a saved file can bring
// (written into its area bytes) end with a warning or a sane default, never a crash,
// a write past a field or a leak (the fixture checks the allocator after finish).
#include "runner_support.h"

#include "velk/dialogs/module_dialogs.h"
#include "velk/experiment/saved_state.h"
#include "velk/common/text.h"

#include <stdio.h>
#include <string.h>

namespace runnertest {
namespace {

using velk::RunEnd;

// An address no allocation of this process made: reading, writing or freeing it
// would crash the test or show in the allocator's errors.
const uint64_t kForeignPointer = 0x7E5A0000u;

// Analog (two channels of raw codes, ±5 V, 1M buffer, named), digital input (two
// lines) feeding digital output, both recorded.
const char kMixedSheet[] =
    "[experiment]\nperiod_ms = 1\nblock_size = 20\nduration_s = 0.2\n"
    "[module ai]\nclass = analog_in\nsocket = 0\nchannels = 2\nname = Probe\ncomment = two probes\n"
    "range = 5\nbuffer = 1M\nchannel0 = Volt A\nchannel1 = Volt B\n"
    "[module din]\nclass = digital_in\nsocket = 0\nchannels = 2\nname = Lines\n"
    "[module dout]\nclass = digital_out\nsocket = 0\nchannels = 2\n"
    "[connect]\ndin.0 -> dout.0\ndin.1 -> dout.1\n"
    "[record ai]\nfile = ai.csv\n[record din]\nfile = din.csv\n"
    "[card 0]\nclock = virtual\nai0 = scan start=0 step=7\nai1 = codes 0 2048 4095\n"
    "din = pattern 00 01 02 03 01\n";

// One analog channel of the codes 0, 2048 and 4095 on the ±10 V range.
const char kCodesSheet[] =
    "[experiment]\nperiod_ms = 1\nblock_size = 30\nduration_s = 0.09\n"
    "[module ai]\nclass = analog_in\nsocket = 0\nchannel0 = codes\n"
    "[record ai]\nfile = ai.csv\n"
    "[card 0]\nclock = virtual\nai0 = codes 0 2048 4095\n";

std::string HexByte(unsigned char b) {
    char text[4];
    snprintf(text, sizeof text, "%02X", b);
    return text;
}

size_t SectionOf(const std::string& text, const std::string& id) {
    const size_t at = text.find("[module " + id + "]\n");
    EXPECT_NE(at, std::string::npos) << id;
    return at;
}

// The saved text with `bytes` written into module `id`'s area from byte `offset`.
std::string PatchArea(std::string text, const std::string& id, size_t offset, const std::string& bytes) {
    const size_t section = SectionOf(text, id);
    for (size_t k = 0; k < bytes.size(); ++k) {
        const size_t at = offset + k;
        char key[24];
        snprintf(key, sizeof key, "\narea_%03u =", static_cast<unsigned>(at / 16 * 16));
        const size_t line = text.find(key, section);
        if (line == std::string::npos) {
            ADD_FAILURE() << "no line for byte " << at;
            return text;
        }
        text.replace(line + strlen(key) + (at % 16) * 3 + 1, 2, HexByte(static_cast<unsigned char>(bytes[k])));
    }
    return text;
}

std::string Little(uint64_t v, size_t n) {
    std::string bytes;
    for (size_t i = 0; i < n; ++i) bytes += static_cast<char>((v >> (8 * i)) & 0xFF);
    return bytes;
}

// The saved text with module `id`'s `key = ...` line given another value.
std::string SetKey(std::string text, const std::string& id, const std::string& key, const std::string& value) {
    const size_t line = text.find("\n" + key + " ", SectionOf(text, id));
    EXPECT_NE(line, std::string::npos) << key;
    const size_t eq = text.find('=', line);
    text.replace(eq + 2, text.find('\n', eq) - eq - 2, value);
    return text;
}

uint64_t PointerIn(const std::string& area, size_t offset) {
    uint64_t p = 0;
    memcpy(&p, area.data() + offset, sizeof(void*));
    return p;
}

class SavedTest : public RunnerTest {
protected:
    // Prepares the worksheet text with its recordings in `folder` (one per run).
    bool BuildIn(const std::string& text, const std::string& folder, bool expectPrepared = true) {
        velk::WorksheetResult w = velk::parseWorksheet(text, "saved.vws");
        EXPECT_TRUE(w.ok()) << w.error;
        if (!w.ok()) return false;
        velk::HostOptions options;
        options.warnings = velk::WarningOutput::None;
        exp_ = std::make_unique<velk::Experiment>(w.sheet, options);
        out_ = folder;
        CreateDirectoryA(out_.c_str(), nullptr);
        exp_->setOutputDir(out_);
        const bool ok = exp_->prepare();
        if (expectPrepared) {
            EXPECT_TRUE(ok) << exp_->error();
        }
        return ok;
    }

    // The state of the modules as it stands, as `velk run --save` writes it.
    std::string Saved() {
        std::string text, error;
        EXPECT_TRUE(velk::savedWorksheetText(E(), "saved.vws", "in a test", text, error)) << error;
        return text;
    }

    // Runs to the end, writes the recordings and finishes with the fixture's checks.
    velk::RunReport RunToEnd() {
        velk::RunReport r = E().run();
        std::string error;
        EXPECT_TRUE(E().writeRecordings(error)) << error;
        return r;
    }

    std::vector<uint8_t> PortValues() {
        SimPortWrite log[4096];
        const int32_t n = Sim().GetOutputLog(0, log, 4096);
        std::vector<uint8_t> values;
        for (int32_t i = 0; i < n; ++i) values.push_back(log[i].value);
        return values;
    }

    // The fixture's end-of-test checks, for a test that runs several experiments.
    void Done() {
        TearDown();
        exp_.reset();
    }

    std::string Folder(const char* run) {
        return TempFolder(std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" + run);
    }
};

TEST_F(SavedTest, ASavedWorksheetRunsAgainWithTheSameResults) {
    const std::string first = Folder("configured");
    ASSERT_TRUE(BuildIn(kMixedSheet, first));
    ASSERT_EQ(RunToEnd().end, RunEnd::Completed);
    const std::vector<uint8_t> written = PortValues();
    ASSERT_FALSE(written.empty());
    const std::string saved = Saved();
    const std::string aiArea = E().host().privateArea(E().module("ai"));
    Done();

    // The record's texts and counts, readable; the socket and the settings in the comments.
    for (const char* part : {"[module ai]\nclass   = analog_in\nname    = Probe\ncomment = two probes\n"
                             "inputs  = 0\noutputs = 2\ncolumn0 = Volt A\ncolumn1 = Volt B\n",
                             "[module dout]\nclass   = digital_out\ninputs  = 2\noutputs = 0\n",
                             ";   card socket 0\n", u8";   range 1 (±5 V)\n", ";   buffer size index 4 (1M)\n",
                             ";   channel 1 name \"Volt B\"\n", "[connect]\ndin.0 -> dout.0\ndin.1 -> dout.1\n",
                             "[record din]\nfile = din.csv\n", "[card 0]\nclock = virtual\n"})
        EXPECT_NE(saved.find(part), std::string::npos) << part << "\n" << saved;

    const std::string second = Folder("restored");
    ASSERT_TRUE(BuildIn(saved, second));
    for (const char* id : {"ai", "din", "dout"}) {
        EXPECT_TRUE(E().moduleRun(id)->restored) << id;
        EXPECT_EQ(E().moduleRun(id)->deviceCheck, 1) << id;
    }
    EXPECT_EQ(E().host().privateArea(E().module("ai")), aiArea) << "the bytes as they were kept, no create code";
    EXPECT_EQ(E().module("ai")->outputCount, 2u);
    EXPECT_EQ(E().module("dout")->inputCount, 2u);
    EXPECT_STREQ(E().module("ai")->moduleComment, "two probes");
    ASSERT_EQ(RunToEnd().end, RunEnd::Completed);
    EXPECT_EQ(PortValues(), written);
    EXPECT_TRUE(E().report().warnings.empty());
    for (const char* csv : {"\\ai.csv", "\\din.csv"}) {
        const std::string before = ReadText(first + csv);
        EXPECT_FALSE(before.empty());
        EXPECT_EQ(ReadText(second + csv), before) << csv;
    }
}

TEST_F(SavedTest, AStateSavedWhileTheRunGoesHoldsItsLiveBuffersAndRunsAgain) {
    const std::string first = Folder("live");
    ASSERT_TRUE(BuildIn(kMixedSheet, first));
    std::string live;
    uint64_t sampleBuffer = 0, outputBuffer = 0;
    E().atDataTime(0.1, [&] {
        EXPECT_EQ(E().host().running(), 1);
        live = Saved();
        sampleBuffer = PointerIn(E().host().privateArea(E().module("ai")), 232);
        outputBuffer = PointerIn(E().host().privateArea(E().module("dout")), 100);
        EXPECT_TRUE(E().host().allocator().isLive(reinterpret_cast<void*>(sampleBuffer)));
        EXPECT_TRUE(E().host().allocator().isLive(reinterpret_cast<void*>(outputBuffer)));
    });
    ASSERT_EQ(RunToEnd().end, RunEnd::Completed);
    ASSERT_FALSE(live.empty()) << "the data reached 0.1 s during the run";
    const std::vector<uint8_t> written = PortValues();
    Done();
    ASSERT_NE(sampleBuffer, 0u);
    ASSERT_NE(outputBuffer, 0u);
    // The live pointers are in the saved bytes.
    EXPECT_EQ(PatchArea(live, "dout", 100, Little(outputBuffer, sizeof(void*))), live);
    EXPECT_EQ(PatchArea(live, "ai", 232, Little(sampleBuffer, sizeof(void*))), live);

    const std::string second = Folder("restored");
    ASSERT_TRUE(BuildIn(live, second));
    EXPECT_EQ(PointerIn(E().host().privateArea(E().module("ai")), 232), sampleBuffer);
    ASSERT_EQ(RunToEnd().end, RunEnd::Completed);
    EXPECT_TRUE(E().host().allocator().errors().empty()) << E().host().allocator().errors()[0];
    EXPECT_EQ(PortValues(), written);
    for (const char* csv : {"\\ai.csv", "\\din.csv"}) EXPECT_EQ(ReadText(second + csv), ReadText(first + csv)) << csv;
    // The stop dropped the references: saved again, the area holds none.
    const std::string after = Saved();
    EXPECT_EQ(PointerIn(E().host().privateArea(E().module("ai")), 232), 0u);
    EXPECT_EQ(PointerIn(E().host().privateArea(E().module("dout")), 100), 0u);
    EXPECT_NE(after.find(";   sample buffer 0 (none)"), std::string::npos);
}

TEST_F(SavedTest, ForeignBufferReferencesInASavedAreaAreNeverUsedOrFreed) {
    const std::string first = Folder("configured");
    ASSERT_TRUE(BuildIn(kMixedSheet, first));
    ASSERT_EQ(RunToEnd().end, RunEnd::Completed);
    std::string saved = Saved();
    Done();
    saved = PatchArea(saved, "ai", 232, Little(kForeignPointer, sizeof(void*)));
    saved = PatchArea(saved, "dout", 100, Little(kForeignPointer + 0x100, sizeof(void*)));

    const std::string second = Folder("restored");
    ASSERT_TRUE(BuildIn(saved, second));
    ASSERT_EQ(RunToEnd().end, RunEnd::Completed);
    EXPECT_TRUE(E().host().allocator().errors().empty()) << E().host().allocator().errors()[0];
    EXPECT_TRUE(E().report().warnings.empty());
    for (const char* csv : {"\\ai.csv", "\\din.csv"}) EXPECT_EQ(ReadText(second + csv), ReadText(first + csv)) << csv;
    EXPECT_EQ(PointerIn(E().host().privateArea(E().module("ai")), 232), 0u);
    EXPECT_EQ(PointerIn(E().host().privateArea(E().module("dout")), 100), 0u);
}

TEST_F(SavedTest, ARangeOtherThanZeroOrOneRunsAsFiveVoltsAndABufferIndexAboveSevenAsTheDefault) {
    ASSERT_TRUE(BuildIn(kCodesSheet, Folder("configured")));
    ASSERT_EQ(RunToEnd().end, RunEnd::Completed);
    std::string saved = Saved();
    Done();
    saved = PatchArea(saved, "ai", 200, Little(7, 4));
    saved = PatchArea(saved, "ai", 248, Little(9, 4));

    const std::string second = Folder("restored");
    ASSERT_TRUE(BuildIn(saved, second));
    const std::string restored = Saved();
    EXPECT_NE(restored.find(u8";   range 7 (not 0 or 1: the module runs ±5 V)\n"), std::string::npos) << restored;
    EXPECT_NE(restored.find(";   buffer size index 9 (not 0 to 7: the module uses 256K)\n"), std::string::npos);
    SimApi sim = Sim();
    ASSERT_TRUE(E().start());
    Tk17Mode mode;
    ASSERT_TRUE(sim.GetMode(0, &mode));
    EXPECT_EQ(mode.range, 1) << "the card is given a range it knows";
    EXPECT_EQ(mode.driverBufferSize, 262144) << "the default 256K";
    while (E().round()) {
    }
    EXPECT_EQ(E().report().end, RunEnd::Completed);
    std::string error;
    ASSERT_TRUE(E().writeRecordings(error)) << error;
    EXPECT_TRUE(E().report().warnings.empty());
    Csv csv = ReadCsv(second + "\\ai.csv");
    ASSERT_EQ(csv.rows.size(), 90u);
    for (size_t k = 0; k < 3; ++k)
        EXPECT_EQ(static_cast<float>(strtod(csv.rows[k][1].c_str(), nullptr)), CodeVolts(k == 0 ? 0 : k == 1 ? 2048 : 4095, 1))
            << k;
}

TEST_F(SavedTest, SocketsWithoutACardAreReportedByTheDeviceCheck) {
    ASSERT_TRUE(BuildIn(kMixedSheet, Folder("configured")));
    ASSERT_EQ(RunToEnd().end, RunEnd::Completed);
    std::string saved = Saved();
    Done();
    saved = PatchArea(saved, "ai", 192, Little(7, 2));
    saved = PatchArea(saved, "dout", 96, Little(0x1234, 2));

    ASSERT_TRUE(BuildIn(saved, Folder("restored")));
    EXPECT_NE(Saved().find(";   card socket 7 (there are sockets 0 to 3 only)"), std::string::npos);
    EXPECT_EQ(E().moduleRun("ai")->deviceCheck, 0);
    EXPECT_EQ(E().moduleRun("din")->deviceCheck, 1);
    EXPECT_EQ(E().moduleRun("dout")->deviceCheck, 0);
    std::vector<velk::Warning> w = E().host().log().warnings();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0].caption, "VYT-TK17 ERROR");
    EXPECT_EQ(w[0].text, "指定のソケット 7 にデバイスが存在しませんでした");
    EXPECT_EQ(w[1].text, "指定のソケット 4660 にデバイスが存在しませんでした");
    const velk::RunReport r = RunToEnd();
    EXPECT_EQ(r.end, RunEnd::StoppedByModule);
    ASSERT_EQ(r.warnings.size(), 3u);
    EXPECT_EQ(r.warnings[2].caption, "VYT-TK17");
    EXPECT_EQ(r.warnings[2].text, "サンプリング開始に失敗しました\nエラーコード： 3") << "a socket beyond 0..3";
    EXPECT_NE(Summary().find("module ai (analog_in, 2 channels, socket 7)"), std::string::npos) << Summary();
}

TEST_F(SavedTest, ARestoredModuleWhoseCardIsGoneWarnsAndStopsTheRun) {
    const std::string sheet =
        "[experiment]\nblock_size = 20\nduration_s = 0.1\n"
        "[module din]\nclass = digital_in\nsocket = 1\nchannels = 2\n"
        "[record din]\nfile = din.csv\n"
        "[card 0]\nclock = virtual\n[card 1]\nclock = virtual\ndin = fixed 03\n";
    ASSERT_TRUE(BuildIn(sheet, Folder("configured")));
    ASSERT_EQ(RunToEnd().end, RunEnd::Completed);
    std::string saved = Saved();
    Done();
    const size_t card1 = saved.find("[card 1]");
    ASSERT_NE(card1, std::string::npos);
    saved.erase(card1);  // the card has been taken out since

    ASSERT_TRUE(BuildIn(saved, Folder("restored")));
    EXPECT_EQ(E().moduleRun("din")->deviceCheck, 0);
    const velk::RunReport r = RunToEnd();
    EXPECT_EQ(r.end, RunEnd::StoppedByModule);
    ASSERT_EQ(r.warnings.size(), 2u);
    EXPECT_EQ(r.warnings[0].text, "指定のソケット 1 にデバイスが存在しませんでした");
    EXPECT_EQ(r.warnings[1].caption, "サンプリングエラー");
    EXPECT_EQ(r.warnings[1].text, "LogSlot = 1\nChannel = 0\nErrCode = 1");
}

TEST_F(SavedTest, AChannelNameWithoutItsZeroIsShownCutAndKeptAsSaved) {
    ASSERT_TRUE(BuildIn(kCodesSheet, Folder("configured")));
    ASSERT_EQ(RunToEnd().end, RunEnd::Completed);
    const std::string unterminated(24, 'N');
    const std::string saved = PatchArea(Saved(), "ai", 0, unterminated);
    Done();

    ASSERT_TRUE(BuildIn(saved, Folder("restored")));
    EXPECT_NE(Saved().find(";   channel 0 name \"" + unterminated + "\" (no terminating zero in its 24 bytes)"),
              std::string::npos);
    velk::ModuleSettings shown;
    std::string why;
    ASSERT_TRUE(velk::readSettings(E().host(), E().module("ai"), velk::ModuleKind::AnalogIn, shown, why)) << why;
    EXPECT_EQ(shown.channelNames[0], std::string(20, 'N')) << "the dialog shows what it can store";
    ASSERT_EQ(RunToEnd().end, RunEnd::Completed);
    EXPECT_EQ(ReadCsv(Out("ai.csv")).header[1], "codes") << "the recording's column as saved";
    EXPECT_EQ(E().host().privateArea(E().module("ai")).substr(0, 24), unterminated)
        << "the bytes Velk keeps stay as they are";
}

TEST_F(SavedTest, ChannelCountsBeyondTheClassMaximum) {
    ASSERT_TRUE(BuildIn(kMixedSheet, Folder("configured")));
    ASSERT_EQ(RunToEnd().end, RunEnd::Completed);
    const std::string saved = Saved();
    Done();

    // An analog module of 12 channels refuses to start with its own message.
    ASSERT_TRUE(BuildIn(SetKey(saved, "ai", "outputs", "12"), Folder("analog")));
    EXPECT_EQ(E().module("ai")->outputCount, 12u);
    velk::RunReport r = RunToEnd();
    EXPECT_EQ(r.end, RunEnd::Refused);
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_EQ(r.warnings[0].caption, "エラー");
    EXPECT_EQ(r.warnings[0].text, "チャンネル数 12 は使えません (1～8)");
    Done();

    // Digital input of 6 lines and output of 6: the lines beyond the fourth carry 0.
    std::string digital = SetKey(SetKey(saved, "din", "outputs", "6"), "dout", "inputs", "6");
    digital.replace(digital.find("[connect]\n"), 10, "[connect]\ndin.5 -> dout.5\n");
    const std::string folder = Folder("digital");
    ASSERT_TRUE(BuildIn(digital, folder));
    // The setup dialogs open on such modules: their four channel buttons all active.
    for (const char* id : {"din", "dout"}) {
        velk::ModuleSettings shown;
        std::string why;
        const velk::ModuleKind kind = E().moduleRun(id)->def->kind;
        ASSERT_TRUE(velk::readSettings(E().host(), E().module(id), kind, shown, why)) << id << ": " << why;
        EXPECT_EQ(*shown.channels, 4u) << id;
        EXPECT_EQ(velk::channelCountOf(E().module(id), kind), 6u) << id << " is left as it is on Cancel";
    }
    ASSERT_EQ(RunToEnd().end, RunEnd::Completed);
    EXPECT_TRUE(E().report().warnings.empty());
    for (size_t c = 4; c < 6; ++c) {
        EXPECT_EQ(Stats("din", c).samples, 200u) << c;
        EXPECT_EQ(Stats("din", c).max, 0.0) << c;
    }
    EXPECT_EQ(ReadCsv(folder + "\\din.csv").header,
              (std::vector<std::string>{"time_s", "ch0", "ch1", "ch2", "ch3", "ch4", "ch5"}));
    std::vector<uint8_t> written = PortValues();
    EXPECT_EQ(written.size(), 3u * 200u) << "channels 0, 1 and 5 write every sample";
    for (uint8_t v : written) ASSERT_EQ(v & 0xF0, 0) << "no bit beyond the four lines";
}

TEST_F(SavedTest, ARecordTextAWorksheetCannotHoldIsNotSaved) {
    ASSERT_TRUE(BuildIn(kCodesSheet, Folder("configured")));
    // As a user could type it in the dialog: a blank and ';' start a comment in a worksheet.
    strcpy(E().module("ai")->moduleName, "A ;B");
    std::string text, error;
    EXPECT_FALSE(velk::savedWorksheetText(E(), "saved.vws", "now", text, error));
    // Named with the worksheet line of the module (which has no name key: its section's).
    EXPECT_EQ(error, "saved.vws:5: module ai: its name (41 20 3B 42) cannot be written as a worksheet value; a "
                     "blank followed by ';' or '#' starts a comment and blanks at the ends are dropped");
    strcpy(E().module("ai")->moduleName, "Trail ");
    EXPECT_FALSE(velk::savedWorksheetText(E(), "saved.vws", "now", text, error));
    strcpy(E().module("ai")->moduleName, "A;B #1");
    EXPECT_FALSE(velk::savedWorksheetText(E(), "saved.vws", "now", text, error));
    strcpy(E().module("ai")->moduleName, "A;B#1");
    EXPECT_TRUE(velk::savedWorksheetText(E(), "saved.vws", "now", text, error)) << error;
    EXPECT_NE(text.find("\nname    = A;B#1\n"), std::string::npos);
}

TEST_F(SavedTest, SavedModulesComeBackBeforeTheConfiguredOnes) {
    const char sheet[] =
        "[experiment]\nblock_size = 20\nduration_s = 0.06\n"
        "[module ai]\nclass = analog_in\nsocket = 0\n"
        "[card 0]\nclock = virtual\n[card 1]\nclock = virtual\n";
    ASSERT_TRUE(BuildIn(sheet, Folder("configured")));
    ASSERT_EQ(RunToEnd().end, RunEnd::Completed);
    std::string saved = Saved();
    Done();
    // A configured analog module listed first, without a socket: the device dialog
    // no longer offers card 0, which the saved module claimed at its device check.
    saved.replace(saved.find("\n[module ai]"), 0, "\n[module added]\nclass = analog_in\nchannels = 2\n");
    ASSERT_TRUE(BuildIn(saved, Folder("mixed")));
    EXPECT_FALSE(E().moduleRun("added")->restored);
    EXPECT_TRUE(E().moduleRun("ai")->restored);
    EXPECT_EQ(velk::areaSocket(velk::ModuleKind::AnalogIn, E().host().privateArea(E().module("added"))), 1);
    EXPECT_EQ(E().module("added")->outputCount, 2u);
    ASSERT_EQ(RunToEnd().end, RunEnd::Completed);
    EXPECT_EQ(Stats("added", 1).samples, 60u);
    EXPECT_EQ(Stats("ai", 0).samples, 60u);
}

// The experiment's numbers are saved as the shortest texts that read back as the
// same doubles, so the saved worksheet runs with exactly the numbers of the first.
TEST_F(SavedTest, TheExperimentsNumbersReadBackExactly) {
    const char sheet[] =
        "[experiment]\nperiod_ms = 0.30000000000000004\nduration_s = 1234567.5\npause_at_s = 1e-7\n"
        "pause_for_s = 0.1\n[module dout]\nclass = digital_out\n[card 0]\nclock = virtual\n";
    ASSERT_TRUE(BuildIn(sheet, Folder("numbers")));
    const velk::Worksheet first = E().sheet();
    const std::string saved = Saved();
    Done();
    for (const char* line : {"\nperiod_ms     = 0.30000000000000004\n", "\npause_at_s    = 1e-07\n",
                             "\npause_for_s   = 0.1\n"})
        EXPECT_NE(saved.find(line), std::string::npos) << line << "\n" << saved;
    const velk::WorksheetResult again = velk::parseWorksheet(saved, "saved.vws");
    ASSERT_TRUE(again.ok()) << again.error;
    EXPECT_EQ(again.sheet.periodMs, first.periodMs);
    EXPECT_EQ(again.sheet.periodMs, 0.1 + 0.2);
    EXPECT_EQ(again.sheet.durationS, 1234567.5);
    ASSERT_TRUE(again.sheet.pauseAtS.has_value());
    EXPECT_EQ(*again.sheet.pauseAtS, 1e-7);
    EXPECT_EQ(again.sheet.pauseForS, 0.1);
}

}  // namespace
}  // namespace runnertest
