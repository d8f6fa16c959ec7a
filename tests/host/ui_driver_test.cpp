// The UI driver's primitives against a real modal dialog, built from an in-memory
// template: buttons, edits, a list box and two pads of the test's own classes
// that record the mouse messages they get.
#include "velk/common/strings.h"
#include "velk/common/text.h"
#include "velk/dialogs/dialog_operator.h"

#include <gtest/gtest.h>

#include <windowsx.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace ui = velk::ui;

namespace {

const char kCaption[] = "テスト画面";  // code page 932 bytes, as every caption in this system

enum Control : int {
    kEdit = 200,
    kEdit2 = 201,
    kList = 300,
    kCount = 100,
    kDisabled = 101,
    kPad = 400,
    kPadNoDouble = 401,
};

// An in-memory dialog template (DLGTEMPLATE and DLGITEMTEMPLATE records).
class Template {
public:
    Template(const std::wstring& caption, short cx, short cy) {
        align(4);
        add32(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE);
        add32(0);
        countAt_ = words_.size();
        add16(0);
        add16(10), add16(10), add16(static_cast<uint16_t>(cx)), add16(static_cast<uint16_t>(cy));
        add16(0);  // no menu
        add16(0);  // standard class
        addText(caption);
    }
    void control(const wchar_t* cls, uint16_t ordinalClass, const std::wstring& text, int id, DWORD style, short x,
                 short y, short cx, short cy) {
        align(4);
        add32(style | WS_CHILD | WS_VISIBLE);
        add32(0);
        add16(static_cast<uint16_t>(x)), add16(static_cast<uint16_t>(y));
        add16(static_cast<uint16_t>(cx)), add16(static_cast<uint16_t>(cy));
        add16(static_cast<uint16_t>(id));
        if (cls) {
            addText(cls);
        } else {
            add16(0xFFFF);
            add16(ordinalClass);
        }
        addText(text);
        add16(0);  // no creation data
        ++words_[countAt_];
    }
    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void add16(uint16_t w) { words_.push_back(w); }
    void add32(uint32_t d) {
        add16(static_cast<uint16_t>(d & 0xFFFF));
        add16(static_cast<uint16_t>(d >> 16));
    }
    void addText(const std::wstring& s) {
        for (wchar_t c : s) add16(static_cast<uint16_t>(c));
        add16(0);
    }
    void align(size_t bytes) {
        while ((words_.size() * 2) % bytes) add16(0);
    }
    std::vector<uint16_t> words_;
    size_t countAt_ = 0;
};

struct PadEvent {
    int control;
    UINT msg;
    int x, y;
};

// What the dialog saw; written on the dialog's thread, read by the test and the script.
struct Seen {
    std::atomic<int> countClicks{0};
    std::atomic<int> selChanges{0};
    std::atomic<int> doubleClicks{0};
    std::mutex mutex;
    std::vector<PadEvent> pad;
    void reset() {
        countClicks = 0;
        selChanges = 0;
        doubleClicks = 0;
        std::lock_guard<std::mutex> lock(mutex);
        pad.clear();
    }
    std::vector<PadEvent> padEvents() {
        std::lock_guard<std::mutex> lock(mutex);
        return pad;
    }
} g_seen;

LRESULT CALLBACK padProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    switch (msg) {
        case WM_LBUTTONDOWN: case WM_LBUTTONUP: case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDOWN: case WM_RBUTTONUP: case WM_RBUTTONDBLCLK: {
            std::lock_guard<std::mutex> lock(g_seen.mutex);
            g_seen.pad.push_back({GetDlgCtrlID(h), msg, GET_X_LPARAM(l), GET_Y_LPARAM(l)});
            if (msg == WM_LBUTTONDOWN) SetCapture(h);
            if (msg == WM_LBUTTONUP && GetCapture() == h) ReleaseCapture();
            return 0;
        }
        default:
            return DefWindowProcA(h, msg, w, l);
    }
}

