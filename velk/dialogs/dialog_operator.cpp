#include "velk/dialogs/dialog_operator.h"

#include "velk/common/text.h"

#include <windowsx.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>

namespace velk::ui {

namespace {

// ---- Sync points: a message-only window per UI thread that notes how far that
// thread's queue has been worked off.

const char kSyncClass[] = "VelkUiSyncPoint";
const UINT kSyncMessage = WM_APP + 0x3A1;

std::mutex g_syncMutex;
std::condition_variable g_syncDone;
std::map<DWORD, HWND> g_syncWindows;
std::map<DWORD, unsigned long long> g_settled;
unsigned long long g_syncCounter = 0;

LRESULT CALLBACK syncWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kSyncMessage) {
        std::lock_guard<std::mutex> lock(g_syncMutex);
        unsigned long long& done = g_settled[GetCurrentThreadId()];
        if (wParam > done) done = wParam;
        g_syncDone.notify_all();
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

HWND syncWindowOf(DWORD thread) {
    std::lock_guard<std::mutex> lock(g_syncMutex);
    auto it = g_syncWindows.find(thread);
    return it != g_syncWindows.end() && IsWindow(it->second) ? it->second : nullptr;
}

// ---- Input helpers

bool usable(HWND w) {
    return w && IsWindow(w) && (GetWindowLongA(w, GWL_STYLE) & WS_VISIBLE) && IsWindowEnabled(w);
}

LPARAM point(int x, int y) { return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)); }

bool post(HWND w, UINT msg, WPARAM wParam, LPARAM lParam) { return PostMessageA(w, msg, wParam, lParam) != 0; }

bool hasDoubleClicks(HWND w) { return (GetClassLongPtrA(w, GCL_STYLE) & CS_DBLCLKS) != 0; }

bool centre(HWND w, int& x, int& y) {
    RECT r;
    if (!GetClientRect(w, &r)) return false;
    x = (r.left + r.right) / 2;
    y = (r.top + r.bottom) / 2;
    return true;
}

LRESULT sendQuery(HWND w, UINT msg, WPARAM wParam, LPARAM lParam, bool* ok = nullptr) {
    DWORD_PTR result = 0;
    const bool done = SendMessageTimeoutA(w, msg, wParam, lParam, SMTO_NORMAL, kDefaultTimeoutMs, &result) != 0;
    if (ok) *ok = done;
    return static_cast<LRESULT>(result);
}

bool listLineCentre(HWND list, int line, int& x, int& y) {
    if (!usable(list)) return false;
    bool ok = false;
    const LRESULT count = sendQuery(list, LB_GETCOUNT, 0, 0, &ok);
    if (!ok || line < 0 || line >= count) return false;
    RECT client, item;
    GetClientRect(list, &client);
    if (sendQuery(list, LB_GETITEMRECT, line, reinterpret_cast<LPARAM>(&item)) == LB_ERR) return false;
    if (item.top < client.top || item.bottom > client.bottom) {
        sendQuery(list, LB_SETTOPINDEX, line, 0);  // scrolled into view, as a user would first
        if (sendQuery(list, LB_GETITEMRECT, line, reinterpret_cast<LPARAM>(&item)) == LB_ERR) return false;
    }
    x = (item.left + std::min(item.right, client.right)) / 2;
    y = (item.top + item.bottom) / 2;
    return true;
}

struct Search {
    std::wstring caption;
    HWND found;
};

BOOL CALLBACK matchCaption(HWND h, LPARAM p) {
    auto* s = reinterpret_cast<Search*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid != GetCurrentProcessId()) return TRUE;
    wchar_t text[512] = {};
    // Reads the caption without sending a message, so a busy window thread cannot block the search.
    InternalGetWindowText(h, text, 512);
    if (s->caption == text) {
        s->found = h;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK collectDialogs(HWND h, LPARAM p) {
    char cls[32] = {};
    GetClassNameA(h, cls, sizeof cls);
    if (std::strcmp(cls, "#32770") == 0) reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
    return TRUE;
}

}  // namespace

// ---------------------------------------------------------------------------

