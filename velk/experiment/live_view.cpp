#include "velk/experiment/live_view.h"

#include "velk/dialogs/dialog_operator.h"

#include "velk/common/memory_bitmap.h"
#include "velk/common/text.h"

#include <commctrl.h>

#include <algorithm>

namespace velk {
namespace {

// Draws the charts one under another into a 32-bit bitmap.
bool DrawCharts(const std::vector<std::unique_ptr<Chart>>& charts, std::vector<uint8_t>& bgra, int& width,
                int& height) {
    width = 0;
    height = 0;
    for (const auto& c : charts) {
        width = std::max(width, c->layout().width);
        height += c->layout().height;
    }
    if (width == 0 || height == 0) return false;
    MemoryBitmap bitmap(width, height);
    if (!bitmap.ok()) return false;
    RECT all = {0, 0, width, height};
    FillRect(bitmap.dc(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    int y = 0;
    for (const auto& c : charts) {
        c->draw(bitmap.dc(), 0, y);
        y += c->layout().height;
    }
    const uint8_t* p = bitmap.bits();
    bgra.assign(p, p + static_cast<size_t>(width) * height * 4);
    return true;
}

}  // namespace

LiveView::LiveView(Host& host, unsigned intervalMs) : host_(host), intervalMs_(intervalMs) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    statusBar_ = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, host_.mainWindow(),
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
    host_.setPaintHook([this](HDC dc, const RECT& client) { paint(dc, client); });
    const DWORD uiThread = GetCurrentThreadId();
    thread_ = std::thread([this, uiThread] {
        ui::joinDesktopOf(uiThread);  // it draws with GDI for windows of that desktop
        drawLoop();
    });
}

LiveView::~LiveView() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
    host_.setPaintHook(nullptr);
    if (statusBar_) DestroyWindow(statusBar_);
}

void LiveView::add(const ChartSink* sink) { sinks_.push_back(sink); }

void LiveView::tick(const std::string& status, bool now) {
    const ULONGLONG t = GetTickCount64();
    if (!now && t - lastTick_ < intervalMs_) return;
    lastTick_ = t;
    status_ = status;
    if (!fitted_) {
        int width = 0, height = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            width = pictureWidth_;
            height = pictureHeight_;
        }
        if (width > 0) fitWindow(width, height);
    }
    if (statusBar_) SendMessageW(statusBar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(utf8ToWide(status).c_str()));
    auto job = std::make_unique<Job>();
    for (const ChartSink* sink : sinks_)
        if (std::unique_ptr<Chart> chart = sink->snapshot()) job->charts.push_back(std::move(chart));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job->number = ++handedOver_;
        job_ = std::move(job);  // a job not yet drawn is replaced by the newer one
    }
    wake_.notify_all();
}

void LiveView::drawLoop() {
    for (;;) {
        std::unique_ptr<Job> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || job_ != nullptr; });
            if (quit_) return;
            job = std::move(job_);
        }
        std::vector<uint8_t> picture;
        int width = 0, height = 0;
        const bool drawn = DrawCharts(job->charts, picture, width, height);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (drawn) {
                picture_.swap(picture);
                pictureWidth_ = width;
                pictureHeight_ = height;
            }
            drawnJobs_ = job->number;
        }
        drawn_.notify_all();
        InvalidateRect(host_.mainWindow(), nullptr, FALSE);
    }
}

void LiveView::flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    drawn_.wait(lock, [this] { return drawnJobs_ >= handedOver_; });
}

void LiveView::paint(HDC dc, const RECT& client) {
    int width = 0, height = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        width = pictureWidth_;
        height = pictureHeight_;
        if (!picture_.empty()) {
            const BITMAPINFO info = MemoryBitmap::info(width, height);
            SetDIBitsToDevice(dc, 0, 0, width, height, 0, 0, 0, height, picture_.data(), &info, DIB_RGB_COLORS);
        }
    }
    // What the picture does not cover.
    HBRUSH background = GetSysColorBrush(COLOR_APPWORKSPACE);
    RECT right = {width, 0, client.right, client.bottom};
    RECT below = {0, height, std::min<LONG>(width, client.right), client.bottom};
    if (right.left < right.right) FillRect(dc, &right, background);
    if (below.top < below.bottom) FillRect(dc, &below, background);
}

// Sizes the main window once so that the charts and the status line fit (as far
// as the screen allows).
void LiveView::fitWindow(int width, int height) {
    fitted_ = true;
    RECT status = {};
    if (statusBar_) GetWindowRect(statusBar_, &status);
    RECT wanted = {0, 0, width, height + (status.bottom - status.top)};
    AdjustWindowRectEx(&wanted, WS_OVERLAPPEDWINDOW, TRUE, 0);
    const int w = std::min<int>(wanted.right - wanted.left, GetSystemMetrics(SM_CXSCREEN));
    const int h = std::min<int>(wanted.bottom - wanted.top, GetSystemMetrics(SM_CYSCREEN));
    SetWindowPos(host_.mainWindow(), nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (statusBar_) SendMessageA(statusBar_, WM_SIZE, 0, 0);
}

void LiveView::waitUntilClosed() {
    MSG msg;
    while (IsWindow(host_.mainWindow()) && GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

bool LiveView::latest(std::vector<uint8_t>& bgra, int& width, int& height) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (picture_.empty()) return false;
    bgra = picture_;
    width = pictureWidth_;
    height = pictureHeight_;
    return true;
}

uint64_t LiveView::frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return drawnJobs_;
}

}  // namespace velk
