// The card driver library: loaded at run time, its twelve operations found by
// name, called through wrappers that refuse while no library is loaded; the
// digital port goes through AccessDigitalPort under the port lock.
#pragma once

#include "abi/tk17_abi.h"

int32_t LoadDriverLibrary();
int32_t FreeDriverLibrary();
int32_t DriverLibraryLoaded();

void CreatePortLock();
void DeletePortLock();

// Wrappers: 0 without a library (Tk17GetLastError: -1), else the driver's result.
// The socket is passed as its low 16 bits.
int32_t Tk17Create(uint32_t* socketCell, HWND notifyWindow, uint32_t message, int32_t reserved);
int32_t Tk17Close(uint32_t socket);
int32_t Tk17GetResource(uint32_t socket, void* resource408);
int32_t Tk17SetMode(uint32_t socket, void* modeRecord);
int32_t Tk17StartSampling(uint32_t socket);
int32_t Tk17StopSampling(uint32_t socket);
int32_t Tk17GetSamplingStatus(uint32_t socket, uint32_t* sampleCount, uint32_t* status);
int32_t Tk17GetData(uint32_t socket, uint16_t* buffer, uint32_t count);
int32_t Tk17OutPort(uint32_t socket, uint8_t value);
int32_t Tk17InPort(uint32_t socket, uint8_t* value);
int32_t Tk17GetLastError(uint32_t socket);

// direction non-zero: read the input port into *value; zero: write *value.
// 1 without touching the card while no experiment runs.
int32_t AccessDigitalPort(uint32_t socket, uint8_t direction, uint8_t* value);
