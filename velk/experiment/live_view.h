// The live view of a windowed run: the charts of the recorded modules, drawn in
// Velk's main window under its menu (with the extension's popup), and the run's
// progress in a status line, a few times a second.
//
// Drawing a chart takes milliseconds, which the processing rounds must not wait
// for: the runner only takes a copy of the charts' columns now and then (tick), a
// thread of the view draws them into a memory bitmap, and the main window's paint
// copies the latest bitmap onto the screen. Tests read that bitmap.
#pragma once

#include "velk/recording/chart_sink.h"
#include "velk/host/host.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velk {

class LiveView {
public:
    // Takes over the main window's painting and adds the status line.
    explicit LiveView(Host& host, unsigned intervalMs = 250);
    ~LiveView();
    LiveView(const LiveView&) = delete;
    LiveView& operator=(const LiveView&) = delete;

    // The charts shown, top to bottom.
    void add(const ChartSink* sink);
    // From the runner, after each round: every intervalMs (or at once with `now`) the
    // status line is set and the charts are handed to the drawing thread.
    void tick(const std::string& status, bool now = false);
    // Waits until everything handed over has been drawn.
    void flush();
    // Dispatches the window's messages until the user closes it.
    void waitUntilClosed();

    // The latest picture (32 bits a pixel, blue green red unused, top row first).
    bool latest(std::vector<uint8_t>& bgra, int& width, int& height) const;
    uint64_t frames() const;
    const std::string& status() const { return status_; }

private:
    struct Job {
        std::vector<std::unique_ptr<Chart>> charts;
        uint64_t number = 0;
    };
    void drawLoop();
    void paint(HDC dc, const RECT& client);
    void fitWindow(int width, int height);

    Host& host_;
    HWND statusBar_ = nullptr;
    unsigned intervalMs_;
    ULONGLONG lastTick_ = 0;
    std::string status_;
    std::vector<const ChartSink*> sinks_;
    bool fitted_ = false;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable drawn_;
    std::unique_ptr<Job> job_;  // waiting to be drawn
    uint64_t handedOver_ = 0;
    uint64_t drawnJobs_ = 0;
    std::vector<uint8_t> picture_;
    int pictureWidth_ = 0, pictureHeight_ = 0;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace velk
