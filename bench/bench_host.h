// The least host that loads the extension and runs its processing routines: it
// answers the look-ups by name, keeps the seven linked variables, and hands out
// blocks without any work of its own (one block per output channel, reused; one
// prepared input block per input channel). Module creation answers the device
// selection dialog with OK on its first line. For benchmarks only: it checks
// nothing and records nothing.
#pragma once

#include "abi/velk_abi.h"

#include <windows.h>

#include <string>
#include <vector>

namespace bench {

class BenchHost {
public:
    // Loads `extension` (its driver is looked up in `driverDir` first; UTF-8 paths)
    // and runs set-up.
    BenchHost(const std::string& extension, const std::string& driverDir);
    ~BenchHost();
    BenchHost(const BenchHost&) = delete;
    BenchHost& operator=(const BenchHost&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }

    void setTiming(double periodMs, uint32_t blockSize);
    void setRunning(int32_t running);
    void setStartTicks(uint32_t ticks);

    // A module of the class with the channel counts set before its create code.
    ModuleRecord* create(const char* classId, uint32_t inputs, uint32_t outputs);
    int32_t callClass(ModuleRecord* m, uint32_t code);
    // Removes the module (code 102), which gives its card back.
    void remove(ModuleRecord* m);
    int32_t process(ModuleRecord* m) { return processing_[index(m)](m); }

    // Input channel c of `m` offers `samples` again and again.
    void setInput(ModuleRecord* m, uint32_t channel, const std::vector<float>& samples);

    uint64_t releasedOutputs() const { return releasedOutputs_; }
    uint64_t releasedInputs() const { return releasedInputs_; }
    uint32_t warnings() const { return warnings_; }

    // The host functions as the extension sees them.
    static DataBlock* __cdecl GetCurrentOutputBlock(OutputChannel* channel);
    static int32_t __cdecl NewReleaseOutputBlock(OutputChannel* channel, const char* tag, int32_t line);
    static DataBlock* __cdecl GetInputBlock(ModuleRecord* m, uint32_t channel);
    static int32_t __cdecl NewReleaseInputBlock(ModuleRecord* m, uint32_t channel, const char* tag, int32_t line);
    static int32_t __cdecl RegisterModuleClass(ClassRegistration* record);
    static void __cdecl ShowWarning(const char* caption, const char* text);

private:
    struct Channel {
        OutputChannel record;
        std::vector<unsigned char> block;
    };
    struct Module {
        std::vector<unsigned char> record;
        std::vector<unsigned char> privateData;
        std::vector<ChannelState> states;
        std::vector<Channel> outputs;
        std::vector<std::vector<unsigned char>> inputs;
        size_t classIndex;
    };
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT lookUp(UINT message, const char* name);
    size_t index(ModuleRecord* m) const;

    HWND window_ = nullptr;
    HMODULE extension_ = nullptr;
    bool ok_ = false;
    std::string error_;
    std::vector<ClassRegistration> classes_;
    std::vector<Module*> modules_;
    std::vector<ProcessingRoutine> processing_;
    ModuleRecord* current_ = nullptr;
    uint64_t releasedOutputs_ = 0;
    uint64_t releasedInputs_ = 0;
    uint32_t warnings_ = 0;
    std::vector<std::pair<void*, uint32_t>> links_;  // linked variables
    double periodMs_ = 1.0;
    uint32_t blockSize_ = 100;
    int32_t running_ = 0;
    uint32_t startTicks_ = 0;
    std::vector<HBITMAP> bitmaps_;
    unsigned char variableSpace_[4096] = {};
};

}  // namespace bench
