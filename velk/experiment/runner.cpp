#include "velk/experiment/runner.h"

#include "velk/experiment/live_view.h"

#include "velk/dialogs/module_dialogs.h"
#include "velk/experiment/output_files.h"
#include "velk/experiment/saved_state.h"
#include "velk/common/text.h"
#include "velk/worksheet/worksheet_rules.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>
#include <exception>
#include <map>

namespace velk {

namespace {

bool isSource(ModuleKind k) { return k != ModuleKind::DigitalOut; }

constexpr int kSockets = 4;

// What an error code of the simulated driver means, for the codes a card that could
// not be opened may show (empty for other codes).
std::string errorMeaning(int32_t code) {
    switch (code) {
        case TK17SIM_ERR_NO_CARD: return "no card in that socket";
        case TK17SIM_ERR_CARD_REMOVED: return "the card was pulled out";
        case TK17SIM_ERR_ALREADY_OPEN: return "the card was open already";
        case TK17SIM_ERR_INJECTED: return "an injected fault";
        default: return std::string();
    }
}

// "the driver could not open the card[ in socket 1]: error 17[, meaning]".
std::string couldNotOpen(int32_t code, const std::string& where) {
    std::string text = "the driver could not open the card" + where;
    if (code == TK17SIM_ERR_NONE) return text;
    const std::string meaning = errorMeaning(code);
    return text + ": error " + std::to_string(code) + (meaning.empty() ? "" : ", " + meaning);
}

// "module a", "modules a and b", "modules a, b and c".
std::string moduleList(const std::vector<std::string>& ids) {
    std::string text = ids.size() == 1 ? "module " : "modules ";
    for (size_t i = 0; i < ids.size(); ++i) {
        if (i > 0) text += i + 1 == ids.size() ? " and " : ", ";
        text += ids[i];
    }
    return text;
}

}  // namespace

Experiment::Experiment(Worksheet sheet, HostOptions options) : sheet_(std::move(sheet)), options_(std::move(options)) {
    options_.keepReleasedBlocks = false;
    options_.logBlockReleases = false;
    options_.samplePeriodMs = sheet_.periodMs;
    options_.blockSize = sheet_.blockSize;
    // Samples per channel whose time stamp lies before the duration.
    const double dt = sheet_.periodMs * 0.001;
    const double samples = ceil(sheet_.durationS / dt - 1e-9);
    samplesLimit_ = samples < 9007199254740992.0 ? static_cast<uint64_t>(samples) : 9007199254740992ull;
    // A digital input releases whole blocks in real time: the limit leaves room for
    // the last of them whatever the duration.
    realTimeLimitS_ = std::max(sheet_.durationS, minimumRealSeconds(sheet_)) * 3 + 10;
}

Experiment::~Experiment() { finish(); }

// The recordings' paths, before anything is loaded (docs/worksheets.md, Recordings).
bool Experiment::checkOutputs() {
    std::vector<PlannedFile> files;
    for (const RecordDef& rec : sheet_.records) {
        const std::string path = recordingPath(rec);
        files.push_back({path, rec.file, "[record " + rec.module + "]", rec.fileLine});
        if (writeCharts_)
            files.push_back({chartPathFor(path), chartPathFor(rec.file), "[record " + rec.module + "] (its chart)",
                             rec.fileLine});
    }
    std::vector<InputFile> inputs;
    if (!sheet_.path.empty()) inputs.push_back({sheet_.path, "the worksheet itself"});
    if (!sheet_.driverConfig.empty()) inputs.push_back({sheet_.resolve(sheet_.driverConfig), "the card configuration"});
    return checkOutputFiles(files, inputs, sheet_.name, error_);
}

bool Experiment::prepare() {
    if (!checkOutputs()) return false;
    card_ = std::make_unique<CardConfiguration>(sheet_);
    if (!card_->arrange(error_)) return false;
    try {
        host_ = std::make_unique<Host>(options_);
    } catch (const std::exception& failure) {  // no main window: said, not thrown out of the run
        error_ = failure.what();
        return false;
    }
    if (!host_->load()) {
        error_ = "the extension could not be loaded: " + host_->loadError();
        return false;
    }
    if (host_->setup() != 1) {
        error_ = "SetupVelkDLL refused";
        return false;
    }
    // The driver's verdict on its configuration, before a module is built: a mistake
    // there would otherwise show only as "no free card".
    if (!card_->check(GetModuleHandleA("vyttk17.dll"), error_)) return false;
    if (host_->classes().empty()) {
        error_ = "the extension registered no module classes (is the card driver there?)";
        return false;
    }
    runs_.reserve(sheet_.modules.size());
    // Saved modules come back first, as when Velk opens the worksheet; the others
    // are then created and set through their dialogs.
    std::vector<RestoredModule> restored;
    if (!restoreSavedModules(*host_, sheet_, restored, error_)) return false;
    // The cards the extension opened at set-up: the device selection dialog offers
    // them, in socket order, to a class until a module of the class has taken one.
    cardState_ = SimApi::from(GetModuleHandleA("vyttk17.dll")).GetCardState;
    openedCards_.clear();
    for (int s = 0; s < kSockets && cardState_; ++s) {
        SimCardState st{};
        if (cardState_(static_cast<uint16_t>(s), &st) && st.open) openedCards_.push_back(s);
    }
    std::map<ModuleKind, std::map<int, std::string>> taken;  // class -> socket -> module
    for (const RestoredModule& r : restored)
        if (r.deviceCheck == 1 && r.def->socket) taken[r.def->kind].emplace(*r.def->socket, r.def->id);
    size_t nextRestored = 0;
    for (const ModuleDef& def : sheet_.modules) {
        std::string why;
        ModuleRecord* m = def.saved ? restored[nextRestored].record
                                    : createModuleOnSocket(*host_, def.kind, def.socket, NewModule(), why);
        if (!m) {
            error_ = sheet_.at(def.socket ? def.lineOf("socket") : def.line) + ": module " + def.id + ": " + why;
            const std::map<int, std::string>& inUse = taken[def.kind];
            if (def.socket && inUse.count(*def.socket))
                error_ += " (module " + inUse.at(*def.socket) + " uses that card)";
            else
                error_ += cardTrouble(def);
            return false;
        }
        if (!def.saved && !applySettings(*host_, m, def.kind, settingsOf(def), why)) {
            error_ = sheet_.at(def.line) + ": module " + def.id + ": the settings did not reach the setup dialog: " + why;
            return false;
        }
        ModuleRun run;
        if (def.saved) {
            run.restored = true;
            run.deviceCheck = restored[nextRestored++].deviceCheck;
            run.socket = def.socket;
        } else if (def.socket) {
            run.socket = def.socket;
        } else {
            for (int s : openedCards_)
                if (!taken[def.kind].count(s)) {
                    run.socket = s;
                    break;
                }
        }
        if (!def.saved && run.socket) taken[def.kind].emplace(*run.socket, def.id);
        run.def = &def;
        run.record = m;
        if (isSource(def.kind)) {
            for (uint32_t c = 0; c < m->outputCount; ++c) {
                ChannelStats st;
                st.label = def.channelLabel(c);
                run.channels.push_back(st);
            }
        }
        runs_.push_back(std::move(run));
    }
    // A run is on the virtual clock when every card its modules use is.
    virtualClock_ = cardState_ != nullptr && !runs_.empty();
    for (const ModuleRun& r : runs_) {
        SimCardState st{};
        if (!r.socket || *r.socket < 0 || *r.socket >= kSockets ||
            !cardState_(static_cast<uint16_t>(*r.socket), &st) || !st.virtualClock)
            virtualClock_ = false;
    }
    if (sheet_.pauseAtS) {
        const double rounds = ceil(sheet_.pauseForS / blockSeconds(sheet_) - 1e-9);
        pauseRounds_ = rounds >= 1 ? (rounds < 1e15 ? static_cast<uint64_t>(rounds) : 1000000000000000ull) : 1;
    }
    for (const ConnectionDef& c : sheet_.connections) {
        if (!host_->connect(module(c.from), c.output, module(c.to), c.input)) {
            error_ = sheet_.at(c.line) + ": cannot connect " + c.from + "." + std::to_string(c.output) +
                     " to " + c.to + "." + std::to_string(c.input);
            return false;
        }
    }
    for (const RecordDef& rec : sheet_.records)
        for (ModuleRun& run : runs_)
            if (run.def->id == rec.module) {
                run.recorded = true;
                run.csvPath = recordingPath(rec);
                if (writeCharts_) run.chartPath = chartPathFor(run.csvPath);
            }
    for (ModuleRun& run : runs_) {
        for (uint32_t c = 0; c < run.channels.size(); ++c) {
            ModuleRun* target = &run;
            const int id = host_->addRecorder(run.record, c, [this, target](const BlockView& b) { onBlock(*target, b); });
            if (id) run.recorderIds.push_back(id);
        }
    }
    collectWarnings();
    return true;
}

// Why the driver offers a module no card, as far as the simulated driver can tell:
// the card it could not open when the extension asked at set-up, with the driver's
// error code. Empty when it cannot tell (another driver, a card that is open).
std::string Experiment::cardTrouble(const ModuleDef& def) const {
    if (!cardState_) return std::string();
    std::string text;
    for (int s = 0; s < kSockets; ++s) {
        if (def.socket && *def.socket != s) continue;
        SimCardState st{};
        if (!cardState_(static_cast<uint16_t>(s), &st) || st.open) continue;
        if (!def.socket && !st.configured) continue;  // an empty socket is no reason for "any socket"
        if (!text.empty()) text += "; ";
        text += couldNotOpen(st.lastError, def.socket ? "" : " in socket " + std::to_string(s));
    }
    return text.empty() ? text : " (" + text + ")";
}

ModuleRecord* Experiment::module(const std::string& id) const {
    for (const ModuleRun& r : runs_)
        if (r.def->id == id) return r.record;
    return nullptr;
}

const ModuleRun* Experiment::moduleRun(const std::string& id) const {
    for (const ModuleRun& r : runs_)
        if (r.def->id == id) return &r;
    return nullptr;
}

std::string Experiment::recordingPath(const RecordDef& rec) const {
    if (isAbsolutePath(rec.file)) return windowsPath(rec.file);
    std::string dir = !outputDirOverride_.empty() ? windowsPath(outputDirOverride_)
                      : sheet_.outputDir == "."   ? sheet_.baseDir
                                                  : sheet_.resolve(sheet_.outputDir);
    if (dir.empty() || dir == ".") return rec.file;
    const char last = dir.back();
    return dir + (last == '/' || last == '\\' ? "" : "/") + rec.file;
}

bool Experiment::allSourcesDone() const {
    for (const ModuleRun& r : runs_)
        for (const ChannelStats& st : r.channels)
            if (!st.reachedEnd) return false;
    return true;
}

double Experiment::deliveredTime() const {
    double least = INFINITY;
    for (const ModuleRun& r : runs_)
        for (const ChannelStats& st : r.channels) least = std::min(least, st.blocks ? st.nextStart : 0.0);
    return least;
}

void Experiment::collectWarnings() {
    if (host_) report_.warnings = host_->log().warnings();
}

bool Experiment::start() {
    report_ = RunReport();
    host_->log().clearStopRequest();
    userStop_ = false;
    paused_ = false;
    pauseDone_ = false;
    pausedSeconds_ = 0;
    stopCause_.clear();
    notificationsSeen_ = notificationsPosted();
    for (ModuleRun& r : runs_)
        for (ChannelStats& st : r.channels) {
            const std::string label = st.label;
            st = ChannelStats();
            st.label = label;
        }
    if (!openRecordings()) {
        report_.end = RunEnd::NotRun;
        report_.detail = error_;
        return false;
    }
    host_->setSamplePeriodMs(sheet_.periodMs);
    host_->setBlockSize(sheet_.blockSize);
    host_->setPaused(0);
    host_->setStartTicks(GetTickCount());
    host_->setRunning(1);
    runStartTick_ = GetTickCount64();
    const ModuleRun* stoppedBy = nullptr;  // the first module whose start stopped the experiment
    for (size_t i = 0; i < runs_.size(); ++i) {
        if (host_->callClass(runs_[i].record, VELK_CODE_START) != 0) {
            if (!stoppedBy && host_->log().stopRequested()) stoppedBy = &runs_[i];
            continue;
        }
        // Refused: the modules already started are stopped again; the refusing one
        // has allocated nothing (it answers 0 before it starts the card).
        for (size_t j = 0; j < i; ++j) host_->callClass(runs_[j].record, VELK_CODE_STOP);
        host_->setRunning(0);
        host_->pump();
        report_.end = RunEnd::Refused;
        report_.detail = "module " + runs_[i].def->id + " refused to start";
        collectWarnings();
        endRecordings();
        return false;
    }
    running_ = true;
    if (host_->log().stopRequested()) {
        report_.end = RunEnd::StoppedByModule;
        report_.detail = stoppedBy ? "module " + stoppedBy->def->id + " stopped the experiment at its start"
                                   : "a module stopped the experiment at its start";
        roundsAfterStop(runs_.size());
        stop();
        return false;
    }
    return true;
}

void Experiment::pause() {
    if (!running_ || paused_) return;
    paused_ = true;
    roundsInPause_ = 0;
    pauseStartTick_ = GetTickCount64();
    host_->setPaused(1);
}

void Experiment::resume() {
    if (!paused_) return;
    paused_ = false;
    pausedSeconds_ += (GetTickCount64() - pauseStartTick_) / 1000.0;
    host_->setPaused(0);
}

// The notifications the simulated driver has posted to the extension's window for
// the cards the extension opened (the others have no window to post to); 0 with
// another driver. One control call a card: it is asked in every round.
uint32_t Experiment::notificationsPosted() const {
    if (!cardState_) return 0;
    uint32_t total = 0;
    for (int s : openedCards_) {
        SimCardState st{};
        if (cardState_(static_cast<uint16_t>(s), &st)) total += st.notifications;
    }
    return total;
}

// Dispatches the thread's messages (the extension's notification window gets the
// driver's messages only then). A message that makes the extension stop the
// experiment is a driver notification: its wParam names the card's socket.
void Experiment::pumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;
        const bool stoppedBefore = host_->log().stopRequested();
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        if (!stoppedBefore && host_->log().stopRequested() && stopCause_.empty())
            stopCause_ = notificationStop(msg.message, msg.wParam);
    }
}

