// Operating modal dialogs as a user would. The thread that opens a dialog sits in
// the dialog's modal loop; an Operator runs a script on a helper thread that finds
// the dialog and feeds it mouse and keyboard messages. The input primitives post
// their messages into the dialog thread's queue, in order, so the controls and the
// modal loop (IsDialogMessage) react to them exactly as to real input: a button
// generates BN_CLICKED itself, a list box sends LBN_SELCHANGE itself, Enter and
// Esc reach the default and cancel buttons through the dialog manager.
//
// Posted input is handled later, when the dialog thread gets to it; settle() waits
// until everything posted so far has been handled.
#pragma once

#include "velk/common/desktop.h"

#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace velk::ui {

// The deadline of one step of operating a dialog (a window to appear, posted input to
// be handled, a dialog to close).
constexpr DWORD kDefaultTimeoutMs = 10000;
// The deadline of a whole operator script, a backstop behind the steps' own deadlines.
constexpr DWORD kScriptDeadlineMs = 120000;

// A top-level window of this process (visible or not) whose caption is exactly the
// given code page 932 text, once its thread is ready for input; null on timeout.
HWND waitForWindow(const char* captionCp932, DWORD timeoutMs = kDefaultTimeoutMs);
// The same, without waiting.
HWND findWindow(const char* captionCp932);
// The window's text as code page 932 bytes.
std::string windowText(HWND window);

// Left click at the centre of the dialog's control `id`. False when the control is
// missing, hidden or disabled (a user could not click it).
bool clickButton(HWND dialog, int id);
// Mouse input at client coordinates of the window. The double clicks send what the
// system sends: down, up, double click, up; for a class without CS_DBLCLKS the
// second press arrives as a plain button down.
bool clickAt(HWND window, int x, int y);
bool doubleClickAt(HWND window, int x, int y);
bool rightDoubleClickAt(HWND window, int x, int y);
// The halves of a click, for a press released elsewhere (coordinates may lie
// outside the window: the window that captured the mouse still gets the release).
bool leftButtonDown(HWND window, int x, int y);
bool leftButtonUp(HWND window, int x, int y);
// Click or double click on line `line` of a list box (scrolled into view first).
bool selectListLine(HWND list, int line);
bool doubleClickListLine(HWND list, int line);
// Key press (down and up) to the dialog's focused control, or to the dialog.
bool pressKey(HWND dialog, UINT virtualKey);
// Selects the edit control's whole text and types over it, one character message
// per byte as the system sends them to an ANSI window (a double-byte character as
// its lead byte, then its trail byte).
bool typeText(HWND edit, const char* textCp932);
// The close box of the caption (WM_SYSCOMMAND SC_CLOSE).
bool closeBox(HWND dialog);

// Waits until the thread that owns `window` has handled everything posted to it so
// far. Needs a sync point on that thread (made by installSyncPoint(); an Operator
// makes one on the thread that constructs it). False on timeout or without one.
bool settle(HWND window, DWORD timeoutMs = kDefaultTimeoutMs);
void installSyncPoint();

// Closes every dialog of the thread (Esc / IDCANCEL, then EndDialog), for a script
// that failed halfway so the modal loop it was driving returns.
void dismissDialogs(DWORD threadId);

// Runs a script on a helper thread. Construct it on the thread that will sit in the
// modal loop, then open the dialog; destroying (or join()ing) it waits for the
// script while dispatching this thread's messages.
//
// Every dialog the script found through waitFor() (or watch()) must be closed when
// the script ends: the operator waits for that (one step's deadline), and a dialog
// that stays open is a failure naming the dialog and the last step, and is
// cancelled, so the modal loop that shows it always returns. Failures name the
// dialog and the step that the script announced with step().
//
//   velk::ui::Operator op([](velk::ui::Operator& op) {
//       HWND dlg = op.waitFor("設定");
//       if (!dlg) return;
//       op.check(velk::ui::clickButton(dlg, IDOK), "OK");
//   });
//   DialogBoxParamA(...);
//   EXPECT_TRUE(op.join()) << op.report();
struct OperatorDeadlines {
    DWORD closeMs = kDefaultTimeoutMs;   // for a watched dialog to close after the script
    DWORD scriptMs = kScriptDeadlineMs;  // for the whole script
};

class Operator {
public:
    using Script = std::function<void(Operator&)>;
    using Deadlines = OperatorDeadlines;

    explicit Operator(Script script, bool dismissOnFailure = true, Deadlines deadlines = Deadlines());
    // A script that needs no access to the operator (no fail()/waitFor()).
    explicit Operator(std::function<void()> script, bool dismissOnFailure = true)
        : Operator(Script([script](Operator&) { script(); }), dismissOnFailure) {}
    ~Operator();
    Operator(const Operator&) = delete;
    Operator& operator=(const Operator&) = delete;

    // Waits for the script to end; true when it reported no failure.
    bool join();

    // From the script:
    void fail(const std::string& what);
    bool check(bool condition, const std::string& what) {
        if (!condition) fail(what);
        return condition;
    }
    // waitForWindow that reports a failure on timeout; the dialog found is watched.
    HWND waitFor(const char* captionCp932, DWORD timeoutMs = kDefaultTimeoutMs);
    // A dialog the script operates and must close by its end.
    void watch(HWND dialog, const char* captionCp932);
    // Names what the script does next, for the failures that follow.
    void step(const std::string& what);
    DWORD uiThread() const { return uiThread_; }

    bool ok() const;
    std::vector<std::string> failures() const;
    std::string report() const;

private:
    static DWORD WINAPI threadMain(void* self);
    void closeWatchedDialogs();

    struct Watched {
        HWND dialog;
        std::string caption;
    };

    Script script_;
    bool dismissOnFailure_;
    Deadlines deadlines_;
    DWORD uiThread_;
    HANDLE thread_ = nullptr;
    bool joined_ = false;
    mutable std::mutex mutex_;
    std::vector<std::string> failures_;
    std::vector<Watched> watched_;
    std::string caption_;
    std::string step_;
};

}  // namespace velk::ui