void registerPads() {
    static bool done = false;
    if (done) return;
    done = true;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = padProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.style = CS_DBLCLKS;
    wc.lpszClassName = "HostTestPad";
    RegisterClassA(&wc);
    wc.style = 0;
    wc.lpszClassName = "HostTestPadPlain";
    RegisterClassA(&wc);
}

INT_PTR CALLBACK dialogProc(HWND dlg, UINT msg, WPARAM w, LPARAM) {
    switch (msg) {
        case WM_INITDIALOG: {
            SetDlgItemTextA(dlg, kEdit, "old text");
            for (int i = 0; i < 20; ++i) {
                const std::string line = "行 " + std::to_string(i);
                SendDlgItemMessageA(dlg, kList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
            }
            return TRUE;
        }
        case WM_COMMAND:
            switch (LOWORD(w)) {
                case IDOK: EndDialog(dlg, IDOK); return TRUE;
                case IDCANCEL: EndDialog(dlg, IDCANCEL); return TRUE;
                case kCount:
                    if (HIWORD(w) == BN_CLICKED) ++g_seen.countClicks;
                    return TRUE;
                case kList:
                    if (HIWORD(w) == LBN_SELCHANGE) ++g_seen.selChanges;
                    if (HIWORD(w) == LBN_DBLCLK) ++g_seen.doubleClicks;
                    return TRUE;
                default:
                    return FALSE;
            }
        default:
            return FALSE;
    }
}

// Opens the test dialog modally on this thread while `script` operates it.
// Returns the dialog's result.
INT_PTR runDialog(ui::Operator::Script script, ui::Operator** operatorOut = nullptr, bool* operatorOk = nullptr,
                  std::string* report = nullptr) {
    registerPads();
    g_seen.reset();
    Template t(velk::cp932ToWide(kCaption), 260, 160);
    const DWORD tab = WS_TABSTOP;
    t.control(nullptr, 0x0081, L"", kEdit, tab | WS_BORDER | ES_AUTOHSCROLL, 5, 5, 120, 12);
    t.control(nullptr, 0x0081, L"", kEdit2, tab | WS_BORDER | ES_AUTOHSCROLL, 5, 20, 120, 12);
    t.control(nullptr, 0x0083, L"", kList, tab | WS_BORDER | WS_VSCROLL | LBS_NOTIFY, 5, 36, 120, 40);
    t.control(nullptr, 0x0080, L"OK", IDOK, tab | BS_DEFPUSHBUTTON, 140, 5, 50, 14);
    t.control(nullptr, 0x0080, L"Cancel", IDCANCEL, tab | BS_PUSHBUTTON, 140, 22, 50, 14);
    t.control(nullptr, 0x0080, L"Count", kCount, tab | BS_PUSHBUTTON, 140, 39, 50, 14);
    t.control(nullptr, 0x0080, L"Off", kDisabled, WS_DISABLED | BS_PUSHBUTTON, 140, 56, 50, 14);
    t.control(L"HostTestPad", 0, L"", kPad, 0, 5, 90, 60, 40);
    t.control(L"HostTestPadPlain", 0, L"", kPadNoDouble, 0, 80, 90, 60, 40);
    ui::Operator op(std::move(script));
    if (operatorOut) *operatorOut = &op;
    const INT_PTR result = DialogBoxIndirectParamA(GetModuleHandleA(nullptr), t.get(), nullptr, dialogProc, 0);
    const bool ok = op.join();
    if (operatorOk) *operatorOk = ok;
    if (report) *report = op.report();
    if (!operatorOk) {
        EXPECT_TRUE(ok) << op.report();
    }
    return result;
}

HWND focusOf(HWND dlg) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(dlg, nullptr), &info);
    return info.hwndFocus;
}

}  // namespace

