// The driver binding on its own: loading and rejecting the library, the
// wrappers without a library, the socket's low 16 bits and the port access rule.
#include <gtest/gtest.h>

#include <string>

#include "extension/card/driver.h"
#include "extension/frame/host_binding.h"
#include "simcard/vyttk17_sim.h"

namespace {

std::string ExeDir() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string p(path, n);
    return p.substr(0, p.find_last_of("\\/") + 1);
}

class DriverBinding : public ::testing::Test {
protected:
    void UseFolder(const std::string& folder) {
        SetEnvironmentVariableA("VYTTK17_CONFIG_TEXT", "[card 0]\nclock = virtual\n[card 1]\nclock = virtual\n");
        SetDllDirectoryA((ExeDir() + folder).c_str());
    }
    void TearDown() override {
        FreeDriverLibrary();
        DeletePortLock();
        bExperimentIsRunning = 0;
        SetDllDirectoryA(nullptr);
        EXPECT_EQ(GetModuleHandleA("vyttk17.dll"), nullptr);
    }
};

TEST_F(DriverBinding, WrappersRefuseWithoutALibrary) {
    UseFolder("no-such-folder");
    EXPECT_EQ(LoadDriverLibrary(), 0);
    EXPECT_EQ(DriverLibraryLoaded(), 0);
    uint32_t cell = 0;
    uint32_t count = 5, status = 5;
    uint8_t byte = 9;
    EXPECT_EQ(Tk17Create(&cell, nullptr, 1224, 0), 0);
    EXPECT_EQ(Tk17GetSamplingStatus(0, &count, &status), 0);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(Tk17InPort(0, &byte), 0);
    EXPECT_EQ(Tk17GetLastError(0), -1);
    EXPECT_EQ(FreeDriverLibrary(), 0);
}

TEST_F(DriverBinding, ElevenOfTwelveOperationsIsRejectedAndUnloaded) {
    UseFolder("driver-noversion");
    EXPECT_EQ(LoadDriverLibrary(), 0);
    EXPECT_EQ(DriverLibraryLoaded(), 0);
    EXPECT_EQ(GetModuleHandleA("vyttk17.dll"), nullptr);
}

TEST_F(DriverBinding, ASecondLoadIsRefusedAndKeepsTheLibrary) {
    UseFolder("driver");
    ASSERT_EQ(LoadDriverLibrary(), 1);
    HMODULE first = GetModuleHandleA("vyttk17.dll");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(LoadDriverLibrary(), 0);
    EXPECT_EQ(DriverLibraryLoaded(), 1);
    EXPECT_EQ(GetModuleHandleA("vyttk17.dll"), first);
    EXPECT_EQ(FreeDriverLibrary(), 1);
    EXPECT_EQ(FreeDriverLibrary(), 0);
}

TEST_F(DriverBinding, OnlyTheLowSixteenBitsOfTheSocketReachTheDriver) {
    UseFolder("driver");
    ASSERT_EQ(LoadDriverLibrary(), 1);
    SimApi sim = SimApi::from(GetModuleHandleA("vyttk17.dll"));
    ASSERT_TRUE(sim.ok());
    uint32_t cell = 1;
    ASSERT_EQ(Tk17Create(&cell, nullptr, 1224, 0), 1);
    Tk17Resource resource;
    sim.ClearCallLog();
    EXPECT_EQ(Tk17GetResource(0x00030001, &resource), 1);
    EXPECT_EQ(sim.CallCount("Tk17GetResource", 1), 1);
    // Bits 8 to 15 are part of the socket: 0x0101 is socket 257, which has no card,
    // not socket 1.
    sim.ClearCallLog();
    EXPECT_EQ(Tk17GetResource(0x0101, &resource), 0);
    EXPECT_EQ(sim.CallCount("Tk17GetResource", 1), 0);
    EXPECT_EQ(sim.IsOpen(1), 1);
    EXPECT_EQ(Tk17Close(0xFFFF0001), 1);
    EXPECT_EQ(sim.IsOpen(1), 0);
}

TEST_F(DriverBinding, PortAccessTouchesTheCardOnlyWhileRunning) {
    UseFolder("driver");
    CreatePortLock();
    ASSERT_EQ(LoadDriverLibrary(), 1);
    SimApi sim = SimApi::from(GetModuleHandleA("vyttk17.dll"));
    uint32_t cell = 0;
    ASSERT_EQ(Tk17Create(&cell, nullptr, 1224, 0), 1);
    ASSERT_TRUE(sim.SetInput(0, "fixed 0x5A"));
    sim.ClearCallLog();
    uint8_t byte = 0x11;
    EXPECT_EQ(AccessDigitalPort(0, 1, &byte), 1);
    EXPECT_EQ(byte, 0x11) << "no read without an experiment";
    EXPECT_EQ(AccessDigitalPort(0, 0, &byte), 1);
    bExperimentIsRunning = 2;
    EXPECT_EQ(AccessDigitalPort(0, 1, &byte), 1);
    EXPECT_EQ(sim.CallCount("Tk17InPort", -1) + sim.CallCount("Tk17OutPort", -1), 0);
    bExperimentIsRunning = 1;
    EXPECT_EQ(AccessDigitalPort(0, 2, &byte), 1) << "any non-zero direction reads";
    EXPECT_EQ(byte, 0x5A);
    byte = 0x03;
    EXPECT_EQ(AccessDigitalPort(0, 0, &byte), 1);
    SimPortWrite writes[4];
    ASSERT_EQ(sim.GetOutputLog(0, writes, 4), 1);
    EXPECT_EQ(writes[0].value, 0x03);
    sim.InjectFault("Tk17InPort", 0, 1, 55);
    EXPECT_EQ(AccessDigitalPort(0, 1, &byte), 0);
    EXPECT_EQ(Tk17GetLastError(0), 55);
    Tk17Close(0);
}

// The port lock is left after every access: another thread (Velk's processing and a
// dialog's thread may both reach the port) gets it at once.
TEST_F(DriverBinding, PortLockIsFreeAfterEachAccess) {
    UseFolder("driver");
    CreatePortLock();
    ASSERT_EQ(LoadDriverLibrary(), 1);
    uint32_t cell = 0;
    ASSERT_EQ(Tk17Create(&cell, nullptr, 1224, 0), 1);
    uint8_t byte = 0;
    bExperimentIsRunning = 1;
    ASSERT_EQ(AccessDigitalPort(0, 1, &byte), 1);
    byte = 0x01;
    ASSERT_EQ(AccessDigitalPort(0, 0, &byte), 1);
    bExperimentIsRunning = 0;
    ASSERT_EQ(AccessDigitalPort(0, 1, &byte), 1);
    struct Other {
        static DWORD WINAPI Run(void* result) {
            uint8_t value = 0;
            *static_cast<int32_t*>(result) = AccessDigitalPort(0, 1, &value);
            return 0;
        }
    };
    int32_t otherResult = -1;
    HANDLE other = CreateThread(nullptr, 0, Other::Run, &otherResult, 0, nullptr);
    ASSERT_NE(other, nullptr);
    const DWORD waited = WaitForSingleObject(other, 10000);
    EXPECT_EQ(waited, WAIT_OBJECT_0) << "a second thread's port access did not end within 10 s: the lock was kept";
    if (waited != WAIT_OBJECT_0) TerminateThread(other, 1);
    CloseHandle(other);
    EXPECT_EQ(otherResult, 1);
    Tk17Close(0);
}

}  // namespace
