// The simulated driver's call log: the latest calls of the card operations, kept as
// fixed-size binary entries in a ring, and written out as text lines only when a
// test asks for them (SimGetCallLog). Logging a call costs a few stores.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace simcard {

struct CallEntry {
    uint8_t op = 0;        // Operation
    bool null = false;     // the pointer argument the line shows was null
    uint8_t argCount = 0;  // arguments shown after the socket
    bool detail = false;   // GetSamplingStatus / InPort: the values read follow the result
    int32_t result = 0;
    int64_t socket = 0;
    int64_t args[8] = {};
};

class CallLog {
public:
    explicit CallLog(size_t limit) : limit_(limit) {}
    // The entry for the next call (the oldest is dropped when the log is full).
    CallEntry& add();
    void clear() { size_ = 0; head_ = 0; }
    size_t size() const { return size_; }
    // Every entry, oldest first, one line each ("Tk17GetData 0 400 -> 1\n").
    std::string text() const;
    static std::string line(const CallEntry& e);

private:
    size_t limit_;
    std::vector<CallEntry> ring_;
    size_t head_ = 0;  // index of the oldest entry
    size_t size_ = 0;
};

}  // namespace simcard
