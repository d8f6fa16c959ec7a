// The Velk stand-in's host: construction and teardown, loading the extension and
// its set-up, the answers to its look-ups, the linked variables, registrations,
// warnings, fonts and the logs.
#include "velk/host/host.h"

#include "velk/host/velk_functions.h"
#include "velk/host/host_internal.h"
#include "velk/host/bound_names.h"
#include "velk/common/paths.h"
#include "velk/common/text.h"

#include <stdexcept>

namespace velk {

namespace {

Host* g_current = nullptr;

struct LinkedName {
    const char* name;
    uint32_t size;
};
const LinkedName kLinkedNames[] = {
    {"fGlobalMilliSecondsPerSample", 8}, {"uiGlobalBlockSize", 4},   {"bAnimation", 4},
    {"bExperimentIsRunning", 4},         {"bExperimentIsPaused", 4}, {"dwExperimentStartTimeTicks", 4},
    {"BBoxModul", 4},
};

template <typename Fn>
Fn exported(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

// Velk's variables that are texts or plain storage, one cell per variable name.
struct Host::Texts {
    struct Cell {
        alignas(16) unsigned char bytes[MAX_PATH + 8];
    };
    std::vector<Cell> cells;
    explicit Texts(size_t count) : cells(count) { std::memset(cells.data(), 0, cells.size() * sizeof(Cell)); }
    void* cell(size_t i) { return cells[i].bytes; }
    void setText(size_t i, const std::string& text) {
        copyField(reinterpret_cast<char*>(cells[i].bytes), sizeof cells[i].bytes, text);
    }
};

// ---------------------------------------------------------------------------
// Construction and teardown

Host::Host(HostOptions options)
    : options_(std::move(options)), samplePeriodMs_(options_.samplePeriodMs), blockSize_(options_.blockSize) {
    if (g_current) throw std::logic_error("velk::Host: another Host is live in this process");
    g_current = this;
    try {
        instance_ = GetModuleHandleA(nullptr);
        allocator_.setEventSink([this](const std::string& e) { log_.event(e); });
        allocator_.setErrorSink([this](const std::string& e) { log_.error(e); });
        for (int i = 0; i < kChannelBitmapCount; ++i) channelBitmaps_[i] = makeChannelBitmap(i);
        for (int i = 0; i < kLessMoreBitmapCount; ++i) lessMoreBitmaps_[i] = makeLessMoreBitmap(i);
        createWindow();
        buildAnswers();
    } catch (...) {
        finish();
        throw;
    }
}

Host::~Host() {
    finish();
    // Fonts and memory the extension left are counted until here (liveFontCount,
    // allocator().liveCount()), so that a leak still shows after finish().
    for (HFONT f : fonts_) DeleteObject(f);
    allocator_.releaseAll();
}

Host* Host::current() { return g_current; }

std::string Host::exeDir() {
    wchar_t path[MAX_PATH * 4] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    const std::wstring p(path, n < MAX_PATH * 4 ? n : 0);
    const size_t slash = p.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::string(".") : utf8Path(p.substr(0, slash));
}

std::string Host::extensionPath() const {
    return options_.extensionPath ? *options_.extensionPath : exeDir() + "\\Velk_ux1.dll";
}

std::string Host::driverDir() const { return options_.driverDir ? *options_.driverDir : exeDir() + "\\driver"; }

void Host::finish() {
    if (finished_) return;
    finished_ = true;
    // Closing the worksheet: every module gets the remove code while its class is loaded.
    while (!modules_.empty()) removeModule(modules_.back()->record);
    connections_.clear();
    recorders_.clear();
    if (extension_) {
        checkLinked();
        if (setupCalled_) finishExtension();
        releaseOldWindows();
        links_.clear();  // the storage goes with the library
        FreeLibrary(extension_);
        extension_ = nullptr;
        setupFn_ = nullptr;
        finishFn_ = nullptr;
        wepFn_ = nullptr;
    } else {
        releaseOldWindows();
    }
    SetDllDirectoryA(nullptr);
    if (mainWindow_) DestroyWindow(mainWindow_);
    mainWindow_ = nullptr;
    mainMenu_ = nullptr;
    UnregisterClassA(kNotifyWindowClass, instance_);
    UnregisterClassA(kMainWindowClass, instance_);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        // messages for windows that are gone; nothing is left to receive them
    }
    for (HBITMAP& b : channelBitmaps_) {
        if (b) DeleteObject(b);
        b = nullptr;
    }
    for (HBITMAP& b : lessMoreBitmaps_) {
        if (b) DeleteObject(b);
        b = nullptr;
    }
    for (HGDIOBJ o : gdiObjects_) DeleteObject(o);
    gdiObjects_.clear();
    if (g_current == this) g_current = nullptr;
}

// ---------------------------------------------------------------------------
// The extension

bool Host::load() {
    if (extension_) return true;
    loadError_.clear();
    const std::string dir = driverDir();
    SetDllDirectoryW(widePath(dir).c_str());
    const std::string path = extensionPath();
    extension_ = LoadLibraryW(widePath(path).c_str());
    if (!extension_) {
        loadError_ = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    setupFn_ = exported<SetupVelkDLLFn>(extension_, "SetupVelkDLL");
    finishFn_ = exported<FinishVelkDLLFn>(extension_, "FinishVelkDLL");
    wepFn_ = exported<WEPFn>(extension_, "WEP");
    if (!setupFn_ || !finishFn_) {
        loadError_ = path + " does not export " + (setupFn_ ? "FinishVelkDLL" : "SetupVelkDLL");
        FreeLibrary(extension_);
        extension_ = nullptr;
        setupFn_ = nullptr;
        finishFn_ = nullptr;
        wepFn_ = nullptr;
        return false;
    }
    return true;
}

int32_t Host::setup() {
    if (!setupFn_) return -1;
    setupCalled_ = true;
    setupResult_ = setupFn_(mainWindow_);
    return setupResult_;
}

int32_t Host::finishExtension() {
    if (finishCalled_) return finishResult_;
    if (!finishFn_) return -1;
    finishCalled_ = true;
    finishResult_ = finishFn_(0);
    return finishResult_;
}

int32_t Host::callWep(int32_t value) { return wepFn_ ? wepFn_(value) : -1; }

// ---------------------------------------------------------------------------
// Look-ups

void Host::buildAnswers() {
    texts_ = std::make_unique<Texts>(kVariableNameCount);
    // Velk's folder variables hold code page 932, as the extension reads its texts.
    const std::string dir = utf8ToCp932(exeDir());
    auto pen = [this](COLORREF c) {
        HPEN p = CreatePen(PS_SOLID, 1, c);
        gdiObjects_.push_back(p);
        return reinterpret_cast<LRESULT>(p);
    };
    auto brush = [this](COLORREF c) {
        HBRUSH b = CreateSolidBrush(c);
        gdiObjects_.push_back(b);
        return reinterpret_cast<LRESULT>(b);
    };
    variableAnswers_.assign(kVariableNameCount, 0);
    for (size_t i = 0; i < kVariableNameCount; ++i) {
        const std::string n = kVariableNames[i].name;
        LRESULT a = reinterpret_cast<LRESULT>(texts_->cell(i));  // plain storage unless named below
        auto text = [&](const std::string& t) { texts_->setText(i, t); };
        if (n == "hInstVelk") a = reinterpret_cast<LRESULT>(instance_);
        else if (n == "MainMenu") a = reinterpret_cast<LRESULT>(mainMenu_);
        else if (n == "&hwndDesk") a = reinterpret_cast<LRESULT>(&desk_);
        else if (n == "&wNumberOfModules") a = reinterpret_cast<LRESULT>(&numberOfModules_);
        else if (n == "&uiHighModuleNumber") a = reinterpret_cast<LRESULT>(&highModuleNumber_);
        else if (n == "&CurrentModulePtr") a = reinterpret_cast<LRESULT>(&currentModule_);
        else if (n == "uiVersionsTyp") a = 2;
        else if (n == "uiDistributorTyp") a = 5;
        else if (!kVariableNames[i].required) a = 1;  // format settings: leading zeros, long year, 24 h
        else if (n == "TimeTrenn") text(":");
        else if (n == "DezTrenn") text(".");
        else if (n == "DateTrenn") text("/");
        else if (n == "hBitChannel") a = reinterpret_cast<LRESULT>(channelBitmaps_.data());
        else if (n == "hBitLessMore") a = reinterpret_cast<LRESULT>(lessMoreBitmaps_.data());
        else if (n == "hDkGrayPen") a = pen(RGB(64, 64, 64));
        else if (n == "hPipePenRed") a = pen(RGB(255, 0, 0));
        else if (n == "hPipePenGreen") a = pen(RGB(0, 160, 0));
        else if (n == "hLightRedBrush") a = brush(RGB(255, 160, 160));
        else if (n == "hGreenBrush") a = brush(RGB(0, 160, 0));
        else if (n == "InitialStartupDir" || n == "ExeFileDir" || n == "DefUtilityDir") text(dir);
        else if (n == "ProgFileNameIni") text(dir + "\\velk.ini");
        else if (n == "DefStreamingDir") text(dir + "\\stream");
        else if (n == "DefFlowchartDir") text(dir + "\\worksheets");
        else if (n == "DefDataDir") text(dir + "\\data");
        else if (n == "DefDeviceDir") text(dir + "\\devices");
        else if (n == "GlobalFlowChartInfo.Author") text("Velk");
        variableAnswers_[i] = a;
    }
    functionAnswers_.assign(kFunctionNameCount, 0);
    for (size_t i = 0; i < kFunctionNameCount; ++i) {
        void* f = implementedFunction(kFunctionNames[i].name);
        functionAnswers_[i] = reinterpret_cast<LRESULT>(f ? f : unexpectedFunction(i));
    }
}

LRESULT Host::answerLookup(LookupKind kind, const char* namePtr) {
    const std::string name = boundedText(namePtr, 256);
    LRESULT answer = 0;
    if (!options_.zeroNames.count(name)) {
        if (kind == LookupKind::Variable) {
            int i = variableIndex(name);
            if (i >= 0) answer = variableAnswers_[i];
        } else {
            int i = functionIndex(name);
            if (i >= 0) answer = functionAnswers_[i];
        }
    }
    lookups_.push_back({kind, name, answer});
    return answer;
}

LRESULT Host::lookUp(LookupKind kind, const char* name) {
    return SendMessageA(mainWindow_, kind == LookupKind::Variable ? VELK_MSG_VARIABLE : VELK_MSG_FUNCTION, 0,
                        reinterpret_cast<LPARAM>(name));
}

// ---------------------------------------------------------------------------
// Registrations

int32_t Host::defineDllModule() {
    ++defineModuleCalls_;
    log_.event("DefineDllModule");
    return 1;
}

int32_t Host::defineDllVariable(const char* namePtr, void* storage, uint32_t size) {
    const std::string name = boundedText(namePtr, 256);
    bool accepted = false;
    for (const LinkedName& l : kLinkedNames)
        if (name == l.name) accepted = size == l.size && storage != nullptr && !options_.refusedLinks.count(name);
    links_.push_back({name, storage, size, accepted});
    log_.event("DefineDllVariable|" + name + "|" + std::to_string(size) + "|" + (accepted ? "1" : "0"));
    if (accepted) writeLinked(name.c_str());
    return accepted ? 1 : 0;
}

// The linked variables are Velk's: the extension reads them and never writes them.
// Each is compared with Velk's own value after every call into a module class (and
// before Velk writes a new value), so a write fails the test in which it happens.
void Host::checkLinked(const char* except) {
    for (const VariableLink& l : links_) {
        if (!l.accepted || (except && l.name == except)) continue;
        const void* value = nullptr;
        size_t size = 4;
        if (l.name == "fGlobalMilliSecondsPerSample") value = &samplePeriodMs_, size = 8;
        else if (l.name == "uiGlobalBlockSize") value = &blockSize_;
        else if (l.name == "bAnimation") value = &animation_;
        else if (l.name == "bExperimentIsRunning") value = &running_;
        else if (l.name == "bExperimentIsPaused") value = &paused_;
        else if (l.name == "dwExperimentStartTimeTicks") value = &startTicks_;
        else if (l.name == "BBoxModul") value = &bboxModul_;
        if (value && std::memcmp(l.storage, value, size) != 0)
            log_.error("the extension wrote into Velk's linked variable " + l.name);
    }
}

void Host::writeLinked(const char* name) {
    checkLinked(name);
    for (const VariableLink& l : links_) {
        if (!l.accepted || l.name != name) continue;
        if (l.name == "fGlobalMilliSecondsPerSample") std::memcpy(l.storage, &samplePeriodMs_, 8);
        else if (l.name == "uiGlobalBlockSize") std::memcpy(l.storage, &blockSize_, 4);
        else if (l.name == "bAnimation") std::memcpy(l.storage, &animation_, 4);
        else if (l.name == "bExperimentIsRunning") std::memcpy(l.storage, &running_, 4);
        else if (l.name == "bExperimentIsPaused") std::memcpy(l.storage, &paused_, 4);
        else if (l.name == "dwExperimentStartTimeTicks") std::memcpy(l.storage, &startTicks_, 4);
        else if (l.name == "BBoxModul") std::memcpy(l.storage, &bboxModul_, 4);
    }
}

void Host::setSamplePeriodMs(double ms) {
    samplePeriodMs_ = ms;
    writeLinked("fGlobalMilliSecondsPerSample");
}
void Host::setBlockSize(uint32_t samples) {
    blockSize_ = samples;
    writeLinked("uiGlobalBlockSize");
}
void Host::setAnimation(int32_t on) {
    animation_ = on;
    writeLinked("bAnimation");
}
void Host::setRunning(int32_t running) {
    running_ = running;
    writeLinked("bExperimentIsRunning");
}
void Host::setPaused(int32_t paused) {
    paused_ = paused;
    writeLinked("bExperimentIsPaused");
}
void Host::setStartTicks(uint32_t ticks) {
    startTicks_ = ticks;
    writeLinked("dwExperimentStartTimeTicks");
}
void Host::setBBoxModul(int32_t value) {
    bboxModul_ = value;
    writeLinked("BBoxModul");
}

std::string RegisteredClass::classId() const { return boundedText(record.classId, 256); }
std::string RegisteredClass::shortName() const { return boundedText(record.shortName, 256); }
std::string RegisteredClass::longName() const { return boundedText(record.longName, 256); }

int32_t Host::registerModuleClass(const ClassRegistration* record) {
    if (!record) {
        log_.error("RegisterModuleClass with a null record");
        return 0;
    }
    RegisteredClass c;
    c.record = *record;
    log_.event("RegisterModuleClass|" + c.classId());
    classes_.push_back(std::move(c));
    return 1;
}

const RegisteredClass* Host::findClass(const std::string& classId) const {
    for (const auto& c : classes_)
        if (c.classId() == classId) return &c;
    return nullptr;
}

int32_t Host::registerMenuEntry(uint32_t entry, MenuEntryCallback callback) {
    menuEntries_.push_back({entry, callback});
    log_.event("RegisterMenuEntry|" + std::to_string(entry));
    return 1;
}

int32_t Host::chooseMenuEntry(uint32_t entry) {
    for (auto it = menuEntries_.rbegin(); it != menuEntries_.rend(); ++it)
        if (it->entry == entry && it->callback) return it->callback();
    return 0;
}

int32_t Host::performDefaultAction(ModuleRecord* m, uint32_t code, int32_t value1, int32_t value2) {
    defaultActions_.push_back({m, code, value1, value2});
    log_.event("PerformDefaultAction|" + std::to_string(code) + "|" + std::to_string(value1) + "|" +
                std::to_string(value2));
    return options_.defaultActionResult;
}

int32_t Host::changeModuleSize(ModuleRecord* m, uint32_t inputCount, uint32_t outputCount) {
    const bool accepted = m && inputCount <= kMaxChannels && outputCount <= kMaxChannels;
    sizeChanges_.push_back({m, inputCount, outputCount, accepted});
    log_.event("ChangeModuleSize|" + std::to_string(inputCount) + "|" + std::to_string(outputCount));
    if (!m) {
        log_.error("ChangeModuleSize with a null module record");
        return 0;
    }
    if (!isModule(m)) log_.error("ChangeModuleSize on a module record Velk did not make: " + pointerText(m));
    if (!accepted) return 0;
    m->inputCount = inputCount;
    m->outputCount = outputCount;
    return 1;
}

// ---------------------------------------------------------------------------
// Warnings, stop, fonts, logs

void Host::showWarning(const char* caption, const char* text) {
    Warning w{boundedText(caption, 4096), boundedText(text, 65536)};
    log_.warning(w);
    if (warningHook_) warningHook_(w);
    switch (options_.warnings) {
        case WarningOutput::Stdout: {
            const std::string line = "[" + cp932ToUtf8(w.caption) + "] " + cp932ToUtf8(w.text) + "\n";
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fflush(stdout);
            break;
        }
        case WarningOutput::MessageBox:
            MessageBoxA(mainWindow_, w.text.c_str(), w.caption.c_str(), MB_OK | MB_ICONWARNING);
            break;
        case WarningOutput::None:
            break;
    }
}

void Host::stopExperiment() {
    log_.stop();
    if (stopHook_) stopHook_();
}

HFONT Host::createStackedFont(const LOGFONTA* font) {
    log_.event("CreateStackedFontIndirect");
    if (!font) {
        log_.error("CreateStackedFontIndirect with a null font description");
        return nullptr;
    }
    HFONT f = CreateFontIndirectA(font);
    if (f) fonts_.insert(f);
    return f;
}

int32_t Host::deleteStackedObject(HGDIOBJ object) {
    log_.event("DeleteStackedObject");
    auto it = fonts_.find(static_cast<HFONT>(object));
    if (it == fonts_.end()) {
        log_.error("DeleteStackedObject of an object Velk did not make: " + pointerText(object));
        return 0;
    }
    fonts_.erase(it);
    return DeleteObject(object) ? 1 : 0;
}

void Host::reportUnexpectedCall(const char* name) {
    Host* h = g_current;
    if (!h) return;
    const std::string n = name ? name : "(null)";
    h->log_.unexpected(n);
}

}  // namespace velk
