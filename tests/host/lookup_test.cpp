// The main window's answers to the extension's look-ups (messages 30000 and 30001),
// sent to the real window as the extension sends them.
#include "host_test_support.h"

#include "abi/velk_names.h"
#include "velk/host/button_bitmaps.h"
#include "velk/host/bound_names.h"
#include "velk/common/text.h"

#include <algorithm>
#include <map>
#include <set>

using velk::Host;
using velk::LookupKind;

namespace {

struct Name {
    const char* name;
    bool required;
};
#define NAME_ENTRY(name, required) {name, (required) != 0},
const Name kVariables[] = {VELK_VARIABLE_NAMES(NAME_ENTRY)};
const Name kFunctions[] = {VELK_FUNCTION_NAMES(NAME_ENTRY)};
#undef NAME_ENTRY

LRESULT send(Host& host, UINT msg, const char* name) {
    return SendMessageA(host.mainWindow(), msg, 0, reinterpret_cast<LPARAM>(name));
}

// The bitmap's pixels as 0x00RRGGBB, row by row from the top.
std::vector<uint32_t> pixels(HBITMAP bitmap, int& width, int& height) {
    BITMAP info = {};
    GetObject(bitmap, sizeof info, &info);
    width = info.bmWidth;
    height = info.bmHeight;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> out(size_t(width) * height);
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, bitmap, 0, height, out.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    for (uint32_t& p : out) p &= 0xFFFFFF;
    return out;
}

uint32_t rgb(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

size_t countColour(const std::vector<uint32_t>& px, uint32_t colour) {
    size_t n = 0;
    for (uint32_t p : px) n += p == colour;
    return n;
}

// Arrow pixels per column, inside the bevel.
std::vector<int> arrowColumns(const std::vector<uint32_t>& px, int w, int h, uint32_t colour) {
    std::vector<int> cols(w, 0);
    for (int y = 3; y < h - 3; ++y)
        for (int x = 3; x < w - 3; ++x) cols[x] += px[size_t(y) * w + x] == colour;
    return cols;
}

}  // namespace

TEST_F(HostTest, EveryBoundNameIsAnsweredNonZeroAndDistinct) {
    Host host(hosttest::quietOptions());
    std::map<LRESULT, std::string> seen;
    for (const Name& v : kVariables) {
        const LRESULT a = send(host, VELK_MSG_VARIABLE, v.name);
        EXPECT_NE(a, 0) << v.name;
        if (!v.required) continue;  // the format settings are plain flags
        auto dup = seen.emplace(a, v.name);
        EXPECT_TRUE(dup.second) << v.name << " answers what " << dup.first->second << " answers";
    }
    for (const Name& f : kFunctions) {
        const LRESULT a = send(host, VELK_MSG_FUNCTION, f.name);
        EXPECT_NE(a, 0) << f.name;
        auto dup = seen.emplace(a, f.name);
        EXPECT_TRUE(dup.second) << f.name << " answers what " << dup.first->second << " answers";
    }
    EXPECT_EQ(seen.size(), 52u + 102u);
}

TEST_F(HostTest, LookupsAreRecordedInOrderWithKindAndAnswer) {
    Host host(hosttest::quietOptions());
    const LRESULT a = send(host, VELK_MSG_VARIABLE, "hInstVelk");
    const LRESULT b = send(host, VELK_MSG_FUNCTION, "NewMemAlloc");
    const LRESULT c = send(host, VELK_MSG_VARIABLE, "NoSuchVariable");
    const LRESULT d = send(host, VELK_MSG_FUNCTION, "hInstVelk");  // a variable's name asked as a function
    EXPECT_EQ(c, 0);
    EXPECT_EQ(d, 0);
    const auto& l = host.lookups();
    ASSERT_EQ(l.size(), 4u);
    EXPECT_EQ(l[0].kind, LookupKind::Variable);
    EXPECT_EQ(l[0].name, "hInstVelk");
    EXPECT_EQ(l[0].answer, a);
    EXPECT_EQ(l[1].kind, LookupKind::Function);
    EXPECT_EQ(l[1].name, "NewMemAlloc");
    EXPECT_EQ(l[1].answer, b);
    EXPECT_EQ(l[2].name, "NoSuchVariable");
    EXPECT_EQ(l[3].kind, LookupKind::Function);
    EXPECT_EQ(l[3].name, "hInstVelk");
}

TEST_F(HostTest, NamesToldToAnswerZeroDoSoAndOthersStay) {
    velk::HostOptions o = hosttest::quietOptions();
    o.zeroNames = {"TimeBaseDialog", "&CurrentModulePtr", "bTime24h", "wDateFormat"};
    Host host(o);
    EXPECT_EQ(send(host, VELK_MSG_FUNCTION, "TimeBaseDialog"), 0);
    EXPECT_EQ(send(host, VELK_MSG_VARIABLE, "&CurrentModulePtr"), 0);
    EXPECT_EQ(send(host, VELK_MSG_VARIABLE, "bTime24h"), 0);
    EXPECT_EQ(send(host, VELK_MSG_VARIABLE, "wDateFormat"), 0);
    EXPECT_NE(send(host, VELK_MSG_VARIABLE, "bTimeLeadingZero"), 0);
    EXPECT_NE(send(host, VELK_MSG_FUNCTION, "GetTimeBaseComboID"), 0);
    // Exact names only: the neighbour of a silenced name still answers.
    EXPECT_NE(send(host, VELK_MSG_VARIABLE, "&CurrentModule"), 0);
    EXPECT_EQ(host.lookups()[1].answer, 0);
}

TEST_F(HostTest, UsedVariablesAnswerWhatTheExtensionTakesThemToBe) {
    Host host(hosttest::quietOptions());
    EXPECT_EQ(send(host, VELK_MSG_VARIABLE, "hInstVelk"), reinterpret_cast<LRESULT>(GetModuleHandleA(nullptr)));
    EXPECT_EQ(send(host, VELK_MSG_VARIABLE, "MainMenu"), reinterpret_cast<LRESULT>(GetMenu(host.mainWindow())));
    auto* desk = reinterpret_cast<HWND*>(send(host, VELK_MSG_VARIABLE, "&hwndDesk"));
    EXPECT_EQ(*desk, host.mainWindow());

    auto** current = reinterpret_cast<ModuleRecord**>(send(host, VELK_MSG_VARIABLE, "&CurrentModulePtr"));
    EXPECT_EQ(*current, nullptr);
    alignas(8) unsigned char record[VELK_MODULE_RECORD_BYTES] = {};
    host.setCurrentModule(reinterpret_cast<ModuleRecord*>(record));
    EXPECT_EQ(*current, reinterpret_cast<ModuleRecord*>(record));
    host.setCurrentModule(nullptr);

    auto* channel = reinterpret_cast<HBITMAP*>(send(host, VELK_MSG_VARIABLE, "hBitChannel"));
    auto* lessMore = reinterpret_cast<HBITMAP*>(send(host, VELK_MSG_VARIABLE, "hBitLessMore"));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(GetObjectType(channel[i]), DWORD(OBJ_BITMAP)) << i;
    for (int i = 0; i < 6; ++i) EXPECT_EQ(GetObjectType(lessMore[i]), DWORD(OBJ_BITMAP)) << i;

    const char* sep = reinterpret_cast<const char*>(send(host, VELK_MSG_VARIABLE, "DezTrenn"));
    EXPECT_STREQ(sep, ".");
    const char* exeDir = reinterpret_cast<const char*>(send(host, VELK_MSG_VARIABLE, "ExeFileDir"));
    EXPECT_EQ(std::string(exeDir), velk::utf8ToCp932(Host::exeDir())) << "code page 932, as the extension reads it";
    EXPECT_EQ(GetObjectType(reinterpret_cast<HGDIOBJ>(send(host, VELK_MSG_VARIABLE, "hDkGrayPen"))),
              DWORD(OBJ_PEN));
    EXPECT_EQ(GetObjectType(reinterpret_cast<HGDIOBJ>(send(host, VELK_MSG_VARIABLE, "hGreenBrush"))),
              DWORD(OBJ_BRUSH));
}

TEST_F(HostTest, FunctionsWithoutImplementationRecordAnUnexpectedCall) {
    Host host(hosttest::quietOptions());
    using Stand = intptr_t(__cdecl*)();
    auto glVarGet = reinterpret_cast<Stand>(send(host, VELK_MSG_FUNCTION, "GlVar_Get"));
    auto fft = reinterpret_cast<Stand>(send(host, VELK_MSG_FUNCTION, "do_fft"));
    glVarGet();
    fft();
    glVarGet();
    EXPECT_EQ(host.log().unexpectedCalls(), (std::vector<std::string>{"GlVar_Get", "do_fft", "GlVar_Get"}));
    const auto errors = host.log().errors();
    EXPECT_NE(std::find(errors.begin(), errors.end(), "unexpected call to do_fft"), errors.end());
    const auto events = host.log().events();
    EXPECT_NE(std::find(events.begin(), events.end(), "Unexpected|GlVar_Get"), events.end());
}

TEST_F(HostTest, MainWindowHasTitleMenuBarAndPlacement) {
    velk::HostOptions o = hosttest::quietOptions();
    o.windowX = 40;
    o.windowY = 30;
    o.windowWidth = 800;
    o.windowHeight = 600;
    Host host(o);
    char title[32] = {};
    GetWindowTextA(host.mainWindow(), title, sizeof title);
    EXPECT_STREQ(title, "Velk");
    HMENU bar = GetMenu(host.mainWindow());
    ASSERT_EQ(bar, host.mainMenu());
    ASSERT_GE(GetMenuItemCount(bar), 5);
    for (int i = 0; i < GetMenuItemCount(bar); ++i) EXPECT_NE(GetSubMenu(bar, i), nullptr) << i;
    char caption[32] = {};
    GetMenuStringA(bar, 3, caption, sizeof caption, MF_BYPOSITION);
    EXPECT_STREQ(caption, "&Window");

    RECT r;
    GetWindowRect(host.mainWindow(), &r);
    EXPECT_EQ(r.left, 40);
    EXPECT_EQ(r.top, 30);
    EXPECT_EQ(r.right - r.left, 800);
    host.moveMainWindow(10, 20, 400, 300);
    GetWindowRect(host.mainWindow(), &r);
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.bottom - r.top, 300);
}

