// The experiment runner: builds a worksheet's modules in a Host (through the
// extension's dialogs), starts the experiment as Velk does (the linked variables,
// code 106 to every module), calls the processing routines until the duration is
// covered or a module stops the experiment, supports pause and resume, stops
// (code 107), and keeps per-channel statistics and the CSV recordings.
//
//   Experiment e(sheet);
//   if (!e.prepare()) { ... e.error() ... }
//   RunReport r = e.run(&std::cout);
//   e.printSummary(std::cout);
//   e.writeRecordings(error);
//   e.finish();
//
// Recordings are written while the run goes (velk/recording.h): each recorded
// module's CSV file is opened at start, takes its rows as the blocks arrive and is
// complete when the run stops, however it stops.
#pragma once

#include "velk/experiment/card_config.h"
#include "velk/recording/chart_sink.h"
#include "velk/host/host.h"
#include "velk/recording/recording.h"
#include "velk/worksheet/worksheet.h"
#include "simcard/vyttk17_sim.h"

#include <stdint.h>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace velk {

class LiveView;

struct ChannelStats {
    std::string label;        // UTF-8, the worksheet's channel name or "ch<i>"
    uint64_t blocks = 0;      // blocks starting within the duration
    uint64_t samples = 0;     // samples within the duration
    double min = 0, max = 0, sum = 0;
    double firstTime = 0;     // time stamp of the first sample (s)
    double lastTime = 0;      // time stamp of the last sample within the duration (s)
    uint64_t gaps = 0;        // blocks that did not start where the previous one ended
    double nextStart = 0;     // where the next block should start
    bool reachedEnd = false;  // a block ending at or after the duration arrived
    double mean() const { return samples ? sum / static_cast<double>(samples) : 0.0; }
};

struct ModuleRun {
    const ModuleDef* def = nullptr;
    ModuleRecord* record = nullptr;
    std::vector<ChannelStats> channels;  // output channels (none for digital output)
    bool recorded = false;
    std::string csvPath;
    // While recording: the channels joined into rows, written to the CSV file.
    std::unique_ptr<SampleJoiner> recording;
    CsvSink* csv = nullptr;       // the recording's CSV sink
    ChartSink* chart = nullptr;   // its chart, when charts are drawn
    std::string chartPath;        // where the chart goes (empty: not written)
    bool recordingEnded = false;
    std::string recordingError;   // UTF-8; empty when the recording is whole
    uint64_t recordedRows = 0;
    std::vector<int> recorderIds;
    bool restored = false;    // restored from a saved state, not built through its dialogs
    int32_t deviceCheck = 1;  // a restored module's answer to the device check
    // The card socket the module uses: the worksheet's, a saved module's, or for a
    // module without one the card the device selection dialog offered first (the
    // first card the extension opened that no module of the class had taken).
    std::optional<int> socket;
};

enum class RunEnd {
    Completed,        // every source channel delivered the duration
    StoppedByModule,  // a module called StopExperiment
    StoppedByUser,    // requestStop()
    TimeLimit,        // the real-time safety limit passed
    Refused,          // a module answered 0 to the start code
    NotRun,
};
const char* runEndText(RunEnd end);

struct RunReport {
    RunEnd end = RunEnd::NotRun;
    std::string detail;       // UTF-8: which module refused or stopped, ...
    double wallSeconds = 0;
    uint64_t rounds = 0;      // processing rounds (every module once)
    uint64_t pausedRounds = 0;
    std::vector<Warning> warnings;  // everything ShowWarning showed while building and running
};

class Experiment {
public:
    explicit Experiment(Worksheet sheet, HostOptions options = HostOptions());
    ~Experiment();
    Experiment(const Experiment&) = delete;
    Experiment& operator=(const Experiment&) = delete;

    // Points the simulated card at the worksheet's configuration, loads the
    // extension, creates the modules on their sockets, applies their settings through
    // the setup dialogs, connects them and attaches the recorders.
    bool prepare();
    const std::string& error() const { return error_; }

    // The whole run: start, rounds until the end, stop. progress: a line about once
    // a second (may be null).
    RunReport run(std::ostream* progress = nullptr);

    // The steps of run(), for callers that steer it themselves.
    // Sets Velk's variables and sends 106 to every module in worksheet order; when one
    // answers 0, the modules already started get 107 and the start is refused.
    bool start();
    // One round: messages dispatched, every module's processing routine once. False
    // when the run is over (report().end tells why).
    bool round();
    // Sends 107 to every module and clears the running flag.
    void stop();
    void pause();
    void resume();
    bool paused() const { return paused_; }
    void requestStop() { userStop_ = true; }
    bool running() const { return running_; }

    // Ends the recordings (each CSV file has been written while the run went): false
    // with every reason when a recording is not whole. Every recording that can be
    // written is, whatever happens to another.
    bool writeRecordings(std::string& error);
    void printSummary(std::ostream& out) const;
    // Module removal, FinishVelkDLL and unloading; the live allocation count stays readable.
    void finish();

