#include "velk/common/memory_bitmap.h"

namespace velk {

BITMAPINFO MemoryBitmap::info(int width, int height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

MemoryBitmap::MemoryBitmap(int width, int height) : width_(width), height_(height) {
    const BITMAPINFO description = info(width, height);
    bitmap_ = CreateDIBSection(nullptr, &description, DIB_RGB_COLORS, &bits_, nullptr, 0);
    if (!bitmap_) return;
    dc_ = CreateCompatibleDC(nullptr);
    if (dc_) old_ = SelectObject(dc_, bitmap_);
}

MemoryBitmap::~MemoryBitmap() {
    if (dc_) {
        SelectObject(dc_, old_);
        DeleteDC(dc_);
    }
    if (bitmap_) DeleteObject(bitmap_);
}

HBITMAP MemoryBitmap::take() {
    GdiFlush();
    if (dc_) {
        SelectObject(dc_, old_);
        DeleteDC(dc_);
        dc_ = nullptr;
    }
    HBITMAP b = bitmap_;
    bitmap_ = nullptr;
    bits_ = nullptr;
    return b;
}

}  // namespace velk
