// The record of what the extension did with Velk: an ordered event log, the faults
// in its use of Velk, unexpected calls, warnings shown and stop requests. Written on
// the Host's thread; every accessor is safe from a helper thread (a UI operator).
#pragma once

#include "velk/host/host_types.h"

#include <mutex>
#include <string>
#include <vector>

namespace velk {

class HostLog {
public:
    // Ordered log: "DefineDllModule", "DefineDllVariable|name|size|1", "RegisterModuleClass|id",
    // "RegisterMenuEntry|4990", "PerformDefaultAction|code|v1|v2", "ChangeModuleSize|in|out",
    // "Alloc|tag|line", "AllocFailed|tag|line", "Free|tag|line", "BadFree|tag|line",
    // "ShowWarning|caption|text", "StopExperiment", "CreateStackedFontIndirect",
    // "DeleteStackedObject", "NewReleaseOutputBlock|tag|line", "NewReleaseInputBlock|tag|line",
    // "Unexpected|name". Texts are the code page 932 bytes as given.
    std::vector<std::string> events() const;
    void clearEvents();
    // Faults in the extension's use of Velk (bad frees, unknown channels, damaged
    // blocks, unexpected calls, ...), one text each, each once.
    std::vector<std::string> errors() const;
    std::vector<std::string> unexpectedCalls() const;
    std::vector<Warning> warnings() const;
    int stopRequests() const;
    bool stopRequested() const;
    void clearStopRequest();

    void event(const std::string& event);
    void error(const std::string& error);
    // An unexpected call: its event, its fault and its name.
    void unexpected(const std::string& name);
    // A warning shown: its event and the warning.
    void warning(const Warning& w);
    // StopExperiment: its event, counted, and the request raised.
    void stop();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    std::vector<std::string> errors_;
    std::vector<std::string> unexpected_;
    std::vector<Warning> warnings_;
    int stopRequests_ = 0;
    bool stopRequested_ = false;
};

}  // namespace velk