TEST_F(HostTest, ChannelButtonBitmapsHaveTheButtonSizeAndDifferentFaces) {
    Host host(hosttest::quietOptions());
    const COLORREF faces[4] = {velk::kChannelNeverSetColour, velk::kChannelSelectedColour,
                               velk::kChannelActiveColour, velk::kChannelInactiveColour};
    std::vector<std::vector<uint32_t>> all;
    for (int s = 0; s < 4; ++s) {
        int w = 0, h = 0;
        all.push_back(pixels(host.channelBitmaps()[s], w, h));
        EXPECT_EQ(w, 22) << s;
        EXPECT_EQ(h, 30) << s;
        // The state's face colour is the button's commonest colour; the others do not appear.
        const auto& px = all.back();
        std::map<uint32_t, size_t> counts;
        for (uint32_t p : px) ++counts[p];
        auto commonest = std::max_element(counts.begin(), counts.end(),
                                          [](const auto& a, const auto& b) { return a.second < b.second; });
        EXPECT_EQ(commonest->first, rgb(faces[s])) << s;
        for (int t = 0; t < 4; ++t)
            if (t != s) {
                EXPECT_EQ(countColour(px, rgb(faces[t])), 0u) << s << " shows " << t;
            }
    }
}

TEST_F(HostTest, LessMoreBitmapsShowDirectionEnablementAndPress) {
    Host host(hosttest::quietOptions());
    const uint32_t black = rgb(velk::kArrowEnabledColour);
    const uint32_t grey = rgb(velk::kArrowDisabledColour);
    std::vector<std::vector<uint32_t>> px(6);
    int w = 0, h = 0;
    for (int s = 0; s < 6; ++s) {
        px[s] = pixels(host.lessMoreBitmaps()[s], w, h);
        EXPECT_EQ(w, 24) << s;
        EXPECT_EQ(h, 32) << s;
    }
    for (int s = 0; s < 6; ++s)
        for (int t = s + 1; t < 6; ++t) EXPECT_NE(px[s], px[t]) << s << " and " << t << " look alike";
    for (int s = 0; s < 6; ++s) {
        const bool disabled = s % 3 == 0;
        const auto cols = arrowColumns(px[s], w, h, disabled ? grey : black);
        int first = -1, last = -1;
        for (int x = 0; x < w; ++x)
            if (cols[x]) {
                if (first < 0) first = x;
                last = x;
            }
        ASSERT_GE(first, 0) << "no arrow in state " << s;
        // Less points left (tip, a short column, at the left), more points right.
        if (s < 3)
            EXPECT_LT(cols[first], cols[last]) << s;
        else
            EXPECT_GT(cols[first], cols[last]) << s;
        // Disabled arrows are grey, the others black.
        EXPECT_EQ(arrowColumns(px[s], w, h, disabled ? black : grey), std::vector<int>(w, 0)) << s;
    }
    // Pressed buttons are sunken: light top-left edge when up, dark when pressed.
    const uint32_t white = 0xFFFFFF;
    EXPECT_EQ(px[1][1 * w + 1], white);
    EXPECT_NE(px[2][1 * w + 1], white);
    EXPECT_EQ(px[4][1 * w + 1], white);
    EXPECT_NE(px[5][1 * w + 1], white);
}
