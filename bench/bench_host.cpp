#include "bench/bench_host.h"

#include "abi/velk_names.h"
#include "velk/common/paths.h"

#include <stdio.h>
#include <string.h>

#include <map>

namespace bench {
namespace {

BenchHost* g_host;
std::map<std::string, std::pair<void*, uint32_t>> g_linked;

constexpr UINT kVariableLookup = 30000;
constexpr UINT kFunctionLookup = 30001;
const char kWindowClass[] = "BenchVelkMain";

void Write(const char* name, const void* value, uint32_t size) {
    auto it = g_linked.find(name);
    if (it != g_linked.end() && it->second.second == size) memcpy(it->second.first, value, size);
}

// Velk functions the extension calls; what a benchmark needs of them.
int32_t __cdecl DefineDllModule() { return 1; }
int32_t __cdecl DefineDllVariable(const char* name, void* storage, uint32_t size) {
    g_linked[name] = {storage, size};
    return 1;
}
int32_t __cdecl RegisterMenuEntry(uint32_t, MenuEntryCallback) { return 1; }
int32_t __cdecl PerformDefaultAction(ModuleRecord*, uint32_t, int32_t, int32_t) { return 1; }
int32_t __cdecl ChangeModuleSize(ModuleRecord* m, uint32_t inputs, uint32_t outputs) {
    m->inputCount = inputs;
    m->outputCount = outputs;
    return 1;
}
void* __cdecl NewMemAlloc(uint32_t size, const char*, int32_t) { return calloc(1, size ? size : 1); }
void __cdecl NewDoMemFree(void* p, const char*, int32_t) { free(p); }
void __cdecl StopExperiment() {}
HFONT __cdecl CreateStackedFontIndirect(const LOGFONTA* font) { return CreateFontIndirectA(font); }
int32_t __cdecl DeleteStackedObject(HGDIOBJ object) { return DeleteObject(object); }
int32_t __cdecl AnyOtherFunction() { return 0; }

// Answers the device selection dialog with OK (its first line is selected when it opens).
HHOOK g_dialogHook;
LRESULT CALLBACK AnswerDeviceDialog(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        char caption[64] = {};
        GetWindowTextA(reinterpret_cast<HWND>(wParam), caption, sizeof caption);
        if (strcmp(caption, "ハードウェア選択") == 0) PostMessageA(reinterpret_cast<HWND>(wParam), WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(g_dialogHook, code, wParam, lParam);
}

}  // namespace

BenchHost::BenchHost(const std::string& extension, const std::string& driverDir) {
    g_host = this;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kWindowClass;
    RegisterClassA(&wc);
    window_ = CreateWindowExA(0, kWindowClass, "Velk", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr,
                              CreateMenu(), wc.hInstance, nullptr);
    for (int i = 0; i < 6; ++i) bitmaps_.push_back(CreateBitmap(24, 32, 1, 1, nullptr));
    SetDllDirectoryW(velk::widePath(driverDir).c_str());
    extension_ = LoadLibraryW(velk::widePath(extension).c_str());
    if (!extension_) {
        error_ = "cannot load " + extension;
        return;
    }
    auto setup = reinterpret_cast<SetupVelkDLLFn>(reinterpret_cast<void*>(GetProcAddress(extension_, "SetupVelkDLL")));
    if (!setup || setup(window_) != 1 || classes_.size() != 3) {
        error_ = "the extension's set-up failed (is the driver there?)";
        return;
    }
    ok_ = true;
}

BenchHost::~BenchHost() {
    for (size_t i = 0; i < modules_.size(); ++i) {
        classes_[modules_[i]->classIndex].classCallback(reinterpret_cast<ModuleRecord*>(modules_[i]->record.data()),
                                                        VELK_CODE_REMOVE, 0, 0);
        delete modules_[i];
    }
    if (extension_) {
        auto finish =
            reinterpret_cast<FinishVelkDLLFn>(reinterpret_cast<void*>(GetProcAddress(extension_, "FinishVelkDLL")));
        if (finish && ok_) finish(0);
        // The extension's notification window outlives FinishVelkDLL, as in Velk, which
        // ends there; a host that goes on removes it and its class before unloading.
        // (It is registered under Velk's instance, the one given as hInstVelk.)
        for (HWND h; (h = FindWindowA("TK17GETMSG", nullptr)) != nullptr;) {
            SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
            DestroyWindow(h);
        }
        UnregisterClassA("TK17GETMSG", GetModuleHandleA(nullptr));
        FreeLibrary(extension_);
    }
    for (HBITMAP b : bitmaps_) DeleteObject(b);
    if (window_) DestroyWindow(window_);
    g_linked.clear();
    g_host = nullptr;
}

LRESULT CALLBACK BenchHost::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if ((message == kVariableLookup || message == kFunctionLookup) && g_host)
        return g_host->lookUp(message, reinterpret_cast<const char*>(lParam));
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT BenchHost::lookUp(UINT message, const char* name) {
    const std::string n = name ? name : "";
    if (message == kVariableLookup) {
        if (n == "&CurrentModulePtr") return reinterpret_cast<LRESULT>(&current_);
        if (n == "hBitChannel" || n == "hBitLessMore") return reinterpret_cast<LRESULT>(bitmaps_.data());
        if (n == "MainMenu") return reinterpret_cast<LRESULT>(GetMenu(window_));
        if (n == "hInstVelk") return reinterpret_cast<LRESULT>(GetModuleHandleA(nullptr));
        return reinterpret_cast<LRESULT>(variableSpace_);
    }
    static const std::map<std::string, void*> functions = {
        {"DefineDllModule", reinterpret_cast<void*>(DefineDllModule)},
        {"DefineDllVariable", reinterpret_cast<void*>(DefineDllVariable)},
        {"RegisterModuleClass", reinterpret_cast<void*>(RegisterModuleClass)},
        {"RegisterMenuEntry", reinterpret_cast<void*>(RegisterMenuEntry)},
        {"PerformDefaultAction", reinterpret_cast<void*>(PerformDefaultAction)},
        {"GetCurrentOutputBlock", reinterpret_cast<void*>(GetCurrentOutputBlock)},
        {"NewReleaseOutputBlock", reinterpret_cast<void*>(NewReleaseOutputBlock)},
        {"GetInputBlock", reinterpret_cast<void*>(GetInputBlock)},
        {"NewReleaseInputBlock", reinterpret_cast<void*>(NewReleaseInputBlock)},
        {"ChangeModuleSize", reinterpret_cast<void*>(ChangeModuleSize)},
        {"NewMemAlloc", reinterpret_cast<void*>(NewMemAlloc)},
        {"NewDoMemFree", reinterpret_cast<void*>(NewDoMemFree)},
        {"ShowWarning", reinterpret_cast<void*>(ShowWarning)},
        {"StopExperiment", reinterpret_cast<void*>(StopExperiment)},
        {"CreateStackedFontIndirect", reinterpret_cast<void*>(CreateStackedFontIndirect)},
        {"DeleteStackedObject", reinterpret_cast<void*>(DeleteStackedObject)},
    };
    auto it = functions.find(n);
    return reinterpret_cast<LRESULT>(it != functions.end() ? it->second : reinterpret_cast<void*>(AnyOtherFunction));
}

int32_t __cdecl BenchHost::RegisterModuleClass(ClassRegistration* record) {
    g_host->classes_.push_back(*record);
    return 1;
}

void __cdecl BenchHost::ShowWarning(const char* caption, const char* text) {
    ++g_host->warnings_;
    printf("warning [%s] %s\n", caption, text);
}

void BenchHost::setTiming(double periodMs, uint32_t blockSize) {
    periodMs_ = periodMs;
    blockSize_ = blockSize;
    Write("fGlobalMilliSecondsPerSample", &periodMs_, sizeof periodMs_);
    Write("uiGlobalBlockSize", &blockSize_, sizeof blockSize_);
    for (Module* module : modules_)
        for (Channel& c : module->outputs) c.block.assign(offsetof(DataBlock, samples) + 4 * (blockSize + 1), 0);
}

void BenchHost::setRunning(int32_t running) {
    running_ = running;
    Write("bExperimentIsRunning", &running_, sizeof running_);
}

void BenchHost::setStartTicks(uint32_t ticks) {
    startTicks_ = ticks;
    Write("dwExperimentStartTimeTicks", &startTicks_, sizeof startTicks_);
}

ModuleRecord* BenchHost::create(const char* classId, uint32_t inputs, uint32_t outputs) {
    size_t classIndex = classes_.size();
    for (size_t i = 0; i < classes_.size(); ++i)
        if (strcmp(classes_[i].classId, classId) == 0) classIndex = i;
    if (classIndex == classes_.size()) return nullptr;
    Module* module = new Module;
    module->classIndex = classIndex;
    module->record.assign(VELK_MODULE_RECORD_BYTES, 0);
    module->privateData.assign(classes_[classIndex].privateDataSize, 0);
    module->states.assign(16, ChannelState{});
    module->outputs.resize(16);
    module->inputs.resize(16);
    ModuleRecord* m = reinterpret_cast<ModuleRecord*>(module->record.data());
    m->ownerWindow = window_;
    m->outputGate = 1;
    m->inputCount = inputs;
    m->outputCount = outputs;
    m->privateData = module->privateData.data();
    for (int i = 0; i < 16; ++i) {
        m->outputChannels[i] = &module->outputs[i].record;
        m->channelData[i] = &module->states[i];
        module->outputs[i].block.assign(offsetof(DataBlock, samples) + 4 * (blockSize_ + 1), 0);
    }
    modules_.push_back(module);
    processing_.push_back(classes_[classIndex].processingRoutine);
    current_ = m;
    g_dialogHook = SetWindowsHookExA(WH_CBT, AnswerDeviceDialog, nullptr, GetCurrentThreadId());
    const int32_t created = classes_[classIndex].classCallback(m, VELK_CODE_CREATE, 0, 0);
    UnhookWindowsHookEx(g_dialogHook);
    if (created != 1) {
        modules_.pop_back();
        processing_.pop_back();
        delete module;
        return nullptr;
    }
    return m;
}

int32_t BenchHost::callClass(ModuleRecord* m, uint32_t code) {
    current_ = m;
    return classes_[modules_[index(m)]->classIndex].classCallback(m, code, 0, 0);
}

void BenchHost::remove(ModuleRecord* m) {
    const size_t i = index(m);
    callClass(m, VELK_CODE_REMOVE);
    delete modules_[i];
    modules_.erase(modules_.begin() + static_cast<std::ptrdiff_t>(i));
    processing_.erase(processing_.begin() + static_cast<std::ptrdiff_t>(i));
}

size_t BenchHost::index(ModuleRecord* m) const {
    for (size_t i = 0; i < modules_.size(); ++i)
        if (modules_[i]->record.data() == reinterpret_cast<unsigned char*>(m)) return i;
    return 0;
}

void BenchHost::setInput(ModuleRecord* m, uint32_t channel, const std::vector<float>& samples) {
    std::vector<unsigned char>& block = modules_[index(m)]->inputs[channel];
    block.assign(offsetof(DataBlock, samples) + 4 * (samples.size() + 1), 0);
    DataBlock* b = reinterpret_cast<DataBlock*>(block.data());
    b->sampleCount = static_cast<uint16_t>(samples.size());
    memcpy(block.data() + offsetof(DataBlock, samples), samples.data(), 4 * samples.size());
}

// The channel's one block, handed out again and again.
DataBlock* __cdecl BenchHost::GetCurrentOutputBlock(OutputChannel* channel) {
    return reinterpret_cast<DataBlock*>(reinterpret_cast<Channel*>(channel)->block.data());
}

int32_t __cdecl BenchHost::NewReleaseOutputBlock(OutputChannel*, const char*, int32_t) {
    ++g_host->releasedOutputs_;
    return 1;
}

DataBlock* __cdecl BenchHost::GetInputBlock(ModuleRecord* m, uint32_t channel) {
    std::vector<unsigned char>& block = g_host->modules_[g_host->index(m)]->inputs[channel];
    return block.empty() ? nullptr : reinterpret_cast<DataBlock*>(block.data());
}

int32_t __cdecl BenchHost::NewReleaseInputBlock(ModuleRecord*, uint32_t, const char*, int32_t) {
    ++g_host->releasedInputs_;
    return 1;
}

}  // namespace bench
