#include "velk/dialogs/module_dialogs.h"

#include "velk/common/text.h"
#include "velk/dialogs/dialog_operator.h"

#include <stdlib.h>

#include <atomic>

namespace velk {

const char kDeviceDialogCaption[] = "ハードウェア選択";
const char kAnalogDialogCaption[] = "VYT-TK17 アナログ入力";
const char kDigitalInDialogCaption[] = "VYT-TK17 デジタル入力";
const char kDigitalOutDialogCaption[] = "VYT-TK17 デジタル出力";

const char* setupDialogCaption(ModuleKind kind) {
    switch (kind) {
        case ModuleKind::DigitalIn: return kDigitalInDialogCaption;
        case ModuleKind::DigitalOut: return kDigitalOutDialogCaption;
        default: return kAnalogDialogCaption;
    }
}

uint32_t channelCountOf(const ModuleRecord* m, ModuleKind kind) {
    return kind == ModuleKind::DigitalOut ? m->inputCount : m->outputCount;
}

namespace {

constexpr int kDeviceList = 103;
constexpr int kDeviceSocketField = 1011;
constexpr int kLess = 23000;
constexpr int kMore = 23001;
constexpr int kFirstChannelButton = 23002;
constexpr int kModuleNameBox = 23018;
constexpr int kCommentBox = 23019;
constexpr int kChannelNameBox = 23021;
constexpr int kRange10 = 1026;
constexpr int kRange5 = 1027;
constexpr int kBufferCombo = 1044;

LRESULT ask(HWND w, UINT msg, WPARAM wp = 0, LPARAM lp = 0) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(w, msg, wp, lp, SMTO_NORMAL, ui::kDefaultTimeoutMs, &result)) return -1;
    return static_cast<LRESULT>(result);
}

// A click at the centre of a control's client area (the channel selector buttons
// react to the button press and release themselves).
bool clickCentre(HWND control) {
    RECT r;
    if (!control || !GetClientRect(control, &r)) return false;
    return ui::clickAt(control, (r.right - r.left) / 2, (r.bottom - r.top) / 2);
}

// A control the template shows (its own style, whatever the dialog's state).
bool shown(HWND control) { return control && (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0; }

// Waits until the dialog is on screen, as a user sees it before clicking.
bool waitVisible(HWND dialog) {
    for (int i = 0; i < 1000 && IsWindow(dialog); ++i) {
        if (IsWindowVisible(dialog)) return ui::settle(dialog);
        Sleep(5);
    }
    return false;
}

// Channel buttons in use (state 1 selected or 2 active), as the dialog shows them.
uint32_t activeChannelButtons(HWND dialog) {
    uint32_t n = 0;
    for (int i = 0; i < 16; ++i) {
        HWND b = GetDlgItem(dialog, kFirstChannelButton + i);
        if (!shown(b)) continue;
        const WORD state = static_cast<WORD>(GetWindowWord(b, 0));
        if (state == 1 || state == 2) ++n;
    }
    return n;
}

int selectedChannelButton(HWND dialog) {
    for (int i = 0; i < 16; ++i) {
        HWND b = GetDlgItem(dialog, kFirstChannelButton + i);
        if (shown(b) && GetWindowWord(b, 0) == 1) return i;
    }
    return -1;
}

// Chooses entry `index` of a drop-down list as a user does with the keyboard after
// opening it with a click: Home, Down to the entry, Enter closes the list (which is
// when the dialog takes the selection).
bool chooseComboEntry(HWND dialog, int index, std::string& why) {
    HWND combo = GetDlgItem(dialog, kBufferCombo);
    if (!combo || !IsWindowEnabled(combo)) {
        why = "the buffer size box cannot be used";
        return false;
    }
    const LRESULT count = ask(combo, CB_GETCOUNT);
    if (index < 0 || index >= count) {
        why = "the buffer size box has no entry " + std::to_string(index);
        return false;
    }
    if (!clickCentre(combo) || !ui::settle(dialog)) {
        why = "cannot click the buffer size box";
        return false;
    }
    if (ask(combo, CB_GETDROPPEDSTATE) == 0) {
        ui::pressKey(dialog, VK_F4);
        ui::settle(dialog);
    }
    if (ask(combo, CB_GETDROPPEDSTATE) == 0) {
        why = "the buffer size list did not open";
        return false;
    }
    ui::pressKey(dialog, VK_HOME);
    for (int i = 0; i < index; ++i) ui::pressKey(dialog, VK_DOWN);
    ui::pressKey(dialog, VK_RETURN);
    ui::settle(dialog);
    if (ask(combo, CB_GETDROPPEDSTATE) != 0) {
        why = "the buffer size list did not close";
        return false;
    }
    if (ask(combo, CB_GETCURSEL) != index) {
        why = "the buffer size box shows entry " + std::to_string(ask(combo, CB_GETCURSEL)) + " instead of " +
              std::to_string(index);
        return false;
    }
    return true;
}

bool typeInto(HWND dialog, int id, const std::string& text, std::string& why) {
    HWND box = GetDlgItem(dialog, id);
    if (!ui::typeText(box, text.c_str()) || !ui::settle(dialog)) {
        why = "cannot type into box " + std::to_string(id);
        return false;
    }
    if (ui::windowText(box) != text) {
        why = "box " + std::to_string(id) + " shows \"" + ui::windowText(box) + "\" after typing \"" + text + "\"";
        return false;
    }
    return true;
}

bool selectChannel(HWND dialog, uint32_t channel, std::string& why) {
    if (selectedChannelButton(dialog) == static_cast<int>(channel)) return true;
    if (!clickCentre(GetDlgItem(dialog, kFirstChannelButton + static_cast<int>(channel))) || !ui::settle(dialog) ||
        selectedChannelButton(dialog) != static_cast<int>(channel)) {
        why = "channel button " + std::to_string(channel) + " did not select its channel";
        return false;
    }
    return true;
}

// Runs `script` against the dialog that the setup code opens.
bool withSetupDialog(Host& host, ModuleRecord* m, ModuleKind kind,
                     const std::function<bool(ui::Operator&, HWND, std::string&)>& script, std::string& error) {
    bool done = false;
    ui::Operator op([&](ui::Operator& o) {
        o.step("open");
        HWND dialog = o.waitFor(setupDialogCaption(kind));
        if (!dialog) return;
        if (!waitVisible(dialog)) {
            o.fail("the setup dialog did not show");
            return;
        }
        std::string why;
        if (!script(o, dialog, why)) {
            o.fail(why);
            return;
        }
        done = true;
    });
    host.setupModule(m);
    const bool ok = op.join() && done;
    if (!ok) {
        error = op.report();
        while (!error.empty() && error.back() == '\n') error.pop_back();
        if (error.empty()) error = "the script did not finish";
    }
    return ok;
}

}  // namespace

