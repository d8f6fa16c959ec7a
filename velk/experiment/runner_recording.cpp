// Recording while the run goes: the statistics of every source channel and the
// recorded modules' rows, written to their CSV files as the blocks arrive.
#include "velk/experiment/runner.h"

#include "velk/experiment/live_view.h"
#include "velk/common/text.h"

#include <math.h>

#include <algorithm>

namespace velk {

void Experiment::onBlock(ModuleRun& run, const BlockView& b) {
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
    for (uint32_t j = 0; j < b.samplesHeld; ++j) {
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
    }
    if (run.recording && base >= 0) {
        run.recording->add(b.channel, static_cast<uint64_t>(base), b.samples, b.samplesHeld, b.startTime, dt);
    }
}

// A recorded module's chart: its worksheet and id above the strips, the range of
// its module (volts) or the two levels of a digital input, the run's duration.
ChartDesign Experiment::chartDesignOf(const ModuleRun& r) const {
    ChartDesign design;
    design.durationS = sheet_.durationS;
    const std::string count = std::to_string(r.channels.size()) + (r.channels.size() == 1 ? " channel" : " channels");
    if (r.def->kind == ModuleKind::DigitalIn) {
        design.digital = true;
        design.yMin = -1.0;
        design.yMax = 6.0;
        design.title = sheet_.name + ": " + r.def->id + " (digital input, " + count + ", levels 0 and 5)";
    } else {
        const double span = r.def->range.value_or(0) == 1 ? 5.0 : 10.0;
        design.yMin = -span;
        design.yMax = span;
        design.title = sheet_.name + ": " + r.def->id + " (analog input, " + count + u8", ±" + fmtNumber("%g", span) + " V)";
    }
    return design;
}

bool Experiment::openRecordings() {
    for (ModuleRun& r : runs_) {
        r.recording.reset();
        r.csv = nullptr;
        r.chart = nullptr;
        r.recordingEnded = false;
        r.recordingError.clear();
        r.recordedRows = 0;
    }
    for (ModuleRun& r : runs_) {
        if (!r.recorded) continue;
        auto csv = std::make_unique<CsvSink>(r.csvPath);
        if (!csv->open(error_)) {
            error_ = "recording of " + r.def->id + ": " + error_;
            for (ModuleRun& other : runs_) other.recording.reset();
            return false;
        }
        r.csv = csv.get();
        r.recording = std::make_unique<SampleJoiner>(r.channels.size(), samplesLimit_);
        r.recording->addSink(std::move(csv));
        if (writeCharts_ || live_) {
            auto chart = std::make_unique<ChartSink>(chartDesignOf(r), r.chartPath);
            r.chart = chart.get();
            if (live_) live_->add(r.chart);
            r.recording->addSink(std::move(chart));
        }
        std::vector<std::string> labels;
        for (const ChannelStats& st : r.channels) labels.push_back(st.label);
        r.recording->begin(labels);
    }
    return true;
}

// Every recording is ended, whatever another one reports.
void Experiment::endRecordings() {
    for (ModuleRun& r : runs_) {
        if (!r.recording || r.recordingEnded) continue;
        r.recordingEnded = true;
        std::string why;
        if (!r.recording->end(why)) r.recordingError = why;
        r.recordedRows = r.csv ? r.csv->rows() : 0;
    }
}

bool Experiment::writeRecordings(std::string& error) {
    endRecordings();
    std::string reasons;
    for (const ModuleRun& r : runs_) {
        if (!r.recorded) continue;
        if (!r.recording) reasons += (reasons.empty() ? "" : "; ") + ("recording of " + r.def->id + " was never started");
        else if (!r.recordingError.empty())
            reasons += (reasons.empty() ? "" : "; ") + ("recording of " + r.def->id + ": " + r.recordingError);
    }
    if (reasons.empty()) return true;
    error = reasons;
    return false;
}

}  // namespace velk
