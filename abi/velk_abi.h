// Velk's binary interface as the extension, the Velk stand-in and the tests see it:
// the records Velk lends out, the class registration record, the host function
// signatures and the message and code numbers. Every offset is pinned for both
// targets (i686 first, x86_64 second).
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#if defined(_WIN64)
#define VELK_PICK(i686, x64) (x64)
#else
#define VELK_PICK(i686, x64) (i686)
#endif

// Look-up messages sent to Velk's main window; lParam is the zero-terminated name.
enum : UINT {
    VELK_MSG_VARIABLE = 30000,
    VELK_MSG_FUNCTION = 30001,
};

// Class-callback codes.
enum : uint32_t {
    VELK_CODE_ACK1 = 1,
    VELK_CODE_CREATE = 101,
    VELK_CODE_REMOVE = 102,
    VELK_CODE_SETUP = 103,
    VELK_CODE_ACK104 = 104,
    VELK_CODE_DEVICE_CHECK = 105,
    VELK_CODE_START = 106,
    VELK_CODE_STOP = 107,
    VELK_CODE_ACK201 = 201,
};

#pragma pack(push, 1)

// Velk's per-channel output record; the extension uses its address as a handle and
// writes outputMark only. A host lays out its own fields around it.
struct OutputChannel {
    uint8_t velkHeader[14];
    uint16_t outputMark;
};

// The extension's per-channel state record behind channelData[i].
struct ChannelState {
    int32_t blockPending;
    uint32_t samplesDone;
    int32_t animationPhase;
};

// Velk's data block: six bytes of Velk's, then the block header and the samples.
struct DataBlock {
    uint8_t velkHeader[6];
    double startTime;
    double sampleDistance;
    uint16_t sampleCount;
    float samples[1];
};

// Velk's module record. Only the named fields are the extension's business; the
// filler arrays are Velk's bytes and are never touched.
struct ModuleRecord {
    union {
        HWND ownerWindow;
        uint8_t ownerWindowSlot[8];
    };
    int32_t animationContext;
    uint8_t velk12[4];
    int32_t outputGate;
    uint8_t velk20[20];
    char moduleName[13];
    char moduleComment[41];
    uint8_t velk94[118 - 94];
    uint32_t inputCount;
    uint8_t velk122[826 - 122];
    uint32_t outputCount;
    uint8_t velk830[896 - 830];
    OutputChannel* outputChannels[16];
    void* privateData;
    void* velkGap;
    ChannelState* channelData[16];
};

#pragma pack(pop)

static_assert(sizeof(ChannelState) == 12, "channel state record");
static_assert(offsetof(OutputChannel, outputMark) == 14, "outputMark");
static_assert(offsetof(DataBlock, startTime) == 6, "startTime");
static_assert(offsetof(DataBlock, sampleDistance) == 14, "sampleDistance");
static_assert(offsetof(DataBlock, sampleCount) == 22, "sampleCount");
static_assert(offsetof(DataBlock, samples) == 24, "samples");
static_assert(offsetof(ModuleRecord, ownerWindow) == 0, "ownerWindow");
static_assert(offsetof(ModuleRecord, animationContext) == 8, "animationContext");
static_assert(offsetof(ModuleRecord, outputGate) == 16, "outputGate");
static_assert(offsetof(ModuleRecord, moduleName) == 40, "moduleName");
static_assert(offsetof(ModuleRecord, moduleComment) == 53, "moduleComment");
static_assert(offsetof(ModuleRecord, inputCount) == 118, "inputCount");
static_assert(offsetof(ModuleRecord, outputCount) == 826, "outputCount");
static_assert(offsetof(ModuleRecord, outputChannels) == 896, "outputChannels");
static_assert(offsetof(ModuleRecord, privateData) == VELK_PICK(960, 1024), "privateData");
static_assert(offsetof(ModuleRecord, channelData) == VELK_PICK(968, 1040), "channelData");
static_assert(sizeof(ModuleRecord) == VELK_PICK(968 + 64, 1040 + 128), "module record");

// Smallest module record a host allocates (zeroed): room for 16 channelData entries.
constexpr size_t VELK_MODULE_RECORD_BYTES = sizeof(ModuleRecord);

typedef int32_t(__cdecl* ClassCallback)(ModuleRecord* m, uint32_t code, int32_t value1, int32_t value2);
typedef int32_t(__cdecl* ProcessingRoutine)(ModuleRecord* m);
typedef int32_t(__cdecl* MenuEntryCallback)(void);

