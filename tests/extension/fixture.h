// The common ground of the extension tests: a Velk stand-in with the real
// extension and the simulated driver, a configured card, helpers to answer the
// device selection dialog as a user would, and the leak check after each test.
#pragma once

#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "simcard/vyttk17_sim.h"
#include "velk/common/text.h"
#include "velk/host/host.h"
#include "velk/dialogs/dialog_operator.h"

namespace exttest {

constexpr char kAnalog[] = "KA:MMTK17";
constexpr char kDigitalIn[] = "KA:MMTK17DI";
constexpr char kDigitalOut[] = "KA:MMTK17DO";
constexpr char kDeviceDialogTitle[] = "ハードウェア選択";
constexpr char kAnalogDialogTitle[] = "VYT-TK17 アナログ入力";
constexpr char kAboutTitle[] = "このﾓｼﾞｭｰﾙについて";

// One card in socket 0 on the virtual clock, scan counters on the analog inputs.
constexpr char kOneVirtualCard[] =
    "[card 0]\nio_address = 0x300\nio_length = 16\nclock = virtual\n"
    "ai0 = scan start=0 step=1\nai1 = scan start=1000 step=1\nai2 = scan start=2000 step=1\n"
    "ai3 = scan start=3000 step=1\ndin = fixed 0x0A\n";

// The controls every setup dialog has, and the copy requests it answers.
constexpr int kLess = 23000;
constexpr int kMore = 23001;
constexpr int kChannel0 = 23002;
constexpr int kModuleName = 23018;
constexpr int kModuleComment = 23019;
constexpr int kSelectedNumber = 23020;
constexpr int kChannelName = 23021;
constexpr UINT kCopyIfNameActive = 1031;
constexpr UINT kCopyName = 1032;

// Default name of channel n as the classes write it at creation.
inline std::string DefaultName(int channel) { return "ﾁｬﾝﾈﾙ " + std::to_string(channel); }

inline std::string ReadText(HWND window) {
    char text[256];
    text[0] = 0;
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

inline std::string ItemText(HWND dialog, int id) { return ReadText(GetDlgItem(dialog, id)); }

// ---- Operating the setup dialogs from an Operator script. All of these may be
// called from the operator's thread; each input is settled before it returns, so
// the dialog has reacted to it when the script reads the result.
namespace dialog {

inline uint16_t State(HWND dialog, int id) { return static_cast<uint16_t>(GetWindowWord(GetDlgItem(dialog, id), 0)); }
inline std::string Text(HWND dialog, int id) { return velk::ui::windowText(GetDlgItem(dialog, id)); }
inline bool Click(HWND dialog, int id) { return velk::ui::clickButton(dialog, id) && velk::ui::settle(dialog); }
inline bool Type(HWND dialog, int id, const char* text) {
    return velk::ui::typeText(GetDlgItem(dialog, id), text) && velk::ui::settle(dialog);
}
inline bool Key(HWND dialog, UINT key) { return velk::ui::pressKey(dialog, key) && velk::ui::settle(dialog); }
inline GUITHREADINFO ThreadInfo(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info;
}
inline HWND Focus(HWND window) { return ThreadInfo(window).hwndFocus; }
inline HWND Capture(HWND window) { return ThreadInfo(window).hwndCapture; }

// Fails the script with both values when they differ.
template <class A, class B>
bool Same(velk::ui::Operator& op, const A& actual, const B& expected, const std::string& what) {
    if (actual == expected) return true;
    std::ostringstream text;
    text << what << ": got " << actual << ", expected " << expected;
    op.fail(text.str());
    return false;
}

}  // namespace dialog

// Runs functions on the thread that made it, asked from any thread: a message-only
// window of that thread takes them by SendMessage, so they run while the thread
// dispatches messages, for example inside a dialog's modal loop, exactly like
// Velk's own reactions to its menu or timers.
class UiThreadCall {
public:
    UiThreadCall() {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "ExtTestUiThreadCall";
        RegisterClassA(&wc);
        window_ = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    }
    ~UiThreadCall() {
        if (window_) DestroyWindow(window_);
    }
    UiThreadCall(const UiThreadCall&) = delete;
    UiThreadCall& operator=(const UiThreadCall&) = delete;
    // False when the thread did not run it within one operator step's deadline.
    bool run(const std::function<void()>& f) const {
        DWORD_PTR result = 0;
        return window_ &&
               SendMessageTimeoutA(window_, kRun, 0, reinterpret_cast<LPARAM>(&f), SMTO_NORMAL,
                                   velk::ui::kDefaultTimeoutMs, &result) != 0 &&
               result == 1;
    }

private:
    static constexpr UINT kRun = WM_APP + 0x2B7;
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message != kRun) return DefWindowProcA(window, message, wParam, lParam);
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return 1;
    }
    HWND window_ = nullptr;
};

