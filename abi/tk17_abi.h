// The card driver's binary interface (vyttk17.dll): the twelve operations, the
// resource record, the sampling mode record, status bits and notification numbers.
// Shared by the extension and the simulated driver.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#define TK17_DRIVER_FILE "vyttk17.dll"

enum : UINT {
    TK17_MSG_CARD_REMOVED = 1224,   // also the message number handed to Tk17Create
    TK17_MSG_BUFFER_OVERFLOW = 1227,
    TK17_MSG_BUFFER_OVERRUN = 1228,
};

// Bits of the status word of Tk17GetSamplingStatus that stop an acquisition.
enum : uint32_t {
    TK17_STATUS_OVERFLOW = 0x08,
    TK17_STATUS_OVERRUN = 0x10,
};

// Resource record filled by Tk17GetResource: 408 bytes, two fields of interest.
struct Tk17Resource {
    uint8_t bytes[408];
};
constexpr size_t TK17_RESOURCE_IO_ADDRESS = 116;
constexpr size_t TK17_RESOURCE_IO_LENGTH = 196;

// Sampling mode record handed to Tk17SetMode: eight 32-bit fields.
struct Tk17Mode {
    int32_t range;            // 0 = +-10 V, 1 = +-5 V
    int32_t firstChannel;
    int32_t lastChannel;
    int32_t interval;         // conversion interval in 10 us units
    int32_t reserved16;       // 0
    int32_t reserved20;       // 1
    int32_t driverBufferSize; // bytes
    int32_t decimation;
};
static_assert(sizeof(Tk17Mode) == 32, "sampling mode record");

typedef int32_t(WINAPI* Tk17GetVersionFn)(void);
typedef int32_t(WINAPI* Tk17CreateFn)(uint32_t* socketCell, HWND notifyWindow, uint32_t message, int32_t reserved);
typedef int32_t(WINAPI* Tk17CloseFn)(uint16_t socket);
typedef int32_t(WINAPI* Tk17GetResourceFn)(uint16_t socket, void* resource408);
typedef int32_t(WINAPI* Tk17SetModeFn)(uint16_t socket, void* modeRecord);
typedef int32_t(WINAPI* Tk17StartSamplingFn)(uint16_t socket);
typedef int32_t(WINAPI* Tk17StopSamplingFn)(uint16_t socket);
typedef int32_t(WINAPI* Tk17GetSamplingStatusFn)(uint16_t socket, uint32_t* sampleCount, uint32_t* status);
typedef int32_t(WINAPI* Tk17GetDataFn)(uint16_t socket, uint16_t* buffer, uint32_t count);
typedef int32_t(WINAPI* Tk17OutPortFn)(uint16_t socket, uint8_t value);
typedef int32_t(WINAPI* Tk17InPortFn)(uint16_t socket, uint8_t* value);
typedef int32_t(WINAPI* Tk17GetLastErrorFn)(uint16_t socket);

// The export names, in the order the extension looks them up.
#define TK17_OPERATION_NAMES(X) \
    X(Tk17GetVersion) \
    X(Tk17Create) \
    X(Tk17Close) \
    X(Tk17GetResource) \
    X(Tk17SetMode) \
    X(Tk17StartSampling) \
    X(Tk17StopSampling) \
    X(Tk17GetSamplingStatus) \
    X(Tk17GetData) \
    X(Tk17OutPort) \
    X(Tk17InPort) \
    X(Tk17GetLastError)
