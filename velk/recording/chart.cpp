#include "velk/recording/chart.h"

#include "velk/common/memory_bitmap.h"
#include "velk/recording/png.h"
#include "velk/common/text.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>

namespace velk {
namespace {

constexpr int kLeftMargin = 72;   // y tick labels
constexpr int kRightMargin = 24;
constexpr int kTitleHeight = 30;
constexpr int kNameHeight = 18;   // channel name above each strip
constexpr int kStripGap = 12;
constexpr int kAxisHeight = 36;   // x tick labels and the unit

constexpr COLORREF kFrameColour = RGB(120, 120, 120);
constexpr COLORREF kGridColour = RGB(222, 222, 222);
constexpr COLORREF kTextColour = RGB(30, 30, 30);

// A tick step of 1, 2, 2.5 or 5 times a power of ten giving about `wanted` ticks.
double NiceStep(double span, int wanted) {
    if (!(span > 0)) return 1.0;
    const double raw = span / wanted;
    const double power = pow(10.0, floor(log10(raw)));
    for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (m * power >= raw) return m * power;
    return 10.0 * power;
}

// A number for a tick label: no more digits than the step needs.
std::wstring TickText(double value, double step) {
    int decimals = 0;
    while (decimals < 6 && fabs(step * pow(10.0, decimals) - floor(step * pow(10.0, decimals) + 0.5)) > 1e-9) ++decimals;
    if (fabs(value) < step * 1e-9) value = 0.0;
    char text[64];
    snprintf(text, sizeof text, "%.*f", decimals, value);
    return utf8ToWide(text);
}

void Line(HDC dc, int x0, int y0, int x1, int y1) {
    MoveToEx(dc, x0, y0, nullptr);
    LineTo(dc, x1, y1);
}

void Text(HDC dc, int x, int y, const std::wstring& text, UINT align) {
    SetTextAlign(dc, align);
    TextOutW(dc, x, y, text.c_str(), static_cast<int>(text.size()));
}

class GdiObject {
public:
    GdiObject(HDC dc, HGDIOBJ object) : dc_(dc), object_(object), previous_(SelectObject(dc, object)) {}
    ~GdiObject() {
        SelectObject(dc_, previous_);
        DeleteObject(object_);
    }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ object_;
    HGDIOBJ previous_;
};

HFONT MakeFont(int height, bool bold) {
    return CreateFontW(-height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH, L"MS Gothic");
}

}  // namespace

Chart::Chart(const ChartDesign& design) : design_(design) {
    if (design_.plotWidth < 16) design_.plotWidth = 16;
    if (design_.stripHeight < 24) design_.stripHeight = 24;
    if (!(design_.yMax > design_.yMin)) design_.yMax = design_.yMin + 1.0;
    if (!(design_.durationS > 0)) design_.durationS = 1.0;
    layout_.plotLeft = kLeftMargin;
    layout_.plotWidth = design_.plotWidth;
    layout_.stripHeight = design_.stripHeight;
    layout_.width = kLeftMargin + design_.plotWidth + kRightMargin;
    int y = kTitleHeight;
    for (size_t i = 0; i < design_.channelLabels.size(); ++i) {
        y += kNameHeight;
        layout_.stripTop.push_back(y);
        y += design_.stripHeight + kStripGap;
    }
    layout_.height = y + kAxisHeight;
    channels_.resize(design_.channelLabels.size());
    for (Channel& c : channels_) c.columns.assign(static_cast<size_t>(design_.plotWidth), Column{1.0f, -1.0f, 0.0f, 0.0f});
}

int Chart::columnOf(double timeS) const {
    const double x = timeS / design_.durationS * design_.plotWidth;
    if (!(x >= 0)) return 0;
    return x >= design_.plotWidth ? design_.plotWidth - 1 : static_cast<int>(x);
}

int Chart::rowOf(uint32_t channel, double value) const {
    const double fraction = (design_.yMax - value) / (design_.yMax - design_.yMin);
    const int inside = static_cast<int>(floor(fraction * (design_.stripHeight - 1) + 0.5));
    return layout_.stripTop[channel] + std::max(0, std::min(design_.stripHeight - 1, inside));
}

void Chart::add(uint32_t channel, double startS, double distanceS, const float* samples, uint32_t count) {
    if (channel >= channels_.size()) return;
    Channel& c = channels_[channel];
    for (uint32_t j = 0; j < count; ++j) {
        const float v = samples[j];
        if (v != v) continue;
        Column& column = c.columns[static_cast<size_t>(columnOf(startS + j * distanceS))];
        if (column.min > column.max) {
            column.min = column.max = column.first = v;
        } else {
            column.min = std::min(column.min, v);
            column.max = std::max(column.max, v);
        }
        column.last = v;
        ++c.samples;
    }
}

void Chart::drawStrip(HDC dc, int x, int y, uint32_t channel) const {
    const int left = x + layout_.plotLeft;
    const int top = y + layout_.stripTop[channel];
    const int right = left + layout_.plotWidth - 1;
    const int bottom = top + layout_.stripHeight - 1;

    // Grid and tick labels: levels 0 and 5 for a digital channel, round volts otherwise.
    std::vector<double> yTicks;
    double yStep = 5.0;
    if (design_.digital) {
        yTicks = {0.0, 5.0};
    } else {
        yStep = NiceStep(design_.yMax - design_.yMin, 4);
        for (double v = ceil(design_.yMin / yStep) * yStep; v <= design_.yMax + yStep * 1e-9; v += yStep) yTicks.push_back(v);
    }
    const double xStep = NiceStep(design_.durationS, 10);
    {
        GdiObject pen(dc, CreatePen(PS_SOLID, 1, kGridColour));
        for (double v : yTicks) {
            const int row = y + rowOf(channel, v);
            Line(dc, left, row, right + 1, row);
        }
        for (double t = xStep; t < design_.durationS - xStep * 1e-9; t += xStep) {
            const int col = left + columnOf(t);
            Line(dc, col, top, col, bottom + 1);
        }
    }
    SetTextColor(dc, kTextColour);
    for (double v : yTicks)
        Text(dc, left - 6, y + rowOf(channel, v) - 6, TickText(v, yStep) + (design_.digital ? L"" : L" V"), TA_RIGHT | TA_TOP);
    Text(dc, left, top - kNameHeight + 2, utf8ToWide(design_.channelLabels[channel]), TA_LEFT | TA_TOP);

    // The trace: each column from its minimum to its maximum, reaching back to the
    // last sample before it, in the next column or across the empty ones between.
    {
        GdiObject pen(dc, CreatePen(PS_SOLID, 1, kTraceColour));
        const Channel& c = channels_[channel];
        int previous = -1;     // the last column with samples
        int previousRow = 0;   // the row of its last sample
        for (int col = 0; col < layout_.plotWidth; ++col) {
            const Column& column = c.columns[static_cast<size_t>(col)];
            if (column.min > column.max) continue;
            int high = rowOf(channel, column.max);
            int low = rowOf(channel, column.min);
            if (previous >= 0 && previous == col - 1) {
                high = std::min(high, previousRow);
                low = std::max(low, previousRow);
            } else if (previous >= 0) {
                Line(dc, left + previous, y + previousRow, left + col, y + rowOf(channel, column.first));
            }
            Line(dc, left + col, y + high, left + col, y + low + 1);
            previous = col;
            previousRow = rowOf(channel, column.last);
        }
    }
    {
        GdiObject pen(dc, CreatePen(PS_SOLID, 1, kFrameColour));
        HGDIOBJ brush = SelectObject(dc, GetStockObject(NULL_BRUSH));
        Rectangle(dc, left - 1, top - 1, right + 2, bottom + 2);
        SelectObject(dc, brush);
    }
}

void Chart::draw(HDC dc, int x, int y) const {
    RECT all = {x, y, x + layout_.width, y + layout_.height};
    HBRUSH background = CreateSolidBrush(kBackground);
    FillRect(dc, &all, background);
    DeleteObject(background);
    SetBkMode(dc, TRANSPARENT);
    {
        GdiObject font(dc, MakeFont(15, true));
        SetTextColor(dc, kTextColour);
        Text(dc, x + layout_.plotLeft, y + 7, utf8ToWide(design_.title), TA_LEFT | TA_TOP);
    }
    GdiObject font(dc, MakeFont(12, false));
    for (uint32_t c = 0; c < channels_.size(); ++c) drawStrip(dc, x, y, c);
    if (channels_.empty()) return;
    // The x axis under the last strip.
    const int axisTop = y + layout_.stripTop.back() + layout_.stripHeight + 4;
    const double xStep = NiceStep(design_.durationS, 10);
    for (double t = 0; t <= design_.durationS + xStep * 1e-9; t += xStep)
        Text(dc, x + layout_.plotLeft + columnOf(t), axisTop, TickText(t, xStep), TA_CENTER | TA_TOP);
    Text(dc, x + layout_.plotLeft + layout_.plotWidth, axisTop + 16, L"s", TA_RIGHT | TA_TOP);
}

bool Chart::render(std::vector<uint8_t>& rgb) const {
    MemoryBitmap bitmap(layout_.width, layout_.height);
    if (!bitmap.ok()) return false;
    draw(bitmap.dc(), 0, 0);
    const size_t n = static_cast<size_t>(layout_.width) * layout_.height;
    rgb.resize(n * 3);
    const uint8_t* bgra = bitmap.bits();
    for (size_t i = 0; i < n; ++i) {
        rgb[3 * i] = bgra[4 * i + 2];
        rgb[3 * i + 1] = bgra[4 * i + 1];
        rgb[3 * i + 2] = bgra[4 * i];
    }
    return true;
}

bool Chart::writePng(const std::string& path) const {
    std::vector<uint8_t> rgb;
    return render(rgb) && WritePng(path, layout_.width, layout_.height, rgb);
}

}  // namespace velk
