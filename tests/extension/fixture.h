// The common ground of the extension tests: a Velk stand-in with the real
// extension and the simulated driver, a configured card, helpers to answer the
// device selection dialog as a user would, and the leak check after each test.
#pragma once

#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <memory>
#include <string>

#include "simcard/vyttk17_sim.h"
#include "velk/host.h"
#include "velk/ui_driver.h"

namespace exttest {

constexpr char kAnalog[] = "KA:MMTK17";
constexpr char kDigitalIn[] = "KA:MMTK17DI";
constexpr char kDigitalOut[] = "KA:MMTK17DO";
constexpr char kDeviceDialogTitle[] = "ハードウェア選択";

// One card in socket 0 on the virtual clock, scan counters on the analog inputs.
constexpr char kOneVirtualCard[] =
    "[card 0]\nio_address = 0x300\nio_length = 16\nclock = virtual\n"
    "ai0 = scan start=0 step=1\nai1 = scan start=1000 step=1\nai2 = scan start=2000 step=1\n"
    "ai3 = scan start=3000 step=1\ndin = fixed 0x0A\n";

inline std::string ReadText(HWND window) {
    char text[256];
    text[0] = 0;
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

inline std::string ItemText(HWND dialog, int id) { return ReadText(GetDlgItem(dialog, id)); }

class ExtensionTest : public ::testing::Test {
protected:
    // Configures the simulated card, starts a host and runs SetupVelkDLL.
    int32_t StartHost(const char* cardConfig = kOneVirtualCard, velk::HostOptions options = velk::HostOptions()) {
        SetEnvironmentVariableA("VYTTK17_CONFIG_TEXT", cardConfig);
        options.warnings = velk::WarningOutput::None;
        host_ = std::make_unique<velk::Host>(options);
        if (!host_->load()) {
            ADD_FAILURE() << "extension not loaded: " << host_->loadError();
            return -1;
        }
        return host_->setup();
    }

    velk::Host& host() { return *host_; }

    SimApi Sim() { return SimApi::from(GetModuleHandleA("vyttk17.dll")); }

    // Creates a module while an operator answers the device selection dialog
    // with `answer` (run on the operator's thread with the dialog's window).
    ModuleRecord* CreateAnswering(const char* classId, std::function<void(HWND)> answer,
                                  const velk::NewModule& how = velk::NewModule(), DWORD waitMs = 10000) {
        velk::ui::Operator op([answer, waitMs] {
            HWND dialog = velk::ui::waitForWindow(kDeviceDialogTitle, waitMs);
            if (dialog == nullptr) return;
            answer(dialog);
        });
        return host_->createModule(classId, how);
    }

    // Creates a module choosing list line `line` by a click and OK.
    ModuleRecord* CreateOnLine(const char* classId, int line = 0, const velk::NewModule& how = velk::NewModule()) {
        return CreateAnswering(
            classId,
            [line](HWND dialog) {
                velk::ui::selectListLine(GetDlgItem(dialog, 103), line);
                velk::ui::clickButton(dialog, IDOK);
            },
            how);
    }

    std::vector<std::string> Events() { return host_->events(); }

    // Position of the first event starting with `prefix`, or -1.
    int EventIndex(const std::string& prefix) {
        std::vector<std::string> events = host_->events();
        for (size_t i = 0; i < events.size(); ++i)
            if (events[i].compare(0, prefix.size(), prefix) == 0) return static_cast<int>(i);
        return -1;
    }

    void TearDown() override {
        if (!host_) return;
        host_->finish();
        EXPECT_EQ(host_->allocator().liveCount(), 0u) << host_->allocator().liveReport();
        EXPECT_TRUE(host_->allocator().errors().empty());
        EXPECT_EQ(host_->liveFontCount(), 0u);
        EXPECT_TRUE(host_->unexpectedCalls().empty());
        host_.reset();
        EXPECT_EQ(GetModuleHandleA("vyttk17.dll"), nullptr) << "the driver must be unloaded at finish";
    }

    std::unique_ptr<velk::Host> host_;
};

}  // namespace exttest