HWND findWindow(const char* captionCp932) {
    Search s{cp932ToWide(captionCp932 ? captionCp932 : ""), nullptr};
    EnumWindows(matchCaption, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND waitForWindow(const char* captionCp932, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (HWND h = findWindow(captionCp932)) {
            // Returns once the window's thread takes messages again (its modal loop runs).
            DWORD_PTR ignored = 0;
            const DWORD left = elapsed < timeoutMs ? timeoutMs - elapsed : 1;
            if (SendMessageTimeoutA(h, WM_NULL, 0, 0, SMTO_NORMAL, left, &ignored)) return h;
            return IsWindow(h) ? h : nullptr;
        }
        if (elapsed >= timeoutMs) return nullptr;
        Sleep(10);
    }
}

std::string windowText(HWND window) {
    bool ok = false;
    const LRESULT length = sendQuery(window, WM_GETTEXTLENGTH, 0, 0, &ok);
    if (!ok || length <= 0) return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const LRESULT got = sendQuery(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

bool leftButtonDown(HWND w, int x, int y) {
    if (!usable(w)) return false;
    return post(w, WM_MOUSEMOVE, 0, point(x, y)) && post(w, WM_LBUTTONDOWN, MK_LBUTTON, point(x, y));
}

bool leftButtonUp(HWND w, int x, int y) {
    if (!w || !IsWindow(w)) return false;
    return post(w, WM_LBUTTONUP, 0, point(x, y));
}

bool clickAt(HWND w, int x, int y) { return leftButtonDown(w, x, y) && leftButtonUp(w, x, y); }

bool doubleClickAt(HWND w, int x, int y) {
    if (!clickAt(w, x, y)) return false;
    const UINT second = hasDoubleClicks(w) ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN;
    return post(w, second, MK_LBUTTON, point(x, y)) && post(w, WM_LBUTTONUP, 0, point(x, y));
}

bool rightDoubleClickAt(HWND w, int x, int y) {
    if (!usable(w)) return false;
    const UINT second = hasDoubleClicks(w) ? WM_RBUTTONDBLCLK : WM_RBUTTONDOWN;
    return post(w, WM_MOUSEMOVE, 0, point(x, y)) && post(w, WM_RBUTTONDOWN, MK_RBUTTON, point(x, y)) &&
           post(w, WM_RBUTTONUP, 0, point(x, y)) && post(w, second, MK_RBUTTON, point(x, y)) &&
           post(w, WM_RBUTTONUP, 0, point(x, y));
}

bool clickButton(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    int x = 0, y = 0;
    if (!usable(control) || !centre(control, x, y)) return false;
    return clickAt(control, x, y);
}

bool selectListLine(HWND list, int line) {
    int x = 0, y = 0;
    return listLineCentre(list, line, x, y) && clickAt(list, x, y);
}

bool doubleClickListLine(HWND list, int line) {
    int x = 0, y = 0;
    return listLineCentre(list, line, x, y) && doubleClickAt(list, x, y);
}

bool pressKey(HWND dialog, UINT vk) {
    if (!dialog || !IsWindow(dialog)) return false;
    HWND target = dialog;
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) && info.hwndFocus &&
        (info.hwndFocus == dialog || IsChild(dialog, info.hwndFocus)))
        target = info.hwndFocus;
    const UINT scan = MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
    LPARAM down = 1 | (LPARAM(scan & 0xFF) << 16);
    switch (vk) {
        case VK_LEFT: case VK_RIGHT: case VK_UP: case VK_DOWN: case VK_HOME: case VK_END:
        case VK_PRIOR: case VK_NEXT: case VK_INSERT: case VK_DELETE:
            down |= LPARAM(1) << 24;  // extended key
            break;
        default:
            break;
    }
    const LPARAM up = down | (LPARAM(3) << 30);
    return post(target, WM_KEYDOWN, vk, down) && post(target, WM_KEYUP, vk, up);
}

bool typeText(HWND edit, const char* text) {
    if (!usable(edit) || !text) return false;
    if (!post(edit, EM_SETSEL, 0, -1)) return false;
    for (const char* p = text; *p; ++p)
        if (!post(edit, WM_CHAR, static_cast<unsigned char>(*p), 1)) return false;
    return true;
}

bool closeBox(HWND dialog) {
    if (!dialog || !IsWindow(dialog)) return false;
    return post(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void installSyncPoint() {
    const DWORD thread = GetCurrentThreadId();
    if (syncWindowOf(thread)) return;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = syncWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kSyncClass;
    RegisterClassA(&wc);  // already registered by an earlier sync point: fine
    HWND w = CreateWindowExA(0, kSyncClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    std::lock_guard<std::mutex> lock(g_syncMutex);
    if (w) g_syncWindows[thread] = w;
}

bool settle(HWND window, DWORD timeoutMs) {
    if (!window || !IsWindow(window)) return false;
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    if (thread == GetCurrentThreadId()) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        return true;
    }
    HWND sync = syncWindowOf(thread);
    if (!sync) return false;
    unsigned long long ticket;
    {
        std::lock_guard<std::mutex> lock(g_syncMutex);
        ticket = ++g_syncCounter;
    }
    if (!PostMessageA(sync, kSyncMessage, static_cast<WPARAM>(ticket), 0)) return false;
    std::unique_lock<std::mutex> lock(g_syncMutex);
    return g_syncDone.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return g_settled[thread] >= ticket; });
}

void dismissDialogs(DWORD threadId) {
    for (int round = 0; round < 20; ++round) {
        std::vector<HWND> dialogs;
        EnumThreadWindows(threadId, collectDialogs, reinterpret_cast<LPARAM>(&dialogs));
        bool any = false;
        for (HWND d : dialogs) {
            if (!IsWindow(d) || !IsWindowVisible(d)) continue;
            any = true;
            PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(d, IDCANCEL)));
            for (int i = 0; i < 50 && IsWindow(d) && IsWindowVisible(d); ++i) Sleep(20);
            if (IsWindow(d) && IsWindowVisible(d)) EndDialog(d, IDCANCEL);
        }
        if (!any) return;
    }
}

