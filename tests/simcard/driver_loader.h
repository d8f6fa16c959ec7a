// Loading the simulated driver by full path for its own tests, a message-only window
// that collects the driver's notifications, and the common fixture.
#pragma once

#include "abi/tk17_abi.h"
#include "simcard/vyttk17_sim.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace simtest {

// Folder of the running test program, with a trailing backslash.
inline std::string exeDir()
{
    char path[MAX_PATH * 2];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string p(path, n);
    return p.substr(0, p.find_last_of("\\/") + 1);
}

inline std::string driverPath() { return exeDir() + "driver\\vyttk17.dll"; }
inline std::string noVersionDriverPath() { return exeDir() + "driver-noversion\\vyttk17.dll"; }

// A fresh, empty folder under the temporary folder, with a trailing backslash; removed
// when the test passes, kept and named when it fails.
inline std::string makeTempDir() { return velktest::NewTempFolder("simcard-test") + "\\"; }

inline void writeFile(const std::string& path, const std::string& text)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(f);
}

// The environment variables the driver reads at load; cleared so that a test sees
// only what it sets itself.
inline void clearConfigEnvironment()
{
    SetEnvironmentVariableA("VYTTK17_CONFIG_TEXT", nullptr);
    SetEnvironmentVariableA("VYTTK17_CONFIG", nullptr);
}

// One loaded driver: module handle, the twelve operations and the control exports.
struct LoadedDriver {
#define SIMTEST_MEMBER(name) name##Fn name = nullptr;
    TK17_OPERATION_NAMES(SIMTEST_MEMBER)
#undef SIMTEST_MEMBER
    HMODULE module = nullptr;
    SimApi sim;

    explicit LoadedDriver(const std::string& path)
    {
        module = LoadLibraryA(path.c_str());
        if (!module) return;
#define SIMTEST_RESOLVE(name) \
        name = reinterpret_cast<name##Fn>(reinterpret_cast<void*>(GetProcAddress(module, #name)));
        TK17_OPERATION_NAMES(SIMTEST_RESOLVE)
#undef SIMTEST_RESOLVE
        sim = SimApi::from(module);
    }
    ~LoadedDriver()
    {
        if (module) FreeLibrary(module);
    }
    LoadedDriver(const LoadedDriver&) = delete;
    LoadedDriver& operator=(const LoadedDriver&) = delete;

    bool complete() const
    {
        bool all = module != nullptr && sim.ok();
#define SIMTEST_CHECK(name) all = all && name != nullptr;
        TK17_OPERATION_NAMES(SIMTEST_CHECK)
#undef SIMTEST_CHECK
        return all;
    }

    std::string lastError() const
    {
        char text[512] = {};
        sim.LastError(text, sizeof text);
        return text;
    }
    std::string configSource() const
    {
        char text[512] = {};
        sim.ConfigSource(text, sizeof text);
        return text;
    }
    std::string callLog() const
    {
        int32_t n = sim.GetCallLog(nullptr, 0);
        std::string text(static_cast<size_t>(n) + 1, '\0');
        sim.GetCallLog(&text[0], static_cast<uint32_t>(text.size()));
        text.resize(static_cast<size_t>(n));
        return text;
    }
    // Tk17Create for `socket`, as the extension calls it.
    int32_t open(uint32_t socket, HWND window = nullptr, uint32_t message = TK17_MSG_CARD_REMOVED)
    {
        uint32_t cell = socket;
        return Tk17Create(&cell, window, message, 0);
    }
};

// A message-only window; the driver's notifications posted to it are collected with
// take(), which pumps this thread's queue for the window.
class MessageWindow {
public:
    MessageWindow()
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "SimcardTestSink";
        RegisterClassA(&wc);  // fails harmlessly when already registered
        hwnd_ = CreateWindowExA(0, "SimcardTestSink", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    }
    ~MessageWindow()
    {
        if (hwnd_) DestroyWindow(hwnd_);
    }
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    HWND hwnd() const { return hwnd_; }

    // Notifications received since the last call: (message, wParam) pairs in order.
    std::vector<std::pair<UINT, WPARAM>> take()
    {
        std::vector<std::pair<UINT, WPARAM>> got;
        MSG m;
        while (PeekMessageA(&m, hwnd_, 0, 0, PM_REMOVE)) {
            if (m.message >= WM_USER) got.emplace_back(m.message, m.wParam);
            else DispatchMessageA(&m);
        }
        return got;
    }

private:
    HWND hwnd_ = nullptr;
};

inline Tk17Mode makeMode(int32_t range, int32_t first, int32_t last, int32_t interval, int32_t bufferBytes = 262144,
                         int32_t decimation = 1)
{
    Tk17Mode m;
    m.range = range;
    m.firstChannel = first;
    m.lastChannel = last;
    m.interval = interval;
    m.reserved16 = 0;
    m.reserved20 = 1;
    m.driverBufferSize = bufferBytes;
    m.decimation = decimation;
    return m;
}

// Volts the extension derives from a code: code x S / 4096 - S / 2.
inline double codeToVolts(uint16_t code, int32_t range)
{
    double span = range == 0 ? 20.0 : 10.0;
    return code * span / 4096.0 - span / 2.0;
}

// The driver of the build, loaded afresh for each test with the configuration
// environment cleared.
class DriverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        clearConfigEnvironment();
        driver_ = new LoadedDriver(driverPath());
        ASSERT_TRUE(driver_->complete()) << "cannot load " << driverPath();
    }
    void TearDown() override { delete driver_; }

    LoadedDriver& d() { return *driver_; }
    const SimApi& sim() { return driver_->sim; }

    void configure(const char* text) { ASSERT_EQ(1, sim().Configure(text)) << d().lastError(); }

    // Opens the card and starts sampling with `mode`.
    void start(uint16_t socket, const Tk17Mode& mode)
    {
        ASSERT_EQ(1, d().open(socket));
        Tk17Mode m = mode;
        ASSERT_EQ(1, d().Tk17SetMode(socket, &m)) << "error " << d().Tk17GetLastError(socket);
        ASSERT_EQ(1, d().Tk17StartSampling(socket)) << "error " << d().Tk17GetLastError(socket);
    }

    std::vector<uint16_t> read(uint16_t socket, uint32_t count)
    {
        std::vector<uint16_t> codes(count, 0xFFFF);
        EXPECT_EQ(1, d().Tk17GetData(socket, codes.data(), count)) << "error " << d().Tk17GetLastError(socket);
        return codes;
    }

private:
    LoadedDriver* driver_ = nullptr;
};

}  // namespace simtest