// Class registration record: natural alignment; 180 bytes (45 words) on i686.
struct ClassRegistration {
    HINSTANCE instance;
    const char* classId;
    uint32_t privateDataSize;
    uint32_t reserved12;
    uint32_t channelDataSize;
    uint32_t menuCommand;
    char* shortName;
    char* longName;
    uint32_t reserved32[3];
    HBITMAP smallBitmap;
    HBITMAP largeBitmap;
    ClassCallback classCallback;
    ProcessingRoutine processingRoutine;
    uint32_t reserved60[30];
};

static_assert(offsetof(ClassRegistration, instance) == 0, "instance");
static_assert(offsetof(ClassRegistration, classId) == VELK_PICK(4, 8), "classId");
static_assert(offsetof(ClassRegistration, privateDataSize) == VELK_PICK(8, 16), "privateDataSize");
static_assert(offsetof(ClassRegistration, reserved12) == VELK_PICK(12, 20), "reserved12");
static_assert(offsetof(ClassRegistration, channelDataSize) == VELK_PICK(16, 24), "channelDataSize");
static_assert(offsetof(ClassRegistration, menuCommand) == VELK_PICK(20, 28), "menuCommand");
static_assert(offsetof(ClassRegistration, shortName) == VELK_PICK(24, 32), "shortName");
static_assert(offsetof(ClassRegistration, longName) == VELK_PICK(28, 40), "longName");
static_assert(offsetof(ClassRegistration, reserved32) == VELK_PICK(32, 48), "reserved32");
static_assert(offsetof(ClassRegistration, smallBitmap) == VELK_PICK(44, 64), "smallBitmap");
static_assert(offsetof(ClassRegistration, largeBitmap) == VELK_PICK(48, 72), "largeBitmap");
static_assert(offsetof(ClassRegistration, classCallback) == VELK_PICK(52, 80), "classCallback");
static_assert(offsetof(ClassRegistration, processingRoutine) == VELK_PICK(56, 88), "processingRoutine");
static_assert(offsetof(ClassRegistration, reserved60) == VELK_PICK(60, 96), "reserved60");
static_assert(sizeof(ClassRegistration) == VELK_PICK(180, 216), "class registration record");

// Velk functions the extension calls (all __cdecl).
typedef int32_t(__cdecl* DefineDllModuleFn)(void);
typedef int32_t(__cdecl* DefineDllVariableFn)(const char* name, void* storage, uint32_t sizeInBytes);
typedef int32_t(__cdecl* RegisterModuleClassFn)(ClassRegistration* record);
typedef int32_t(__cdecl* RegisterMenuEntryFn)(uint32_t entry, MenuEntryCallback callback);
typedef int32_t(__cdecl* PerformDefaultActionFn)(ModuleRecord* m, uint32_t code, int32_t value1, int32_t value2);
typedef DataBlock*(__cdecl* GetCurrentOutputBlockFn)(OutputChannel* channel);
typedef int32_t(__cdecl* NewReleaseOutputBlockFn)(OutputChannel* channel, const char* sourceTag, int32_t line);
typedef DataBlock*(__cdecl* GetInputBlockFn)(ModuleRecord* m, uint32_t inputChannel);
typedef int32_t(__cdecl* NewReleaseInputBlockFn)(ModuleRecord* m, uint32_t inputChannel, const char* sourceTag,
                                                 int32_t line);
typedef int32_t(__cdecl* ChangeModuleSizeFn)(ModuleRecord* m, uint32_t inputCount, uint32_t outputCount);
typedef void*(__cdecl* NewMemAllocFn)(uint32_t size, const char* sourceTag, int32_t line);
typedef void(__cdecl* NewDoMemFreeFn)(void* p, const char* sourceTag, int32_t line);
typedef void(__cdecl* ShowWarningFn)(const char* caption, const char* text);
typedef void(__cdecl* StopExperimentFn)(void);
typedef HFONT(__cdecl* CreateStackedFontIndirectFn)(const LOGFONTA* font);
typedef int32_t(__cdecl* DeleteStackedObjectFn)(HGDIOBJ object);

// Export signatures of the extension.
typedef int32_t(WINAPI* SetupVelkDLLFn)(HWND hostMainWindow);
typedef int32_t(WINAPI* FinishVelkDLLFn)(int32_t);
typedef int32_t(WINAPI* WEPFn)(int32_t);
