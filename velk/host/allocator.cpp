#include "velk/host/allocator.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velk {

namespace {

std::string tagText(const char* tag) { return tag ? std::string(tag) : std::string("(null)"); }

std::string site(const std::string& tag, int32_t line) { return tag + ":" + std::to_string(line); }

std::string pointerText(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

bool guardIntact(const unsigned char* base, uint32_t size) {
    for (size_t i = 0; i < TaggedAllocator::kGuardBytes; ++i)
        if (base[size + i] != TaggedAllocator::kGuardByte) return false;
    return true;
}

}  // namespace

TaggedAllocator::~TaggedAllocator() { releaseAll(); }

bool TaggedAllocator::takeFailure(const std::string& tag, int32_t line) {
    for (auto it = failures_.begin(); it != failures_.end(); ++it) {
        if (it->tag != tag || (it->line != kAnyLine && it->line != line)) continue;
        if (it->once) failures_.erase(it);
        return true;
    }
    return false;
}

void TaggedAllocator::report(const std::string& error, const std::string& event) {
    std::function<void(const std::string&)> errorSink, eventSink;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        errorSink = errorSink_;
        eventSink = eventSink_;
    }
    if (!event.empty() && eventSink) eventSink(event);
    if (!error.empty() && errorSink) errorSink(error);
}

void* TaggedAllocator::allocate(uint32_t size, const char* tagPtr, int32_t line) {
    const std::string tag = tagText(tagPtr);
    void* p = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (takeFailure(tag, line)) {
            ++failedAllocations_;
            events_.push_back({AllocationEvent::Kind::FailedAlloc, nullptr, size, tag, line});
        } else {
            auto* bytes = size <= kLargestBlock ? static_cast<unsigned char*>(std::malloc(size_t(size) + kGuardBytes))
                                                : nullptr;
            if (bytes) {
                std::memset(bytes, kFreshByte, size);
                std::memset(bytes + size, kGuardByte, kGuardBytes);
                p = bytes;
                live_[p] = Block{size, tag, line};
                freed_.erase(p);
                events_.push_back({AllocationEvent::Kind::Alloc, p, size, tag, line});
            } else {
                ++failedAllocations_;
                events_.push_back({AllocationEvent::Kind::FailedAlloc, nullptr, size, tag, line});
            }
        }
    }
    report(std::string(), (p ? "Alloc|" : "AllocFailed|") + tag + "|" + std::to_string(line));
    return p;
}

void TaggedAllocator::release(void* p, const char* tagPtr, int32_t line) {
    const std::string tag = tagText(tagPtr);
    std::string error;
    bool bad = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = live_.find(p);
        if (it == live_.end()) {
            bad = true;
            auto was = freed_.find(p);
            if (!p)
                error = "free of a null pointer at " + site(tag, line);
            else if (was != freed_.end())
                error = "double free of " + pointerText(p) + " at " + site(tag, line) + " (allocated at " +
                        site(was->second.allocTag, was->second.allocLine) + ", freed at " +
                        site(was->second.freeTag, was->second.freeLine) + ")";
            else
                error = "free of unknown pointer " + pointerText(p) + " at " + site(tag, line);
            events_.push_back({AllocationEvent::Kind::BadFree, p, 0, tag, line});
            errors_.push_back(error);
        } else {
            auto* bytes = static_cast<unsigned char*>(p);
            if (!guardIntact(bytes, it->second.size)) {
                error = "write past the end of " + std::to_string(it->second.size) + " bytes allocated at " +
                        site(it->second.tag, it->second.line) + " (found at the free at " + site(tag, line) + ")";
                errors_.push_back(error);
            }
            events_.push_back({AllocationEvent::Kind::Free, p, it->second.size, tag, line});
            freed_[p] = Freed{it->second.tag, it->second.line, tag, line};
            live_.erase(it);
            std::free(bytes);
        }
    }
    report(error, (bad ? "BadFree|" : "Free|") + tag + "|" + std::to_string(line));
}

void TaggedAllocator::failNext(const std::string& tag, int32_t line) {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.push_back({tag, line, true});
}

void TaggedAllocator::failAll(const std::string& tag) {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.push_back({tag, kAnyLine, false});
}

void TaggedAllocator::clearFailures() {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.clear();
}

size_t TaggedAllocator::liveCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return live_.size();
}

size_t TaggedAllocator::liveCount(const std::string& tag) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const auto& kv : live_) n += kv.second.tag == tag;
    return n;
}

size_t TaggedAllocator::liveCount(const std::string& tag, int32_t line) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const auto& kv : live_) n += kv.second.tag == tag && kv.second.line == line;
    return n;
}

size_t TaggedAllocator::liveBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const auto& kv : live_) n += kv.second.size;
    return n;
}

bool TaggedAllocator::isLive(const void* p) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return live_.count(const_cast<void*>(p)) != 0;
}

std::string TaggedAllocator::liveReport() const {
    std::lock_guard<std::mutex> lock(mutex_);
    struct Total {
        size_t blocks = 0;
        size_t bytes = 0;
    };
    std::map<std::pair<std::string, int32_t>, Total> bySite;
    for (const auto& kv : live_) {
        Total& t = bySite[{kv.second.tag, kv.second.line}];
        ++t.blocks;
        t.bytes += kv.second.size;
    }
    std::string out;
    for (const auto& kv : bySite) {
        out += site(kv.first.first, kv.first.second) + " " + std::to_string(kv.second.blocks) +
               (kv.second.blocks == 1 ? " block " : " blocks ") + std::to_string(kv.second.bytes) + " bytes\n";
    }
    return out;
}

std::vector<AllocationEvent> TaggedAllocator::events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

std::vector<std::string> TaggedAllocator::errors() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return errors_;
}

size_t TaggedAllocator::failedAllocations() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failedAllocations_;
}

void TaggedAllocator::setErrorSink(std::function<void(const std::string&)> sink) {
    std::lock_guard<std::mutex> lock(mutex_);
    errorSink_ = std::move(sink);
}

void TaggedAllocator::setEventSink(std::function<void(const std::string&)> sink) {
    std::lock_guard<std::mutex> lock(mutex_);
    eventSink_ = std::move(sink);
}

size_t TaggedAllocator::releaseAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = live_.size();
    for (auto& kv : live_) std::free(kv.first);
    live_.clear();
    freed_.clear();
    return n;
}

}  // namespace velk