    const RunReport& report() const { return report_; }
    bool hasHost() const { return host_ != nullptr; }
    Host& host() { return *host_; }
    const Worksheet& sheet() const { return sheet_; }
    ModuleRecord* module(const std::string& id) const;
    const ModuleRun* moduleRun(const std::string& id) const;
    const std::vector<ModuleRun>& modules() const { return runs_; }
    // Where the recording of the module goes.
    std::string recordingPath(const RecordDef& rec) const;
    // Charts: a PNG file beside each recording's CSV file (on unless turned off).
    void setCharts(bool write) { writeCharts_ = write; }
    // The live view of a windowed run: it shows the recordings' charts as they grow
    // (the view outlives the run; null for none).
    void setLiveView(LiveView* view) { live_ = view; }
    // One line about the run's progress (UTF-8), as printed about once a second.
    std::string progressText() const;
    // Replaces the worksheet's output folder (relative paths then start there).
    void setOutputDir(const std::string& dir) { outputDirOverride_ = dir; }
    size_t liveAllocationsAfterFinish() const { return liveAfterFinish_; }
    // Where the card's configuration comes from (after prepare()).
    std::string cardSource() const { return card_ ? card_->describe() : std::string(); }
    // Real seconds after which a run that has not reached its duration is ended:
    // (the data time covered in whole blocks) x 3 + 10, plus pauses.
    double realTimeLimitSeconds() const { return realTimeLimitS_; }
    void setRealTimeLimitSeconds(double seconds) { realTimeLimitS_ = seconds; }
    // Every card the modules use runs on the simulated card's virtual clock (known
    // after prepare()). Such a run is repeatable: see round().
    bool virtualClock() const { return virtualClock_; }
    // run() calls the action once, between two rounds, when the data delivered on
    // every source channel reach `seconds` (at the first round without sources).
    void atDataTime(double seconds, std::function<void()> action) {
        dataTimeAt_ = seconds;
        dataTimeAction_ = std::move(action);
    }

private:
    bool checkOutputs();
    bool openRecordings();
    void pumpIfDue();
    void pumpMessages();
    void roundsAfterStop(size_t next);
    std::string notificationStop(UINT message, WPARAM wParam) const;
    std::string cardTrouble(const ModuleDef& def) const;
    uint32_t notificationsPosted() const;
    double stepFrontier() const;
    bool inStep(const ModuleRun& r, double frontier) const;
    ChartDesign chartDesignOf(const ModuleRun& r) const;
    void endRecordings();
    std::string laggingChannels() const;
    void onBlock(ModuleRun& run, const BlockView& b);
    bool allSourcesDone() const;
    double deliveredTime() const;  // the smallest time delivered over the source channels
    void progressLine(std::ostream& out, double elapsed) const;
    void collectWarnings();

    Worksheet sheet_;
    HostOptions options_;
    std::unique_ptr<CardConfiguration> card_;
    std::unique_ptr<Host> host_;
    std::vector<ModuleRun> runs_;
    std::string error_;
    RunReport report_;
    std::string outputDirOverride_;
    bool running_ = false;
    bool paused_ = false;
    bool pauseDone_ = false;
    bool userStop_ = false;
    ULONGLONG runStartTick_ = 0;
    ULONGLONG pauseStartTick_ = 0;
    double realTimeLimitS_ = 0;
    uint64_t roundsInPause_ = 0;
    double pausedSeconds_ = 0;
    uint64_t samplesLimit_ = 0;  // samples per channel within the duration
    size_t liveAfterFinish_ = 0;
    bool finished_ = false;
    bool writeCharts_ = true;
    int64_t lastPump_ = 0;  // performance counter at the last dispatch of messages
    // The simulated driver's view of its cards (null with a driver that has none).
    SimGetCardStateFn cardState_ = nullptr;
    std::vector<int> openedCards_;      // the sockets whose cards the extension opened at set-up
    bool virtualClock_ = false;
    uint64_t pauseRounds_ = 1;          // the worksheet's pause in rounds, on the virtual clock
    uint32_t notificationsSeen_ = 0;    // notifications the driver had posted at the last dispatch
    std::string stopCause_;             // what a message dispatched by the runner stopped
    LiveView* live_ = nullptr;
    double dataTimeAt_ = 0;
    std::function<void()> dataTimeAction_;
};

// `velk run WORKSHEET`: builds, runs, prints progress and the summary, writes the
// recordings. Result: 0 completed, 1 refused or stopped early, 2 worksheet, load or
// build error, or a recording that is not whole.
struct RunOptions {
    std::string outputDir;  // replaces the worksheet's output folder when not empty
    bool charts = true;     // a PNG chart beside each CSV file
    bool live = false;      // the live view in the main window (a windowed run)
    bool stayOpen = false;  // the window stays after the run until the user closes it
    // `--save FILE [--save-at SECONDS]` (velk/saved_state.h): the modules' state.
    std::string savePath;               // empty: nothing is saved
    std::optional<double> saveAtSeconds;
};
int runWorksheet(const std::string& path, const HostOptions& options, const RunOptions& run, std::ostream& out);

}  // namespace velk
