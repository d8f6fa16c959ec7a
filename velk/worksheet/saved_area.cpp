// The extension's private data areas as the stand-in reads them: their sizes (to
// check a saved area before anything runs) and what their fields mean (to show a
// saved area in readable form). The host itself keeps and gives back the bytes as
// they are; nothing here changes them.
#include "velk/worksheet/saved_module.h"

#include "velk/common/text.h"

#include <stdio.h>
#include <string.h>

namespace velk {

namespace {

constexpr size_t kNameSlot = 24;
constexpr size_t kAnalogSocket = 192;
constexpr size_t kDigitalSocket = 96;
constexpr size_t kAnalogRange = 200;
constexpr size_t kAnalogFirstChannel = 204;
constexpr size_t kAnalogLastChannel = 208;
constexpr size_t kAnalogInterval = 212;
constexpr size_t kAnalogConstant0 = 216;  // the mode record's two constant fields
constexpr size_t kAnalogConstant1 = 220;
constexpr size_t kAnalogDriverBuffer = 224;
constexpr size_t kAnalogDecimation = 228;
constexpr size_t kAnalogSampleBuffer = 232;
constexpr size_t kAnalogSamplesPerRead = 240;
constexpr size_t kAnalogBufferIndex = 248;
constexpr size_t kDigitalOutputBuffer = 100;

const char* const kBufferNames[8] = {"64K", "128K", "256K", "512K", "1M", "2M", "4M", "8M"};

std::string pointerAt(const std::string& area, size_t offset) {
    uintptr_t p = 0;
    if (area.size() >= offset + sizeof p) memcpy(&p, area.data() + offset, sizeof p);
    if (p == 0) return "0 (none)";
    char text[40];
    snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(p));
    return text;
}

// A channel name slot as the module keeps it: the text up to its zero.
std::string slotText(const std::string& area, size_t slot) {
    const size_t at = slot * kNameSlot;
    if (area.size() < at + kNameSlot) return "?";
    const std::string bytes = area.substr(at, kNameSlot);
    const size_t zero = bytes.find('\0');
    std::string text = cp932ToUtf8(bytes.substr(0, zero));
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    text = "\"" + text + "\"";
    if (zero == std::string::npos) text += " (no terminating zero in its 24 bytes)";
    return text;
}

void addNames(std::vector<std::string>& lines, const std::string& area, size_t slots) {
    for (size_t i = 0; i < slots; ++i) lines.push_back("channel " + std::to_string(i) + " name " + slotText(area, i));
}

}  // namespace

uint32_t areaBytesOf(ModuleKind kind) {
    switch (kind) {
        case ModuleKind::AnalogIn: return 256;
        case ModuleKind::DigitalIn: return 104;
        case ModuleKind::DigitalOut: return static_cast<uint32_t>(kDigitalOutputBuffer + sizeof(void*));
    }
    return 0;
}

int32_t areaInt32(const std::string& area, size_t offset) {
    int32_t v = 0;
    if (area.size() >= offset + 4) memcpy(&v, area.data() + offset, 4);
    return v;
}

uint16_t areaSocket(ModuleKind kind, const std::string& area) {
    const size_t at = kind == ModuleKind::AnalogIn ? kAnalogSocket : kDigitalSocket;
    uint16_t socket = 0;
    if (area.size() >= at + 2) memcpy(&socket, area.data() + at, 2);
    return socket;
}

std::vector<std::string> describeArea(ModuleKind kind, const std::string& area) {
    std::vector<std::string> lines;
    const uint16_t socket = areaSocket(kind, area);
    lines.push_back("card socket " + std::to_string(socket) + (socket > 3 ? " (there are sockets 0 to 3 only)" : ""));
    if (kind == ModuleKind::AnalogIn) {
        const int32_t range = areaInt32(area, kAnalogRange);
        lines.push_back("range " + std::to_string(range) +
                        (range == 0 ? u8" (±10 V)" : range == 1 ? u8" (±5 V)" : u8" (not 0 or 1: the module runs ±5 V)"));
        const int32_t index = areaInt32(area, kAnalogBufferIndex);
        lines.push_back("buffer size index " + std::to_string(index) +
                        (index >= 0 && index <= 7 ? std::string(" (") + kBufferNames[index] + ")"
                                                  : std::string(" (not 0 to 7: the module uses 256K)")));
        lines.push_back("written at each start: first channel " +
                        std::to_string(areaInt32(area, kAnalogFirstChannel)) + ", last channel " +
                        std::to_string(areaInt32(area, kAnalogLastChannel)) +
                        ", interval " + std::to_string(areaInt32(area, kAnalogInterval)) + ", driver buffer " +
                        std::to_string(areaInt32(area, kAnalogDriverBuffer)) + ", decimation " +
                        std::to_string(areaInt32(area, kAnalogDecimation)) + ", samples per read " +
                        std::to_string(static_cast<uint32_t>(areaInt32(area, kAnalogSamplesPerRead))));
        lines.push_back("the mode record's constant fields: " + std::to_string(areaInt32(area, kAnalogConstant0)) +
                        " at byte 216 and " + std::to_string(areaInt32(area, kAnalogConstant1)) +
                        " at byte 220 (0 and 1, written at creation and never changed)");
        lines.push_back("sample buffer " + pointerAt(area, kAnalogSampleBuffer) +
                        " (a pointer of the process that saved it, set while a run goes)");
        addNames(lines, area, 8);
    } else {
        if (kind == ModuleKind::DigitalOut)
            lines.push_back("output buffer " + pointerAt(area, kDigitalOutputBuffer) +
                            " (a pointer of the process that saved it, set while a run goes)");
        addNames(lines, area, 4);
    }
    return lines;
}

}  // namespace velk