TEST(UiDriver, FindsTheDialogByItsJapaneseCaption) {
    HWND seen = nullptr;
    const INT_PTR r = runDialog([&](ui::Operator& op) {
        HWND dlg = op.waitFor(kCaption);
        if (!dlg) return;
        seen = dlg;
        op.check(ui::findWindow(kCaption) == dlg, "findWindow");
        op.check(ui::windowText(dlg) == kCaption, "caption bytes");
        op.check(ui::waitForWindow("存在しない", 50) == nullptr, "a missing window is not found");
        op.check(ui::clickButton(dlg, IDOK), "click OK");
    });
    EXPECT_EQ(r, IDOK);
    EXPECT_NE(seen, nullptr);
    EXPECT_FALSE(IsWindow(seen));
}

TEST(UiDriver, ClickButtonMakesTheButtonNotifyItsDialog) {
    int clicksSeen = -1;
    const INT_PTR r = runDialog([&](ui::Operator& op) {
        HWND dlg = op.waitFor(kCaption);
        if (!dlg) return;
        op.check(ui::clickButton(dlg, kCount), "click Count");
        op.check(ui::clickButton(dlg, kCount), "click Count again");
        op.check(!ui::clickButton(dlg, kDisabled), "a disabled button cannot be clicked");
        op.check(!ui::clickButton(dlg, 999), "no such control");
        op.check(ui::settle(dlg), "settle");
        clicksSeen = g_seen.countClicks;
        op.check(ui::clickButton(dlg, IDCANCEL), "click Cancel");
    });
    EXPECT_EQ(clicksSeen, 2);
    EXPECT_EQ(r, IDCANCEL);
}

TEST(UiDriver, EnterAndEscapeGoThroughTheDialogManager) {
    EXPECT_EQ(runDialog([](ui::Operator& op) {
                  if (HWND dlg = op.waitFor(kCaption)) op.check(ui::pressKey(dlg, VK_RETURN), "Enter");
              }),
              IDOK);
    EXPECT_EQ(runDialog([](ui::Operator& op) {
                  if (HWND dlg = op.waitFor(kCaption)) op.check(ui::pressKey(dlg, VK_ESCAPE), "Esc");
              }),
              IDCANCEL);
}

TEST(UiDriver, TabMovesTheFocusToTheNextControl) {
    HWND before = nullptr, after = nullptr, edit2 = nullptr;
    runDialog([&](ui::Operator& op) {
        HWND dlg = op.waitFor(kCaption);
        if (!dlg) return;
        edit2 = GetDlgItem(dlg, kEdit2);
        before = focusOf(dlg);
        op.check(ui::pressKey(dlg, VK_TAB), "Tab");
        op.check(ui::settle(dlg), "settle");
        after = focusOf(dlg);
        ui::pressKey(dlg, VK_ESCAPE);
    });
    EXPECT_NE(before, after);
    EXPECT_EQ(after, edit2);
}

TEST(UiDriver, TypedJapaneseTextReplacesTheEditsText) {
    const char typed[] = "日本語ｶﾅ ソ abc";
    std::string text;
    runDialog([&](ui::Operator& op) {
        HWND dlg = op.waitFor(kCaption);
        if (!dlg) return;
        op.check(ui::windowText(GetDlgItem(dlg, kEdit)) == "old text", "initial text");
        op.check(ui::typeText(GetDlgItem(dlg, kEdit), typed), "type");
        op.check(ui::settle(dlg), "settle");
        text = ui::windowText(GetDlgItem(dlg, kEdit));
        ui::pressKey(dlg, VK_RETURN);
    });
    EXPECT_EQ(velk::hexBytes(text), velk::hexBytes(typed));
}

