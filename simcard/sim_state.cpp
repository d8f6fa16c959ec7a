// The simulated driver's state and what the exports share, and the library's entry
// point, which loads the configuration.
#include "simcard/sim_state.h"

namespace simcard {

Driver g;


Clock now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return Clock{t.QuadPart, g.frequency};
}

Clock cardClock(const Card& card)
{
    if (card.config.steppedClock) return card.cardTime();
    return card.config.virtualClock ? Clock() : now();
}

CallEntry& logCall(int op, int64_t socket, int32_t result)
{
    CallEntry& e = g.callLog.add();
    e.op = static_cast<uint8_t>(op);
    e.socket = socket;
    e.result = result;
    return e;
}

// Copies `text` into a caller's buffer (always terminated when size > 0) and returns
// the length of the whole text.
int32_t copyOut(const std::string& text, char* buffer, uint32_t size)
{
    if (buffer && size > 0) {
        size_t n = std::min<size_t>(text.size(), size - 1);
        memcpy(buffer, text.data(), n);
        buffer[n] = 0;
    }
    return static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX));
}

bool validSocket(uint32_t socket) { return socket < static_cast<uint32_t>(kSockets); }

int route(uint32_t socket)
{
    if (!validSocket(socket)) return -1;
    if (g.probeCard == static_cast<int>(socket)) return g.probeCard;
    for (int c = 0; c < kSockets; ++c)
        if (g.cards[c].config.present && g.cards[c].config.hasSocketCell && g.cards[c].socket == socket) return c;
    return g.cards[socket].config.hasSocketCell ? -1 : static_cast<int>(socket);
}

Card* cardFor(uint32_t socket)
{
    const int c = route(socket);
    return c < 0 ? nullptr : &g.cards[c];
}

int32_t failWith(uint32_t socket, int32_t error)
{
    if (Card* card = cardFor(socket)) card->lastError = error;
    else if (validSocket(socket)) g.strayError[socket] = error;
    return 0;
}

// wParam is the socket the card is served under.
void post(Card& card, uint32_t message, uint16_t socket)
{
    if (card.window && PostMessageA(card.window, message, socket, 0)) ++card.posted;
}

// Notification numbers follow the message given to Tk17Create (1224 from the
// extension): removal that number, overflow +3, overrun +4.
void postRemoved(Card& c, uint16_t s) { post(c, c.message, s); }
void postOverflow(Card& c, uint16_t s) { post(c, c.message + (TK17_MSG_BUFFER_OVERFLOW - TK17_MSG_CARD_REMOVED), s); }
void postOverrun(Card& c, uint16_t s) { post(c, c.message + (TK17_MSG_BUFFER_OVERRUN - TK17_MSG_CARD_REMOVED), s); }

void pull(uint16_t socket)
{
    Card& card = g.cards[socket];
    if (!card.present) return;
    card.present = false;
    card.removed = true;
    card.sampling = false;
    if (card.open) postRemoved(card, card.socket);
}

void overrun(uint16_t socket)
{
    Card& card = g.cards[socket];
    card.status |= TK17_STATUS_OVERRUN;
    postOverrun(card, card.socket);
}

void overflow(uint16_t socket)
{
    Card& card = g.cards[socket];
    card.overflow(cardClock(card));
    postOverflow(card, card.socket);
}

// Counts the call and runs the triggers armed for it. Returns false when an injected
// fault makes the call fail; `injectedError` then holds the fault's code.
bool enter(int op, uint32_t socket, int32_t* injectedError)
{
    // The probe of a remapped card ends with the first call other than its own
    // Tk17GetResource or Tk17Close.
    if (g.probeCard >= 0 && !((op == OpGetResource || op == OpClose) && socket == static_cast<uint32_t>(g.probeCard)))
        g.probeCard = -1;
    g.callCounts[op][validSocket(socket) ? socket : kNoSocket]++;
    bool fails = false;
    int32_t error = 0;
    for (Trigger& t : g.triggers) {
        if (t.gen.op != op) continue;
        if (op != OpGetVersion && t.gen.socket != socket) continue;
        if (t.calls < UINT32_MAX) ++t.calls;
        switch (t.gen.action) {
        case TriggerAction::Fail:
            if (t.calls >= t.gen.fromCall && (t.gen.failCount == 0 || t.calls - t.gen.fromCall < t.gen.failCount)) {
                fails = true;
                error = t.gen.errorCode;
            }
            break;
        case TriggerAction::Pull:
            if (t.calls == t.gen.fromCall && route(t.gen.socket) >= 0) pull(static_cast<uint16_t>(route(t.gen.socket)));
            break;
        case TriggerAction::Overrun:
            if (t.calls == t.gen.fromCall && cardFor(t.gen.socket) && cardFor(t.gen.socket)->open)
                overrun(static_cast<uint16_t>(route(t.gen.socket)));
            break;
        case TriggerAction::Overflow:
            if (t.calls == t.gen.fromCall && cardFor(t.gen.socket) && cardFor(t.gen.socket)->open)
                overflow(static_cast<uint16_t>(route(t.gen.socket)));
            break;
        }
    }
    if (fails) {
        failWith(socket, error);
        if (injectedError) *injectedError = error;
    }
    return !fails;
}

