// Shared helpers of the runner tests: an experiment built from worksheet text with
// its recordings in a fresh temporary folder, CSV reading, and the volts of raw codes.
#pragma once

#include <gtest/gtest.h>

#include "simcard/vyttk17_sim.h"
#include "tests/support/temp_folder.h"
#include "velk/experiment/runner.h"

#include <stdlib.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace runnertest {

// Volts of a 12-bit code in range 0 (±10 V) or 1 (±5 V).
inline float CodeVolts(int code, int range = 0) {
    const double span = range == 0 ? 20.0 : 10.0;
    return static_cast<float>(code * span / 4096 - span / 2);
}

// Removed when the test passes, kept and named when it fails.
inline std::string TempFolder(const std::string& name) { return velktest::NewTempFolder("velk-runner-" + name); }

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Csv {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
};

inline std::vector<std::string> SplitCells(const std::string& line) {
    std::vector<std::string> cells;
    std::string cell;
    for (char c : line) {
        if (c == ',') {
            cells.push_back(cell);
            cell.clear();
        } else if (c != '\r') {
            cell += c;
        }
    }
    cells.push_back(cell);
    return cells;
}

inline Csv ReadCsv(const std::string& path) {
    Csv csv;
    std::istringstream in(ReadText(path));
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
        if (first) csv.header = SplitCells(line);
        else csv.rows.push_back(SplitCells(line));
        first = false;
    }
    return csv;
}

class RunnerTest : public ::testing::Test {
protected:
    // Parses the worksheet (which must be valid) and prepares an experiment; the host
    // makes `roundsAfterStop` rounds of processing calls between a stop and code 107.
    bool Build(const std::string& text, bool expectPrepared = true, int roundsAfterStop = 0) {
        velk::WorksheetResult w = velk::parseWorksheet(text, "test.vws");
        EXPECT_TRUE(w.ok()) << w.error;
        if (!w.ok()) return false;
        velk::HostOptions options;
        options.warnings = velk::WarningOutput::None;
        options.roundsAfterStop = roundsAfterStop;
        exp_ = std::make_unique<velk::Experiment>(w.sheet, options);
        out_ = TempFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
        exp_->setOutputDir(out_);
        const bool ok = exp_->prepare();
        if (expectPrepared) {
            EXPECT_TRUE(ok) << exp_->error();
        }
        return ok;
    }
    velk::Experiment& E() { return *exp_; }
    SimApi Sim() { return SimApi::from(GetModuleHandleA("vyttk17.dll")); }
    std::string Out(const std::string& file) { return out_ + "\\" + file; }
    const velk::ChannelStats& Stats(const std::string& module, size_t channel) {
        return E().moduleRun(module)->channels.at(channel);
    }
    std::string Summary() {
        std::ostringstream s;
        E().printSummary(s);
        return s.str();
    }

    void TearDown() override {
        if (!exp_) return;
        exp_->finish();
        if (!exp_->hasHost()) {  // refused before anything was loaded
            exp_.reset();
            return;
        }
        EXPECT_EQ(exp_->liveAllocationsAfterFinish(), 0u) << exp_->host().allocator().liveReport();
        EXPECT_TRUE(exp_->host().log().errors().empty()) << (exp_->host().log().errors().empty() ? "" : exp_->host().log().errors()[0]);
        EXPECT_TRUE(exp_->host().log().unexpectedCalls().empty());
        exp_.reset();
        EXPECT_EQ(GetModuleHandleA("vyttk17.dll"), nullptr);
    }

    std::unique_ptr<velk::Experiment> exp_;
    std::string out_;
};

}  // namespace runnertest
