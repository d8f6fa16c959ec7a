#include "velk/recording/chart_sink.h"

#include <string.h>

namespace velk {

void ChartSink::begin(const std::vector<std::string>& labels) {
    std::lock_guard<std::mutex> lock(mutex_);
    design_.channelLabels = labels;
    chart_ = std::make_unique<Chart>(design_);
}

void ChartSink::row(double time, const float* values, size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!chart_) return;
    for (size_t c = 0; c < count; ++c) chart_->add(static_cast<uint32_t>(c), time, 0.0, values + c, 1);
}

bool ChartSink::end(std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (path_.empty() || !chart_) return true;
    written_ = chart_->writePng(path_);
    if (!written_) error = "the chart " + path_ + " could not be written";
    return written_;
}

std::unique_ptr<Chart> ChartSink::snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return chart_ ? std::make_unique<Chart>(*chart_) : nullptr;
}

std::string chartPathFor(const std::string& csvPath) {
    const size_t slash = csvPath.find_last_of("\\/");
    const size_t dot = csvPath.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
        _stricmp(csvPath.c_str() + dot, ".csv") == 0)
        return csvPath.substr(0, dot) + ".png";
    return csvPath + ".png";
}

}  // namespace velk
