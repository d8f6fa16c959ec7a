// PNG files of the stand-in's charts and the dialog screenshots, written by the
// system's image encoder (the Windows Imaging Component): 24-bit RGB, lossless.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace velk {

// `path` is UTF-8. `rgb` holds height rows of width pixels, 3 bytes each (red, green, blue), top row
// first. False when the file cannot be written (nothing is left of it then). Any
// thread: COM is initialised for the call where the thread has not done so, and
// left as it was.
bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);

}  // namespace velk