TEST(UiDriver, ListLinesAreSelectedAndDoubleClickedByMouse) {
    LRESULT afterSelect = -1, afterDouble = -1, top = -1;
    int changes = -1, doubles = -1;
    runDialog([&](ui::Operator& op) {
        HWND dlg = op.waitFor(kCaption);
        if (!dlg) return;
        HWND list = GetDlgItem(dlg, kList);
        op.check(ui::selectListLine(list, 15), "select line 15");  // below the visible lines
        op.check(ui::settle(dlg), "settle");
        afterSelect = SendMessageA(list, LB_GETCURSEL, 0, 0);
        top = SendMessageA(list, LB_GETTOPINDEX, 0, 0);
        changes = g_seen.selChanges;
        op.check(ui::doubleClickListLine(list, 16), "double click line 16");
        op.check(!ui::selectListLine(list, 20), "no line 20");
        op.check(ui::settle(dlg), "settle");
        afterDouble = SendMessageA(list, LB_GETCURSEL, 0, 0);
        doubles = g_seen.doubleClicks;
        ui::pressKey(dlg, VK_ESCAPE);
    });
    EXPECT_EQ(afterSelect, 15);
    EXPECT_GT(top, 0);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(afterDouble, 16);
    EXPECT_EQ(doubles, 1);
}

TEST(UiDriver, MouseMessagesFollowTheSystemsSequences) {
    std::vector<PadEvent> ev;
    runDialog([&](ui::Operator& op) {
        HWND dlg = op.waitFor(kCaption);
        if (!dlg) return;
        HWND pad = GetDlgItem(dlg, kPad);
        HWND plain = GetDlgItem(dlg, kPadNoDouble);
        op.check(ui::clickAt(pad, 5, 6), "click");
        op.check(ui::doubleClickAt(pad, 7, 8), "double click");
        op.check(ui::doubleClickAt(plain, 9, 10), "double click, no double-click class");
        op.check(ui::rightDoubleClickAt(pad, 11, 12), "right double click");
        op.check(ui::leftButtonDown(pad, 1, 2), "press");
        op.check(ui::leftButtonUp(pad, -20, 500), "release outside");
        op.check(ui::settle(dlg), "settle");
        ev = g_seen.padEvents();
        ui::pressKey(dlg, VK_ESCAPE);
    });
    struct E {
        int control;
        UINT msg;
        int x, y;
    };
    const std::vector<E> expected = {
        {kPad, WM_LBUTTONDOWN, 5, 6},         {kPad, WM_LBUTTONUP, 5, 6},
        {kPad, WM_LBUTTONDOWN, 7, 8},         {kPad, WM_LBUTTONUP, 7, 8},
        {kPad, WM_LBUTTONDBLCLK, 7, 8},       {kPad, WM_LBUTTONUP, 7, 8},
        {kPadNoDouble, WM_LBUTTONDOWN, 9, 10}, {kPadNoDouble, WM_LBUTTONUP, 9, 10},
        {kPadNoDouble, WM_LBUTTONDOWN, 9, 10}, {kPadNoDouble, WM_LBUTTONUP, 9, 10},
        {kPad, WM_RBUTTONDOWN, 11, 12},       {kPad, WM_RBUTTONUP, 11, 12},
        {kPad, WM_RBUTTONDBLCLK, 11, 12},     {kPad, WM_RBUTTONUP, 11, 12},
        {kPad, WM_LBUTTONDOWN, 1, 2},         {kPad, WM_LBUTTONUP, -20, 500},
    };
    ASSERT_EQ(ev.size(), expected.size());
    for (size_t i = 0; i < ev.size(); ++i) {
        EXPECT_EQ(ev[i].control, expected[i].control) << i;
        EXPECT_EQ(ev[i].msg, expected[i].msg) << i;
        EXPECT_EQ(ev[i].x, expected[i].x) << i;
        EXPECT_EQ(ev[i].y, expected[i].y) << i;
    }
}

TEST(UiDriver, CloseBoxCancelsTheDialog) {
    EXPECT_EQ(runDialog([](ui::Operator& op) {
                  if (HWND dlg = op.waitFor(kCaption)) op.check(ui::closeBox(dlg), "close box");
              }),
              IDCANCEL);
}

