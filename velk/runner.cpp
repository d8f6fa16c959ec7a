#include "velk/runner.h"

#include "velk/module_setup.h"
#include "velk/text.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>
#include <fstream>

namespace velk {

const char* runEndText(RunEnd end) {
    switch (end) {
        case RunEnd::Completed: return "completed";
        case RunEnd::StoppedByModule: return "stopped by a module";
        case RunEnd::StoppedByUser: return "stopped";
        case RunEnd::TimeLimit: return "real-time limit reached";
        case RunEnd::Refused: return "start refused";
        case RunEnd::NotRun: return "not run";
    }
    return "";
}

namespace {

std::string fmt(const char* format, double v) {
    char b[64];
    snprintf(b, sizeof b, format, v);
    return b;
}

bool isSource(ModuleKind k) { return k != ModuleKind::DigitalOut; }

// Creates the folders of a file's path that do not exist yet.
void makeFoldersFor(const std::string& file) {
    for (size_t i = 0; i < file.size(); ++i) {
        if (file[i] != '/' && file[i] != '\\') continue;
        const std::string dir = file.substr(0, i);
        if (dir.empty() || (dir.size() == 2 && dir[1] == ':')) continue;
        CreateDirectoryA(dir.c_str(), nullptr);
    }
}

}  // namespace

Experiment::Experiment(Worksheet sheet, HostOptions options) : sheet_(std::move(sheet)), options_(std::move(options)) {
    options_.keepReleasedBlocks = false;
    options_.logBlockReleases = false;
    options_.samplePeriodMs = sheet_.periodMs;
    options_.blockSize = sheet_.blockSize;
    // Samples per channel whose time stamp lies before the duration.
    const double dt = sheet_.periodMs * 0.001;
    samplesLimit_ = static_cast<uint64_t>(ceil(sheet_.durationS / dt - 1e-9));
}

Experiment::~Experiment() { finish(); }

void Experiment::configureCard() {
    if (!sheet_.cardText.empty()) {
        SetEnvironmentVariableA("VYTTK17_CONFIG_TEXT", sheet_.cardText.c_str());
    } else if (!sheet_.driverConfig.empty()) {
        SetEnvironmentVariableA("VYTTK17_CONFIG_TEXT", nullptr);
        SetEnvironmentVariableA("VYTTK17_CONFIG", sheet_.resolve(sheet_.driverConfig).c_str());
    }
    // Otherwise the driver finds its configuration as it would without a worksheet.
}

bool Experiment::prepare() {
    if (!sheet_.driverConfig.empty() && sheet_.cardText.empty()) {
        const std::string file = sheet_.resolve(sheet_.driverConfig);
        if (GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
            error_ = "driver_config: " + cp932ToUtf8(file) + " does not exist";
            return false;
        }
    }
    configureCard();
    host_ = std::make_unique<Host>(options_);
    if (!host_->load()) {
        error_ = "the extension could not be loaded: " + cp932ToUtf8(host_->loadError());
        return false;
    }
    if (host_->setup() != 1) {
        error_ = "SetupVelkDLL refused";
        return false;
    }
    if (host_->classes().empty()) {
        error_ = "the extension registered no module classes (is the card driver there?)";
        return false;
    }
    runs_.reserve(sheet_.modules.size());
    for (const ModuleDef& def : sheet_.modules) {
        std::string why;
        ModuleRecord* m = createModuleOnSocket(*host_, def.kind, def.socket, NewModule(), why);
        if (!m) {
            error_ = "module " + def.id + " (line " + std::to_string(def.line) + "): " + why;
            return false;
        }
        if (!applySettings(*host_, m, def.kind, settingsOf(def), why)) {
            error_ = "module " + def.id + ": the settings did not reach the setup dialog: " + why;
            return false;
        }
        ModuleRun run;
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
    for (const ConnectionDef& c : sheet_.connections) {
        if (!host_->connect(module(c.from), c.output, module(c.to), c.input)) {
            error_ = "line " + std::to_string(c.line) + ": cannot connect " + c.from + "." + std::to_string(c.output) +
                     " to " + c.to + "." + std::to_string(c.input);
            return false;
        }
    }
    for (const RecordDef& rec : sheet_.records)
        for (ModuleRun& run : runs_)
            if (run.def->id == rec.module) {
                run.recorded = true;
                run.csvPath = recordingPath(rec);
                run.columns.assign(run.channels.size(), {});
            }
    for (ModuleRun& run : runs_) {
        for (uint32_t c = 0; c < run.channels.size(); ++c) {
            ModuleRun* target = &run;
            const int id = host_->addRecorder(run.record, c, [this, target](const ReleasedBlock& b) { onBlock(*target, b); });
            if (id) run.recorderIds.push_back(id);
        }
    }
    collectWarnings();
    return true;
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
    std::string dir = outputDirOverride_.empty() ? sheet_.resolve(sheet_.outputDir) : windowsPath(outputDirOverride_);
    if (dir.empty() || dir == ".") return rec.file;
    const char last = dir.back();
    return dir + (last == '/' || last == '\\' ? "" : "/") + rec.file;
}

void Experiment::onBlock(ModuleRun& run, const ReleasedBlock& b) {
    if (b.channel >= run.channels.size()) return;
    ChannelStats& st = run.channels[b.channel];
    const double dt = b.sampleDistance;
    const double end = b.startTime + b.sampleCount * dt;
    if (end >= sheet_.durationS - dt * 1e-6) st.reachedEnd = true;
    if (dt <= 0 || !isfinite(dt) || !isfinite(b.startTime)) return;
    const double first = b.startTime / dt;
    if (first >= static_cast<double>(samplesLimit_) - 1e-6) return;  // beyond the duration
    if (st.blocks > 0 && fabs(b.startTime - st.nextStart) > dt * 1e-6) ++st.gaps;
    st.nextStart = end;
    ++st.blocks;
    const int64_t base = llround(first);
    for (uint32_t j = 0; j < b.sampleCount && j < b.samples.size(); ++j) {
        const int64_t k = base + j;
        if (k < 0 || static_cast<uint64_t>(k) >= samplesLimit_) break;
        const double t = b.startTime + j * dt;
        const double v = b.samples[j];
        if (st.samples == 0) {
            st.min = st.max = v;
            st.firstTime = t;
        }
        st.min = std::min(st.min, v);
        st.max = std::max(st.max, v);
        st.sum += v;
        st.lastTime = t;
        ++st.samples;
        if (run.recorded) {
            std::vector<float>& col = run.columns[b.channel];
            const size_t need = static_cast<size_t>(k) + 1;
            if (col.size() < need) col.resize(need, NAN);
            col[static_cast<size_t>(k)] = b.samples[j];
            if (run.times.size() < need) run.times.resize(need, NAN);
            if (isnan(run.times[static_cast<size_t>(k)])) run.times[static_cast<size_t>(k)] = t;
        }
    }
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
    if (host_) report_.warnings = host_->warnings();
}

bool Experiment::start() {
    report_ = RunReport();
    host_->clearStopRequest();
    userStop_ = false;
    paused_ = false;
    pauseDone_ = false;
    pausedSeconds_ = 0;
    for (ModuleRun& r : runs_)
        for (ChannelStats& st : r.channels) {
            const std::string label = st.label;
            st = ChannelStats();
            st.label = label;
        }
    for (ModuleRun& r : runs_) {
        r.columns.assign(r.recorded ? r.channels.size() : 0, {});
        r.times.clear();
    }
    host_->setSamplePeriodMs(sheet_.periodMs);
    host_->setBlockSize(sheet_.blockSize);
    host_->setPaused(0);
    host_->setStartTicks(GetTickCount());
    host_->setRunning(1);
    runStartTick_ = GetTickCount();
    for (size_t i = 0; i < runs_.size(); ++i) {
        if (host_->callClass(runs_[i].record, VELK_CODE_START) != 0) continue;
        // Refused: the modules already started are stopped again; the refusing one
        // has allocated nothing (it answers 0 before it starts the card).
        for (size_t j = 0; j < i; ++j) host_->callClass(runs_[j].record, VELK_CODE_STOP);
        host_->setRunning(0);
        host_->pump();
        report_.end = RunEnd::Refused;
        report_.detail = "module " + runs_[i].def->id + " refused to start";
        collectWarnings();
        return false;
    }
    running_ = true;
    if (host_->stopRequested()) {
        report_.end = RunEnd::StoppedByModule;
        report_.detail = "a module stopped the experiment at its start";
        stop();
        return false;
    }
    return true;
}

void Experiment::pause() {
    if (!running_ || paused_) return;
    paused_ = true;
    roundsInPause_ = 0;
    pauseStartTick_ = GetTickCount();
    host_->setPaused(1);
}

void Experiment::resume() {
    if (!paused_) return;
    paused_ = false;
    pausedSeconds_ += (GetTickCount() - pauseStartTick_) / 1000.0;
    host_->setPaused(0);
}

bool Experiment::round() {
    if (!running_) return false;
    host_->pump();
    bool stopped = false;
    for (ModuleRun& r : runs_) {
        host_->process(r.record);
        if (host_->stopRequested()) {
            report_.end = RunEnd::StoppedByModule;
            report_.detail = "module " + r.def->id + " stopped the experiment";
            stopped = true;
            break;
        }
    }
    ++report_.rounds;
    if (paused_) {
        ++report_.pausedRounds;
        ++roundsInPause_;
    }
    host_->pump();
    if (!stopped && host_->stopRequested()) {
        report_.end = RunEnd::StoppedByModule;
        report_.detail = "the experiment was stopped by a driver notification";
        stopped = true;
    }
    const double elapsed = (GetTickCount() - runStartTick_) / 1000.0;
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
    if (!stopped && elapsed > sheet_.durationS * 3 + 10 + pausedSeconds_ + (paused_ ? sheet_.pauseForS : 0)) {
        report_.end = RunEnd::TimeLimit;
        report_.detail = "the data did not reach the duration in time";
        stopped = true;
    }
    if (stopped) {
        report_.wallSeconds = elapsed;
        stop();
        return false;
    }
    // The worksheet's pause: from the moment the data reach pause_at_s, for
    // pause_for_s of real time and at least one round.
    if (sheet_.pauseAtS && !pauseDone_ && !paused_ && deliveredTime() >= *sheet_.pauseAtS) {
        pause();
    } else if (paused_ && sheet_.pauseAtS && !pauseDone_ && roundsInPause_ > 0 &&
               (GetTickCount() - pauseStartTick_) >= static_cast<DWORD>(sheet_.pauseForS * 1000)) {
        resume();
        pauseDone_ = true;
    }
    return true;
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
}

RunReport Experiment::run(std::ostream* progress) {
    if (!host_) return report_;
    if (!start()) return report_;
    DWORD lastLine = GetTickCount();
    uint64_t releases = host_->releaseCount();
    while (round()) {
        const DWORD now = GetTickCount();
        if (progress && now - lastLine >= 1000) {
            lastLine = now;
            progressLine(*progress, (now - runStartTick_) / 1000.0);
        }
        if (host_->releaseCount() == releases) Sleep(1);  // nothing came: let real time pass
        releases = host_->releaseCount();
    }
    if (report_.wallSeconds == 0) report_.wallSeconds = (GetTickCount() - runStartTick_) / 1000.0;
    return report_;
}

void Experiment::progressLine(std::ostream& out, double elapsed) const {
    out << "  " << fmt("%5.1f", elapsed) << " s:";
    for (const ModuleRun& r : runs_) {
        if (r.channels.empty()) continue;
        uint64_t least = UINT64_MAX;
        for (const ChannelStats& st : r.channels) least = std::min(least, st.samples);
        out << " " << r.def->id << " " << least << " samples/channel";
    }
    if (paused_) out << " (paused)";
    out << "\n";
    out.flush();
}

bool Experiment::writeRecordings(std::string& error) {
    for (const ModuleRun& r : runs_) {
        if (!r.recorded) continue;
        makeFoldersFor(r.csvPath);
        std::ofstream f(r.csvPath, std::ios::binary);
        if (!f) {
            error = "cannot write " + cp932ToUtf8(r.csvPath);
            return false;
        }
        f << "time_s";
        for (const ChannelStats& st : r.channels) f << "," << st.label;
        f << "\n";
        char cell[48];
        for (size_t k = 0; k < r.times.size(); ++k) {
            snprintf(cell, sizeof cell, "%.9g", r.times[k]);
            f << cell;
            for (const std::vector<float>& col : r.columns) {
                f << ",";
                if (k < col.size() && !isnan(col[k])) {
                    snprintf(cell, sizeof cell, "%.9g", static_cast<double>(col[k]));
                    f << cell;
                }
            }
            f << "\n";
        }
        if (!f) {
            error = "cannot write " + cp932ToUtf8(r.csvPath);
            return false;
        }
    }
    return true;
}

void Experiment::printSummary(std::ostream& out) const {
    out << "summary: " << runEndText(report_.end);
    if (!report_.detail.empty()) out << " (" << report_.detail << ")";
    out << " after " << fmt("%.2f", report_.wallSeconds) << " s, " << report_.rounds << " processing rounds";
    if (report_.pausedRounds) out << ", " << report_.pausedRounds << " while paused";
    out << "\n";
    out << "  period " << fmt("%g", sheet_.periodMs) << " ms, block size " << sheet_.blockSize << ", duration "
        << fmt("%g", sheet_.durationS) << " s\n";
    char line[256];
    for (const ModuleRun& r : runs_) {
        out << "module " << r.def->id << " (" << kindName(r.def->kind) << ", "
            << (r.def->kind == ModuleKind::DigitalOut ? r.record->inputCount : r.record->outputCount) << " channels";
        if (r.def->socket) out << ", socket " << *r.def->socket;
        out << ")\n";
        if (r.channels.empty()) continue;
        snprintf(line, sizeof line, "  %-20s %7s %9s %11s %11s %11s %9s %9s %5s\n", "channel", "blocks", "samples",
                 "min", "max", "mean", "first_s", "last_s", "gaps");
        out << line;
        for (const ChannelStats& st : r.channels) {
            std::string label = st.label;
            snprintf(line, sizeof line, " %7llu %9llu %11.5g %11.5g %11.5g %9.4f %9.4f %5llu\n",
                     static_cast<unsigned long long>(st.blocks), static_cast<unsigned long long>(st.samples),
                     st.min, st.max, st.mean(), st.firstTime, st.lastTime, static_cast<unsigned long long>(st.gaps));
            // Pads by characters, not bytes (names may be Japanese).
            size_t chars = 0;
            for (unsigned char c : label) chars += (c & 0xC0) != 0x80;
            out << "  " << label << std::string(chars < 20 ? 20 - chars : 0, ' ') << line;
        }
        if (r.recorded) out << "  recorded to " << cp932ToUtf8(r.csvPath) << "\n";
    }
    if (report_.warnings.empty()) {
        out << "warnings: none\n";
    } else {
        out << "warnings: " << report_.warnings.size() << "\n";
        for (const Warning& w : report_.warnings) {
            std::string text = cp932ToUtf8(w.text);
            for (char& c : text)
                if (c == '\n' || c == '\r') c = ' ';
            out << "  [" << cp932ToUtf8(w.caption) << "] " << text << "\n";
        }
    }
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

int runWorksheet(const std::string& path, const HostOptions& options, const std::string& outputDir,
                 std::ostream& out) {
    WorksheetResult w = loadWorksheet(path);
    if (!w.ok()) {
        out << "error: " << cp932ToUtf8(w.error) << "\n";
        return 2;
    }
    out << "worksheet: " << cp932ToUtf8(w.sheet.path) << "\n";
    Experiment e(w.sheet, options);
    if (!outputDir.empty()) e.setOutputDir(outputDir);
    out << "building " << w.sheet.modules.size() << " module(s)\n";
    out.flush();
    if (!e.prepare()) {
        out << "error: " << e.error() << "\n";
        e.finish();
        return 2;
    }
    for (const ModuleRun& r : e.modules()) {
        out << "  " << r.def->id << ": " << kindName(r.def->kind) << ", "
            << (r.def->kind == ModuleKind::DigitalOut ? r.record->inputCount : r.record->outputCount)
            << " channel(s)\n";
    }
    out << "running for " << fmt("%g", w.sheet.durationS) << " s\n";
    out.flush();
    const RunReport report = e.run(&out);
    e.printSummary(out);
    std::string error;
    const bool written = e.writeRecordings(error);
    if (!written) out << "error: " << error << "\n";
    e.finish();
    out << "live allocations after finish: " << e.liveAllocationsAfterFinish() << "\n";
    for (const std::string& err : e.host().errors()) out << "host error: " << cp932ToUtf8(err) << "\n";
    out.flush();
    if (!written) return 2;
    return report.end == RunEnd::Completed ? 0 : 1;
}

}  // namespace velk
