// The three setup dialog templates read back from the built Velk_ux1.dll: the
// extended template in Japanese (1041), its position, size, title and font, and
// every control's id, class, text, position, size, visibility and kind.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "velk/host/host.h"

namespace {

// The layout of an extended dialog template: a header, then each item aligned to
// four bytes. Strings and class names are UTF-16 or 0xFFFF and an ordinal.
class TemplateReader {
public:
    TemplateReader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    bool ok() const { return ok_; }
    uint16_t Word() { return Get<uint16_t>(); }
    uint32_t Dword() { return Get<uint32_t>(); }
    int16_t Short() { return static_cast<int16_t>(Get<uint16_t>()); }
    // A string or an ordinal; ordinals of the predefined classes become their names.
    std::string SzOrOrd() {
        if (Peek() == 0xFFFF) {
            Word();
            const uint16_t ordinal = Word();
            switch (ordinal) {
                case 0x80: return "Button";
                case 0x81: return "Edit";
                case 0x82: return "Static";
                case 0x85: return "ComboBox";
                default: return "#" + std::to_string(ordinal);
            }
        }
        std::wstring text;
        for (uint16_t c; ok_ && (c = Word()) != 0;) text += static_cast<wchar_t>(c);
        char bytes[512] = {};
        WideCharToMultiByte(932, 0, text.c_str(), -1, bytes, sizeof bytes, nullptr, nullptr);
        return bytes;
    }
    void Skip(size_t n) { p_ = (static_cast<size_t>(end_ - p_) >= n) ? p_ + n : (ok_ = false, end_); }
    void AlignTo4(const uint8_t* base) { Skip((4 - (p_ - base) % 4) % 4); }

private:
    uint16_t Peek() const { return end_ - p_ >= 2 ? static_cast<uint16_t>(p_[0] | p_[1] << 8) : 0; }
    template <class T>
    T Get() {
        T v = 0;
        if (static_cast<size_t>(end_ - p_) < sizeof v) {
            ok_ = false;
            return v;
        }
        memcpy(&v, p_, sizeof v);
        p_ += sizeof v;
        return v;
    }
    const uint8_t* p_;
    const uint8_t* end_;
    bool ok_ = true;
};

struct Dialog {
    uint16_t signature = 0;
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::string title;
    uint16_t pointSize = 0;
    std::string face;
    std::vector<std::string> items;  // one signature line per control, sorted
};

// "id class "text" x,y cx×cy" plus visible/hidden and what kind of control it is.
std::string Item(int id, const std::string& cls, const std::string& text, int x, int y, int cx, int cy, bool visible,
                 const std::string& kind = "") {
    return std::to_string(id) + " " + cls + " \"" + text + "\" " + std::to_string(x) + "," + std::to_string(y) + " " +
           std::to_string(cx) + "x" + std::to_string(cy) + (visible ? " shown" : " hidden") +
           (kind.empty() ? "" : " " + kind);
}

// The kind a control's styles make it, for the checks of the tables.
std::string KindOf(const std::string& cls, uint32_t style, uint32_t exStyle) {
    std::string kind;
    if (cls == "Button") {
        const uint32_t type = style & BS_TYPEMASK;
        kind = type == BS_DEFPUSHBUTTON ? "default" : type == BS_GROUPBOX ? "group" : type == BS_AUTORADIOBUTTON ? "radio" : "";
    } else if (cls == "Static") {
        const uint32_t type = style & SS_TYPEMASK;
        kind = type == SS_ETCHEDFRAME ? "frame" : type == SS_CENTER ? "centred" : type == SS_RIGHT ? "right" : "";
    } else if (cls == "ComboBox") {
        kind = ((style & 3) == CBS_DROPDOWNLIST && (style & WS_VSCROLL)) ? "droplist" : "combo";
        if (exStyle & WS_EX_RIGHT) kind += "+right";
    }
    if (style & WS_DISABLED) kind += kind.empty() ? "disabled" : "+disabled";
    return kind;
}

bool ReadDialog(const char* name, Dialog& out) {
    const std::string path = velk::Host::exeDir() + "\\Velk_ux1.dll";
    HMODULE dll = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!dll) return false;
    HRSRC found = FindResourceExA(dll, reinterpret_cast<LPCSTR>(RT_DIALOG), name, MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
    bool ok = false;
    if (found) {
        const uint8_t* base = static_cast<const uint8_t*>(LockResource(LoadResource(dll, found)));
        TemplateReader r(base, SizeofResource(dll, found));
        r.Word();  // version
        out.signature = r.Word();
        r.Dword();  // help id
        r.Dword();  // extended style
        out.style = r.Dword();
        const uint16_t count = r.Word();
        out.x = r.Short();
        out.y = r.Short();
        out.cx = r.Short();
        out.cy = r.Short();
        r.SzOrOrd();  // menu
        r.SzOrOrd();  // class
        out.title = r.SzOrOrd();
        out.pointSize = r.Word();
        r.Word();  // weight
        r.Skip(2);  // italic, charset
        out.face = r.SzOrOrd();
        for (uint16_t i = 0; i < count && r.ok(); ++i) {
            r.AlignTo4(base);
            r.Dword();  // help id
            const uint32_t exStyle = r.Dword();
            const uint32_t style = r.Dword();
            const int x = r.Short(), y = r.Short(), cx = r.Short(), cy = r.Short();
            const int id = static_cast<int32_t>(r.Dword());
            std::string cls = r.SzOrOrd();
            for (const char* known : {"Button", "Edit", "Static", "ComboBox"})
                if (_stricmp(cls.c_str(), known) == 0) cls = known;  // by name or by ordinal
            const std::string text = r.SzOrOrd();
            r.Skip(r.Word());
            out.items.push_back(Item(id, cls, text, x, y, cx, cy, (style & WS_VISIBLE) != 0, KindOf(cls, style, exStyle)));
        }
        std::sort(out.items.begin(), out.items.end());
        ok = r.ok();
    }
    FreeLibrary(dll);
    return ok;
}

// The controls the three setup dialogs share: name and description, the channel
// selector with its number labels (the first `shown` of the 16 visible), the channel
// name and number, Ok, Cancel and the version button.
std::vector<std::string> SharedControls(int shown) {
    std::vector<std::string> items = {
        Item(-1, "Static", "", 5, 10, 130, 20, true, "frame"),
        Item(-1, "Static", "モジュール名 :", 10, 16, 50, 8, true),
        Item(23018, "Edit", "", 65, 14, 65, 12, true),
        Item(-1, "Static", "", 145, 10, 170, 20, true, "frame"),
        Item(-1, "Static", "説明 :", 150, 16, 60, 8, true),
        Item(23019, "Edit", "", 210, 14, 100, 12, true),
        Item(-1, "Static", "", 5, 35, 310, 35, true, "frame"),
        Item(23000, "ZUL:CONTROLLESSMORE", "", 11, 48, 12, 16, true),
        Item(23001, "ZUL:CONTROLLESSMORE", "", 295, 48, 12, 16, true),
        Item(-1, "Static", "", 5, 75, 130, 20, true, "frame"),
        Item(-1, "Static", "チャンネル名 :", 10, 81, 50, 8, true),
        Item(23021, "Edit", "", 65, 79, 65, 12, true),
        Item(-1, "Static", "", 145, 75, 110, 20, true, "frame"),
        Item(-1, "Static", "選択チャンネル :", 150, 81, 65, 8, true),
        Item(23020, "Edit", "", 230, 79, 20, 12, true, "disabled"),
        Item(1, "Button", "Ok", 265, 80, 50, 14, true, "default"),
        Item(2, "Button", "ｷｬﾝｾﾙ", 265, 100, 50, 14, true),
        Item(1006, "Button", "ﾊﾞｰｼﾞｮﾝ情報", 265, 120, 50, 14, true),
    };
    for (int i = 0; i < 16; ++i) {
        items.push_back(Item(-1, "Static", std::to_string(i), 32 + 16 * i, 39, 15, 8, i < shown, "centred"));
        items.push_back(Item(23002 + i, "ZUL:CONTROLKANAL", "", 34 + 16 * i, 49, 11, 15, i < shown));
    }
    return items;
}

void ExpectDialog(const char* name, const std::string& title, int height, std::vector<std::string> items) {
    Dialog d;
    ASSERT_TRUE(ReadDialog(name, d)) << name << " in language 1041";
    EXPECT_EQ(d.signature, 0xFFFF) << "an extended template";
    EXPECT_EQ(d.style, static_cast<uint32_t>(DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU));
    EXPECT_EQ(d.x, 23);
    EXPECT_EQ(d.y, 26);
    EXPECT_EQ(d.cx, 323);
    EXPECT_EQ(d.cy, height);
    EXPECT_EQ(d.title, title);
    EXPECT_EQ(d.pointSize, 10);
    EXPECT_EQ(d.face, "ＭＳ ゴシック");
    std::sort(items.begin(), items.end());
    EXPECT_EQ(d.items, items);
}

TEST(Templates, DigitalInput) {
    std::vector<std::string> items = SharedControls(4);
    items.push_back(Item(-1, "Button", "", 5, 97, 250, 37, true, "group"));
    items.push_back(Item(-1, "Static", "ソケット番号：", 11, 113, 54, 8, true));
    items.push_back(Item(1045, "Static", "Static", 69, 113, 26, 8, true));
    ExpectDialog("TK17_DI", "VYT-TK17 デジタル入力", 143, items);
}

TEST(Templates, DigitalOutputDiffersOnlyInItsTitle) {
    Dialog in, out;
    ASSERT_TRUE(ReadDialog("TK17_DI", in));
    ASSERT_TRUE(ReadDialog("TK17_DO", out));
    EXPECT_EQ(out.title, "VYT-TK17 デジタル出力");
    EXPECT_EQ(out.items, in.items);
    EXPECT_EQ(out.style, in.style);
    EXPECT_EQ(out.cy, in.cy);
}

TEST(Templates, AnalogInput) {
    std::vector<std::string> items = SharedControls(8);
    items.push_back(Item(9, "Button", "ﾍﾙﾌﾟ", 265, 140, 50, 14, false));
    items.push_back(Item(-1, "Button", "電圧レンジ", 5, 100, 65, 55, true, "group"));
    items.push_back(Item(1026, "Button", "±１０ｖ", 15, 116, 46, 10, true, "radio"));
    items.push_back(Item(1027, "Button", "±　５ｖ", 15, 133, 46, 10, true, "radio"));
    items.push_back(Item(-1, "Button", "デバイス情報", 145, 100, 110, 55, true, "group"));
    items.push_back(Item(-1, "Static", "ソケット番号：", 150, 125, 54, 8, true, "right"));
    items.push_back(Item(1040, "Static", "Static", 205, 125, 35, 8, true));
    items.push_back(Item(-1, "Button", "ドライバ", 75, 100, 65, 55, true, "group"));
    items.push_back(Item(1044, "ComboBox", "", 80, 130, 55, 50, true, "droplist+right"));
    items.push_back(Item(-1, "Static", "バッファサイズ", 80, 115, 53, 8, true));
    ExpectDialog("TK17_IN", "VYT-TK17 アナログ入力", 161, items);
}

}  // namespace
