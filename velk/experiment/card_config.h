// The simulated card's configuration for a worksheet's run. Inline [card N] and
// [fault] sections are written to a file of their own (an environment variable
// cannot hold a long one) and handed to the driver with VYTTK17_CONFIG, as a
// driver_config file is. Once the extension has loaded the driver, the driver is
// asked whether it took that configuration and what was wrong with it, and a
// mistake is reported with the worksheet's (or the file's) name and line before
// anything is built.
#pragma once

#include "velk/worksheet/worksheet.h"

#include <windows.h>

#include <string>

namespace velk {

class CardConfiguration {
public:
    explicit CardConfiguration(const Worksheet& sheet) : sheet_(sheet) {}
    // Removes the file it wrote and puts the environment back as it found it.
    ~CardConfiguration();
    CardConfiguration(const CardConfiguration&) = delete;
    CardConfiguration& operator=(const CardConfiguration&) = delete;

    // Puts the configuration where the driver will look when it is loaded. False
    // with the reason when that cannot be done.
    bool arrange(std::string& error);
    // The driver's verdict once it is loaded: false with "<file>:<line>: <reason>"
    // when it could not use the configuration or used another one. A driver
    // without the simulated card's control functions is not asked.
    bool check(HMODULE driver, std::string& error) const;
    // Where the configuration comes from, for the run's report.
    std::string describe() const;
    // The file handed to the driver (empty when the driver finds its own).
    const std::string& file() const { return file_; }

private:
    struct Saved {
        bool set = false;
        std::string value;
    };

    const Worksheet& sheet_;
    std::string file_;       // what VYTTK17_CONFIG names
    bool wroteFile_ = false;  // file_ is ours, made from inline sections
    // The variables as they were before arrange(), put back at the end of the run.
    bool changedEnvironment_ = false;
    Saved text_, path_;
};

}  // namespace velk