// Which module's card sent the notification that stopped the experiment: the
// analog module on that card for a buffer event (when there is one), every module
// on it for a card pulled out.
std::string Experiment::notificationStop(UINT message, WPARAM wParam) const {
    const char* what = message == TK17_MSG_CARD_REMOVED      ? "was pulled out"
                       : message == TK17_MSG_BUFFER_OVERFLOW ? "reported a buffer overflow"
                       : message == TK17_MSG_BUFFER_OVERRUN  ? "reported a buffer overrun"
                                                             : nullptr;
    if (!what) return "the experiment was stopped by message " + std::to_string(message) + " to the extension";
    const int socket = static_cast<int>(wParam);
    std::vector<std::string> all, analog;
    for (const ModuleRun& r : runs_) {
        if (r.socket != socket) continue;
        all.push_back(r.def->id);
        if (r.def->kind == ModuleKind::AnalogIn) analog.push_back(r.def->id);
    }
    const std::vector<std::string>& named = message != TK17_MSG_CARD_REMOVED && !analog.empty() ? analog : all;
    const std::string card = "card in socket " + std::to_string(socket);
    if (named.empty()) return "the " + card + ", which no module uses, " + what + " (a driver notification)";
    return moduleList(named) + " stopped the experiment: " + (named.size() == 1 ? "its " : "their ") + card + " " +
           what;
}

