// Control interface of the simulated VYT-TK17 driver (vyttk17.dll).
//
// Besides the twelve card operations of abi/tk17_abi.h the simulated driver exports a
// set of Sim* functions that let tests and demos script the card: replace the
// configuration, inject faults, pull the card, trigger buffer events, read the call log
// and the output-port log, and steer the virtual clock. They are not part of the card
// driver's interface; the extension never uses them.
//
// Typical use from a test that has the extension (and so the driver) loaded:
//     SimApi sim = SimApi::from(GetModuleHandleA("vyttk17.dll"));
//     ASSERT_TRUE(sim.ok());
//     sim.InjectFault("Tk17GetData", 0, 3, 42);
// All control functions are WINAPI and take the driver's single internal lock.
#pragma once

#include "abi/tk17_abi.h"

#include <windows.h>
#include <stdint.h>

// Error codes returned by Tk17GetLastError (injected faults use their own code).
enum : int32_t {
    TK17SIM_ERR_NONE = 0,
    TK17SIM_ERR_NO_CARD = 1,         // no card configured (or present) in that socket
    TK17SIM_ERR_NOT_OPEN = 2,        // the card has not been opened with Tk17Create
    TK17SIM_ERR_BAD_ARGUMENT = 3,    // null pointer or socket outside 0..3
    TK17SIM_ERR_BAD_MODE = 4,        // the mode record holds a value the card cannot run
    TK17SIM_ERR_BUSY = 5,            // sampling is running (Tk17SetMode, Tk17StartSampling)
    TK17SIM_ERR_NO_MODE = 6,         // Tk17StartSampling before any Tk17SetMode
    TK17SIM_ERR_NOT_SAMPLING = 7,    // Tk17GetData while not sampling
    TK17SIM_ERR_NOT_ENOUGH_DATA = 8, // Tk17GetData asked for more samples than are ready
    TK17SIM_ERR_CARD_REMOVED = 9,    // the card was pulled out of its socket
    TK17SIM_ERR_ALREADY_OPEN = 10,   // Tk17Create on a card that is open already
    TK17SIM_ERR_INJECTED = 100,      // default code of a configured fault without "error"
};

// The virtual clock's default sample count: always enough for any read.
constexpr uint32_t TK17SIM_UNLIMITED = 0xFFFFFFFFu;

// One byte written to a digital output port.
struct SimPortWrite {
    uint64_t micros;  // microseconds since the card was opened (Tk17Create)
    uint16_t socket;
    uint8_t value;
};

// What the driver knows of the card in one socket (SimGetCardState).
struct SimCardState {
    uint32_t configured;    // 1: the configuration puts a card in this socket
    uint32_t present;       // 1: configured and not pulled out
    uint32_t open;          // 1: opened with Tk17Create and not closed since
    uint32_t sampling;      // 1: sampling
    uint32_t virtualClock;  // 1: the card runs on the virtual clock
    uint32_t status;        // the status word as reported (TK17_STATUS_OVERFLOW, TK17_STATUS_OVERRUN, SimSetStatusBits)
    int32_t lastError;      // what Tk17GetLastError gives, read without a call to it
    uint32_t notifications; // notifications posted to the card's window since the configuration
};

