// Velk's memory allocator as the extension sees it (NewMemAlloc / NewDoMemFree):
// every allocation and free carries the caller's source tag and line, the live
// blocks are counted by tag and line, and faults in the caller's use of it (freeing
// what it never got, freeing twice, writing past the end) are recorded instead of
// crashing. Allocations can be made to fail on purpose.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace velk {

struct AllocationEvent {
    enum class Kind { Alloc, FailedAlloc, Free, BadFree };
    Kind kind;
    const void* pointer;  // null for a failed allocation
    uint32_t size;        // requested size (allocations), size of the freed block (frees)
    std::string tag;
    int32_t line;
};

class TaggedAllocator {
public:
    static constexpr int32_t kAnyLine = INT32_MIN;
    // Fresh memory is filled with this byte, so that a caller relying on zeroed
    // memory sees garbage; the bytes just past each block hold kGuardByte.
    static constexpr unsigned char kFreshByte = 0xCD;
    static constexpr unsigned char kGuardByte = 0xFD;
    static constexpr size_t kGuardBytes = 8;
    // The largest block granted: Velk is a 32-bit program, and no larger block fits
    // its address space. Larger requests fail like any refused allocation (and the
    // size with its guard bytes can never wrap a 32-bit size_t).
    static constexpr uint32_t kLargestBlock = 0x7FFFFFF0u;

    TaggedAllocator() = default;
    ~TaggedAllocator();
    TaggedAllocator(const TaggedAllocator&) = delete;
    TaggedAllocator& operator=(const TaggedAllocator&) = delete;

    // NewMemAlloc: null when a failure was injected for this tag and line, or the
    // request is beyond kLargestBlock or the heap.
    void* allocate(uint32_t size, const char* tag, int32_t line);
    // NewDoMemFree: frees a live block; anything else is recorded as an error.
    void release(void* pointer, const char* tag, int32_t line);

    // Failure injection: the next allocation from tag (at line, or at any line)
    // fails; or every allocation from tag fails until clearFailures().
    void failNext(const std::string& tag, int32_t line = kAnyLine);
    void failAll(const std::string& tag);
    void clearFailures();

    size_t liveCount() const;
    size_t liveCount(const std::string& tag) const;
    size_t liveCount(const std::string& tag, int32_t line) const;
    size_t liveBytes() const;
    bool isLive(const void* pointer) const;
    // One line per allocation site with live blocks: "Vyttk17AD:200 2 blocks 800 bytes".
    // Empty when nothing is live.
    std::string liveReport() const;

    std::vector<AllocationEvent> events() const;
    std::vector<std::string> errors() const;
    size_t failedAllocations() const;

    // Called (outside the allocator's lock) with every error text as it is recorded.
    void setErrorSink(std::function<void(const std::string&)> sink);
    // Called with "Alloc|tag|line" / "Free|tag|line" for each successful call.
    void setEventSink(std::function<void(const std::string&)> sink);

    // Frees every live block (the host's teardown); returns how many there were.
    size_t releaseAll();

private:
    struct Block {
        uint32_t size;
        std::string tag;
        int32_t line;
    };
    struct Freed {
        std::string allocTag;
        int32_t allocLine;
        std::string freeTag;
        int32_t freeLine;
    };
    struct Failure {
        std::string tag;
        int32_t line;
        bool once;
    };

    bool takeFailure(const std::string& tag, int32_t line);
    void report(const std::string& error, const std::string& event);

    mutable std::mutex mutex_;
    std::map<void*, Block> live_;
    std::map<const void*, Freed> freed_;
    std::vector<Failure> failures_;
    std::vector<AllocationEvent> events_;
    std::vector<std::string> errors_;
    size_t failedAllocations_ = 0;
    std::function<void(const std::string&)> errorSink_;
    std::function<void(const std::string&)> eventSink_;
};

}  // namespace velk