// Messages are dispatched at most once a millisecond: looking at an empty queue
// costs tens of microseconds under Wine, more than a round of small blocks. On the
// virtual clock a notification the driver posted is dispatched at the next round
// whenever it came, so that a run it stops ends at the same round every time.
void Experiment::pumpIfDue() {
    static const int64_t ticksPerMs = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return std::max<int64_t>(1, f.QuadPart / 1000);
    }();
    if (virtualClock_) {
        const uint32_t posted = notificationsPosted();
        if (posted != notificationsSeen_) {
            notificationsSeen_ = posted;
            pumpMessages();
            return;
        }
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (now.QuadPart - lastPump_ < ticksPerMs) return;
    lastPump_ = now.QuadPart;
    pumpMessages();
}

// On the virtual clock the source modules go in step: a round calls a source module
// only while one of its channels is not ahead of the least data time delivered over
// the source channels that have not reached the duration. An analog module would
// otherwise read as many blocks as there are rounds while a digital input waits for
// real time; in step, what every module reads and writes follows the data alone
// (a loop-back input reads what the output was given for the same blocks).
double Experiment::stepFrontier() const {
    double least = INFINITY;
    for (const ModuleRun& r : runs_)
        for (const ChannelStats& st : r.channels)
            if (!st.reachedEnd) least = std::min(least, st.blocks ? st.nextStart : 0.0);
    return least;
}

