// Recordings written as the data arrive. A module's channels deliver their blocks
// one after another; a SampleJoiner puts their samples side by side by sample
// number and hands each row on as soon as every channel has passed it, so that
// memory holds only the rows still waiting for a channel (bounded: a channel that
// falls further behind has its rows written without it). Rows go to RowSinks: the
// CSV file now, and any other consumer of the same rows (a chart writer) later.
//
//   SampleJoiner j(channels, rowLimit);
//   j.addSink(std::make_unique<CsvSink>(path));   // opened before the run
//   j.begin(labels);
//   j.add(channel, firstSampleNumber, samples, count, startTime, sampleDistance);
//   j.end(error);                                 // every pending row, then the sinks
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace velk {

// Takes the joined rows of one recorded module.
class RowSink {
public:
    virtual ~RowSink() = default;
    // Once, before the rows: the channel labels (UTF-8).
    virtual void begin(const std::vector<std::string>& labels) = 0;
    // One sample time: its time stamp and one value per channel, NaN where a channel
    // has no sample at that time.
    virtual void row(double time, const float* values, size_t count) = 0;
    // After the last row: writes out what is pending. False with the reason when
    // anything did not reach its destination.
    virtual bool end(std::string& error) = 0;
};

// The CSV file of a recording: "time_s,<labels>" and one line per row, each number
// the shortest text that reads back as the same value (the time a double, the
// samples floats), empty cells for missing samples. Written in pieces
// of 64 KB as the rows come; a failed write is remembered and reported at the end.
class CsvSink : public RowSink {
public:
    explicit CsvSink(std::string path) : path_(std::move(path)) {}
    ~CsvSink() override;
    // Creates (or empties) the file.
    bool open(std::string& error);
    void begin(const std::vector<std::string>& labels) override;
    void row(double time, const float* values, size_t count) override;
    bool end(std::string& error) override;
    const std::string& path() const { return path_; }
    uint64_t rows() const { return rows_; }

private:
    void write(bool all);

    std::string path_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::string pending_;
    uint64_t rows_ = 0;
    DWORD failure_ = 0;       // the first write error
    uint64_t failedAtRow_ = 0;
};

class SampleJoiner {
public:
    // Rows held while a channel lags, at most; 262144 rows of 8 channels are 10 MB.
    static constexpr size_t kDefaultMaxPendingRows = 262144;

    // `rowLimit`: samples numbered from it on are not recorded (beyond the duration).
    SampleJoiner(size_t channels, uint64_t rowLimit, size_t maxPendingRows = kDefaultMaxPendingRows);

    void addSink(std::unique_ptr<RowSink> sink) { sinks_.push_back(std::move(sink)); }
    RowSink* sink(size_t i) const { return i < sinks_.size() ? sinks_[i].get() : nullptr; }

    void begin(const std::vector<std::string>& labels);
    // `count` samples of `channel` with sample numbers from `first` on; sample j was
    // taken at startTime + j x distance.
    void add(uint32_t channel, uint64_t first, const float* values, size_t count, double startTime, double distance);
    // Hands on every row still held and ends the sinks; false with every reason
    // (all sinks are ended, whatever one of them reports).
    bool end(std::string& error);

    uint64_t rowsOut() const { return out_; }
    size_t pendingRows() const { return times_.size(); }
    size_t pendingHighWater() const { return highWater_; }
    uint64_t lateSamples() const { return late_; }

private:
    void emitFront();
    void emitReady();

    size_t channels_;
    uint64_t rowLimit_;
    size_t maxPending_;
    std::vector<std::unique_ptr<RowSink>> sinks_;
    std::vector<uint64_t> reached_;  // per channel: one past the highest sample number delivered
    uint64_t out_ = 0;               // sample number of the first row held
    std::deque<double> times_;       // per row held: its time, NaN while no channel has it
    std::deque<float> values_;       // per row held: one value per channel
    std::vector<float> row_;         // the row being handed on
    size_t highWater_ = 0;
    uint64_t late_ = 0;              // samples of rows already handed on
    bool ended_ = false;
};

}  // namespace velk
