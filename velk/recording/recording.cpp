#include "velk/recording/recording.h"

#include "velk/common/paths.h"
#include "velk/common/strings.h"
#include "velk/common/text.h"

#include <math.h>

#include <algorithm>

namespace velk {

namespace {
constexpr size_t kWritePiece = 65536;
}

CsvSink::~CsvSink() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

bool CsvSink::open(std::string& error) {
    file_ = CreateFileW(widePath(path_).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ != INVALID_HANDLE_VALUE) return true;
    error = "cannot write " + path_ + ": " + systemErrorText(GetLastError());
    return false;
}

void CsvSink::begin(const std::vector<std::string>& labels) {
    pending_ += "time_s";
    for (const std::string& label : labels) pending_ += "," + label;
    pending_ += "\n";
}

void CsvSink::row(double time, const float* values, size_t count) {
    appendNumber(pending_, time);
    for (size_t c = 0; c < count; ++c) {
        pending_ += ',';
        if (!isnan(values[c])) appendNumber(pending_, values[c]);
    }
    pending_ += '\n';
    ++rows_;
    if (pending_.size() >= kWritePiece) write(false);
}

void CsvSink::write(bool all) {
    if (failure_ == 0 && file_ != INVALID_HANDLE_VALUE) {
        const size_t n = all ? pending_.size() : pending_.size() - pending_.size() % kWritePiece;
        DWORD written = 0;
        if (n > 0 && (!WriteFile(file_, pending_.data(), static_cast<DWORD>(n), &written, nullptr) || written != n)) {
            failure_ = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
            failedAtRow_ = rows_;
        }
        pending_.erase(0, n);
    }
    if (failure_ != 0) pending_.clear();  // nothing more reaches the file
}

bool CsvSink::end(std::string& error) {
    if (file_ == INVALID_HANDLE_VALUE) {
        error = "cannot write " + path_ + ": it was never opened";
        return false;
    }
    write(true);
    if (!CloseHandle(file_) && failure_ == 0) {
        failure_ = GetLastError();
        failedAtRow_ = rows_;
    }
    file_ = INVALID_HANDLE_VALUE;
    if (failure_ == 0) return true;
    error = "cannot write " + path_ + ": " + systemErrorText(failure_) +
            "; it is incomplete (it holds at most the first " + std::to_string(failedAtRow_) + " of " +
            std::to_string(rows_) + " rows)";
    return false;
}

SampleJoiner::SampleJoiner(size_t channels, uint64_t rowLimit, size_t maxPendingRows)
    : channels_(channels), rowLimit_(rowLimit), maxPending_(maxPendingRows ? maxPendingRows : 1),
      reached_(channels, 0) {}

void SampleJoiner::begin(const std::vector<std::string>& labels) {
    for (auto& s : sinks_) s->begin(labels);
}

void SampleJoiner::emitFront() {
    const double time = times_.front();
    if (!isnan(time)) {
        row_.assign(values_.begin(), values_.begin() + static_cast<std::ptrdiff_t>(channels_));
        for (auto& s : sinks_) s->row(time, row_.data(), channels_);
    }
    times_.pop_front();
    values_.erase(values_.begin(), values_.begin() + static_cast<std::ptrdiff_t>(channels_));
    ++out_;
}

// Rows every channel has passed are complete.
void SampleJoiner::emitReady() {
    const uint64_t ready = channels_ ? *std::min_element(reached_.begin(), reached_.end()) : 0;
    while (out_ < ready && !times_.empty()) emitFront();
}

void SampleJoiner::add(uint32_t channel, uint64_t first, const float* values, size_t count, double startTime,
                       double distance) {
    if (ended_ || channel >= channels_) return;
    for (size_t j = 0; j < count; ++j) {
        const uint64_t k = first + j;
        if (k >= rowLimit_) break;
        if (k < out_) {
            ++late_;
            continue;
        }
        // A sample further ahead than the rows that may be held: the oldest rows go
        // out without the channels that have not reached them.
        while (k - out_ >= maxPending_) {
            if (times_.empty()) {
                out_ = k - maxPending_ + 1;
                break;
            }
            emitFront();
        }
        const size_t index = static_cast<size_t>(k - out_);
        while (times_.size() <= index) {
            times_.push_back(NAN);
            values_.insert(values_.end(), channels_, NAN);
        }
        values_[index * channels_ + channel] = values[j];
        if (isnan(times_[index])) times_[index] = startTime + static_cast<double>(j) * distance;
    }
    reached_[channel] = std::max(reached_[channel], std::min(first + count, rowLimit_));
    highWater_ = std::max(highWater_, times_.size());
    emitReady();
}

bool SampleJoiner::end(std::string& error) {
    if (ended_) return true;
    ended_ = true;
    while (!times_.empty()) emitFront();
    bool ok = true;
    std::string reasons;
    for (auto& s : sinks_) {
        std::string why;
        if (s->end(why)) continue;
        ok = false;
        reasons += (reasons.empty() ? "" : "; ") + why;
    }
    if (late_ > 0) {
        ok = false;
        reasons += (reasons.empty() ? "" : "; ") + std::to_string(late_) +
                   " samples arrived after their rows had been written (a channel fell more than " +
                   std::to_string(maxPending_) + " rows behind the others) and are not in the recording";
    }
    if (!ok) error = reasons;
    return ok;
}

}  // namespace velk
