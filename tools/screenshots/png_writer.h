// A small PNG writer: 24-bit RGB, deflate in stored (uncompressed) blocks, so no
// compression library is needed.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace shots {

// `rgb` holds height rows of width pixels, 3 bytes each (red, green, blue), top row
// first. False when the file cannot be written.
bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);

}  // namespace shots
