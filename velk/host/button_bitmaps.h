// The button bitmaps Velk lends to its extensions: the channel button (22 x 30
// pixels, states 0 never set, 1 selected, 2 active, 3 inactive) and the less/more
// button (24 x 32 pixels, 0 less disabled, 1 less enabled, 2 less pressed,
// 3 more disabled, 4 more enabled, 5 more pressed).
#pragma once

#include <windows.h>

namespace velk {

constexpr int kChannelBitmapCount = 4;
constexpr int kChannelBitmapWidth = 22;
constexpr int kChannelBitmapHeight = 30;
constexpr int kLessMoreBitmapCount = 6;
constexpr int kLessMoreBitmapWidth = 24;
constexpr int kLessMoreBitmapHeight = 32;

// Face colours of the channel button.
constexpr COLORREF kChannelNeverSetColour = RGB(48, 48, 48);
constexpr COLORREF kChannelSelectedColour = RGB(255, 216, 0);
constexpr COLORREF kChannelActiveColour = RGB(0, 168, 0);
constexpr COLORREF kChannelInactiveColour = RGB(160, 160, 160);
// Arrow colours of the less/more button.
constexpr COLORREF kArrowEnabledColour = RGB(0, 0, 0);
constexpr COLORREF kArrowDisabledColour = RGB(128, 128, 128);

// New bitmap for a button state; the caller owns it (DeleteObject).
HBITMAP makeChannelBitmap(int state);
HBITMAP makeLessMoreBitmap(int state);

}  // namespace velk
