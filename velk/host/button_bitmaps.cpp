#include "velk/host/button_bitmaps.h"

#include "velk/common/memory_bitmap.h"

namespace velk {

namespace {

constexpr COLORREF kHighlight = RGB(255, 255, 255);
constexpr COLORREF kShadow = RGB(64, 64, 64);
constexpr COLORREF kButtonFace = RGB(192, 192, 192);
constexpr COLORREF kFrame = RGB(0, 0, 0);

// A 32-bit top-down bitmap in memory, with the few figures the buttons need.
class Canvas {
public:
    Canvas(int width, int height) : bitmap_(width, height), dc_(bitmap_.dc()), width_(width), height_(height) {}
    HBITMAP take() { return bitmap_.take(); }
    void fill(int left, int top, int right, int bottom, COLORREF colour) {
        RECT r = {left, top, right, bottom};
        HBRUSH brush = CreateSolidBrush(colour);
        FillRect(dc_, &r, brush);
        DeleteObject(brush);
    }
    void line(int x0, int y0, int x1, int y1, COLORREF colour) {
        HPEN pen = CreatePen(PS_SOLID, 1, colour);
        HGDIOBJ old = SelectObject(dc_, pen);
        MoveToEx(dc_, x0, y0, nullptr);
        LineTo(dc_, x1, y1);
        SelectObject(dc_, old);
        DeleteObject(pen);
    }
    // One-pixel frame, then a bevel: raised (light top-left) or sunken (dark top-left).
    void bevel(bool sunken) {
        const int w = width_, h = height_;
        line(0, 0, w, 0, kFrame);
        line(0, 0, 0, h, kFrame);
        line(w - 1, 0, w - 1, h, kFrame);
        line(0, h - 1, w, h - 1, kFrame);
        const COLORREF topLeft = sunken ? kShadow : kHighlight;
        const COLORREF bottomRight = sunken ? kHighlight : kShadow;
        for (int i = 1; i <= 2; ++i) {
            line(i, i, w - i, i, topLeft);
            line(i, i, i, h - i, topLeft);
            line(w - 1 - i, i, w - 1 - i, h - i, bottomRight);
            line(i, h - 1 - i, w - i, h - 1 - i, bottomRight);
        }
    }
    // Solid triangle pointing left or right, centred at (cx, cy).
    void arrow(bool pointsLeft, int cx, int cy, COLORREF colour) {
        const int half = 6;
        POINT p[3];
        if (pointsLeft) {
            p[0] = {cx - half / 2 - 1, cy};
            p[1] = {cx + half / 2 + 1, cy - half};
            p[2] = {cx + half / 2 + 1, cy + half};
        } else {
            p[0] = {cx + half / 2 + 1, cy};
            p[1] = {cx - half / 2 - 1, cy - half};
            p[2] = {cx - half / 2 - 1, cy + half};
        }
        HBRUSH brush = CreateSolidBrush(colour);
        HPEN pen = CreatePen(PS_SOLID, 1, colour);
        HGDIOBJ oldBrush = SelectObject(dc_, brush);
        HGDIOBJ oldPen = SelectObject(dc_, pen);
        Polygon(dc_, p, 3);
        SelectObject(dc_, oldBrush);
        SelectObject(dc_, oldPen);
        DeleteObject(brush);
        DeleteObject(pen);
    }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    MemoryBitmap bitmap_;
    HDC dc_;
    int width_, height_;
};

}  // namespace

HBITMAP makeChannelBitmap(int state) {
    Canvas c(kChannelBitmapWidth, kChannelBitmapHeight);
    const int w = c.width(), h = c.height();
    switch (state) {
        case 1:  // selected: yellow face, raised, with a dark inner frame
            c.fill(0, 0, w, h, kChannelSelectedColour);
            c.bevel(false);
            c.line(4, 4, w - 4, 4, kFrame);
            c.line(4, 4, 4, h - 4, kFrame);
            c.line(w - 5, 4, w - 5, h - 4, kFrame);
            c.line(4, h - 5, w - 4, h - 5, kFrame);
            break;
        case 2:  // active: green face, raised
            c.fill(0, 0, w, h, kChannelActiveColour);
            c.bevel(false);
            break;
        case 3:  // inactive: grey face, sunken
            c.fill(0, 0, w, h, kChannelInactiveColour);
            c.bevel(true);
            break;
        default:  // never set: flat dark grey
            c.fill(0, 0, w, h, kChannelNeverSetColour);
            break;
    }
    return c.take();
}

HBITMAP makeLessMoreBitmap(int state) {
    Canvas c(kLessMoreBitmapWidth, kLessMoreBitmapHeight);
    const int w = c.width(), h = c.height();
    const bool less = state < 3;
    const int kind = state % 3;  // 0 disabled, 1 enabled, 2 pressed
    c.fill(0, 0, w, h, kButtonFace);
    c.bevel(kind == 2);
    const int shift = kind == 2 ? 1 : 0;
    if (kind == 0) {
        c.arrow(less, w / 2 + 1, h / 2 + 1, kHighlight);
        c.arrow(less, w / 2, h / 2, kArrowDisabledColour);
    } else {
        c.arrow(less, w / 2 + shift, h / 2 + shift, kArrowEnabledColour);
    }
    return c.take();
}

}  // namespace velk
