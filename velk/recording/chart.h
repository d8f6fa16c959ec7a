// Charts of recorded channels: one strip per channel, the channel's name, volts or
// levels on the y axis over the module's range, seconds on the x axis, a grid and
// tick labels. Samples are folded into the minimum and maximum of each pixel column
// as they arrive, so a chart of any length takes the memory of its width and a
// single-sample spike still shows; columns without a sample between two that have
// one are crossed by a line from the one sample to the next. Drawn with GDI into a memory bitmap, which
// velk.exe saves as PNG and the live view copies into its window.
#pragma once

#include <windows.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace velk {

struct ChartDesign {
    std::string title;                       // UTF-8, drawn above the strips
    std::vector<std::string> channelLabels;  // UTF-8, one strip each
    double yMin = -10.0;                     // the strip's value range
    double yMax = 10.0;
    bool digital = false;       // levels 0 and 5, labelled as such
    double durationS = 1.0;     // the x axis: 0 to durationS seconds
    int plotWidth = 880;        // pixels of the x axis (one min/max column each)
    int stripHeight = 110;      // pixels of each strip's plot area
};

// Geometry of a chart, in pixels of its bitmap.
struct ChartLayout {
    int width = 0, height = 0;
    int plotLeft = 0;  // x of the plot's first column
    int plotWidth = 0;
    std::vector<int> stripTop;  // y of each strip's top row
    int stripHeight = 0;
};

class Chart {
public:
    explicit Chart(const ChartDesign& design);

    const ChartDesign& design() const { return design_; }
    const ChartLayout& layout() const { return layout_; }

    // Takes `count` samples of `channel` starting at `startS`, `distanceS` apart.
    // Samples that are not numbers are left out; times outside the axis go to its ends.
    void add(uint32_t channel, double startS, double distanceS, const float* samples, uint32_t count);

    // The plot column a time falls in, and the row a value of the strip is drawn at.
    int columnOf(double timeS) const;
    int rowOf(uint32_t channel, double value) const;
    // Samples seen per channel.
    uint64_t samples(uint32_t channel) const { return channels_[channel].samples; }

    // Draws the whole chart into `pixels` (rows top first, 3 bytes a pixel, RGB).
    bool render(std::vector<uint8_t>& rgb) const;
    // Draws it into a device context at (x, y); the live view uses this.
    void draw(HDC dc, int x, int y) const;
    // Renders and writes a PNG file.
    bool writePng(const std::string& path) const;

    // Colours, for those that read the pixels back.
    static constexpr COLORREF kTraceColour = RGB(0, 90, 200);
    static constexpr COLORREF kBackground = RGB(255, 255, 255);

private:
    struct Column {
        float min, max;     // min > max: no sample in the column
        float first, last;  // the column's first and last sample, where the trace comes in and goes on
    };
    struct Channel {
        std::vector<Column> columns;
        uint64_t samples = 0;
    };
    void drawStrip(HDC dc, int x, int y, uint32_t channel) const;

    ChartDesign design_;
    ChartLayout layout_;
    std::vector<Channel> channels_;
};

}  // namespace velk