// Records the messages sent (SendMessage, not posted) to windows of the thread that
// made it and accepted by the filter: a WH_CALLWNDPROC hook of that thread. One
// spy at a time; read from any thread.
struct SentMessage {
    HWND to;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class MessageSpy {
public:
    using Filter = std::function<bool(const CWPSTRUCT&)>;
    explicit MessageSpy(Filter filter) : filter_(std::move(filter)) {
        current() = this;
        hook_ = SetWindowsHookExA(WH_CALLWNDPROC, Hook, nullptr, GetCurrentThreadId());
    }
    ~MessageSpy() {
        if (hook_) UnhookWindowsHookEx(hook_);
        current() = nullptr;
    }
    MessageSpy(const MessageSpy&) = delete;
    MessageSpy& operator=(const MessageSpy&) = delete;
    bool installed() const { return hook_ != nullptr; }
    // What was recorded since the last take().
    std::vector<SentMessage> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<SentMessage> seen;
        seen.swap(seen_);
        return seen;
    }

private:
    static MessageSpy*& current() {
        static MessageSpy* spy = nullptr;
        return spy;
    }
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        MessageSpy* spy = current();
        if (code == HC_ACTION && spy) {
            const CWPSTRUCT& sent = *reinterpret_cast<const CWPSTRUCT*>(lParam);
            if (spy->filter_(sent)) {
                std::lock_guard<std::mutex> lock(spy->mutex_);
                spy->seen_.push_back({sent.hwnd, sent.message, sent.wParam, sent.lParam});
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    Filter filter_;
    HHOOK hook_ = nullptr;
    std::mutex mutex_;
    std::vector<SentMessage> seen_;
};

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
        velk::ui::Operator op([answer, waitMs](velk::ui::Operator& o) {
            HWND dialog = velk::ui::waitForWindow(kDeviceDialogTitle, waitMs);
            if (dialog == nullptr) return;
            // The answer is to close the dialog; one that stays open fails the test.
            o.watch(dialog, kDeviceDialogTitle);
            answer(dialog);
        });
        ModuleRecord* m = host_->createModule(classId, how);
        EXPECT_TRUE(op.join()) << op.report();
        return m;
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

    std::vector<std::string> Events() { return host_->log().events(); }

    // A host on `cardConfig` with Velk's sample period and block size set, and an
    // analog input module with `channels` channels on its first listed card.
    ModuleRecord* CreateAnalog(uint32_t channels, double periodMs, uint32_t blockSize,
                               const char* cardConfig = kOneVirtualCard) {
        if (StartHost(cardConfig) != 1) return nullptr;
        host().setSamplePeriodMs(periodMs);
        host().setBlockSize(blockSize);
        velk::NewModule how;
        how.outputCount = channels;
        return CreateOnLine(kAnalog, 0, how);
    }

    // An analog input module with `channels` channels on the first listed card.
    ModuleRecord* CreateAnalogModule(uint32_t channels, const char* name = "", const char* comment = "") {
        velk::NewModule how;
        how.outputCount = channels;
        how.name = name;
        how.comment = comment;
        return CreateOnLine(kAnalog, 0, how);
    }

    // Opens the module's setup dialog (class code 103, modal on this thread) while an
    // operator runs `script` with the dialog's window. The script is to close the
    // dialog; one that leaves it open fails and the dialog is cancelled. Gives the
    // class callback's result.
    using DialogScript = std::function<void(velk::ui::Operator&, HWND)>;
    int32_t RunSetupDialog(ModuleRecord* m, DialogScript script, const char* title = kAnalogDialogTitle) {
        HWND mainWindow = host_->mainWindow();
        velk::ui::Operator op([&](velk::ui::Operator& o) {
            HWND dialog = o.waitFor(title);
            if (dialog == nullptr) return;
            script(o, dialog);
            velk::ui::settle(mainWindow);
            // A modal dialog that ended is destroyed before its thread takes the next
            // posted message, so after the settle it is gone.
            if (IsWindow(dialog)) o.fail("the script left the dialog open");
        });
        const int32_t result = host_->setupModule(m);
        EXPECT_TRUE(op.join()) << op.report();
        return result;
    }

    // Runs the setup code while watching for a dialog with `title` that should not
    // stay on screen (it is dismissed and the test fails if it shows). Gives the
    // class callback's result.
    int32_t RunSetupExpectingNoDialog(ModuleRecord* m, const char* title) {
        std::atomic<bool> returned(false);
        velk::ui::Operator guard([&](velk::ui::Operator& op) {
            while (!returned) {
                HWND dlg = velk::ui::findWindow(title);
                if (dlg && IsWindowVisible(dlg)) {
                    op.fail(std::string("a dialog showed: ") + title);
                    velk::ui::dismissDialogs(op.uiThread());
                }
                Sleep(5);
            }
        });
        const int32_t result = host_->setupModule(m);
        returned = true;
        EXPECT_TRUE(guard.join()) << guard.report();
        return result;
    }

    // The allocator's log for one source tag: "Alloc 80 256", "Free 274 256".
    std::vector<std::string> AllocationLog(const std::string& tag) {
        std::vector<std::string> log;
        for (const velk::AllocationEvent& e : host_->allocator().events()) {
            if (e.tag != tag) continue;
            const char* kind = e.kind == velk::AllocationEvent::Kind::Alloc  ? "Alloc"
                               : e.kind == velk::AllocationEvent::Kind::Free ? "Free"
                                                                             : "Other";
            log.push_back(std::string(kind) + " " + std::to_string(e.line) + " " + std::to_string(e.size));
        }
        return log;
    }

    // An experiment start and stop as Velk makes them for one module.
    int32_t StartRun(ModuleRecord* m) {
        host_->setRunning(1);
        return host_->callClass(m, 106);
    }
    void StopRun(ModuleRecord* m) {
        EXPECT_EQ(host_->callClass(m, 107), 1);
        host_->setRunning(0);
    }

    // Position of the first event starting with `prefix`, or -1.
    int EventIndex(const std::string& prefix) {
        std::vector<std::string> events = host_->log().events();
        for (size_t i = 0; i < events.size(); ++i)
            if (events[i].compare(0, prefix.size(), prefix) == 0) return static_cast<int>(i);
        return -1;
    }

    void TearDown() override {
        if (!host_) return;
        host_->finish();
        EXPECT_EQ(host_->allocator().liveCount(), 0u) << host_->allocator().liveReport();
        EXPECT_TRUE(host_->allocator().errors().empty());
        // Every misuse of Velk's records, blocks and calls the host noticed fails the test.
        for (const std::string& e : host_->log().errors()) ADD_FAILURE() << "misuse of Velk: " << velk::cp932ToUtf8(e);
        EXPECT_EQ(host_->liveFontCount(), 0u);
        EXPECT_TRUE(host_->log().unexpectedCalls().empty());
        host_.reset();
        EXPECT_EQ(GetModuleHandleA("vyttk17.dll"), nullptr) << "the driver must be unloaded at finish";
    }

    std::unique_ptr<velk::Host> host_;
};

}  // namespace exttest
