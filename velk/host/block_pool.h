// Data blocks as Velk lends them out: host-owned buffers laid out as DataBlock,
// per-output-channel pools with a bounded number of blocks (a full pool is
// back-pressure: GetCurrentOutputBlock answers null), and the output channel
// record whose first 16 bytes are Velk's OutputChannel.
#pragma once

#include "abi/velk_abi.h"

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

namespace velk {

class BlockPool;

// One data block: the DataBlock layout (6 bytes of Velk's, the header, the
// samples) followed by guard bytes. Velk's 6 bytes carry a marker and the block's
// serial number; both they and the guard are checked when the block comes back.
class BlockBuffer {
public:
    static constexpr size_t kHeaderBytes = offsetof(DataBlock, samples);
    static constexpr size_t kGuardBytes = 16;
    static constexpr unsigned char kGuardByte = 0xFD;

    BlockBuffer(uint32_t capacity, uint32_t serial, BlockPool* home);

    DataBlock* data() { return reinterpret_cast<DataBlock*>(bytes_.data()); }
    const DataBlock* data() const { return reinterpret_cast<const DataBlock*>(bytes_.data()); }
    uint32_t capacity() const { return capacity_; }
    uint32_t serial() const { return serial_; }
    BlockPool* home() const { return home_; }
    void disown() { home_ = nullptr; }

    // Header fields and samples set to all-ones bytes (NaN), so that a producer
    // that leaves a field unwritten is noticed; Velk's bytes and guard restored.
    void prepare();
    // Whether Velk's bytes or the guard were overwritten, and what.
    bool damaged() const;
    std::string damage() const;
    // Samples the block claims to carry, limited to its capacity.
    std::vector<float> samples() const;
    const float* samplesData() const { return reinterpret_cast<const float*>(&bytes_[kHeaderBytes]); }

    int holders = 0;  // consumers that have the block and have not given it back

private:
    std::vector<unsigned char> bytes_;
    uint32_t capacity_;
    uint32_t serial_;
    BlockPool* home_;
};

struct PoolStats {
    size_t capacity = 0;  // most blocks that may be out at once
    size_t total = 0;     // blocks the pool owns
    size_t idle = 0;      // blocks ready to be handed out
    size_t out = 0;       // current block plus blocks held by consumers
    bool currentOut = false;
};

// The blocks of one output channel.
class BlockPool {
public:
    explicit BlockPool(size_t capacity = 8) : capacity_(capacity) {}
    ~BlockPool();
    BlockPool(const BlockPool&) = delete;
    BlockPool& operator=(const BlockPool&) = delete;

    // The channel's current block, or a fresh one with room for blockSize
    // samples, or null when `capacity` blocks are already out.
    BlockBuffer* current(uint32_t blockSize, uint32_t& serialCounter);
    BlockBuffer* peekCurrent() const { return current_; }
    // Ends the current block's turn as the channel's current block.
    BlockBuffer* detachCurrent();
    // A consumer (or the release itself, when there is none) is done with the block.
    void giveBack(BlockBuffer* block);
    bool owns(const BlockBuffer* block) const;

    void setCapacity(size_t capacity) { capacity_ = capacity; }
    PoolStats stats() const;

private:
    size_t capacity_;
    BlockBuffer* current_ = nullptr;
    std::vector<std::unique_ptr<BlockBuffer>> blocks_;
    std::vector<BlockBuffer*> idle_;
};

// The host's output channel record: Velk's OutputChannel first (the extension is
// given its address and writes outputMark at byte 14), then the host's fields.
struct HostOutputChannel {
    OutputChannel velk;
    uint32_t magic;
    uint32_t index;
    void* module;  // the host's module instance
};
static_assert(offsetof(HostOutputChannel, velk) == 0, "OutputChannel comes first");
static_assert(offsetof(HostOutputChannel, velk.outputMark) == 14, "outputMark at 14");
constexpr uint32_t kOutputChannelMagic = 0x4B4C4556;  // "VELK"
// What Velk leaves in outputMark when it hands out a block.
constexpr uint16_t kHandedOutMark = 1;

}  // namespace velk
