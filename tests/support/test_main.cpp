// The main of every test program.
//
// The suite's windows and dialogs live on a desktop of the process's own, so that
// suites and velk.exe runs working at the same time in one Wine prefix cannot take
// focus, capture or activation from each other.
//
// A watchdog ends the process when one test runs longer than its limit, naming the
// test, so that a hang fails at once with its name instead of at the suite's time
// limit. The limit is 60 s per test, times VELK_TEST_TIME_SCALE (the test command sets
// it where the i686 build runs emulated).
//
// Temporary folders made with velktest::NewTempFolder go when their test passes and
// stay, with their paths printed, when it fails or hangs.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "tests/support/temp_folder.h"
#include "velk/common/desktop.h"

namespace {

class Watchdog : public ::testing::EmptyTestEventListener {
public:
    explicit Watchdog(ULONGLONG limitMs) : limitMs_(limitMs) {
        CreateThread(nullptr, 0, &Watchdog::watch, this, 0, nullptr);
    }
    void OnTestStart(const ::testing::TestInfo& test) override {
        std::lock_guard<std::mutex> lock(mutex_);
        name_ = std::string(test.test_suite_name()) + "." + test.name();
        started_ = GetTickCount64();
        running_ = true;
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
    }

private:
    static DWORD WINAPI watch(void* self) {
        auto* w = static_cast<Watchdog*>(self);
        for (;;) {
            Sleep(500);
            std::lock_guard<std::mutex> lock(w->mutex_);
            if (w->running_ && GetTickCount64() - w->started_ > w->limitMs_) {
                std::fprintf(stderr, "\nwatchdog: %s has run for more than %llu s: hung; the suite stops here\n",
                             w->name_.c_str(), static_cast<unsigned long long>(w->limitMs_ / 1000));
                velktest::tempfolders::Print(w->name_, stderr);
                std::fflush(stdout);
                std::fflush(stderr);
                TerminateProcess(GetCurrentProcess(), 3);
            }
        }
    }
    ULONGLONG limitMs_;
    std::mutex mutex_;
    std::string name_;
    ULONGLONG started_ = 0;
    bool running_ = false;
};

ULONGLONG perTestLimitMs() {
    double scale = 1;
    if (const char* s = std::getenv("VELK_TEST_TIME_SCALE")) {
        const double v = std::atof(s);
        if (v > 0) scale = v;
    }
    return static_cast<ULONGLONG>(60000 * scale);
}

}  // namespace

int main(int argc, char** argv) {
    velk::ui::useOwnDesktop();
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new Watchdog(perTestLimitMs()));
    ::testing::UnitTest::GetInstance()->listeners().Append(new velktest::TempFolderCleanup);
    return RUN_ALL_TESTS();
}
