// What a run tells: progress lines, the summary, the lagging channels when it ran
// out of time, and `velk run` itself.
#include "velk/experiment/runner.h"

#include "velk/experiment/live_view.h"
#include "velk/experiment/saved_state.h"
#include "velk/common/text.h"
#include "velk/worksheet/worksheet_rules.h"

#include <stdio.h>

#include <algorithm>
#include <sstream>

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

std::string Experiment::progressText() const {
    std::ostringstream text;
    progressLine(text, running_ || report_.wallSeconds == 0 ? (GetTickCount64() - runStartTick_) / 1000.0
                                                             : report_.wallSeconds);
    std::string line = text.str();
    while (!line.empty() && (line.back() == '\n' || line.front() == ' ')) line.erase(line.back() == '\n' ? line.size() - 1 : 0, 1);
    return line;
}

void Experiment::progressLine(std::ostream& out, double elapsed) const {
    out << "  " << fmtNumber("%5.1f", elapsed) << " s:";
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

// Which source channels are behind, and why they may be.
std::string Experiment::laggingChannels() const {
    std::string text;
    for (const ModuleRun& r : runs_)
        for (size_t c = 0; c < r.channels.size(); ++c) {
            const ChannelStats& st = r.channels[c];
            if (st.reachedEnd) continue;
            if (!text.empty()) text += "; ";
            text += r.def->id + "." + std::to_string(c) + " reached " + fmtNumber("%g", st.blocks ? st.nextStart : 0.0) +
                    " of " + fmtNumber("%g", sheet_.durationS) + " s";
            if (r.def->kind == ModuleKind::DigitalIn)
                text += " (a digital input block of " + std::to_string(sheet_.blockSize) + " samples takes " +
                        fmtNumber("%g", blockSeconds(sheet_)) + " s of real time)";
            else if (st.blocks == 0)
                text += " (no block arrived)";
        }
    text += " after " + fmtNumber("%.1f", realTimeLimitS_) + " s, the real-time limit";
    return text;
}

void Experiment::printSummary(std::ostream& out) const {
    out << "summary: " << runEndText(report_.end);
    if (!report_.detail.empty()) out << " (" << report_.detail << ")";
    out << " after " << fmtNumber("%.2f", report_.wallSeconds) << " s, " << report_.rounds << " processing rounds";
    if (report_.pausedRounds) out << ", " << report_.pausedRounds << " while paused";
    out << "\n";
    out << "  period " << fmtNumber("%g", sheet_.periodMs) << " ms, block size " << sheet_.blockSize << ", duration "
        << fmtNumber("%g", sheet_.durationS) << " s\n";
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
        if (!r.recorded) continue;
        if (!r.recording)
            out << "  not recorded: " << r.csvPath << " was never opened\n";
        else if (!r.recordingEnded)
            out << "  recording to " << r.csvPath << " (" << r.csv->rows() << " rows so far)\n";
        else if (r.recordingError.empty())
            out << "  recorded to " << r.csvPath << " (" << r.recordedRows << " rows)\n";
        else
            out << "  RECORDING INCOMPLETE: " << r.recordingError << "\n";
        if (r.chart && r.chart->written()) out << "  chart " << r.chartPath << "\n";
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

int runWorksheet(const std::string& path, const HostOptions& options, const RunOptions& run, std::ostream& out) {
    WorksheetResult w = loadWorksheet(path);
    if (!w.ok()) {
        out << "error: " << w.error << "\n";  // UTF-8 already
        return 2;
    }
    out << "worksheet: " << w.sheet.path << "\n";
    Experiment e(w.sheet, options);
    if (!run.outputDir.empty()) e.setOutputDir(run.outputDir);
    e.setCharts(run.charts);
    out << "building " << w.sheet.modules.size() << " module(s)\n";
    out.flush();
    // What the host was left with, also after a build that failed.
    auto finish = [&] {
        e.finish();
        out << "live allocations after finish: " << e.liveAllocationsAfterFinish() << "\n";
        if (e.hasHost())
            for (const std::string& err : e.host().log().errors()) out << "host error: " << cp932ToUtf8(err) << "\n";
        out.flush();
    };
    SaveRequest save;
    save.path = run.savePath;
    save.atSeconds = run.saveAtSeconds;
    StateSaver saver(save);
    std::string saveError;
    if (saver.wanted() && !saver.check(e, saveError)) {
        out << "error: " << saveError << "\n";
        finish();
        return 2;
    }
    if (!e.prepare()) {
        out << "error: " << e.error() << "\n";
        finish();
        return 2;
    }
    out << "card configuration: " << e.cardSource() << "\n";
    for (const ModuleRun& r : e.modules()) {
        out << "  " << r.def->id << ": " << kindName(r.def->kind) << ", "
            << (r.def->kind == ModuleKind::DigitalOut ? r.record->inputCount : r.record->outputCount)
            << " channel(s)";
        if (r.restored)
            out << ", restored from its saved state"
                << (r.deviceCheck == 1 ? "" : " (the device check answered " + std::to_string(r.deviceCheck) + ")");
        out << "\n";
    }
    out << "running for " << fmtNumber("%g", w.sheet.durationS) << " s";
    const double real = minimumRealSeconds(w.sheet);
    if (real > w.sheet.durationS)
        out << " (at least " << fmtNumber("%g", real) << " s of real time: digital input delivers whole blocks of "
            << fmtNumber("%g", blockSeconds(w.sheet)) << " s in step with real time)";
    out << "\n";
    out.flush();
    saver.arm(e, out);
    // The live view belongs to the main window, which lives until finish().
    std::unique_ptr<LiveView> view;
    if (run.live) {
        view = std::make_unique<LiveView>(e.host());
        e.setLiveView(view.get());
    }
    const RunReport report = e.run(&out);
    std::string error;
    const bool written = e.writeRecordings(error);
    e.printSummary(out);
    if (!written) out << "error: " << error << "\n";
    const bool saved = !saver.wanted() || saver.finish(e, out);
    if (view) {
        if (run.stayOpen) {
            out << "the window stays open until it is closed\n";
            out.flush();
            view->waitUntilClosed();
        }
        e.setLiveView(nullptr);
        view.reset();
    }
    finish();
    if (!written || !saved) return 2;
    return report.end == RunEnd::Completed ? 0 : 1;
}

}  // namespace velk
