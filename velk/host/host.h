// The Velk stand-in: the host side of the extension's world. A Host owns Velk's
// main window (which answers the look-up messages), loads the extension with
// LoadLibraryW, implements the Velk functions the extension calls, keeps the
// linked variables current in the extension's storage, and holds the module
// instances with their output channels, block pools and input queues.
//
// One Host lives at a time per process: the Velk functions are plain __cdecl
// entry points and reach the live Host through Host::current(). Everything runs on
// the thread that made the Host, except the event-log accessors, which are safe to
// call from a helper thread (for example a UI operator).
#pragma once

#include "abi/velk_abi.h"
#include "velk/host/allocator.h"
#include "velk/host/button_bitmaps.h"
#include "velk/host/block_pool.h"
#include "velk/host/host_log.h"
#include "velk/host/host_types.h"

#include <windows.h>

#include <stdint.h>

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velk {

struct ModuleInstance;

class Host {
public:
    static constexpr uint32_t kMaxChannels = 16;
    // The largest private data or channel state area a module class is given (the
    // extension's are a few hundred bytes). A class asking for more gets no module:
    // the 32-bit Velk could not hold it, and on i686 the size would wrap.
    static constexpr uint32_t kLargestModuleArea = 1u << 24;

    explicit Host(HostOptions options = HostOptions());
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // The live host, or null.
    static Host* current();
    static std::string exeDir();  // UTF-8, like every path of the stand-in
    // The stand-ins of functions that have no implementation report here.
    static void reportUnexpectedCall(const char* name);

    const HostOptions& options() const { return options_; }
    HWND mainWindow() const { return mainWindow_; }
    HMENU mainMenu() const { return mainMenu_; }
    void moveMainWindow(int x, int y, int width, int height);
    std::string extensionPath() const;
    std::string driverDir() const;

    // ---- The extension ----
    // SetDllDirectoryW(driver folder), LoadLibraryW(extension), find the exports.
    bool load();
    bool isLoaded() const { return extension_ != nullptr; }
    HMODULE extensionModule() const { return extension_; }
    const std::string& loadError() const { return loadError_; }
    // SetupVelkDLL(main window); -1 when the extension is not loaded.
    int32_t setup();
    bool loadAndSetup() { return load() && setup() == 1; }
    bool setupCalled() const { return setupCalled_; }
    int32_t setupResult() const { return setupResult_; }
    // FinishVelkDLL(0) once; later calls answer the first result (-1 if not loaded).
    int32_t finishExtension();
    // WEP(value); -1 when not loaded.
    int32_t callWep(int32_t value);
    // Teardown: removes the modules (code 102), FinishVelkDLL if set-up ran,
    // FreeLibrary, frees blocks and memory, destroys the main window and unregisters
    // the window classes, and frees the process for a fresh Host. Idempotent.
    void finish();

    // ---- Look-ups ----
    // Sends 30000 or 30001 to the main window, as the extension does.
    LRESULT lookUp(LookupKind kind, const char* name);
    // What the main window answers for a name (the window procedure's answer).
    LRESULT answerLookup(LookupKind kind, const char* name);
    const std::vector<Lookup>& lookups() const { return lookups_; }
    void clearLookups() { lookups_.clear(); }
    const HBITMAP* channelBitmaps() const { return channelBitmaps_.data(); }
    const HBITMAP* lessMoreBitmaps() const { return lessMoreBitmaps_.data(); }

    // ---- What the extension registered ----
    int defineModuleCalls() const { return defineModuleCalls_; }
    const std::vector<VariableLink>& variableLinks() const { return links_; }
    const std::vector<RegisteredClass>& classes() const { return classes_; }
    const RegisteredClass* findClass(const std::string& classId) const;
    const std::vector<MenuEntryRegistration>& menuEntries() const { return menuEntries_; }
    // Velk's menu entry chosen: calls the registered callback; 0 when none.
    int32_t chooseMenuEntry(uint32_t entry);

    // ---- Linked variables: Velk's values, kept current in the extension's storage ----
    void setSamplePeriodMs(double ms);
    void setBlockSize(uint32_t samples);
    void setAnimation(int32_t on);
    void setRunning(int32_t running);
    void setPaused(int32_t paused);
    void setStartTicks(uint32_t ticks);
    void setBBoxModul(int32_t value);
    double samplePeriodMs() const { return samplePeriodMs_; }
    uint32_t blockSize() const { return blockSize_; }
    int32_t animation() const { return animation_; }
    int32_t running() const { return running_; }
    int32_t paused() const { return paused_; }
    uint32_t startTicks() const { return startTicks_; }
    int32_t bboxModul() const { return bboxModul_; }

    // ---- Modules ----
    // Allocates a module of the class and sends the create code; null when the
    // class is unknown or answers 0 (everything is freed again).
    ModuleRecord* createModule(const std::string& classId, const NewModule& how = NewModule());
    ModuleRecord* createModule(size_t classIndex, const NewModule& how = NewModule());
    // A fresh record of the class given the saved counts, texts and area bytes, as
    // Velk does when it opens a worksheet: no create code and no dialog (the caller
    // sends the device check). Null with the reason when the class is unknown, the
    // area is not the size the class registered or a count is beyond the record.
    ModuleRecord* restoreModule(const std::string& classId, const SavedModule& saved, std::string& error);
    // A copy of the module's private data area as it stands (empty for an unknown
    // module): what Velk keeps with the module and saves with the worksheet.
    std::string privateArea(const ModuleRecord* m) const;
    // Sends the remove code and frees the module; false for an unknown record.
    bool removeModule(ModuleRecord* m);
    int32_t callClass(ModuleRecord* m, uint32_t code, int32_t value1 = 0, int32_t value2 = 0);
    // The class's processing routine; -1 for an unknown module.
    int32_t process(ModuleRecord* m);
    // How often process() called the module's processing routine.
    uint64_t processCalls(const ModuleRecord* m) const;
    // Makes m the current module and sends the setup code.
    int32_t setupModule(ModuleRecord* m);
    std::vector<ModuleRecord*> modules() const;
    bool isModule(const ModuleRecord* m) const;
    const RegisteredClass* classOf(const ModuleRecord* m) const;
    ModuleRecord* currentModule() const { return currentModule_; }
    void setCurrentModule(ModuleRecord* m) { currentModule_ = m; }
    ModuleRecord** currentModuleSlot() { return &currentModule_; }

    // ---- Blocks ----
    OutputChannel* outputChannel(ModuleRecord* m, uint32_t channel) const;
    // Blocks released on from's output channel go to to's input queue.
    bool connect(ModuleRecord* from, uint32_t output, ModuleRecord* to, uint32_t input);
    bool disconnect(ModuleRecord* from, uint32_t output, ModuleRecord* to, uint32_t input);
    // Returns an id for removeRecorder, or 0 for an unknown module or channel.
    int addRecorder(ModuleRecord* from, uint32_t output, BlockRecorder recorder);
    bool removeRecorder(int id);
    // Every block released on the channel so far (keepReleasedBlocks).
    std::vector<ReleasedBlock> releasedBlocks(ModuleRecord* m, uint32_t output) const;
    void clearReleasedBlocks();
    uint64_t releaseCount() const { return releaseSequence_; }
    // Puts a block at the end of m's input queue; false for an unknown module or channel.
    bool pushInputBlock(ModuleRecord* m, uint32_t input, const BlockContent& content);
    size_t inputBlocksWaiting(ModuleRecord* m, uint32_t input) const;
    std::vector<InputRelease> inputReleases(ModuleRecord* m) const;
    void setPoolCapacity(ModuleRecord* m, uint32_t output, size_t capacity);
    // No further block for the channel until setPoolCapacity raises the limit again.
    void exhaustPool(ModuleRecord* m, uint32_t output) { setPoolCapacity(m, output, 0); }
    PoolStats poolStats(ModuleRecord* m, uint32_t output) const;

    // ---- What the extension called ----
    const std::vector<DefaultActionCall>& defaultActions() const { return defaultActions_; }
    const std::vector<ModuleSizeChange>& sizeChanges() const { return sizeChanges_; }
    size_t liveFontCount() const { return fonts_.size(); }
    // What the extension did with Velk: events, faults, warnings, stop requests.
    HostLog& log() { return log_; }
    const HostLog& log() const { return log_; }
    TaggedAllocator& allocator() { return allocator_; }
    const TaggedAllocator& allocator() const { return allocator_; }

    // Called inside StopExperiment and ShowWarning, after the call is recorded.
    void setStopHook(std::function<void()> hook) { stopHook_ = std::move(hook); }
    void setWarningHook(std::function<void(const Warning&)> hook) { warningHook_ = std::move(hook); }
    // Paints the main window's client area instead of the module list (the live
    // view of a run); null restores the list.
    void setPaintHook(std::function<void(HDC, const RECT&)> hook) { paintHook_ = std::move(hook); }

    // Dispatches the pending messages of this thread; returns how many.
    size_t pump();

    // ---- The Velk functions (called through the entry points the look-ups hand out) ----
    int32_t defineDllModule();
    int32_t defineDllVariable(const char* name, void* storage, uint32_t size);
    int32_t registerModuleClass(const ClassRegistration* record);
    int32_t registerMenuEntry(uint32_t entry, MenuEntryCallback callback);
    int32_t performDefaultAction(ModuleRecord* m, uint32_t code, int32_t value1, int32_t value2);
    DataBlock* getCurrentOutputBlock(OutputChannel* channel);
    int32_t releaseOutputBlock(OutputChannel* channel, const char* tag, int32_t line);
    DataBlock* getInputBlock(ModuleRecord* m, uint32_t input);
    int32_t releaseInputBlock(ModuleRecord* m, uint32_t input, const char* tag, int32_t line);
    int32_t changeModuleSize(ModuleRecord* m, uint32_t inputCount, uint32_t outputCount);
    void showWarning(const char* caption, const char* text);
    void stopExperiment();
    HFONT createStackedFont(const LOGFONTA* font);
    int32_t deleteStackedObject(HGDIOBJ object);

    // Internal: the main window's procedure.
    LRESULT handleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

private:
    struct Texts;
    struct Connection {
        ModuleInstance* from;
        uint32_t output;
        ModuleInstance* to;
        uint32_t input;
    };
    struct Recorder {
        int id;
        ModuleInstance* from;
        uint32_t output;
        BlockRecorder callback;
        bool removed = false;  // removed while recorders were being called
    };

    void createWindow();
    void buildAnswers();
    void writeLinked(const char* name);
    // Records a misuse for every linked variable whose storage no longer holds Velk's
    // value (`except`: the one Velk is writing now, with its new value).
    void checkLinked(const char* except = nullptr);
    ModuleInstance* instanceOf(const ModuleRecord* m) const;
    ModuleInstance* instanceOfChannel(OutputChannel* channel, uint32_t* index) const;
    ModuleRecord* createModuleOfClass(size_t classIndex, const NewModule& how);
    // A zeroed record with its private data area, channel state records and output
    // channels, added to the modules; the class callback is not called.
    ModuleInstance* allocateModule(size_t classIndex, const NewModule& how);
    void freeModule(ModuleInstance* instance);
    void giveBackInput(ModuleInstance* instance, uint32_t input);
    void releaseOldWindows();

    HostOptions options_;
    HINSTANCE instance_ = nullptr;
    HWND mainWindow_ = nullptr;
    HMENU mainMenu_ = nullptr;
    bool finished_ = false;

    HMODULE extension_ = nullptr;
    std::string loadError_;
    SetupVelkDLLFn setupFn_ = nullptr;
    FinishVelkDLLFn finishFn_ = nullptr;
    WEPFn wepFn_ = nullptr;
    bool setupCalled_ = false;
    int32_t setupResult_ = -1;
    bool finishCalled_ = false;
    int32_t finishResult_ = -1;

    std::vector<Lookup> lookups_;
    std::vector<LRESULT> variableAnswers_;
    std::vector<LRESULT> functionAnswers_;
    std::unique_ptr<Texts> texts_;
    std::array<HBITMAP, kChannelBitmapCount> channelBitmaps_{};
    std::array<HBITMAP, kLessMoreBitmapCount> lessMoreBitmaps_{};
    std::vector<HGDIOBJ> gdiObjects_;

    int defineModuleCalls_ = 0;
    std::vector<VariableLink> links_;
    std::vector<RegisteredClass> classes_;
    std::vector<MenuEntryRegistration> menuEntries_;
    std::vector<DefaultActionCall> defaultActions_;
    std::vector<ModuleSizeChange> sizeChanges_;
    std::set<HFONT> fonts_;

    double samplePeriodMs_;
    uint32_t blockSize_;
    int32_t animation_ = 0;
    int32_t running_ = 0;
    int32_t paused_ = 0;
    uint32_t startTicks_ = 0;
    int32_t bboxModul_ = 0;

    // Velk variables behind "&" names that the extension reads or may read.
    ModuleRecord* currentModule_ = nullptr;
    HWND desk_ = nullptr;
    uint16_t numberOfModules_ = 0;
    uint32_t highModuleNumber_ = 0;

    std::vector<std::unique_ptr<ModuleInstance>> modules_;
    uint32_t moduleSerial_ = 0;
    uint32_t blockSerial_ = 0;
    uint64_t releaseSequence_ = 0;
    std::vector<Connection> connections_;
    std::vector<Recorder> recorders_;
    int recorderIds_ = 0;
    bool callingRecorders_ = false;
    std::vector<Recorder> addedRecorders_;
    // The output channel found last, so that a module's release after its request
    // finds its channel at once.
    mutable OutputChannel* lastChannel_ = nullptr;
    mutable ModuleInstance* lastInstance_ = nullptr;
    mutable uint32_t lastIndex_ = 0;

    TaggedAllocator allocator_;
    HostLog log_;
    std::function<void()> stopHook_;
    std::function<void(const Warning&)> warningHook_;
    std::function<void(HDC, const RECT&)> paintHook_;
};

}  // namespace velk
