#include "simcard/sim_call_log.h"

#include "simcard/sim_config.h"

namespace simcard {
namespace {

std::string hex(uint64_t v)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    do {
        s.insert(s.begin(), digits[v & 15]);
        v >>= 4;
    } while (v);
    if (s.size() < 2) s.insert(s.begin(), '0');
    return "0x" + s;
}

}  // namespace

CallEntry& CallLog::add()
{
    if (ring_.empty()) ring_.resize(limit_);
    size_t at;
    if (size_ < limit_) {
        at = (head_ + size_) % limit_;
        ++size_;
    } else {
        at = head_;
        head_ = (head_ + 1) % limit_;
    }
    ring_[at] = CallEntry();
    return ring_[at];
}

std::string CallLog::line(const CallEntry& e)
{
    std::string s = operationName(e.op);
    const bool hasSocket = e.op != OpGetVersion;
    if (hasSocket) s += " " + (e.op == OpCreate && e.null ? std::string("null") : std::to_string(e.socket));
    if (e.op == OpSetMode && e.null) {
        s += " null";
    } else {
        for (uint8_t i = 0; i < e.argCount; ++i)
            s += " " + (e.op == OpOutPort ? hex(static_cast<uint64_t>(e.args[i])) : std::to_string(e.args[i]));
    }
    s += " -> " + std::to_string(e.result);
    if (e.detail && e.result) {
        if (e.op == OpGetSamplingStatus)
            s += " " + std::to_string(e.args[0]) + " " + hex(static_cast<uint64_t>(e.args[1]));
        else
            s += " " + hex(static_cast<uint64_t>(e.args[0]));
    }
    return s;
}

std::string CallLog::text() const
{
    std::string out;
    for (size_t i = 0; i < size_; ++i) {
        out += line(ring_[(head_ + i) % limit_]);
        out += '\n';
    }
    return out;
}

}  // namespace simcard
