// A small PNG writer for the stand-in's charts and the dialog screenshots: 24-bit
// RGB, each row filtered (none, sub or up, whichever leaves the smallest bytes) and
// compressed with deflate (LZ77 over a 32 KiB window, fixed Huffman codes), so no
// compression library is needed.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace velk {

// `rgb` holds height rows of width pixels, 3 bytes each (red, green, blue), top row
// first. False when the file cannot be written.
bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);

// The zlib stream (RFC 1950) of `raw`: deflate blocks with fixed Huffman codes.
std::vector<uint8_t> ZlibCompress(const std::vector<uint8_t>& raw);

}  // namespace velk
