// Binding to Velk: every variable and function is asked for by name through the
// main window, in the fixed order, and the seven linked variables are handed over.
#include "extension/frame/host_binding.h"

HINSTANCE g_extensionInstance;
HWND g_hostMainWindow;
uintptr_t g_hostVariables[VELK_VARIABLE_COUNT];
uintptr_t g_hostFunctions[VELK_FUNCTION_COUNT];

double fGlobalMilliSecondsPerSample;
uint32_t uiGlobalBlockSize;
int32_t bAnimation;
int32_t bExperimentIsRunning;
int32_t bExperimentIsPaused;
uint32_t dwExperimentStartTimeTicks;
int32_t BBoxModul;

namespace {

struct LinkedVariable {
    const char* name;
    void* storage;
    uint32_t size;
};

const LinkedVariable kLinkedVariables[] = {
    {"fGlobalMilliSecondsPerSample", &fGlobalMilliSecondsPerSample, sizeof(fGlobalMilliSecondsPerSample)},
    {"uiGlobalBlockSize", &uiGlobalBlockSize, sizeof(uiGlobalBlockSize)},
    {"bAnimation", &bAnimation, sizeof(bAnimation)},
    {"bExperimentIsRunning", &bExperimentIsRunning, sizeof(bExperimentIsRunning)},
    {"bExperimentIsPaused", &bExperimentIsPaused, sizeof(bExperimentIsPaused)},
    {"dwExperimentStartTimeTicks", &dwExperimentStartTimeTicks, sizeof(dwExperimentStartTimeTicks)},
    {"BBoxModul", &BBoxModul, sizeof(BBoxModul)},
};
static_assert(sizeof(double) == 8 && sizeof(uint32_t) == 4, "linked variable sizes");

}  // namespace

// Steps 1 to 5 of set-up: returns 0 at the first missing required name or refused
// registration; the slots filled so far stay as they are.
int32_t BindHost(HWND hostMainWindow) {
    g_hostMainWindow = hostMainWindow;
    for (int i = 0; i < VELK_VARIABLE_COUNT; ++i) {
        LRESULT answer = SendMessageA(hostMainWindow, VELK_MSG_VARIABLE, 0, reinterpret_cast<LPARAM>(kHostVariableNames[i]));
        g_hostVariables[i] = static_cast<uintptr_t>(answer);
        if (answer == 0 && kHostVariableRequired[i]) return 0;
    }
    for (int i = 0; i < VELK_FUNCTION_COUNT; ++i) {
        LRESULT answer = SendMessageA(hostMainWindow, VELK_MSG_FUNCTION, 0, reinterpret_cast<LPARAM>(kHostFunctionNames[i]));
        g_hostFunctions[i] = static_cast<uintptr_t>(answer);
        if (answer == 0) return 0;
    }
    if (DefineDllModule() == 0) return 0;
    for (const LinkedVariable& v : kLinkedVariables)
        if (DefineDllVariable(v.name, v.storage, v.size) == 0) return 0;
    return 1;
}
