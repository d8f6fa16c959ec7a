#include "velk/host/host_log.h"

#include <algorithm>

namespace velk {

std::vector<std::string> HostLog::events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

void HostLog::clearEvents() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
}

std::vector<std::string> HostLog::errors() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return errors_;
}

std::vector<std::string> HostLog::unexpectedCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return unexpected_;
}

std::vector<Warning> HostLog::warnings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return warnings_;
}

int HostLog::stopRequests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopRequests_;
}

bool HostLog::stopRequested() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopRequested_;
}

void HostLog::clearStopRequest() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopRequested_ = false;
}

void HostLog::event(const std::string& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
}

void HostLog::error(const std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::find(errors_.begin(), errors_.end(), error) == errors_.end()) errors_.push_back(error);
}

void HostLog::unexpected(const std::string& name) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        unexpected_.push_back(name);
    }
    event("Unexpected|" + name);
    error("unexpected call to " + name);
}

void HostLog::warning(const Warning& w) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        warnings_.push_back(w);
    }
    event("ShowWarning|" + w.caption + "|" + w.text);
}

void HostLog::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++stopRequests_;
        stopRequested_ = true;
    }
    event("StopExperiment");
}

}  // namespace velk
