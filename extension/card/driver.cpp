#include "extension/card/driver.h"

#include "extension/frame/host_binding.h"

namespace {

HMODULE g_driverLibrary;
CRITICAL_SECTION g_portLock;
bool g_portLockCreated;

#define TK17_POINTER(name) name##Fn p##name;
struct DriverOperations {
    TK17_OPERATION_NAMES(TK17_POINTER)
};
#undef TK17_POINTER
DriverOperations g_ops;

inline uint16_t LowSocket(uint32_t socket) { return static_cast<uint16_t>(socket & 0xFFFF); }

}  // namespace

int32_t LoadDriverLibrary() {
    if (g_driverLibrary != nullptr) return 0;
    HMODULE library = LoadLibraryA(TK17_DRIVER_FILE);
    if (library == nullptr) return 0;
    g_driverLibrary = library;
    DriverOperations found = {};
    bool complete = true;
#define TK17_FIND(name)                                                                              \
    if (complete) {                                                                                  \
        found.p##name = reinterpret_cast<name##Fn>(reinterpret_cast<void*>(GetProcAddress(library, #name))); \
        complete = found.p##name != nullptr;                                                         \
    }
    TK17_OPERATION_NAMES(TK17_FIND)
#undef TK17_FIND
    if (!complete) {
        FreeDriverLibrary();
        return 0;
    }
    g_ops = found;
    return 1;
}

int32_t FreeDriverLibrary() {
    if (g_driverLibrary == nullptr) return 0;
    if (!FreeLibrary(g_driverLibrary)) return 0;
    g_driverLibrary = nullptr;
    g_ops = DriverOperations();
    return 1;
}

int32_t DriverLibraryLoaded() { return g_driverLibrary != nullptr; }

void CreatePortLock() {
    if (g_portLockCreated) return;
    InitializeCriticalSection(&g_portLock);
    g_portLockCreated = true;
}

void DeletePortLock() {
    if (!g_portLockCreated) return;
    DeleteCriticalSection(&g_portLock);
    g_portLockCreated = false;
}

int32_t Tk17Create(uint32_t* socketCell, HWND notifyWindow, uint32_t message, int32_t reserved) {
    return g_driverLibrary ? g_ops.pTk17Create(socketCell, notifyWindow, message, reserved) : 0;
}
int32_t Tk17Close(uint32_t socket) { return g_driverLibrary ? g_ops.pTk17Close(LowSocket(socket)) : 0; }
int32_t Tk17GetResource(uint32_t socket, void* resource408) {
    return g_driverLibrary ? g_ops.pTk17GetResource(LowSocket(socket), resource408) : 0;
}
int32_t Tk17SetMode(uint32_t socket, void* modeRecord) {
    return g_driverLibrary ? g_ops.pTk17SetMode(LowSocket(socket), modeRecord) : 0;
}
int32_t Tk17StartSampling(uint32_t socket) {
    return g_driverLibrary ? g_ops.pTk17StartSampling(LowSocket(socket)) : 0;
}
int32_t Tk17StopSampling(uint32_t socket) {
    return g_driverLibrary ? g_ops.pTk17StopSampling(LowSocket(socket)) : 0;
}
int32_t Tk17GetSamplingStatus(uint32_t socket, uint32_t* sampleCount, uint32_t* status) {
    return g_driverLibrary ? g_ops.pTk17GetSamplingStatus(LowSocket(socket), sampleCount, status) : 0;
}
int32_t Tk17GetData(uint32_t socket, uint16_t* buffer, uint32_t count) {
    return g_driverLibrary ? g_ops.pTk17GetData(LowSocket(socket), buffer, count) : 0;
}
int32_t Tk17OutPort(uint32_t socket, uint8_t value) {
    return g_driverLibrary ? g_ops.pTk17OutPort(LowSocket(socket), value) : 0;
}
int32_t Tk17InPort(uint32_t socket, uint8_t* value) {
    return g_driverLibrary ? g_ops.pTk17InPort(LowSocket(socket), value) : 0;
}
int32_t Tk17GetLastError(uint32_t socket) {
    return g_driverLibrary ? g_ops.pTk17GetLastError(LowSocket(socket)) : -1;
}

int32_t AccessDigitalPort(uint32_t socket, uint8_t direction, uint8_t* value) {
    EnterCriticalSection(&g_portLock);
    int32_t result = 1;
    if (bExperimentIsRunning == 1) result = direction ? Tk17InPort(socket, value) : Tk17OutPort(socket, *value);
    LeaveCriticalSection(&g_portLock);
    return result;
}
