#include "velk/host.h"

#include "velk/host_functions.h"
#include "velk/lookup.h"
#include "velk/text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <stdexcept>

namespace velk {

namespace {

Host* g_current = nullptr;

const char kMainWindowClass[] = "VelkMainWindow";
// The extension registers its notification window class under Velk's instance and
// leaves it registered; a Velk that exits does not care, the stand-in must.
const char kNotifyWindowClass[] = "TK17GETMSG";

enum MenuCommand : UINT {
    kCmdNew = 100,
    kCmdOpen = 101,
    kCmdSave = 102,
    kCmdExit = 103,
    kCmdModuleSetup = 110,
    kCmdRemoveModule = 111,
    kCmdStart = 120,
    kCmdPause = 121,
    kCmdStop = 122,
    kCmdDeviceOptions = 4990,  // Velk's menu entry an extension may take over
    kCmdCascade = 130,
    kCmdTile = 131,
    kCmdAbout = 140,
};

struct LinkedName {
    const char* name;
    uint32_t size;
};
const LinkedName kLinkedNames[] = {
    {"fGlobalMilliSecondsPerSample", 8}, {"uiGlobalBlockSize", 4},   {"bAnimation", 4},
    {"bExperimentIsRunning", 4},         {"bExperimentIsPaused", 4}, {"dwExperimentStartTimeTicks", 4},
    {"BBoxModul", 4},
};

LRESULT CALLBACK mainWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (g_current) return g_current->handleMessage(hwnd, msg, wParam, lParam);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

std::string boundedText(const char* p, size_t limit) {
    if (!p) return std::string();
    size_t n = 0;
    while (n < limit && p[n]) ++n;
    return std::string(p, n);
}

void copyField(char* field, size_t room, const std::string& text) {
    std::memset(field, 0, room);
    std::memcpy(field, text.data(), std::min(text.size(), room - 1));
}

template <typename Fn>
Fn exported(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

std::string pointerText(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

}  // namespace

// ---------------------------------------------------------------------------
// Module instances

struct ModuleInstance {
    static constexpr size_t kGuardBytes = 16;
    static constexpr unsigned char kGuardByte = 0xFD;

    struct Waiting {
        BlockBuffer* block;
        std::unique_ptr<BlockBuffer> owned;  // pushed blocks belong to the queue entry
        bool lent = false;                   // GetInputBlock has handed it out
    };

    size_t classIndex = 0;
    uint32_t number = 0;
    std::unique_ptr<unsigned char[]> recordBytes;
    ModuleRecord* record = nullptr;
    uint32_t privateSize = 0;
    std::unique_ptr<unsigned char[]> privateBytes;
    uint32_t channelSize = 0;
    std::unique_ptr<unsigned char[]> channelBytes;
    std::array<HostOutputChannel, Host::kMaxChannels> outputs{};
    std::array<BlockPool, Host::kMaxChannels> pools;
    std::array<std::deque<Waiting>, Host::kMaxChannels> inputs;
    std::array<std::vector<ReleasedBlock>, Host::kMaxChannels> released;
    std::vector<InputRelease> inputReleases;

    unsigned char* channelRecord(uint32_t i) { return channelBytes.get() + i * (channelSize + kGuardBytes); }

    static bool intact(const unsigned char* guard) {
        for (size_t i = 0; i < kGuardBytes; ++i)
            if (guard[i] != kGuardByte) return false;
        return true;
    }

    // Writes past the private data area or a channel state record.
    std::vector<std::string> damage() {
        std::vector<std::string> out;
        const std::string who = "module " + std::to_string(number);
        if (privateBytes && !intact(privateBytes.get() + privateSize))
            out.push_back(who + " wrote past its private data area of " + std::to_string(privateSize) + " bytes");
        if (channelBytes) {
            for (uint32_t i = 0; i < Host::kMaxChannels; ++i)
                if (!intact(channelRecord(i) + channelSize))
                    out.push_back(who + " wrote past channel state record " + std::to_string(i) + " of " +
                                  std::to_string(channelSize) + " bytes");
        }
        return out;
    }
};

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
        allocator_.setEventSink([this](const std::string& e) { recordEvent(e); });
        allocator_.setErrorSink([this](const std::string& e) { recordError(e); });
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
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path, n);
    size_t slash = p.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : p.substr(0, slash);
}

std::string Host::extensionPath() const {
    return options_.extensionPath ? *options_.extensionPath : exeDir() + "\\Velk_ux1.dll";
}

std::string Host::driverDir() const { return options_.driverDir ? *options_.driverDir : exeDir() + "\\driver"; }

void Host::createWindow() {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = mainWindowProc;
    wc.hInstance = instance_;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    wc.lpszClassName = kMainWindowClass;
    if (!RegisterClassExA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw std::runtime_error("velk::Host: cannot register the main window class");

    HMENU bar = CreateMenu();
    auto popup = [bar](const char* caption, std::initializer_list<std::pair<UINT, const char*>> items) {
        HMENU p = CreatePopupMenu();
        for (const auto& item : items) {
            if (item.first == 0)
                AppendMenuA(p, MF_SEPARATOR, 0, nullptr);
            else
                AppendMenuA(p, MF_STRING, item.first, item.second);
        }
        AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(p), caption);
    };
    popup("&File", {{kCmdNew, "&New worksheet"},
                    {kCmdOpen, "&Open worksheet..."},
                    {kCmdSave, "&Save worksheet"},
                    {0, nullptr},
                    {kCmdExit, "E&xit"}});
    popup("&Edit", {{kCmdModuleSetup, "Module &setup..."}, {kCmdRemoveModule, "&Remove module"}});
    popup("&Experiment", {{kCmdStart, "&Start"},
                          {kCmdPause, "&Pause"},
                          {kCmdStop, "S&top"},
                          {0, nullptr},
                          {kCmdDeviceOptions, "&Device options..."}});
    popup("&Window", {{kCmdCascade, "&Cascade"}, {kCmdTile, "&Tile"}});
    popup("&Help", {{kCmdAbout, "&About Velk..."}});

    mainWindow_ = CreateWindowExA(0, kMainWindowClass, "Velk", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                  options_.windowX, options_.windowY, options_.windowWidth, options_.windowHeight,
                                  nullptr, bar, instance_, nullptr);
    if (!mainWindow_) {
        DestroyMenu(bar);
        throw std::runtime_error("velk::Host: cannot create the main window");
    }
    mainMenu_ = bar;
    desk_ = mainWindow_;
    if (options_.showMainWindow) {
        ShowWindow(mainWindow_, SW_SHOW);
        UpdateWindow(mainWindow_);
    }
}

void Host::moveMainWindow(int x, int y, int width, int height) {
    SetWindowPos(mainWindow_, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {

BOOL CALLBACK collectWindow(HWND h, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(h);
    return TRUE;
}

}  // namespace

void Host::releaseOldWindows() {
    // Windows the extension left behind (its notification window above all) are
    // destroyed while their code is still loaded, without running it: a Velk that
    // exits never calls them again either.
    std::vector<HWND> candidates;
    EnumThreadWindows(GetCurrentThreadId(), collectWindow, reinterpret_cast<LPARAM>(&candidates));
    for (HWND h = FindWindowExA(HWND_MESSAGE, nullptr, kNotifyWindowClass, nullptr); h;
         h = FindWindowExA(HWND_MESSAGE, h, kNotifyWindowClass, nullptr))
        if (GetWindowThreadProcessId(h, nullptr) == GetCurrentThreadId()) candidates.push_back(h);
    std::vector<HWND> doomed;
    for (HWND h : candidates) {
        if (h == mainWindow_) continue;
        char cls[64] = {};
        GetClassNameA(h, cls, sizeof cls);
        bool left = std::strcmp(cls, kNotifyWindowClass) == 0 || (mainWindow_ && GetWindow(h, GW_OWNER) == mainWindow_);
        if (!left && extension_) {
            MEMORY_BASIC_INFORMATION info = {};
            void* proc = reinterpret_cast<void*>(GetWindowLongPtrA(h, GWLP_WNDPROC));
            left = proc && VirtualQuery(proc, &info, sizeof info) && info.AllocationBase == extension_;
        }
        if (left) doomed.push_back(h);
    }
    for (HWND h : doomed) {
        if (!IsWindow(h)) continue;
        SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
        DestroyWindow(h);
    }
}

void Host::finish() {
    if (finished_) return;
    finished_ = true;
    // Closing the worksheet: every module gets the remove code while its class is loaded.
    while (!modules_.empty()) removeModule(modules_.back()->record);
    connections_.clear();
    recorders_.clear();
    if (extension_) {
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
    SetDllDirectoryA(dir.c_str());
    const std::string path = extensionPath();
    extension_ = LoadLibraryA(path.c_str());
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
    const std::string dir = exeDir();
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

LRESULT Host::handleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case VELK_MSG_VARIABLE:
            return answerLookup(LookupKind::Variable, reinterpret_cast<const char*>(lParam));
        case VELK_MSG_FUNCTION:
            return answerLookup(LookupKind::Function, reinterpret_cast<const char*>(lParam));
        case WM_COMMAND: {
            const UINT id = LOWORD(wParam);
            for (auto it = menuEntries_.rbegin(); it != menuEntries_.rend(); ++it)
                if (it->entry == id) {
                    chooseMenuEntry(id);
                    return 0;
                }
            for (size_t i = 0; i < classes_.size(); ++i)
                if (classes_[i].record.menuCommand == id) {
                    if (ModuleRecord* m = createModule(i)) setupModule(m);
                    InvalidateRect(hwnd, nullptr, TRUE);
                    return 0;
                }
            if (id == kCmdModuleSetup && currentModule_) setupModule(currentModule_);
            else if (id == kCmdRemoveModule && currentModule_) removeModule(currentModule_);
            else if (id == kCmdExit) PostMessageA(hwnd, WM_CLOSE, 0, 0);
            InvalidateRect(hwnd, nullptr, TRUE);
            return 0;
        }
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            SetBkMode(dc, TRANSPARENT);
            int y = 8;
            for (const auto& inst : modules_) {
                const RegisteredClass& cls = classes_[inst->classIndex];
                std::string line = std::to_string(inst->number) + "  " +
                                   boundedText(inst->record->moduleName, sizeof inst->record->moduleName) + "  (" +
                                   cls.longName + ")";
                TextOutA(dc, 8, y, line.c_str(), static_cast<int>(line.size()));
                y += 18;
            }
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_CLOSE:
            // The host owns the window; a windowed run ends its message loop here.
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

size_t Host::pump() {
    size_t n = 0;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ++n;
        if (msg.message == WM_QUIT) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return n;
}

// ---------------------------------------------------------------------------
// Registrations

int32_t Host::defineDllModule() {
    ++defineModuleCalls_;
    recordEvent("DefineDllModule");
    return 1;
}

int32_t Host::defineDllVariable(const char* namePtr, void* storage, uint32_t size) {
    const std::string name = boundedText(namePtr, 256);
    bool accepted = false;
    for (const LinkedName& l : kLinkedNames)
        if (name == l.name) accepted = size == l.size && storage != nullptr && !options_.refusedLinks.count(name);
    links_.push_back({name, storage, size, accepted});
    recordEvent("DefineDllVariable|" + name + "|" + std::to_string(size) + "|" + (accepted ? "1" : "0"));
    if (accepted) writeLinked(name.c_str());
    return accepted ? 1 : 0;
}

void Host::writeLinked(const char* name) {
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

int32_t Host::registerModuleClass(const ClassRegistration* record) {
    if (!record) {
        recordError("RegisterModuleClass with a null record");
        return 0;
    }
    RegisteredClass c;
    c.record = *record;
    c.classId = boundedText(record->classId, 256);
    c.shortName = boundedText(record->shortName, 256);
    c.longName = boundedText(record->longName, 256);
    recordEvent("RegisterModuleClass|" + c.classId);
    classes_.push_back(std::move(c));
    return 1;
}

const RegisteredClass* Host::findClass(const std::string& classId) const {
    for (const auto& c : classes_)
        if (c.classId == classId) return &c;
    return nullptr;
}

int32_t Host::registerMenuEntry(uint32_t entry, MenuEntryCallback callback) {
    menuEntries_.push_back({entry, callback});
    recordEvent("RegisterMenuEntry|" + std::to_string(entry));
    return 1;
}

int32_t Host::chooseMenuEntry(uint32_t entry) {
    for (auto it = menuEntries_.rbegin(); it != menuEntries_.rend(); ++it)
        if (it->entry == entry && it->callback) return it->callback();
    return 0;
}

int32_t Host::performDefaultAction(ModuleRecord* m, uint32_t code, int32_t value1, int32_t value2) {
    defaultActions_.push_back({m, code, value1, value2});
    recordEvent("PerformDefaultAction|" + std::to_string(code) + "|" + std::to_string(value1) + "|" +
                std::to_string(value2));
    return options_.defaultActionResult;
}

int32_t Host::changeModuleSize(ModuleRecord* m, uint32_t inputCount, uint32_t outputCount) {
    const bool accepted = m && inputCount <= kMaxChannels && outputCount <= kMaxChannels;
    sizeChanges_.push_back({m, inputCount, outputCount, accepted});
    recordEvent("ChangeModuleSize|" + std::to_string(inputCount) + "|" + std::to_string(outputCount));
    if (!m) {
        recordError("ChangeModuleSize with a null module record");
        return 0;
    }
    if (!isModule(m)) recordError("ChangeModuleSize on a module record Velk did not make: " + pointerText(m));
    if (!accepted) return 0;
    m->inputCount = inputCount;
    m->outputCount = outputCount;
    return 1;
}

// ---------------------------------------------------------------------------
// Warnings, stop, fonts, logs

void Host::showWarning(const char* caption, const char* text) {
    Warning w{boundedText(caption, 4096), boundedText(text, 65536)};
    {
        std::lock_guard<std::recursive_mutex> lock(logMutex_);
        warnings_.push_back(w);
    }
    recordEvent("ShowWarning|" + w.caption + "|" + w.text);
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
    {
        std::lock_guard<std::recursive_mutex> lock(logMutex_);
        ++stopRequests_;
        stopRequested_ = true;
    }
    recordEvent("StopExperiment");
    if (stopHook_) stopHook_();
}

std::vector<Warning> Host::warnings() const {
    std::lock_guard<std::recursive_mutex> lock(logMutex_);
    return warnings_;
}

int Host::stopRequests() const {
    std::lock_guard<std::recursive_mutex> lock(logMutex_);
    return stopRequests_;
}

bool Host::stopRequested() const {
    std::lock_guard<std::recursive_mutex> lock(logMutex_);
    return stopRequested_;
}

void Host::clearStopRequest() {
    std::lock_guard<std::recursive_mutex> lock(logMutex_);
    stopRequested_ = false;
}

HFONT Host::createStackedFont(const LOGFONTA* font) {
    recordEvent("CreateStackedFontIndirect");
    if (!font) {
        recordError("CreateStackedFontIndirect with a null font description");
        return nullptr;
    }
    HFONT f = CreateFontIndirectA(font);
    if (f) fonts_.insert(f);
    return f;
}

int32_t Host::deleteStackedObject(HGDIOBJ object) {
    recordEvent("DeleteStackedObject");
    auto it = fonts_.find(static_cast<HFONT>(object));
    if (it == fonts_.end()) {
        recordError("DeleteStackedObject of an object Velk did not make: " + pointerText(object));
        return 0;
    }
    fonts_.erase(it);
    return DeleteObject(object) ? 1 : 0;
}

void Host::reportUnexpectedCall(const char* name) {
    Host* h = g_current;
    if (!h) return;
    const std::string n = name ? name : "(null)";
    {
        std::lock_guard<std::recursive_mutex> lock(h->logMutex_);
        h->unexpected_.push_back(n);
    }
    h->recordEvent("Unexpected|" + n);
    h->recordError("unexpected call to " + n);
}

void Host::recordEvent(const std::string& event) {
    std::lock_guard<std::recursive_mutex> lock(logMutex_);
    events_.push_back(event);
}

void Host::recordError(const std::string& error) {
    std::lock_guard<std::recursive_mutex> lock(logMutex_);
    if (std::find(errors_.begin(), errors_.end(), error) == errors_.end()) errors_.push_back(error);
}

std::vector<std::string> Host::events() const {
    std::lock_guard<std::recursive_mutex> lock(logMutex_);
    return events_;
}

void Host::clearEvents() {
    std::lock_guard<std::recursive_mutex> lock(logMutex_);
    events_.clear();
}

std::vector<std::string> Host::errors() const {
    std::lock_guard<std::recursive_mutex> lock(logMutex_);
    return errors_;
}

std::vector<std::string> Host::unexpectedCalls() const {
    std::lock_guard<std::recursive_mutex> lock(logMutex_);
    return unexpected_;
}

// ---------------------------------------------------------------------------
// Modules

ModuleInstance* Host::instanceOf(const ModuleRecord* m) const {
    for (const auto& inst : modules_)
        if (inst->record == m) return inst.get();
    return nullptr;
}

bool Host::isModule(const ModuleRecord* m) const { return m && instanceOf(m) != nullptr; }

const RegisteredClass* Host::classOf(const ModuleRecord* m) const {
    ModuleInstance* inst = instanceOf(m);
    return inst ? &classes_[inst->classIndex] : nullptr;
}

std::vector<ModuleRecord*> Host::modules() const {
    std::vector<ModuleRecord*> out;
    for (const auto& inst : modules_) out.push_back(inst->record);
    return out;
}

ModuleRecord* Host::createModule(const std::string& classId, const NewModule& how) {
    for (size_t i = 0; i < classes_.size(); ++i)
        if (classes_[i].classId == classId) return createModuleOfClass(i, how);
    return nullptr;
}

ModuleRecord* Host::createModule(size_t classIndex, const NewModule& how) {
    return classIndex < classes_.size() ? createModuleOfClass(classIndex, how) : nullptr;
}

ModuleRecord* Host::createModuleOfClass(size_t classIndex, const NewModule& how) {
    const ClassRegistration reg = classes_[classIndex].record;
    if (!reg.classCallback) {
        recordError("module class " + classes_[classIndex].classId + " has no class callback");
        return nullptr;
    }
    if (reg.privateDataSize > kLargestModuleArea || reg.channelDataSize > kLargestModuleArea) {
        recordError("module class " + classes_[classIndex].classId + " asks for " +
                    std::to_string(reg.privateDataSize) + " bytes of private data and " +
                    std::to_string(reg.channelDataSize) + " bytes per channel state record");
        return nullptr;
    }
    auto inst = std::make_unique<ModuleInstance>();
    inst->classIndex = classIndex;
    inst->number = ++moduleSerial_;
    inst->recordBytes.reset(new unsigned char[VELK_MODULE_RECORD_BYTES]());
    ModuleRecord* rec = reinterpret_cast<ModuleRecord*>(inst->recordBytes.get());
    inst->record = rec;
    rec->ownerWindow = mainWindow_;
    rec->outputGate = how.outputGate;
    rec->inputCount = how.inputCount;
    rec->outputCount = how.outputCount;
    copyField(rec->moduleName, sizeof rec->moduleName, how.name);
    copyField(rec->moduleComment, sizeof rec->moduleComment, how.comment);

    inst->privateSize = reg.privateDataSize;
    if (reg.privateDataSize) {
        const size_t n = size_t(reg.privateDataSize) + ModuleInstance::kGuardBytes;
        inst->privateBytes.reset(new unsigned char[n]());
        std::memset(inst->privateBytes.get() + reg.privateDataSize, ModuleInstance::kGuardByte,
                    ModuleInstance::kGuardBytes);
        rec->privateData = inst->privateBytes.get();
    }
    inst->channelSize = reg.channelDataSize;
    if (reg.channelDataSize) {
        const size_t stride = size_t(reg.channelDataSize) + ModuleInstance::kGuardBytes;
        inst->channelBytes.reset(new unsigned char[stride * kMaxChannels]());
        for (uint32_t i = 0; i < kMaxChannels; ++i) {
            unsigned char* p = inst->channelRecord(i);
            std::memset(p + reg.channelDataSize, ModuleInstance::kGuardByte, ModuleInstance::kGuardBytes);
            rec->channelData[i] = reinterpret_cast<ChannelState*>(p);
        }
    }
    for (uint32_t i = 0; i < kMaxChannels; ++i) {
        HostOutputChannel& oc = inst->outputs[i];
        std::memset(&oc.velk, 0, sizeof oc.velk);
        oc.magic = kOutputChannelMagic;
        oc.index = i;
        oc.module = inst.get();
        rec->outputChannels[i] = &oc.velk;
        inst->pools[i].setCapacity(options_.poolCapacity);
    }

    modules_.push_back(std::move(inst));
    ++numberOfModules_;
    highModuleNumber_ = moduleSerial_;
    currentModule_ = rec;
    const int32_t created = reg.classCallback(rec, VELK_CODE_CREATE, 0, 0);
    if (created == 0) {
        freeModule(instanceOf(rec));
        return nullptr;
    }
    return rec;
}

bool Host::removeModule(ModuleRecord* m) {
    ModuleInstance* inst = instanceOf(m);
    if (!inst) return false;
    const ClassCallback cb = classes_[inst->classIndex].record.classCallback;
    if (cb) cb(m, VELK_CODE_REMOVE, 0, 0);
    if (ModuleInstance* still = instanceOf(m)) freeModule(still);
    return true;
}

void Host::freeModule(ModuleInstance* inst) {
    if (!inst) return;
    for (const std::string& e : inst->damage()) recordError(e);
    // Inputs it still holds go back to their sources.
    for (uint32_t i = 0; i < kMaxChannels; ++i)
        while (!inst->inputs[i].empty()) giveBackInput(inst, i);
    // Its blocks waiting at other modules disappear with it.
    for (auto& other : modules_) {
        if (other.get() == inst) continue;
        for (auto& queue : other->inputs)
            queue.erase(std::remove_if(queue.begin(), queue.end(),
                                       [&](const ModuleInstance::Waiting& w) {
                                           for (const BlockPool& p : inst->pools)
                                               if (w.block->home() == &p) return true;
                                           return false;
                                       }),
                        queue.end());
    }
    connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                      [&](const Connection& c) { return c.from == inst || c.to == inst; }),
                       connections_.end());
    recorders_.erase(std::remove_if(recorders_.begin(), recorders_.end(),
                                    [&](const Recorder& r) { return r.from == inst; }),
                     recorders_.end());
    if (currentModule_ == inst->record) currentModule_ = nullptr;
    for (auto it = modules_.begin(); it != modules_.end(); ++it)
        if (it->get() == inst) {
            modules_.erase(it);
            break;
        }
    --numberOfModules_;
}

int32_t Host::callClass(ModuleRecord* m, uint32_t code, int32_t value1, int32_t value2) {
    ModuleInstance* inst = instanceOf(m);
    if (!inst) return -1;
    const ClassCallback cb = classes_[inst->classIndex].record.classCallback;
    return cb ? cb(m, code, value1, value2) : -1;
}

int32_t Host::process(ModuleRecord* m) {
    ModuleInstance* inst = instanceOf(m);
    if (!inst) return -1;
    const ProcessingRoutine routine = classes_[inst->classIndex].record.processingRoutine;
    return routine ? routine(m) : -1;
}

int32_t Host::setupModule(ModuleRecord* m) {
    if (!instanceOf(m)) return -1;
    currentModule_ = m;
    return callClass(m, VELK_CODE_SETUP, 0, 0);
}

// ---------------------------------------------------------------------------
// Blocks

ModuleInstance* Host::instanceOfChannel(OutputChannel* channel, uint32_t* index) const {
    for (const auto& inst : modules_)
        for (uint32_t i = 0; i < kMaxChannels; ++i)
            if (&inst->outputs[i].velk == channel) {
                *index = i;
                return inst.get();
            }
    return nullptr;
}

OutputChannel* Host::outputChannel(ModuleRecord* m, uint32_t channel) const {
    ModuleInstance* inst = instanceOf(m);
    return inst && channel < kMaxChannels ? &inst->outputs[channel].velk : nullptr;
}

DataBlock* Host::getCurrentOutputBlock(OutputChannel* channel) {
    uint32_t index = 0;
    ModuleInstance* inst = instanceOfChannel(channel, &index);
    if (!inst) {
        recordError("GetCurrentOutputBlock with an output channel record Velk did not make: " + pointerText(channel));
        return nullptr;
    }
    if (index >= inst->record->outputCount)
        recordError("GetCurrentOutputBlock on output channel " + std::to_string(index) + " of module " +
                    std::to_string(inst->number) + ", which has " + std::to_string(inst->record->outputCount));
    BlockBuffer* b = inst->pools[index].current(blockSize_, blockSerial_);
    return b ? b->data() : nullptr;
}

int32_t Host::releaseOutputBlock(OutputChannel* channel, const char* tagPtr, int32_t line) {
    const std::string tag = boundedText(tagPtr, 256);
    if (options_.logBlockReleases) recordEvent("NewReleaseOutputBlock|" + tag + "|" + std::to_string(line));
    uint32_t index = 0;
    ModuleInstance* inst = instanceOfChannel(channel, &index);
    if (!inst) {
        recordError("NewReleaseOutputBlock with an output channel record Velk did not make: " + pointerText(channel));
        return 0;
    }
    BlockPool& pool = inst->pools[index];
    BlockBuffer* b = pool.detachCurrent();
    if (!b) {
        recordError("NewReleaseOutputBlock on output channel " + std::to_string(index) + " of module " +
                    std::to_string(inst->number) + " without a block (" + tag + ":" + std::to_string(line) + ")");
        return 0;
    }
    if (index >= inst->record->outputCount)
        recordError("NewReleaseOutputBlock on output channel " + std::to_string(index) + " of module " +
                    std::to_string(inst->number) + ", which has " + std::to_string(inst->record->outputCount));
    const std::string damage = b->damage();
    if (!damage.empty()) recordError(damage + " (" + tag + ":" + std::to_string(line) + ")");

    ReleasedBlock r;
    r.module = inst->record;
    r.channel = index;
    r.startTime = b->data()->startTime;
    r.sampleDistance = b->data()->sampleDistance;
    r.sampleCount = b->data()->sampleCount;
    r.samples = b->samples();
    r.tag = tag;
    r.line = line;
    r.sequence = ++releaseSequence_;
    if (options_.keepReleasedBlocks) inst->released[index].push_back(r);
    std::vector<BlockRecorder> calls;
    for (const Recorder& rec : recorders_)
        if (rec.from == inst && rec.output == index) calls.push_back(rec.callback);
    for (const BlockRecorder& call : calls) call(r);

    for (const Connection& c : connections_) {
        if (c.from != inst || c.output != index) continue;
        ModuleInstance::Waiting w;
        w.block = b;
        c.to->inputs[c.input].push_back(std::move(w));
        ++b->holders;
    }
    if (b->holders == 0) pool.giveBack(b);
    return 1;
}

DataBlock* Host::getInputBlock(ModuleRecord* m, uint32_t input) {
    ModuleInstance* inst = instanceOf(m);
    if (!inst) {
        recordError("GetInputBlock with a module record Velk did not make: " + pointerText(m));
        return nullptr;
    }
    if (input >= kMaxChannels) {
        recordError("GetInputBlock on input channel " + std::to_string(input));
        return nullptr;
    }
    if (input >= inst->record->inputCount)
        recordError("GetInputBlock on input channel " + std::to_string(input) + " of module " +
                    std::to_string(inst->number) + ", which has " + std::to_string(inst->record->inputCount));
    auto& queue = inst->inputs[input];
    if (queue.empty()) return nullptr;
    queue.front().lent = true;
    return queue.front().block->data();
}

void Host::giveBackInput(ModuleInstance* inst, uint32_t input) {
    auto& queue = inst->inputs[input];
    ModuleInstance::Waiting w = std::move(queue.front());
    queue.pop_front();
    if (w.owned) return;
    if (--w.block->holders == 0 && w.block->home()) w.block->home()->giveBack(w.block);
}

int32_t Host::releaseInputBlock(ModuleRecord* m, uint32_t input, const char* tagPtr, int32_t line) {
    const std::string tag = boundedText(tagPtr, 256);
    if (options_.logBlockReleases) recordEvent("NewReleaseInputBlock|" + tag + "|" + std::to_string(line));
    ModuleInstance* inst = instanceOf(m);
    if (!inst) {
        recordError("NewReleaseInputBlock with a module record Velk did not make: " + pointerText(m));
        return 0;
    }
    if (input >= kMaxChannels || inst->inputs[input].empty()) {
        recordError("NewReleaseInputBlock on input channel " + std::to_string(input) + " of module " +
                    std::to_string(inst->number) + " with no block waiting (" + tag + ":" + std::to_string(line) +
                    ")");
        return 0;
    }
    const ModuleInstance::Waiting& head = inst->inputs[input].front();
    if (!head.lent)
        recordError("NewReleaseInputBlock on input channel " + std::to_string(input) + " of module " +
                    std::to_string(inst->number) + " gives back a block GetInputBlock never handed out");
    const std::string damage = head.block->damage();
    if (!damage.empty()) recordError(damage + " (" + tag + ":" + std::to_string(line) + ")");
    inst->inputReleases.push_back({input, tag, line});
    giveBackInput(inst, input);
    return 1;
}

bool Host::connect(ModuleRecord* from, uint32_t output, ModuleRecord* to, uint32_t input) {
    ModuleInstance* a = instanceOf(from);
    ModuleInstance* b = instanceOf(to);
    if (!a || !b || output >= kMaxChannels || input >= kMaxChannels) return false;
    for (const Connection& c : connections_)
        if (c.from == a && c.output == output && c.to == b && c.input == input) return true;
    connections_.push_back({a, output, b, input});
    return true;
}

bool Host::disconnect(ModuleRecord* from, uint32_t output, ModuleRecord* to, uint32_t input) {
    ModuleInstance* a = instanceOf(from);
    ModuleInstance* b = instanceOf(to);
    for (auto it = connections_.begin(); it != connections_.end(); ++it)
        if (it->from == a && it->output == output && it->to == b && it->input == input) {
            connections_.erase(it);
            return true;
        }
    return false;
}

int Host::addRecorder(ModuleRecord* from, uint32_t output, BlockRecorder recorder) {
    ModuleInstance* a = instanceOf(from);
    if (!a || output >= kMaxChannels || !recorder) return 0;
    recorders_.push_back({++recorderIds_, a, output, std::move(recorder)});
    return recorderIds_;
}

bool Host::removeRecorder(int id) {
    for (auto it = recorders_.begin(); it != recorders_.end(); ++it)
        if (it->id == id) {
            recorders_.erase(it);
            return true;
        }
    return false;
}

std::vector<ReleasedBlock> Host::releasedBlocks(ModuleRecord* m, uint32_t output) const {
    ModuleInstance* inst = instanceOf(m);
    if (!inst || output >= kMaxChannels) return {};
    return inst->released[output];
}

void Host::clearReleasedBlocks() {
    for (auto& inst : modules_)
        for (auto& list : inst->released) list.clear();
}

bool Host::pushInputBlock(ModuleRecord* m, uint32_t input, const BlockContent& content) {
    ModuleInstance* inst = instanceOf(m);
    if (!inst || input >= kMaxChannels) return false;
    const size_t count = content.sampleCount < 0 ? content.samples.size() : size_t(content.sampleCount);
    const uint32_t room = static_cast<uint32_t>(std::max<size_t>({content.samples.size(), count, 1}));
    ModuleInstance::Waiting w;
    w.owned = std::make_unique<BlockBuffer>(room, ++blockSerial_, nullptr);
    w.block = w.owned.get();
    DataBlock* d = w.block->data();
    d->startTime = content.startTime;
    d->sampleDistance = content.sampleDistance;
    d->sampleCount = static_cast<uint16_t>(count);
    unsigned char* samples = reinterpret_cast<unsigned char*>(d) + BlockBuffer::kHeaderBytes;
    std::memset(samples, 0, size_t(room) * sizeof(float));
    if (!content.samples.empty())
        std::memcpy(samples, content.samples.data(), content.samples.size() * sizeof(float));
    inst->inputs[input].push_back(std::move(w));
    return true;
}

size_t Host::inputBlocksWaiting(ModuleRecord* m, uint32_t input) const {
    ModuleInstance* inst = instanceOf(m);
    return inst && input < kMaxChannels ? inst->inputs[input].size() : 0;
}

std::vector<InputRelease> Host::inputReleases(ModuleRecord* m) const {
    ModuleInstance* inst = instanceOf(m);
    return inst ? inst->inputReleases : std::vector<InputRelease>();
}

void Host::setPoolCapacity(ModuleRecord* m, uint32_t output, size_t capacity) {
    ModuleInstance* inst = instanceOf(m);
    if (inst && output < kMaxChannels) inst->pools[output].setCapacity(capacity);
}

PoolStats Host::poolStats(ModuleRecord* m, uint32_t output) const {
    ModuleInstance* inst = instanceOf(m);
    return inst && output < kMaxChannels ? inst->pools[output].stats() : PoolStats();
}

}  // namespace velk