ModuleRecord* createModuleOnSocket(Host& host, ModuleKind kind, std::optional<int> socket, const NewModule& how,
                                   std::string& error) {
    std::atomic<bool> returned{false};
    bool sawDialog = false;
    ModuleRecord* m = nullptr;
    ui::Operator op([&](ui::Operator& o) {
        o.step("open");
        HWND dialog = nullptr;
        // The dialog does not open at all when no card is free for the class: the
        // create code then returns without it.
        while (!returned && !(dialog = ui::findWindow(kDeviceDialogCaption))) Sleep(5);
        if (!dialog) return;
        o.watch(dialog, kDeviceDialogCaption);
        // Gone again before it took input: the dialog closed itself.
        dialog = ui::waitForWindow(kDeviceDialogCaption);
        if (!dialog) return;
        if (!waitVisible(dialog)) {
            o.fail("the dialog did not show");
            return;
        }
        sawDialog = true;
        HWND list = GetDlgItem(dialog, kDeviceList);
        const LRESULT lines = ask(list, LB_GETCOUNT);
        int chosen = socket ? -1 : 0;
        for (int i = 0; socket && i < lines; ++i) {
            o.step("select line " + std::to_string(i));
            if (!ui::selectListLine(list, i) || !ui::settle(dialog)) {
                o.fail("cannot select line " + std::to_string(i) + " of the device list");
                ui::clickButton(dialog, IDCANCEL);
                return;
            }
            const std::string shown = ui::windowText(GetDlgItem(dialog, kDeviceSocketField));
            if (!shown.empty() && atoi(shown.c_str()) == *socket) {
                chosen = i;
                break;
            }
        }
        if (chosen < 0 || lines <= 0) {
            o.step("press Cancel");
            if (!ui::clickButton(dialog, IDCANCEL)) o.fail("cannot click Cancel");
        } else {
            o.step("press OK");
            if (!ui::clickButton(dialog, IDOK)) o.fail("cannot click OK");
        }
    });
    m = host.createModule(classIdOf(kind), how);
    returned = true;
    const bool operated = op.join();
    if (m && operated) return m;
    const std::string where = socket ? "socket " + std::to_string(*socket) : "any socket";
    if (!operated) {
        std::string report = op.report();
        while (!report.empty() && report.back() == '\n') report.pop_back();
        // The host keeps a record the create code made anyway, and removes it at finish.
        error = std::string("the device selection for class ") + kindName(kind) + " in " + where + " failed: " + report;
        return nullptr;
    }
    error = "no free card in " + where + " for class " + kindName(kind);
    if (!sawDialog) error += " (the device selection dialog did not open)";
    return nullptr;
}