TEST(UiDriver, MessageBoxesAreOperatedLikeDialogs) {
    ui::Operator ok([](ui::Operator& op) {
        if (HWND box = op.waitFor("確認")) op.check(ui::pressKey(box, VK_RETURN), "Enter");
    });
    EXPECT_EQ(MessageBoxA(nullptr, "続けますか", "確認", MB_OKCANCEL), IDOK);
    EXPECT_TRUE(ok.join()) << ok.report();
    ui::Operator cancel([](ui::Operator& op) {
        if (HWND box = op.waitFor("確認")) op.check(ui::clickButton(box, IDCANCEL), "Cancel");
    });
    EXPECT_EQ(MessageBoxA(nullptr, "続けますか", "確認", MB_OKCANCEL), IDCANCEL);
    EXPECT_TRUE(cancel.join()) << cancel.report();
}

TEST(UiDriver, AFailingScriptIsReportedAndItsDialogDismissed) {
    bool ok = true;
    std::string report;
    const INT_PTR r = runDialog(
        [](ui::Operator& op) {
            if (!op.waitFor(kCaption)) return;
            op.fail("the dialog showed the wrong ソケット");
        },
        nullptr, &ok, &report);
    EXPECT_FALSE(ok);
    EXPECT_EQ(r, IDCANCEL);
    EXPECT_NE(report.find(velk::cp932ToUtf8("wrong ソケット")), std::string::npos) << report;

    const INT_PTR thrown = runDialog(
        [](ui::Operator& op) {
            if (!op.waitFor(kCaption)) return;
            throw std::runtime_error("boom");
        },
        nullptr, &ok, &report);
    EXPECT_FALSE(ok);
    EXPECT_EQ(thrown, IDCANCEL);
    EXPECT_NE(report.find("boom"), std::string::npos) << report;
}

TEST(UiDriver, ScriptsWithoutArgumentsWork) {
    std::atomic<bool> ran{false};
    {
        ui::Operator op([&] {
            if (HWND box = ui::waitForWindow("通知")) ui::pressKey(box, VK_ESCAPE);
            ran = true;
        });
        EXPECT_EQ(MessageBoxA(nullptr, "本文", "通知", MB_OKCANCEL), IDCANCEL);
    }  // joined here
    EXPECT_TRUE(ran);
}

TEST(UiDriver, ScriptThatNeverFindsItsWindowFailsWithoutHanging) {
    ui::Operator op([](ui::Operator& o) { o.waitFor("ありません", 100); });
    EXPECT_FALSE(op.join());
    EXPECT_EQ(op.failures().size(), 1u);
}

// A script that ends without closing the dialog it operated (its OK press lost, say)
// fails naming the dialog and its last step, and the dialog is cancelled: the modal
// loop that shows it returns instead of waiting for input that never comes.
TEST(UiDriver, ADialogLeftOpenByTheScriptIsNamedAndCancelled) {
    registerPads();
    g_seen.reset();
    Template t(velk::cp932ToWide(kCaption), 200, 80);
    t.control(nullptr, 0x0080, L"OK", IDOK, WS_TABSTOP | BS_DEFPUSHBUTTON, 140, 5, 50, 14);
    t.control(nullptr, 0x0080, L"Cancel", IDCANCEL, WS_TABSTOP | BS_PUSHBUTTON, 140, 22, 50, 14);
    t.control(nullptr, 0x0080, L"Count", kCount, WS_TABSTOP | BS_PUSHBUTTON, 140, 39, 50, 14);
    ui::Operator::Deadlines quick;
    quick.closeMs = 300;
    ui::Operator op(
        [](ui::Operator& o) {
            HWND dlg = o.waitFor(kCaption);
            if (!dlg) return;
            o.step("press Count");
            o.check(ui::clickButton(dlg, kCount) && ui::settle(dlg), "Count");
        },
        true, quick);
    const INT_PTR result = DialogBoxIndirectParamA(GetModuleHandleA(nullptr), t.get(), nullptr, dialogProc, 0);
    EXPECT_FALSE(op.join());
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(g_seen.countClicks, 1);
    const std::string report = op.report();
    EXPECT_NE(report.find(u8"dialog \"テスト画面\", step \"press Count\": the dialog was still open 300 ms"),
              std::string::npos)
        << report;
}

