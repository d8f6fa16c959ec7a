// The buffers the module classes allocate for a running experiment (the analog
// sample buffer, the digital output buffer), each recorded with the private data
// area it belongs to. A reference found in a private data area is read, written or
// freed only when this load of the extension allocated it for that area: Velk keeps
// the area with the module and may bring it back from a saved worksheet, with the
// pointer of another process in it.
#pragma once

#include <stdint.h>

// Allocates through Velk and records the buffer for `area`; null when Velk has no
// memory (or the record is full: more buffers than modules can hold at once).
void* AllocateRunBuffer(const void* area, uint32_t bytes, const char* sourceTag, int32_t line);
// Frees `buffer` through Velk when it is `area`'s own, and forgets it; a reference
// this load did not allocate for the area is left alone.
void FreeRunBuffer(const void* area, void* buffer, const char* sourceTag, int32_t line);
// Whether `buffer` is the live buffer this load allocated for `area`.
bool IsRunBuffer(const void* area, const void* buffer);
// The card behind `area`'s buffer was started. Velk may still call a processing
// routine after a start that stopped the experiment (until code 107); a routine
// that polls the card asks first whether it was started, or it would wait for
// samples that never come.
void MarkCardStarted(const void* area, const void* buffer);
bool IsCardStarted(const void* area, const void* buffer);
