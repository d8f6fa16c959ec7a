#include "extension/frame/run_buffers.h"

#include "extension/frame/host_binding.h"

namespace {

// Two classes hold a buffer per started module, and a card serves one module per
// class; room for many more than that.
constexpr int kMaxRunBuffers = 64;

struct RunBuffer {
    const void* area;
    void* buffer;
    bool cardStarted;  // the card was set up and started for this buffer
};
RunBuffer g_runBuffers[kMaxRunBuffers];

RunBuffer* Find(const void* area, const void* buffer) {
    if (buffer == nullptr) return nullptr;
    for (RunBuffer& r : g_runBuffers)
        if (r.buffer == buffer && r.area == area) return &r;
    return nullptr;
}

}  // namespace

void* AllocateRunBuffer(const void* area, uint32_t bytes, const char* sourceTag, int32_t line) {
    RunBuffer* free = Find(nullptr, nullptr);
    for (RunBuffer& r : g_runBuffers)
        if (r.buffer == nullptr) {
            free = &r;
            break;
        }
    if (free == nullptr) return nullptr;
    void* buffer = NewMemAlloc(bytes, sourceTag, line);
    if (buffer != nullptr) *free = RunBuffer{area, buffer, false};
    return buffer;
}

void FreeRunBuffer(const void* area, void* buffer, const char* sourceTag, int32_t line) {
    RunBuffer* r = Find(area, buffer);
    if (r == nullptr) return;
    NewDoMemFree(buffer, sourceTag, line);
    *r = RunBuffer{nullptr, nullptr, false};
}

bool IsRunBuffer(const void* area, const void* buffer) { return Find(area, buffer) != nullptr; }

void MarkCardStarted(const void* area, const void* buffer) {
    if (RunBuffer* r = Find(area, buffer)) r->cardStarted = true;
}

bool IsCardStarted(const void* area, const void* buffer) {
    const RunBuffer* r = Find(area, buffer);
    return r != nullptr && r->cardStarted;
}
