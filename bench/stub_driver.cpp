// A card driver for benchmarks: one card in socket 0 that answers every operation
// at once. Its sampling status always reports more samples than any read asks for,
// and a read leaves the caller's buffer as it is, so a benchmark measures what the
// caller does with the data and not how the data are made.
#include "abi/tk17_abi.h"

#include <string.h>

namespace {
bool Card(uint16_t socket) { return socket == 0; }
}  // namespace

extern "C" {

int32_t WINAPI Tk17GetVersion() { return 0x0100; }
int32_t WINAPI Tk17Create(uint32_t* socketCell, HWND, uint32_t, int32_t) {
    return socketCell != nullptr && Card(static_cast<uint16_t>(*socketCell)) ? 1 : 0;
}
int32_t WINAPI Tk17Close(uint16_t socket) { return Card(socket); }
int32_t WINAPI Tk17GetResource(uint16_t socket, void* resource408) {
    if (!Card(socket) || resource408 == nullptr) return 0;
    const uint32_t address = 0x300, length = 16;
    memcpy(static_cast<uint8_t*>(resource408) + TK17_RESOURCE_IO_ADDRESS, &address, 4);
    memcpy(static_cast<uint8_t*>(resource408) + TK17_RESOURCE_IO_LENGTH, &length, 4);
    return 1;
}
int32_t WINAPI Tk17SetMode(uint16_t socket, void*) { return Card(socket); }
int32_t WINAPI Tk17StartSampling(uint16_t socket) { return Card(socket); }
int32_t WINAPI Tk17StopSampling(uint16_t socket) { return Card(socket); }
int32_t WINAPI Tk17GetSamplingStatus(uint16_t socket, uint32_t* sampleCount, uint32_t* status) {
    *sampleCount = 0xFFFFFFFFu;
    *status = 0;
    return Card(socket);
}
int32_t WINAPI Tk17GetData(uint16_t socket, uint16_t*, uint32_t) { return Card(socket); }
int32_t WINAPI Tk17OutPort(uint16_t socket, uint8_t) { return Card(socket); }
int32_t WINAPI Tk17InPort(uint16_t socket, uint8_t* value) {
    *value = 0x0A;
    return Card(socket);
}
int32_t WINAPI Tk17GetLastError(uint16_t) { return 0; }

}  // extern "C"