bool Experiment::inStep(const ModuleRun& r, double frontier) const {
    if (r.channels.empty()) return true;
    const double slack = sheet_.periodMs * 1e-9;  // a millionth of a sample, in seconds
    for (const ChannelStats& st : r.channels)
        if (!st.reachedEnd && (st.blocks ? st.nextStart : 0.0) <= frontier + slack) return true;
    return false;
}

bool Experiment::round() {
    if (!running_) return false;
    pumpIfDue();
    bool stopped = false;
    if (host_->log().stopRequested()) {
        // A notification dispatched just now; no module is called after it.
        report_.end = RunEnd::StoppedByModule;
        report_.detail = stopCause_.empty() ? "the experiment was stopped by a driver notification" : stopCause_;
        stopped = true;
        roundsAfterStop(runs_.size());
    } else {
        const bool inStepOnly = virtualClock_ && !paused_;
        const double frontier = inStepOnly ? stepFrontier() : 0.0;
        for (size_t i = 0; i < runs_.size(); ++i) {
            ModuleRun& r = runs_[i];
            if (inStepOnly && !inStep(r, frontier)) continue;
            host_->process(r.record);
            if (host_->log().stopRequested()) {
                report_.end = RunEnd::StoppedByModule;
                report_.detail = "module " + r.def->id + " stopped the experiment";
                stopped = true;
                roundsAfterStop(i + 1);
                break;
            }
        }
        ++report_.rounds;
        if (paused_) {
            ++report_.pausedRounds;
            ++roundsInPause_;
        }
    }
    const double elapsed = (GetTickCount64() - runStartTick_) / 1000.0;
    if (!stopped && userStop_) {
        report_.end = RunEnd::StoppedByUser;
        stopped = true;
    }
    bool haveSources = false;
    for (const ModuleRun& r : runs_) haveSources = haveSources || !r.channels.empty();
    if (!stopped && (haveSources ? allSourcesDone() : elapsed >= sheet_.durationS)) {
        report_.end = RunEnd::Completed;
        stopped = true;
    }
    if (!stopped && elapsed > realTimeLimitS_ + pausedSeconds_ + (paused_ ? sheet_.pauseForS : 0)) {
        report_.end = RunEnd::TimeLimit;
        report_.detail = "the data did not reach the duration in time: " + laggingChannels();
        stopped = true;
    }
    if (stopped) {
        report_.wallSeconds = elapsed;
        stop();
        return false;
    }
    // The worksheet's pause: from the moment the data reach pause_at_s, for
    // pause_for_s of real time and at least one round; on the virtual clock for
    // pause_for_s of the card's time, the rounds that take whole blocks
    // (pauseRounds_), whatever real time they take.
    if (sheet_.pauseAtS && !pauseDone_ && !paused_ && deliveredTime() >= *sheet_.pauseAtS) {
        pause();
    } else if (paused_ && sheet_.pauseAtS && !pauseDone_ && roundsInPause_ > 0 &&
               (virtualClock_ ? roundsInPause_ >= pauseRounds_
                              : (GetTickCount64() - pauseStartTick_) >= static_cast<ULONGLONG>(sheet_.pauseForS * 1000))) {
        resume();
        pauseDone_ = true;
    }
    return true;
}

