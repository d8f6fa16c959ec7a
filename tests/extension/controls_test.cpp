// The channel selector controls in the analog input setup dialog, driven with
// mouse messages: opening states, less and more at their bounds and during an
// experiment, press and release of the less/more buttons, channel selection,
// painting of odd states; dialog placement and the shared dialog font; the About
// box.
#include "tests/extension/fixture.h"

namespace exttest {
namespace {

using dialog::Same;
using velk::ui::Operator;


// The channel button states 0 to 15, as a text like "1223333300000000".
std::string ChannelStates(HWND dlg) {
    std::string states;
    for (int i = 0; i < 16; ++i) states += static_cast<char>('0' + dialog::State(dlg, kChannel0 + i));
    return states;
}

// Channel button notifications (1025 to 1028 with a channel button as wParam) and
// the less/more commands.
bool IsSelectorMessage(const CWPSTRUCT& sent) {
    if (sent.message >= 1025 && sent.message <= 1028) {
        char name[32] = {};
        HWND from = reinterpret_cast<HWND>(sent.wParam);
        return IsWindow(from) && GetClassNameA(from, name, sizeof name) && strcmp(name, "ZUL:CONTROLKANAL") == 0;
    }
    return sent.message == WM_COMMAND && (LOWORD(sent.wParam) == kLess || LOWORD(sent.wParam) == kMore);
}

// "1025/2" for a notification with its state, "cmd 23001/0" for a command with its lParam.
std::string Describe(const std::vector<SentMessage>& seen) {
    std::string text;
    for (const SentMessage& s : seen) {
        if (!text.empty()) text += " ";
        if (s.message == WM_COMMAND)
            text += "cmd " + std::to_string(s.wParam) + "/" + std::to_string(s.lParam);
        else
            text += std::to_string(s.message) + "/" + std::to_string(s.lParam);
    }
    return text;
}

class Selector : public ExtensionTest {
protected:
    ModuleRecord* Module(uint32_t channels) {
        if (StartHost() != 1) return nullptr;
        return CreateAnalogModule(channels, "AD", "");
    }
};

TEST_F(Selector, ThreeChannelsOpenWithTheFirstSelectedAndTheRestHiddenUnset) {
    ModuleRecord* m = Module(3);
    ASSERT_NE(m, nullptr);
    RunSetupDialog(m, [](Operator& op, HWND dlg) {
        Same(op, ChannelStates(dlg), std::string("1223333300000000"), "channel states");
        Same(op, dialog::State(dlg, kLess), 1, "less");
        Same(op, dialog::State(dlg, kMore), 4, "more");
        Same(op, dialog::Text(dlg, kSelectedNumber), std::string("0"), "selected number");
        for (int i = 0; i < 16; ++i) {
            HWND button = GetDlgItem(dlg, kChannel0 + i);
            Same(op, IsWindowVisible(button) != 0, i < 8, "visibility of channel " + std::to_string(i));
            RECT r;
            GetWindowRect(button, &r);
            Same(op, r.right - r.left, 22, "channel button width");
            Same(op, r.bottom - r.top, 30, "channel button height");
            // Placed where the template puts it, in dialog units.
            RECT expected = {34 + 16 * i, 49, 0, 0};
            MapDialogRect(dlg, &expected);
            POINT origin = {r.left, r.top};
            ScreenToClient(dlg, &origin);
            Same(op, origin.x, expected.left, "channel button x");
            Same(op, origin.y, expected.top, "channel button y");
        }
        for (int id : {kLess, kMore}) {
            RECT r;
            GetWindowRect(GetDlgItem(dlg, id), &r);
            Same(op, r.right - r.left, 24, "less/more width");
            Same(op, r.bottom - r.top, 32, "less/more height");
        }
        op.check(dialog::Click(dlg, IDCANCEL), "Cancel");
    });
}

TEST_F(Selector, LessAndMoreFollowTheCountToBothBounds) {
    ModuleRecord* m = Module(1);
    ASSERT_NE(m, nullptr);
    MessageSpy spy(IsSelectorMessage);
    ASSERT_TRUE(spy.installed());
    RunSetupDialog(m, [&](Operator& op, HWND dlg) {
        Same(op, dialog::State(dlg, kLess), 0, "less with one channel");
        Same(op, dialog::State(dlg, kMore), 4, "more with one channel");
        Same(op, ChannelStates(dlg), std::string("1333333300000000"), "one channel");
        // A press on the disabled less button: no state change, no capture, no command.
        HWND less = GetDlgItem(dlg, kLess);
        op.check(velk::ui::leftButtonDown(less, 5, 5) && velk::ui::settle(dlg), "press less");
        Same(op, dialog::State(dlg, kLess), 0, "disabled less pressed");
        op.check(dialog::Capture(dlg) != less, "a disabled button takes no capture");
        op.check(velk::ui::leftButtonUp(less, 5, 5) && velk::ui::settle(dlg), "release less");
        Same(op, Describe(spy.take()), std::string(""), "nothing sent by a disabled less button");

        op.check(dialog::Click(dlg, kMore), "more");
        Same(op, Describe(spy.take()), std::string("cmd 23001/0"), "the more command");
        Same(op, dialog::State(dlg, kLess), 1, "more from one channel enables less");
        Same(op, ChannelStates(dlg), std::string("1233333300000000"), "channel 1 active");
        for (int n = 3; n <= 8; ++n) op.check(dialog::Click(dlg, kMore), "more to " + std::to_string(n));
        Same(op, dialog::State(dlg, kMore), 3, "more at eight channels");
        Same(op, ChannelStates(dlg), std::string("1222222200000000"), "eight channels");
        spy.take();
        HWND more = GetDlgItem(dlg, kMore);
        op.check(velk::ui::leftButtonDown(more, 5, 5) && velk::ui::settle(dlg), "press more");
        Same(op, dialog::State(dlg, kMore), 3, "disabled more pressed");
        op.check(dialog::Capture(dlg) != more, "a disabled more takes no capture");
        op.check(velk::ui::leftButtonUp(more, 5, 5) && velk::ui::settle(dlg), "release more");
        Same(op, Describe(spy.take()), std::string(""), "nothing sent by a disabled more button");
        op.check(dialog::Click(dlg, kLess), "less");
        Same(op, dialog::State(dlg, kMore), 4, "less from eight enables more");
        Same(op, ChannelStates(dlg), std::string("1222222300000000"), "channel 7 inactive");
        op.check(dialog::Click(dlg, kMore), "more back to eight");
        op.check(dialog::Click(dlg, IDOK), "OK");
    });
    ASSERT_EQ(m->outputCount, 8u);
    RunSetupDialog(m, [](Operator& op, HWND dlg) {
        Same(op, dialog::State(dlg, kLess), 1, "less with eight channels");
        Same(op, dialog::State(dlg, kMore), 3, "more with eight channels");
        Same(op, ChannelStates(dlg), std::string("1222222200000000"), "eight channels at opening");
        op.check(dialog::Click(dlg, IDCANCEL), "Cancel");
    });
}

TEST_F(Selector, APressReleasedOutsideTheButtonStillSendsItsCommand) {
    ModuleRecord* m = Module(3);
    ASSERT_NE(m, nullptr);
    MessageSpy spy(IsSelectorMessage);
    RunSetupDialog(m, [&](Operator& op, HWND dlg) {
        HWND more = GetDlgItem(dlg, kMore);
        HWND less = GetDlgItem(dlg, kLess);
        op.check(velk::ui::leftButtonDown(more, 10, 10) && velk::ui::settle(dlg), "press more");
        Same(op, dialog::State(dlg, kMore), 5, "more pressed");
        op.check(dialog::Capture(dlg) == more, "the pressed more button holds the capture");
        Same(op, Describe(spy.take()), std::string(""), "nothing sent on the press");
        op.check(velk::ui::leftButtonUp(more, -60, 90) && velk::ui::settle(dlg), "release outside");
        Same(op, dialog::State(dlg, kMore), 4, "more released");
        op.check(dialog::Capture(dlg) != more, "capture released");
        Same(op, Describe(spy.take()), std::string("cmd 23001/0"), "more command on the release outside");
        Same(op, ChannelStates(dlg), std::string("1222333300000000"), "a fourth channel");

        op.check(velk::ui::leftButtonDown(less, 10, 10) && velk::ui::settle(dlg), "press less");
        Same(op, dialog::State(dlg, kLess), 2, "less pressed");
        op.check(dialog::Capture(dlg) == less, "the pressed less button holds the capture");
        op.check(velk::ui::leftButtonUp(less, 400, -30) && velk::ui::settle(dlg), "release outside");
        Same(op, dialog::State(dlg, kLess), 1, "less released");
        Same(op, Describe(spy.take()), std::string("cmd 23000/0"), "less command on the release outside");
        Same(op, ChannelStates(dlg), std::string("1223333300000000"), "back to three");

        // A release that follows no press of this button sends nothing.
        op.check(velk::ui::leftButtonUp(less, 10, 10) && velk::ui::leftButtonUp(more, 10, 10) &&
                     velk::ui::settle(dlg),
                 "releases without press");
        Same(op, Describe(spy.take()), std::string(""), "releases without a press");
        Same(op, dialog::State(dlg, kLess), 1, "less unchanged");
        Same(op, dialog::State(dlg, kMore), 4, "more unchanged");
        op.check(dialog::Click(dlg, IDCANCEL), "Cancel");
    });
}

TEST_F(Selector, DuringAnExperimentLessAndMoreAreDisabledAndDoubleClicksSendNothing) {
    ModuleRecord* m = Module(3);
    ASSERT_NE(m, nullptr);
    host().setRunning(1);
    MessageSpy spy(IsSelectorMessage);
    UiThreadCall onUi;
    std::vector<SentMessage> running, idle;
    std::vector<int> runningIds, idleIds;
    HWND dialogWindow = nullptr;
    RunSetupDialog(m, [&](Operator& op, HWND dlg) {
        dialogWindow = dlg;
        Same(op, dialog::State(dlg, kLess), 0, "less while running");
        Same(op, dialog::State(dlg, kMore), 3, "more while running");
        op.check(velk::ui::leftButtonDown(GetDlgItem(dlg, kMore), 5, 5) && velk::ui::settle(dlg), "press more");
        op.check(dialog::Capture(dlg) != GetDlgItem(dlg, kMore), "no capture");
        op.check(velk::ui::leftButtonUp(GetDlgItem(dlg, kMore), 5, 5) && velk::ui::settle(dlg), "release more");
        Same(op, dialog::State(dlg, kMore), 3, "more stays disabled");
        spy.take();
        HWND channel1 = GetDlgItem(dlg, kChannel0 + 1);
        op.check(velk::ui::doubleClickAt(channel1, 5, 5) && velk::ui::rightDoubleClickAt(channel1, 5, 5) &&
                     velk::ui::settle(dlg),
                 "double clicks while running");
        running = spy.take();
        for (const SentMessage& s : running) runningIds.push_back(GetDlgCtrlID(reinterpret_cast<HWND>(s.wParam)));
        Same(op, ChannelStates(dlg), std::string("2123333300000000"), "the press still selects");

        op.check(onUi.run([&] { host().setRunning(0); }), "experiment ends");
        HWND channel2 = GetDlgItem(dlg, kChannel0 + 2);
        op.check(velk::ui::doubleClickAt(channel2, 5, 5) && velk::ui::rightDoubleClickAt(channel2, 5, 5) &&
                     velk::ui::settle(dlg),
                 "double clicks while idle");
        idle = spy.take();
        for (const SentMessage& s : idle) idleIds.push_back(GetDlgCtrlID(reinterpret_cast<HWND>(s.wParam)));
        op.check(dialog::Click(dlg, IDCANCEL), "Cancel");
    });
    EXPECT_EQ(Describe(running), "1025/2 1026/1 1026/1");
    EXPECT_EQ(Describe(idle), "1025/2 1026/1 1027/1 1026/1 1028/1");
    for (const auto* list : {&running, &idle})
        for (const SentMessage& s : *list) EXPECT_EQ(s.to, dialogWindow) << s.message << " goes to the parent";
    EXPECT_EQ(runningIds, std::vector<int>(running.size(), kChannel0 + 1)) << "wParam names the button";
    EXPECT_EQ(idleIds, std::vector<int>(idle.size(), kChannel0 + 2));
}

TEST_F(Selector, OnlyAnActiveChannelTakesTheSelectionAndEveryPressFocusesTheModuleName) {
    ModuleRecord* m = Module(4);
    ASSERT_NE(m, nullptr);
    MessageSpy spy(IsSelectorMessage);
    RunSetupDialog(m, [&](Operator& op, HWND dlg) {
        HWND nameBox = GetDlgItem(dlg, kModuleName);
        HWND channelBox = GetDlgItem(dlg, kChannelName);
        op.check(dialog::Focus(dlg) == nameBox, "the module name has the focus at opening");

        op.check(dialog::Click(dlg, kChannelName) && dialog::Focus(dlg) == channelBox, "focus to the channel name");
        op.check(dialog::Click(dlg, kChannel0 + 2), "press channel 2");
        Same(op, ChannelStates(dlg), std::string("2212333300000000"), "channel 2 selected");
        Same(op, dialog::Text(dlg, kSelectedNumber), std::string("2"), "selected number");
        op.check(dialog::Focus(dlg) == nameBox, "focus back on the module name");

        op.check(dialog::Click(dlg, kChannelName), "focus to the channel name");
        op.check(dialog::Click(dlg, kChannel0 + 2), "press the selected channel");
        Same(op, ChannelStates(dlg), std::string("2212333300000000"), "pressing the selected one");
        op.check(dialog::Focus(dlg) == nameBox, "focus moved although nothing changed");

        op.check(dialog::Click(dlg, kChannelName), "focus to the channel name");
        op.check(dialog::Click(dlg, kChannel0 + 6), "press inactive channel 6");
        Same(op, ChannelStates(dlg), std::string("2212333300000000"), "pressing an inactive one");
        Same(op, dialog::Text(dlg, kSelectedNumber), std::string("2"), "selected number unchanged");
        op.check(dialog::Focus(dlg) == nameBox, "focus moved after the inactive press");
        Same(op, Describe(spy.take()),
             std::string("1025/2 1026/1 1025/1 1026/1 1025/3 1026/3"),
             "notifications carry the state at the press");

        // The deselect message turns only a selected button into an active one.
        SendMessageA(GetDlgItem(dlg, kChannel0 + 1), 1029, 0, 0);
        SendMessageA(GetDlgItem(dlg, kChannel0 + 6), 1029, 0, 0);
        Same(op, ChannelStates(dlg), std::string("2212333300000000"), "deselect of active and inactive");
        SendMessageA(GetDlgItem(dlg, kChannel0 + 2), 1029, 0, 0);
        Same(op, ChannelStates(dlg), std::string("2222333300000000"), "deselect of the selected");
        op.check(dialog::Click(dlg, IDCANCEL), "Cancel");
    });
}

TEST_F(Selector, LessMovesTheSelectionOnlyOffARemovedChannel) {
    ModuleRecord* m = Module(3);
    ASSERT_NE(m, nullptr);
    RunSetupDialog(m, [](Operator& op, HWND dlg) {
        op.check(dialog::Click(dlg, kChannel0 + 2), "select the last channel");
        op.check(dialog::Click(dlg, kLess), "less");
        Same(op, ChannelStates(dlg), std::string("2133333300000000"), "selection on the new last channel");
        Same(op, dialog::Text(dlg, kSelectedNumber), std::string("1"), "selected number follows");
        op.check(dialog::Click(dlg, kChannel0), "select channel 0");
        op.check(dialog::Click(dlg, kLess), "less");
        Same(op, ChannelStates(dlg), std::string("1333333300000000"), "an earlier selection stays");
        Same(op, dialog::State(dlg, kLess), 0, "less disabled at one channel");
        Same(op, dialog::Text(dlg, kSelectedNumber), std::string("0"), "selected number");
        op.check(dialog::Click(dlg, IDCANCEL), "Cancel");
    });
}

TEST_F(Selector, AStateBeyondTheBitmapsPaintsWithoutHarm) {
    ModuleRecord* m = Module(2);
    ASSERT_NE(m, nullptr);
    UiThreadCall onUi;
    MessageSpy spy([](const CWPSTRUCT& sent) { return sent.message == WM_PAINT; });
    RunSetupDialog(m, [&](Operator& op, HWND dlg) {
        HWND channel = GetDlgItem(dlg, kChannel0);
        HWND less = GetDlgItem(dlg, kLess);
        // State change, invalidation and repaint in one call on the dialog's thread: its
        // modal loop would otherwise paint the buttons itself whenever it is idle, and
        // the paint to watch could come before or after the spy looks.
        bool invalidated = false, validated = false;
        std::vector<SentMessage> painted;
        op.check(onUi.run([&] {
            SendMessageA(channel, 254, 9, 0);
            SendMessageA(less, 254, 0x70009, 0);  // only the low 16 bits count
            RECT update;
            invalidated = GetUpdateRect(channel, &update, FALSE) != 0 && GetUpdateRect(less, &update, FALSE) != 0;
            spy.take();
            UpdateWindow(channel);
            UpdateWindow(less);
            painted = spy.take();
            validated = GetUpdateRect(channel, &update, FALSE) == 0 && GetUpdateRect(less, &update, FALSE) == 0;
        }),
                 "state change and repaint on the dialog's thread");
        Same(op, dialog::State(dlg, kChannel0), 9, "channel state 9");
        Same(op, dialog::State(dlg, kLess), 9, "less state 9");
        op.check(invalidated, "the state message invalidates the buttons");
        int paints = 0;
        for (const SentMessage& s : painted) paints += s.to == channel || s.to == less;
        Same(op, paints, 2, "both buttons painted");
        op.check(validated, "painting validated the buttons");
        op.check(velk::ui::settle(dlg) && IsWindow(channel), "the dialog lives on");
        // Back to drawable states, painted again.
        op.check(onUi.run([&] {
            SendMessageA(channel, 254, 1, 0);
            SendMessageA(less, 254, 1, 0);
            UpdateWindow(channel);
        }),
                 "repaint");
        Same(op, dialog::State(dlg, kChannel0), 1, "channel state 1 again");
        op.check(dialog::Click(dlg, IDCANCEL), "Cancel");
    });
}

// ---- Placement

class Placement : public ExtensionTest {
protected:
    // Opens the dialog with Velk's main window at the given place and gives the
    // dialog's window rectangle as it opened.
    RECT OpenAt(ModuleRecord* m, int x, int y, int width, int height) {
        host().moveMainWindow(x, y, width, height);
        RECT placed = {};
        RunSetupDialog(m, [&](Operator& op, HWND dlg) {
            GetWindowRect(dlg, &placed);
            op.check(dialog::Click(dlg, IDCANCEL), "Cancel");
        });
        return placed;
    }
    POINT ClientCentre() {
        RECT client;
        GetClientRect(host().mainWindow(), &client);
        POINT centre = {client.right / 2, client.bottom / 2};
        ClientToScreen(host().mainWindow(), &centre);
        return centre;
    }
};

TEST_F(Placement, CentredOnTheMainWindowsClientArea) {
    ASSERT_EQ(StartHost(), 1);
    ModuleRecord* m = CreateAnalogModule(1);
    ASSERT_NE(m, nullptr);
    for (const RECT& window : {RECT{100, 80, 960, 720}, RECT{150, 120, 700, 560}}) {
        RECT placed = OpenAt(m, window.left, window.top, window.right, window.bottom);
        const int w = placed.right - placed.left, h = placed.bottom - placed.top;
        ASSERT_GT(w, 300);
        const POINT centre = ClientCentre();
        EXPECT_EQ(placed.left, centre.x - w / 2);
        EXPECT_EQ(placed.top, centre.y - h / 2);
    }
}

TEST_F(Placement, PulledBackAtTheRightAndBottomEdgesAndClampedAtZero) {
    ASSERT_EQ(StartHost(), 1);
    ModuleRecord* m = CreateAnalogModule(1);
    ASSERT_NE(m, nullptr);
    const int W = GetSystemMetrics(SM_CXSCREEN), H = GetSystemMetrics(SM_CYSCREEN);
    ASSERT_GT(W, 600);
    ASSERT_GT(H, 400);

    RECT right = OpenAt(m, W - 250, 100, 300, 300);  // centre 150 px off the right edge
    EXPECT_EQ(right.right, W) << "touches the right edge";
    EXPECT_EQ(right.top, ClientCentre().y - (right.bottom - right.top) / 2) << "still centred vertically";

    RECT bottom = OpenAt(m, 100, H - 150, 400, 200);
    EXPECT_EQ(bottom.bottom, H) << "touches the bottom edge";
    EXPECT_EQ(bottom.left, ClientCentre().x - (bottom.right - bottom.left) / 2) << "still centred horizontally";

    RECT corner = OpenAt(m, W - 100, H - 100, 400, 400);
    EXPECT_EQ(corner.right, W);
    EXPECT_EQ(corner.bottom, H);

    RECT negative = OpenAt(m, -1500, -1200, 400, 300);
    EXPECT_EQ(negative.left, 0) << "a centre off the left edge is clamped to 0";
    EXPECT_EQ(negative.top, 0);
    EXPECT_GT(negative.right, 300) << "size unchanged";
}

// ---- The dialog font

class DialogFont : public ExtensionTest {};

TEST_F(DialogFont, MadeOnceAndGivenToAllButEditListAndComboBoxes) {
    ASSERT_EQ(StartHost(), 1);
    ModuleRecord* m = CreateAnalogModule(1);
    ASSERT_NE(m, nullptr);
    struct Fonts {
        HFONT dialog, label, okButton, nameEdit, combo;
        LONG labelWeight;
    };
    std::vector<Fonts> seen;
    for (int opening = 0; opening < 2; ++opening) {
        RunSetupDialog(m, [&](Operator& op, HWND dlg) {
            auto font = [dlg](int id) {
                return reinterpret_cast<HFONT>(SendMessageA(GetDlgItem(dlg, id), WM_GETFONT, 0, 0));
            };
            Fonts f;
            f.dialog = reinterpret_cast<HFONT>(SendMessageA(dlg, WM_GETFONT, 0, 0));
            f.label = font(1040);
            f.okButton = font(IDOK);
            f.nameEdit = font(kModuleName);
            f.combo = font(1044);
            LOGFONTA description = {};
            f.labelWeight = GetObjectA(f.label, sizeof description, &description) ? description.lfWeight : -1;
            seen.push_back(f);
            op.check(dialog::Click(dlg, IDCANCEL), "Cancel");
        });
    }
    ASSERT_EQ(seen.size(), 2u);
    int made = 0;
    for (const std::string& e : Events()) made += e == "CreateStackedFontIndirect";
    EXPECT_EQ(made, 1) << "one font for every dialog";
    EXPECT_EQ(host().liveFontCount(), 1u);
    for (const Fonts& f : seen) {
        ASSERT_NE(f.dialog, nullptr);
        EXPECT_NE(f.label, f.dialog) << "static texts get the copy";
        EXPECT_EQ(f.okButton, f.label) << "buttons get the copy";
        EXPECT_EQ(f.labelWeight, FW_NORMAL);
        EXPECT_EQ(f.nameEdit, f.dialog) << "edit boxes keep the dialog's font";
        EXPECT_EQ(f.combo, f.dialog) << "combo boxes keep the dialog's font";
    }
    EXPECT_EQ(seen[0].label, seen[1].label) << "the same font handle the second time";
    host().finish();
    EXPECT_EQ(host().liveFontCount(), 0u) << "deleted at finish";
    EXPECT_GE(EventIndex("DeleteStackedObject"), 0);
}

// ---- About box

class AboutBox : public ExtensionTest {};

TEST_F(AboutBox, ShowsTheVersionAndClosesOnlyThroughOk) {
    ASSERT_EQ(StartHost(), 1);
    ModuleRecord* m = CreateAnalogModule(1);
    ASSERT_NE(m, nullptr);
    RunSetupDialog(m, [](Operator& op, HWND dlg) {
        op.check(velk::ui::clickButton(dlg, 1006), "version button");
        HWND about = op.waitFor(kAboutTitle);
        if (!about) return;
        op.check(GetWindow(about, GW_OWNER) == dlg, "owned by the setup dialog");
        HWND label = GetDlgItem(about, 1007);
        Same(op, dialog::Text(about, 1007), std::string("VYT-TK17 Module Version 2.10"), "version label");
        Same(op, GetWindowLongA(label, GWL_STYLE) & SS_TYPEMASK, static_cast<LONG>(SS_CENTER), "centred label");

        // A modal box that ends is destroyed as its loop returns, before the thread
        // handles the next posted message: after a settle, IsWindow tells.
        op.check(dialog::Key(about, VK_ESCAPE) && IsWindow(about), "Esc leaves the box open");
        op.check(velk::ui::closeBox(about) && velk::ui::settle(about) && IsWindow(about),
                 "the close box leaves it open");
        PostMessageA(about, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        op.check(velk::ui::settle(about) && IsWindow(about), "Cancel leaves it open");
        velk::ui::pressKey(about, VK_RETURN);
        velk::ui::settle(dlg);
        op.check(!IsWindow(about), "Enter closes the box");
        op.check(IsWindow(dlg) != 0, "the setup dialog stays open");

        op.check(velk::ui::clickButton(dlg, 1006), "version button again");
        about = op.waitFor(kAboutTitle);
        if (!about) return;
        op.check(velk::ui::clickButton(about, IDOK), "OK");
        velk::ui::settle(dlg);
        op.check(!IsWindow(about), "OK closes the box");
        op.check(dialog::Click(dlg, IDCANCEL), "Cancel the setup dialog");
    });
}

}  // namespace
}  // namespace exttest