// The open card in `socket`, or null after storing the reason in its last error.
Card* openCard(uint32_t socket)
{
    if (!validSocket(socket)) return nullptr;
    Card* served = cardFor(socket);
    if (!served) {
        failWith(socket, TK17SIM_ERR_NO_CARD);
        return nullptr;
    }
    Card& card = *served;
    int32_t error = card.removed ? TK17SIM_ERR_CARD_REMOVED
                  : !card.present ? TK17SIM_ERR_NO_CARD
                  : !card.open ? TK17SIM_ERR_NOT_OPEN : TK17SIM_ERR_NONE;
    if (error) {
        failWith(socket, error);
        return nullptr;
    }
    return &card;
}

// Replaces the configuration and resets every card, trigger and log.
void apply(const Config& config, const std::string& source)
{
    g.config = config;
    g.configSource = source;
    for (int s = 0; s < kSockets; ++s) {
        g.cards[s].reset(config.cards[s]);
        g.cards[s].socket = servedSocket(config.cards[s], s);
    }
    std::copy(config.driver.success, config.driver.success + kOperations, g.success);
    g.probeCard = -1;
    std::fill(g.strayError, g.strayError + kSockets, 0);
    g.triggers.clear();
    for (const TriggerSpec& t : config.triggers) g.triggers.push_back(Trigger{t, 0});
    g.callLog.clear();
    memset(g.callCounts, 0, sizeof g.callCounts);
    g.outputLog.clear();
    InterlockedExchange(&g.portOverlaps, 0);
}

// Paths are kept as UTF-8 (and so named in the driver's texts) and handed to the
// file functions as UTF-16, so a folder's name may hold any character.
std::wstring widePath(const std::string& utf8)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<size_t>(n) : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
    return wide;
}

std::string utf8Path(const std::wstring& wide)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string utf8(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], n, nullptr, nullptr);
    return utf8;
}

bool readFile(const std::string& path, std::string& text)
{
    HANDLE f = CreateFileW(widePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    text.clear();
    char chunk[4096];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(f, chunk, sizeof chunk, &got, nullptr) != 0) && got > 0) text.append(chunk, got);
    CloseHandle(f);
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    return ok;
}

std::string environment(const char* name)
{
    DWORD n = GetEnvironmentVariableA(name, nullptr, 0);
    if (n == 0) return std::string();
    std::string value(n, '\0');
    n = GetEnvironmentVariableA(name, &value[0], n);
    value.resize(n);
    return value;
}

// The configuration file's path as VYTTK17_CONFIG names it (read as UTF-16), UTF-8.
std::string configPathFromEnvironment()
{
    DWORD n = GetEnvironmentVariableW(L"VYTTK17_CONFIG", nullptr, 0);
    if (n == 0) return std::string();
    std::wstring value(n, L'\0');
    n = GetEnvironmentVariableW(L"VYTTK17_CONFIG", &value[0], n);
    value.resize(n < value.size() ? n : 0);
    return utf8Path(value);
}

std::string iniBesideDriver()
{
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(g.module, path, MAX_PATH * 4);
    if (n == 0 || n >= MAX_PATH * 4) return std::string();
    std::wstring p(path, n);
    size_t slash = p.find_last_of(L"\\/");
    return utf8Path(slash == std::wstring::npos ? std::wstring() : p.substr(0, slash + 1)) + "vyttk17.ini";
}

// Notes why a configuration could not be used; `line` 0 when it concerns no line.
void setConfigError(const std::string& source, const std::string& reason, int line)
{
    g.lastErrorReason = reason;
    g.lastErrorLine = line;
    g.lastError = source.empty() ? reason : source + ": " + (line ? "line " + std::to_string(line) + ": " : "") + reason;
    OutputDebugStringA(("vyttk17: " + g.lastError + "\n").c_str());
}

void clearConfigError()
{
    g.lastError.clear();
    g.lastErrorReason.clear();
    g.lastErrorLine = 0;
}

// Takes "line N: reason" from parseConfig apart.
std::string reasonOf(const std::string& parseError)
{
    const size_t colon = parseError.compare(0, 5, "line ") == 0 ? parseError.find(": ") : std::string::npos;
    return colon == std::string::npos ? parseError : parseError.substr(colon + 2);
}

// Reads the configuration from its usual sources: VYTTK17_CONFIG_TEXT, the file named
// by VYTTK17_CONFIG, vyttk17.ini beside the driver, else the built-in default. A source
// that cannot be read or parsed leaves no card configured.
bool loadConfiguration()
{
    std::string text = environment("VYTTK17_CONFIG_TEXT");
    std::string source = "VYTTK17_CONFIG_TEXT";
    bool fromText = !text.empty();
    if (!fromText) {
        std::string path = configPathFromEnvironment();
        if (path.empty()) {
            path = iniBesideDriver();
            if (path.empty() || GetFileAttributesW(widePath(path).c_str()) == INVALID_FILE_ATTRIBUTES) {
                clearConfigError();
                apply(defaultConfig(), "default");
                return true;
            }
        }
        source = "file " + path;
        if (!readFile(path, text)) {
            setConfigError("", "cannot read the configuration file " + path, 0);
            apply(Config(), source + " (unreadable)");
            return false;
        }
    }
    Config config;
    std::string error;
    int line = 0;
    if (!parseConfig(text, config, error, &line)) {
        setConfigError(source, reasonOf(error), line);
        apply(Config(), source + " (invalid)");
        return false;
    }
    clearConfigError();
    apply(config, source);
    return true;
}

}  // namespace simcard

using namespace simcard;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        InitializeCriticalSection(&g.lock);
        g.module = instance;
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        g.frequency = f.QuadPart > 0 ? f.QuadPart : 1;
        Lock lock;
        loadConfiguration();
    } else if (reason == DLL_PROCESS_DETACH) {
        DeleteCriticalSection(&g.lock);
    }
    return TRUE;
}
