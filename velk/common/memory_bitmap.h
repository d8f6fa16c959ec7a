// A 32-bit top-down bitmap in memory (a DIB section) with a device context drawing
// on it: the stand-in's class bitmaps, charts and live view are drawn this way.
#pragma once

#include <windows.h>
#include <stdint.h>

namespace velk {

class MemoryBitmap {
public:
    MemoryBitmap(int width, int height);
    ~MemoryBitmap();
    MemoryBitmap(const MemoryBitmap&) = delete;
    MemoryBitmap& operator=(const MemoryBitmap&) = delete;

    bool ok() const { return dc_ != nullptr && bits_ != nullptr; }
    HDC dc() const { return dc_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // The pixels, blue green red unused, top row first (after GdiFlush).
    const uint8_t* bits() const {
        GdiFlush();
        return static_cast<const uint8_t*>(bits_);
    }
    // Gives the bitmap away (the context is deleted); null when there is none.
    HBITMAP take();

    // The description of such a bitmap, for SetDIBitsToDevice and friends.
    static BITMAPINFO info(int width, int height);

private:
    int width_, height_;
    HBITMAP bitmap_ = nullptr;
    HDC dc_ = nullptr;
    HGDIOBJ old_ = nullptr;
    void* bits_ = nullptr;
};

}  // namespace velk
