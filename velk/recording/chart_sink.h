// A recording's chart: a RowSink that folds the joined rows of a recorded module
// into a Chart as they arrive and writes it as a PNG file when the recording ends.
// The live view shows the same chart while the run goes.
#pragma once

#include "velk/recording/chart.h"
#include "velk/recording/recording.h"

#include <memory>
#include <mutex>
#include <string>

namespace velk {

class ChartSink : public RowSink {
public:
    // `design`'s channel labels are taken from begin(); `path` empty: no file.
    ChartSink(ChartDesign design, std::string path) : design_(std::move(design)), path_(std::move(path)) {}
    void begin(const std::vector<std::string>& labels) override;
    void row(double time, const float* values, size_t count) override;
    bool end(std::string& error) override;

    const std::string& path() const { return path_; }
    bool written() const { return written_; }
    // A copy of the chart as it stands, taken under the sink's lock (the live view
    // renders it on another thread).
    std::unique_ptr<Chart> snapshot() const;

private:
    ChartDesign design_;
    std::string path_;
    std::unique_ptr<Chart> chart_;
    mutable std::mutex mutex_;
    bool written_ = false;
};

// Where the chart of a recording goes: the CSV file's path with ".png" in place of
// ".csv" (or added, for another extension).
std::string chartPathFor(const std::string& csvPath);

}  // namespace velk
