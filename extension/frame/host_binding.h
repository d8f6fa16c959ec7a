// The extension's view of Velk: the host symbol table filled at set-up, the seven
// linked variables Velk keeps current in the extension's storage, and typed calls
// of the Velk functions the extension uses.
#pragma once

#include "abi/velk_abi.h"
#include "abi/velk_names.h"

#include <string.h>

// Index of a name in one of the two look-up lists, found at compile time.
constexpr bool HostNameEquals(const char* a, const char* b) {
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

#define VELK_NAME_ONLY(name, required) name,
constexpr const char* kHostVariableNames[] = {VELK_VARIABLE_NAMES(VELK_NAME_ONLY)};
constexpr const char* kHostFunctionNames[] = {VELK_FUNCTION_NAMES(VELK_NAME_ONLY)};
#undef VELK_NAME_ONLY
#define VELK_REQUIRED_ONLY(name, required) required,
constexpr int kHostVariableRequired[] = {VELK_VARIABLE_NAMES(VELK_REQUIRED_ONLY)};
#undef VELK_REQUIRED_ONLY

static_assert(sizeof(kHostVariableNames) / sizeof(kHostVariableNames[0]) == VELK_VARIABLE_COUNT, "59 variables");
static_assert(sizeof(kHostFunctionNames) / sizeof(kHostFunctionNames[0]) == VELK_FUNCTION_COUNT, "102 functions");

constexpr int HostVariableIndex(const char* name) {
    for (int i = 0; i < VELK_VARIABLE_COUNT; ++i)
        if (HostNameEquals(kHostVariableNames[i], name)) return i;
    return -1;
}
constexpr int HostFunctionIndex(const char* name) {
    for (int i = 0; i < VELK_FUNCTION_COUNT; ++i)
        if (HostNameEquals(kHostFunctionNames[i], name)) return i;
    return -1;
}

extern HINSTANCE g_extensionInstance;
extern HWND g_hostMainWindow;
extern uintptr_t g_hostVariables[VELK_VARIABLE_COUNT];
extern uintptr_t g_hostFunctions[VELK_FUNCTION_COUNT];

// Linked variables, written by Velk, only read here.
extern double fGlobalMilliSecondsPerSample;
extern uint32_t uiGlobalBlockSize;
extern int32_t bAnimation;
extern int32_t bExperimentIsRunning;
extern int32_t bExperimentIsPaused;
extern uint32_t dwExperimentStartTimeTicks;
extern int32_t BBoxModul;

int32_t BindHost(HWND hostMainWindow);

template <int Index>
inline uintptr_t HostVariable() {
    static_assert(Index >= 0, "unknown Velk variable");
    return g_hostVariables[Index];
}
template <int Index, typename Fn>
inline Fn HostFunction() {
    static_assert(Index >= 0, "unknown Velk function");
    return reinterpret_cast<Fn>(g_hostFunctions[Index]);
}
#define VELK_VAR(name) HostVariable<HostVariableIndex(name)>()
#define VELK_FN(name, type) HostFunction<HostFunctionIndex(name), type>()

// Velk's variables used after set-up.
inline HINSTANCE HostInstance() { return reinterpret_cast<HINSTANCE>(VELK_VAR("hInstVelk")); }
inline HMENU HostMainMenu() { return reinterpret_cast<HMENU>(VELK_VAR("MainMenu")); }
inline ModuleRecord* CurrentModule() {
    return *reinterpret_cast<ModuleRecord**>(VELK_VAR("&CurrentModulePtr"));
}
inline const HBITMAP* HostChannelBitmaps() { return reinterpret_cast<const HBITMAP*>(VELK_VAR("hBitChannel")); }
inline const HBITMAP* HostLessMoreBitmaps() { return reinterpret_cast<const HBITMAP*>(VELK_VAR("hBitLessMore")); }

// Velk's functions used after set-up.
inline int32_t DefineDllModule() { return VELK_FN("DefineDllModule", DefineDllModuleFn)(); }
inline int32_t DefineDllVariable(const char* name, void* storage, uint32_t size) {
    return VELK_FN("DefineDllVariable", DefineDllVariableFn)(name, storage, size);
}
inline int32_t RegisterModuleClass(ClassRegistration* record) {
    return VELK_FN("RegisterModuleClass", RegisterModuleClassFn)(record);
}
inline int32_t RegisterMenuEntry(uint32_t entry, MenuEntryCallback callback) {
    return VELK_FN("RegisterMenuEntry", RegisterMenuEntryFn)(entry, callback);
}
inline int32_t PerformDefaultAction(ModuleRecord* m, uint32_t code, int32_t value1, int32_t value2) {
    return VELK_FN("PerformDefaultAction", PerformDefaultActionFn)(m, code, value1, value2);
}
inline DataBlock* GetCurrentOutputBlock(OutputChannel* channel) {
    return VELK_FN("GetCurrentOutputBlock", GetCurrentOutputBlockFn)(channel);
}
inline int32_t NewReleaseOutputBlock(OutputChannel* channel, const char* tag, int32_t line) {
    return VELK_FN("NewReleaseOutputBlock", NewReleaseOutputBlockFn)(channel, tag, line);
}
inline DataBlock* GetInputBlock(ModuleRecord* m, uint32_t channel) {
    return VELK_FN("GetInputBlock", GetInputBlockFn)(m, channel);
}
inline int32_t NewReleaseInputBlock(ModuleRecord* m, uint32_t channel, const char* tag, int32_t line) {
    return VELK_FN("NewReleaseInputBlock", NewReleaseInputBlockFn)(m, channel, tag, line);
}
inline int32_t ChangeModuleSize(ModuleRecord* m, uint32_t inputs, uint32_t outputs) {
    return VELK_FN("ChangeModuleSize", ChangeModuleSizeFn)(m, inputs, outputs);
}
inline void* NewMemAlloc(uint32_t size, const char* tag, int32_t line) {
    return VELK_FN("NewMemAlloc", NewMemAllocFn)(size, tag, line);
}
inline void NewDoMemFree(void* p, const char* tag, int32_t line) { VELK_FN("NewDoMemFree", NewDoMemFreeFn)(p, tag, line); }
inline void ShowWarning(const char* caption, const char* text) { VELK_FN("ShowWarning", ShowWarningFn)(caption, text); }
inline void StopExperiment() { VELK_FN("StopExperiment", StopExperimentFn)(); }
inline HFONT CreateStackedFontIndirect(const LOGFONTA* font) {
    return VELK_FN("CreateStackedFontIndirect", CreateStackedFontIndirectFn)(font);
}
inline int32_t DeleteStackedObject(HGDIOBJ object) {
    return VELK_FN("DeleteStackedObject", DeleteStackedObjectFn)(object);
}