// A script that never ends is stopped at the script's deadline and reported.
TEST(UiDriver, AScriptPastItsDeadlineIsStoppedAndReported) {
    std::atomic<bool> release{false};
    ui::Operator::Deadlines quick;
    quick.scriptMs = 300;
    ui::Operator op(
        [&](ui::Operator& o) {
            o.step("wait for nothing");
            while (!release) Sleep(5);
        },
        true, quick);
    EXPECT_FALSE(op.join());
    release = true;
    EXPECT_NE(op.report().find("step \"wait for nothing\": the operator's script did not end within 300 ms"),
              std::string::npos)
        << op.report();
}

// A thread that moves to the session's desktop and shows a window there until told.
struct SessionWindow {
    const char* caption;
    HANDLE shown, done;
    std::atomic<bool>* onSessionDesktop;
};

DWORD WINAPI sessionDesktopWindowThread(void* p) {
    auto* c = static_cast<SessionWindow*>(p);
    if (HDESK session = OpenDesktopA("Default", 0, FALSE, GENERIC_ALL)) *c->onSessionDesktop = SetThreadDesktop(session) != 0;
    HWND w = CreateWindowExA(0, "STATIC", c->caption, WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    SetEvent(c->shown);
    WaitForSingleObject(c->done, 30000);
    if (w) DestroyWindow(w);
    return 0;
}

// The process works on a desktop of its own (made by the test program's main, as by
// velk.exe's): a window another process shows on the session's desktop is not
// found by the caption searches, so two runs in one prefix never operate, or
// activate over, each other's dialogs. A thread on the session's desktop stands in
// for the other process here.
TEST(UiDriver, WindowsOnTheSessionsDesktopAreOutOfReach) {
    wchar_t name[128] = {};
    DWORD needed = 0;
    ASSERT_TRUE(GetUserObjectInformationW(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, name, sizeof name, &needed));
    EXPECT_EQ(std::wstring(name).rfind(L"Velk-", 0), 0u) << "the test program runs on the session's desktop";

    const char caption[] = "別のプロセスの画面";
    HANDLE shown = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> onSessionDesktop{false};
    SessionWindow context{caption, shown, done, &onSessionDesktop};
    HANDLE other = CreateThread(nullptr, 0, &sessionDesktopWindowThread, &context, 0, nullptr);
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(WaitForSingleObject(shown, 30000), WAIT_OBJECT_0) << "the other thread's window";
    EXPECT_TRUE(onSessionDesktop) << "the other thread could not move to the session's desktop";
    EXPECT_EQ(ui::findWindow(caption), nullptr);
    // The same window on this desktop is found.
    HWND mine = CreateWindowExA(0, "STATIC", caption, WS_POPUP, 0, 0, 50, 50, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    EXPECT_EQ(ui::findWindow(caption), mine);
    DestroyWindow(mine);
    SetEvent(done);
    WaitForSingleObject(other, 30000);
    CloseHandle(other);
    CloseHandle(shown);
    CloseHandle(done);
}

// The test programs' watchdog: the ctest test host_tests_watchdog runs this one alone
// with VELK_WATCHDOG_PROBE set and a per-test limit of about a second, and passes when
// the watchdog stops the suite naming it. In an ordinary run it is skipped.
TEST(Watchdog, ProbeThatHangsWhenAsked) {
    if (!std::getenv("VELK_WATCHDOG_PROBE")) GTEST_SKIP() << "only for the watchdog's own check";
    Sleep(30000);
    ADD_FAILURE() << "the watchdog did not stop the suite";
}
