#include "velk/recording/png.h"

#include "velk/common/paths.h"

#include <stdio.h>

namespace velk {
namespace {

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
    static uint32_t table[256];
    static bool made = false;
    if (!made) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        made = true;
    }
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t Adler32(const std::vector<uint8_t>& data) {
    uint32_t a = 1, b = 0;
    for (uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

void PutBig32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void Chunk(std::vector<uint8_t>& file, const char type[4], const std::vector<uint8_t>& body) {
    PutBig32(file, static_cast<uint32_t>(body.size()));
    std::vector<uint8_t> typed(type, type + 4);
    typed.insert(typed.end(), body.begin(), body.end());
    file.insert(file.end(), typed.begin(), typed.end());
    PutBig32(file, Crc32(typed.data(), typed.size()));
}

// Bits of a deflate stream, least significant first.
class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    void put(uint32_t bits, int count) {
        buffer_ |= static_cast<uint64_t>(bits) << used_;
        used_ += count;
        while (used_ >= 8) {
            out_.push_back(static_cast<uint8_t>(buffer_));
            buffer_ >>= 8;
            used_ -= 8;
        }
    }
    // A Huffman code, whose bits go most significant first.
    void code(uint32_t code, int length) {
        uint32_t reversed = 0;
        for (int i = 0; i < length; ++i) reversed |= ((code >> i) & 1u) << (length - 1 - i);
        put(reversed, length);
    }
    void flush() {
        if (used_ > 0) out_.push_back(static_cast<uint8_t>(buffer_));
        buffer_ = 0;
        used_ = 0;
    }

private:
    std::vector<uint8_t>& out_;
    uint64_t buffer_ = 0;
    int used_ = 0;
};

// The fixed Huffman code of a literal/length symbol (RFC 1951, 3.2.6).
void PutSymbol(BitWriter& w, uint32_t symbol) {
    if (symbol < 144) w.code(0x30 + symbol, 8);
    else if (symbol < 256) w.code(0x190 + symbol - 144, 9);
    else if (symbol < 280) w.code(symbol - 256, 7);
    else w.code(0xC0 + symbol - 280, 8);
}

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

void PutMatch(BitWriter& w, uint32_t length, uint32_t distance) {
    int l = 28;
    while (kLengthBase[l] > length) --l;
    PutSymbol(w, 257 + l);
    w.put(length - kLengthBase[l], kLengthExtra[l]);
    int d = 29;
    while (kDistanceBase[d] > distance) --d;
    w.code(static_cast<uint32_t>(d), 5);
    w.put(distance - kDistanceBase[d], kDistanceExtra[d]);
}

}  // namespace

std::vector<uint8_t> ZlibCompress(const std::vector<uint8_t>& raw) {
    constexpr size_t kWindow = 32768;
    constexpr int kHashBits = 15;
    constexpr int kChainSteps = 32;
    constexpr size_t kMaxMatch = 258;
    std::vector<uint8_t> out = {0x78, 0x01};
    BitWriter w(out);
    w.put(1, 1);  // one final block
    w.put(1, 2);  // with fixed Huffman codes
    std::vector<int32_t> head(size_t(1) << kHashBits, -1);
    std::vector<int32_t> previous(raw.size(), -1);
    auto hashAt = [&](size_t i) {
        return ((raw[i] << 10) ^ (raw[i + 1] << 5) ^ raw[i + 2]) & ((1u << kHashBits) - 1);
    };
    auto insert = [&](size_t i) {
        if (i + 2 >= raw.size()) return;
        const uint32_t h = hashAt(i);
        previous[i] = head[h];
        head[h] = static_cast<int32_t>(i);
    };
    size_t i = 0;
    while (i < raw.size()) {
        size_t bestLength = 0, bestDistance = 0;
        if (i + 2 < raw.size()) {
            int32_t candidate = head[hashAt(i)];
            const size_t limit = raw.size() - i < kMaxMatch ? raw.size() - i : kMaxMatch;
            for (int step = 0; candidate >= 0 && step < kChainSteps; ++step, candidate = previous[candidate]) {
                const size_t distance = i - static_cast<size_t>(candidate);
                if (distance > kWindow) break;
                size_t length = 0;
                while (length < limit && raw[candidate + length] == raw[i + length]) ++length;
                if (length > bestLength) {
                    bestLength = length;
                    bestDistance = distance;
                    if (length == limit) break;
                }
            }
        }
        if (bestLength >= 3) {
            PutMatch(w, static_cast<uint32_t>(bestLength), static_cast<uint32_t>(bestDistance));
            for (size_t k = 0; k < bestLength; ++k) insert(i + k);
            i += bestLength;
        } else {
            PutSymbol(w, raw[i]);
            insert(i);
            ++i;
        }
    }
    PutSymbol(w, 256);
    w.flush();
    PutBig32(out, Adler32(raw));
    return out;
}

namespace {

// Filters one row (3 bytes a pixel) as the filter type that gives the smallest sum
// of bytes taken as signed values, a common choice for images like these.
void FilterRow(const uint8_t* row, const uint8_t* above, size_t bytes, std::vector<uint8_t>& raw) {
    std::vector<uint8_t> best;
    long bestCost = -1;
    for (uint8_t type = 0; type <= 2; ++type) {
        if (type == 2 && above == nullptr) continue;
        std::vector<uint8_t> filtered(bytes + 1);
        filtered[0] = type;
        long cost = 0;
        for (size_t k = 0; k < bytes; ++k) {
            const uint8_t left = k >= 3 ? row[k - 3] : 0;
            const uint8_t up = above ? above[k] : 0;
            const uint8_t v = static_cast<uint8_t>(row[k] - (type == 1 ? left : type == 2 ? up : 0));
            filtered[k + 1] = v;
            cost += v < 128 ? v : 256 - v;
        }
        if (bestCost < 0 || cost < bestCost) {
            bestCost = cost;
            best.swap(filtered);
        }
    }
    raw.insert(raw.end(), best.begin(), best.end());
}

}  // namespace

bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb) {
    if (width <= 0 || height <= 0 || rgb.size() != static_cast<size_t>(width) * height * 3) return false;
    std::vector<uint8_t> raw;  // each row: its filter type, then the filtered pixels
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    raw.reserve((rowBytes + 1) * height);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = rgb.data() + static_cast<size_t>(y) * rowBytes;
        FilterRow(row, y > 0 ? row - rowBytes : nullptr, rowBytes, raw);
    }
    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBig32(header, static_cast<uint32_t>(width));
    PutBig32(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, filter 0, no interlace
    Chunk(file, "IHDR", header);
    Chunk(file, "IDAT", ZlibCompress(raw));
    Chunk(file, "IEND", {});
    FILE* f = _wfopen(widePath(path).c_str(), L"wb");
    if (!f) return false;
    const bool ok = fwrite(file.data(), 1, file.size(), f) == file.size();
    return fclose(f) == 0 && ok;
}

}  // namespace velk