// The control exports: X(short name, result type, parameter list); the export is
// named "Sim" followed by the short name.
#define VYTTK17_SIM_EXPORTS(X) \
    X(Configure, int32_t, (const char* text)) \
    X(LastError, int32_t, (char* buffer, uint32_t size)) \
    X(ConfigSource, int32_t, (char* buffer, uint32_t size)) \
    X(ConfigError, int32_t, (uint32_t* line, char* buffer, uint32_t size)) \
    X(InjectFault, int32_t, (const char* operation, uint16_t socket, uint32_t fromCall, int32_t errorCode)) \
    X(ClearFaults, int32_t, (void)) \
    X(PullCard, int32_t, (uint16_t socket)) \
    X(InsertCard, int32_t, (uint16_t socket)) \
    X(PostNotification, int32_t, (uint16_t socket, uint32_t message)) \
    X(TriggerOverrun, int32_t, (uint16_t socket)) \
    X(TriggerOverflow, int32_t, (uint16_t socket)) \
    X(GetCallLog, int32_t, (char* buffer, uint32_t size)) \
    X(ClearCallLog, int32_t, (void)) \
    X(CallCount, int32_t, (const char* operation, int32_t socket)) \
    X(GetOutputLog, int32_t, (int32_t socket, SimPortWrite* entries, uint32_t max)) \
    X(ClearOutputLog, int32_t, (void)) \
    X(GetMode, int32_t, (uint16_t socket, Tk17Mode* mode)) \
    X(IsOpen, int32_t, (uint16_t socket)) \
    X(IsSampling, int32_t, (uint16_t socket)) \
    X(SetInput, int32_t, (uint16_t socket, const char* generatorSpec)) \
    X(SetChannel, int32_t, (uint16_t socket, uint32_t channel, const char* generatorSpec)) \
    X(SetAvailable, int32_t, (uint16_t socket, uint32_t count)) \
    X(SetPollStep, int32_t, (uint16_t socket, uint32_t samplesPerPoll)) \
    X(GetPosition, int32_t, (uint16_t socket, uint64_t* conversionIndex)) \
    X(GetCardState, int32_t, (uint16_t socket, SimCardState* state)) \
    X(SetSuccessValue, int32_t, (const char* operation, int32_t value)) \
    X(GetSetModeCall, int32_t, (uint16_t socket, uint64_t* address, uint8_t* bytes32)) \
    X(PostNotificationParam, int32_t, (uint16_t socket, uint32_t message, intptr_t lParam)) \
    X(SetStatusBits, int32_t, (uint16_t socket, uint32_t bits)) \
    X(SetPortHold, int32_t, (uint16_t socket, uint32_t micros)) \
    X(PortOverlaps, int32_t, (uint32_t clear)) \
    X(AdvanceClock, int32_t, (uint16_t socket, uint32_t micros)) \
    X(SetPollTime, int32_t, (uint16_t socket, uint32_t micros))

// Declarations for code that links against the driver's import library. Tests and
// the extension resolve the functions at run time instead (SimApi below).
#ifndef VYTTK17_SIM_BUILDING
extern "C" {
#define VYTTK17_SIM_DECLARE(name, result, params) __declspec(dllimport) result WINAPI Sim##name params;
VYTTK17_SIM_EXPORTS(VYTTK17_SIM_DECLARE)
#undef VYTTK17_SIM_DECLARE
}
#endif

#define VYTTK17_SIM_TYPEDEF(name, result, params) typedef result(WINAPI* Sim##name##Fn) params;
VYTTK17_SIM_EXPORTS(VYTTK17_SIM_TYPEDEF)
#undef VYTTK17_SIM_TYPEDEF

// All control exports of one loaded driver, found by name. Members carry the export
// name without its "Sim" prefix: sim.Configure(...), sim.PullCard(0), ...
struct SimApi {
#define VYTTK17_SIM_MEMBER(name, result, params) Sim##name##Fn name = nullptr;
    VYTTK17_SIM_EXPORTS(VYTTK17_SIM_MEMBER)
#undef VYTTK17_SIM_MEMBER

    // Resolves every control export of `driver` (null gives an empty SimApi).
    static SimApi from(HMODULE driver)
    {
        SimApi api;
        if (!driver) return api;
#define VYTTK17_SIM_RESOLVE(name, result, params) \
        api.name = reinterpret_cast<Sim##name##Fn>(reinterpret_cast<void*>(GetProcAddress(driver, "Sim" #name)));
        VYTTK17_SIM_EXPORTS(VYTTK17_SIM_RESOLVE)
#undef VYTTK17_SIM_RESOLVE
        return api;
    }

    // True when every control export was found.
    bool ok() const
    {
        bool all = true;
#define VYTTK17_SIM_CHECK(name, result, params) all = all && name != nullptr;
        VYTTK17_SIM_EXPORTS(VYTTK17_SIM_CHECK)
#undef VYTTK17_SIM_CHECK
        return all;
    }
};
