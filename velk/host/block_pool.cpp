#include "velk/host/block_pool.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace velk {

namespace {
constexpr unsigned char kMarker0 = 'V';
constexpr unsigned char kMarker1 = 'B';
}  // namespace

BlockBuffer::BlockBuffer(uint32_t capacity, uint32_t serial, BlockPool* home)
    : bytes_(kHeaderBytes + size_t(capacity) * sizeof(float) + kGuardBytes),
      capacity_(capacity),
      serial_(serial),
      home_(home) {
    prepare();
}

void BlockBuffer::prepare() {
    bytes_[0] = kMarker0;
    bytes_[1] = kMarker1;
    std::memcpy(&bytes_[2], &serial_, 4);
    std::memset(&bytes_[6], 0xFF, bytes_.size() - 6 - kGuardBytes);
    std::memset(&bytes_[bytes_.size() - kGuardBytes], kGuardByte, kGuardBytes);
}

bool BlockBuffer::damaged() const {
    uint32_t serial = 0;
    std::memcpy(&serial, &bytes_[2], 4);
    if (bytes_[0] != kMarker0 || bytes_[1] != kMarker1 || serial != serial_) return true;
    for (size_t i = bytes_.size() - kGuardBytes; i < bytes_.size(); ++i)
        if (bytes_[i] != kGuardByte) return true;
    return false;
}

std::string BlockBuffer::damage() const {
    std::string out;
    uint32_t serial = 0;
    std::memcpy(&serial, &bytes_[2], 4);
    if (bytes_[0] != kMarker0 || bytes_[1] != kMarker1 || serial != serial_)
        out = "Velk's 6 bytes at the start of block " + std::to_string(serial_) + " were overwritten";
    for (size_t i = bytes_.size() - kGuardBytes; i < bytes_.size(); ++i) {
        if (bytes_[i] != kGuardByte) {
            if (!out.empty()) out += "; ";
            out += "samples written past the end of block " + std::to_string(serial_) + " (room for " +
                   std::to_string(capacity_) + ")";
            break;
        }
    }
    return out;
}

std::vector<float> BlockBuffer::samples() const {
    const DataBlock* b = data();
    uint16_t count = 0;
    std::memcpy(&count, reinterpret_cast<const unsigned char*>(b) + offsetof(DataBlock, sampleCount), 2);
    std::vector<float> out(std::min<uint32_t>(count, capacity_));
    if (!out.empty()) std::memcpy(out.data(), &bytes_[kHeaderBytes], out.size() * sizeof(float));
    return out;
}

BlockPool::~BlockPool() = default;

BlockBuffer* BlockPool::current(uint32_t blockSize, uint32_t& serialCounter) {
    if (current_) return current_;
    const size_t out = blocks_.size() - idle_.size();
    if (out >= capacity_) return nullptr;
    const uint32_t room = std::max<uint32_t>(blockSize, 1);
    BlockBuffer* block = nullptr;
    while (!idle_.empty() && !block) {
        BlockBuffer* candidate = idle_.back();
        idle_.pop_back();
        if (candidate->capacity() >= room) {
            block = candidate;
        } else {  // too small for the present block size: replace it
            blocks_.erase(std::remove_if(blocks_.begin(), blocks_.end(),
                                         [&](const std::unique_ptr<BlockBuffer>& b) { return b.get() == candidate; }),
                          blocks_.end());
        }
    }
    if (!block) {
        blocks_.push_back(std::make_unique<BlockBuffer>(room, ++serialCounter, this));
        block = blocks_.back().get();
    }
    block->prepare();
    block->holders = 0;
    current_ = block;
    return block;
}

BlockBuffer* BlockPool::detachCurrent() {
    BlockBuffer* b = current_;
    current_ = nullptr;
    return b;
}

void BlockPool::giveBack(BlockBuffer* block) {
    if (!block || !owns(block) || block == current_) return;
    if (std::find(idle_.begin(), idle_.end(), block) == idle_.end()) idle_.push_back(block);
}

bool BlockPool::owns(const BlockBuffer* block) const {
    for (const auto& b : blocks_)
        if (b.get() == block) return true;
    return false;
}

PoolStats BlockPool::stats() const {
    PoolStats s;
    s.capacity = capacity_;
    s.total = blocks_.size();
    s.idle = idle_.size();
    s.out = s.total - s.idle;
    s.currentOut = current_ != nullptr;
    return s;
}

}  // namespace velk