// ---------------------------------------------------------------------------

Operator::Operator(Script script, bool dismissOnFailure, Deadlines deadlines)
    : script_(std::move(script)),
      dismissOnFailure_(dismissOnFailure),
      deadlines_(deadlines),
      uiThread_(GetCurrentThreadId()) {
    installSyncPoint();
    thread_ = CreateThread(nullptr, 0, &Operator::threadMain, this, 0, nullptr);
    if (!thread_) fail("cannot start the operator thread");
}

Operator::~Operator() { join(); }

DWORD WINAPI Operator::threadMain(void* self) {
    auto* op = static_cast<Operator*>(self);
    // The dialogs to operate are on the desktop of the thread that shows them; the
    // window searches of this thread look there.
    joinDesktopOf(op->uiThread_);
    try {
        op->script_(*op);
    } catch (const std::exception& e) {
        op->fail(std::string("the script threw: ") + e.what());
    } catch (...) {
        op->fail("the script threw");
    }
    op->closeWatchedDialogs();
    if (!op->ok() && op->dismissOnFailure_) dismissDialogs(op->uiThread_);
    return 0;
}

void Operator::closeWatchedDialogs() {
    std::vector<Watched> watched;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        watched = watched_;
    }
    // A script that failed leaves its dialogs to be cancelled at once.
    if (!ok()) return;
    for (const Watched& w : watched) {
        // A modal dialog ends when its thread handles the input posted to close it.
        const ULONGLONG start = GetTickCount64();
        while (IsWindow(w.dialog) && GetTickCount64() - start < deadlines_.closeMs) Sleep(5);
        if (!IsWindow(w.dialog)) continue;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            caption_ = w.caption;
        }
        fail("the dialog was still open " + std::to_string(deadlines_.closeMs) +
             " ms after the script ended; it is cancelled");
        dismissDialogs(uiThread_);  // whatever dismissOnFailure says: nothing else would close it
    }
}

bool Operator::join() {
    if (joined_ || !thread_) {
        joined_ = true;
        return ok();
    }
    bool quit = false;
    bool overdue = false;
    int quitCode = 0;
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        const ULONGLONG elapsed = GetTickCount64() - start;
        if (elapsed >= deadlines_.scriptMs) {
            overdue = true;
            break;
        }
        const DWORD r = MsgWaitForMultipleObjects(1, &thread_, FALSE, static_cast<DWORD>(deadlines_.scriptMs - elapsed),
                                                  QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) break;
        if (r != WAIT_OBJECT_0 + 1) {
            overdue = r == WAIT_TIMEOUT;
            if (!overdue) fail("cannot wait for the operator's script");
            break;
        }
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = static_cast<int>(msg.wParam);
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    if (quit) PostQuitMessage(quitCode);
    if (overdue || WaitForSingleObject(thread_, 0) != WAIT_OBJECT_0) {
        // Every step has its own deadline, so this is a script that loops: it is
        // stopped rather than left running over the caller's stack.
        fail("the operator's script did not end within " + std::to_string(deadlines_.scriptMs) + " ms");
        TerminateThread(thread_, 1);
        WaitForSingleObject(thread_, kDefaultTimeoutMs);
    }
    CloseHandle(thread_);
    thread_ = nullptr;
    joined_ = true;
    return ok();
}

void Operator::fail(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string where;
    if (!caption_.empty()) where = "dialog \"" + caption_ + "\"";
    if (!step_.empty()) where += (where.empty() ? "" : ", ") + std::string("step \"") + step_ + "\"";
    failures_.push_back(where.empty() ? what : where + ": " + what);
}

HWND Operator::waitFor(const char* captionCp932, DWORD timeoutMs) {
    const std::string caption = captionCp932 ? captionCp932 : "";
    HWND h = waitForWindow(caption.c_str(), timeoutMs);
    if (!h) fail("no window \"" + caption + "\" appeared within " + std::to_string(timeoutMs) + " ms");
    else watch(h, caption.c_str());
    return h;
}

void Operator::watch(HWND dialog, const char* captionCp932) {
    std::lock_guard<std::mutex> lock(mutex_);
    caption_ = captionCp932 ? captionCp932 : "";
    for (const Watched& w : watched_)
        if (w.dialog == dialog) return;
    watched_.push_back(Watched{dialog, caption_});
}

void Operator::step(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    step_ = what;
}

bool Operator::ok() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failures_.empty();
}

std::vector<std::string> Operator::failures() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failures_;
}

std::string Operator::report() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string out;
    for (const std::string& f : failures_) out += cp932ToUtf8(f) + "\n";
    return out;
}

}  // namespace velk::ui