ModuleSettings settingsOf(const ModuleDef& def) {
    ModuleSettings s;
    s.channels = def.channels;
    if (def.name) s.name = utf8ToCp932(*def.name);
    if (def.comment) s.comment = utf8ToCp932(*def.comment);
    s.range = def.range;
    s.bufferIndex = def.bufferIndex;
    for (const auto& n : def.channelNames) s.channelNames[n.first] = utf8ToCp932(n.second);
    return s;
}

bool applySettings(Host& host, ModuleRecord* m, ModuleKind kind, const ModuleSettings& s, std::string& error) {
    if (s.empty()) return true;
    const uint32_t target = s.channels.value_or(channelCountOf(m, kind));
    auto script = [&](ui::Operator& o, HWND dialog, std::string& why) {
        o.step("set the channel count to " + std::to_string(target));
        // Channel count: less and more, one click per channel.
        for (int guard = 0; guard < 20; ++guard) {
            const uint32_t now = activeChannelButtons(dialog);
            if (now == target) break;
            if (!clickCentre(GetDlgItem(dialog, now < target ? kMore : kLess)) || !ui::settle(dialog)) {
                why = "cannot click the less/more buttons";
                return false;
            }
        }
        if (activeChannelButtons(dialog) != target) {
            why = "the dialog shows " + std::to_string(activeChannelButtons(dialog)) + " channels instead of " +
                  std::to_string(target);
            return false;
        }
        o.step("type the module name");
        if (s.name && !typeInto(dialog, kModuleNameBox, *s.name, why)) return false;
        o.step("type the description");
        if (s.comment && !typeInto(dialog, kCommentBox, *s.comment, why)) return false;
        for (const auto& n : s.channelNames) {
            if (n.first >= target) continue;
            o.step("name channel " + std::to_string(n.first));
            if (!selectChannel(dialog, n.first, why)) return false;
            if (!typeInto(dialog, kChannelNameBox, n.second, why)) return false;
        }
        o.step("check the settings against the dialog");
        if ((s.range || s.bufferIndex) && kind != ModuleKind::AnalogIn) {
            why = "only an analog input module has a range and a buffer size";
            return false;
        }
        if (s.range) {
            o.step("choose the range");
            const int id = *s.range == 0 ? kRange10 : kRange5;
            if (!ui::clickButton(dialog, id) || !ui::settle(dialog) ||
                ask(GetDlgItem(dialog, id), BM_GETCHECK) != BST_CHECKED) {
                why = "the range button " + std::to_string(id) + " could not be checked";
                return false;
            }
        }
        o.step("choose the buffer size");
        if (s.bufferIndex && !chooseComboEntry(dialog, *s.bufferIndex, why)) return false;
        o.step("press OK");
        if (!ui::clickButton(dialog, IDOK)) {
            why = "cannot click OK";
            return false;
        }
        return true;
    };
    if (!withSetupDialog(host, m, kind, script, error)) return false;
    if (channelCountOf(m, kind) != target) {
        error = "the module has " + std::to_string(channelCountOf(m, kind)) + " channels after OK instead of " +
                std::to_string(target);
        return false;
    }
    return true;
}

bool readSettings(Host& host, ModuleRecord* m, ModuleKind kind, ModuleSettings& out, std::string& error) {
    out = ModuleSettings();
    auto script = [&](ui::Operator& o, HWND dialog, std::string& why) {
        o.step("read the settings");
        const uint32_t count = activeChannelButtons(dialog);
        out.channels = count;
        out.name = ui::windowText(GetDlgItem(dialog, kModuleNameBox));
        out.comment = ui::windowText(GetDlgItem(dialog, kCommentBox));
        if (kind == ModuleKind::AnalogIn) {
            if (ask(GetDlgItem(dialog, kRange10), BM_GETCHECK) == BST_CHECKED) out.range = 0;
            else if (ask(GetDlgItem(dialog, kRange5), BM_GETCHECK) == BST_CHECKED) out.range = 1;
            const LRESULT sel = ask(GetDlgItem(dialog, kBufferCombo), CB_GETCURSEL);
            if (sel >= 0) out.bufferIndex = static_cast<int>(sel);
        }
        for (uint32_t i = 0; i < count; ++i) {
            if (!selectChannel(dialog, i, why)) return false;
            out.channelNames[i] = ui::windowText(GetDlgItem(dialog, kChannelNameBox));
        }
        o.step("press Cancel");
        if (!ui::clickButton(dialog, IDCANCEL)) {
            why = "cannot click Cancel";
            return false;
        }
        return true;
    };
    return withSetupDialog(host, m, kind, script, error);
}

}  // namespace velk