// What Velk still does between a StopExperiment and code 107: the rest of the round
// from module `next` on, then the configured number of whole rounds. Further stops
// and warnings in them are recorded like any other; the end stays the first stop's.
void Experiment::roundsAfterStop(size_t next) {
    for (size_t i = next; i < runs_.size(); ++i) host_->process(runs_[i].record);
    for (int round = 0; round < host_->options().roundsAfterStop; ++round) {
        pumpMessages();
        for (ModuleRun& r : runs_) host_->process(r.record);
    }
}

void Experiment::stop() {
    if (!running_) return;
    for (ModuleRun& r : runs_) host_->callClass(r.record, VELK_CODE_STOP);
    host_->setPaused(0);
    host_->setRunning(0);
    paused_ = false;
    running_ = false;
    host_->pump();  // notifications the driver posted late
    collectWarnings();
    endRecordings();
}

RunReport Experiment::run(std::ostream* progress) {
    if (!host_) return report_;
    if (!start()) return report_;
    ULONGLONG lastLine = GetTickCount64();
    uint64_t releases = host_->releaseCount();
    while (round()) {
        if (dataTimeAction_ && deliveredTime() >= dataTimeAt_) {
            const std::function<void()> action = std::move(dataTimeAction_);
            dataTimeAction_ = nullptr;
            action();
        }
        const ULONGLONG now = GetTickCount64();
        if (progress && now - lastLine >= 1000) {
            lastLine = now;
            progressLine(*progress, (now - runStartTick_) / 1000.0);
        }
        if (live_) live_->tick(progressText());
        // Nothing came: let real time pass (a pause on the virtual clock waits for none).
        if (host_->releaseCount() == releases && !(virtualClock_ && paused_)) Sleep(1);
        releases = host_->releaseCount();
    }
    if (report_.wallSeconds == 0) report_.wallSeconds = (GetTickCount64() - runStartTick_) / 1000.0;
    if (live_) {
        live_->tick(progressText() + " - " + runEndText(report_.end), true);
        live_->flush();
    }
    return report_;
}

void Experiment::finish() {
    if (finished_ || !host_) return;
    finished_ = true;
    stop();
    for (ModuleRun& r : runs_)
        for (int id : r.recorderIds) host_->removeRecorder(id);
    host_->finish();
    liveAfterFinish_ = host_->allocator().liveCount();
}

}  // namespace velk
