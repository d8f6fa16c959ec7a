// Card access through the real extension: the scan at set-up, the device
// selection dialog driven as a user would, the slot binding of create, remove
// and device check, and the driver's notifications.
#include "tests/extension/fixture.h"

namespace exttest {
namespace {

constexpr char kSockets1And3[] =
    "[card 1]\nio_address = 0x300\nio_length = 16\nclock = virtual\n"
    "[card 3]\nio_address = 0x3a0\nio_length = 32\nclock = virtual\n";

class DeviceSelection : public ExtensionTest {};

TEST_F(DeviceSelection, CardsInSockets1And3AreListedByPosition) {
    ASSERT_EQ(StartHost(kSockets1And3), 1);
    std::vector<std::string> lines;
    std::string first[3], second[3], title;
    ModuleRecord* m = CreateAnswering(kAnalog, [&](HWND dialog) {
        HWND list = GetDlgItem(dialog, 103);
        title = ReadText(dialog);
        int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char text[64];
            SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
            lines.push_back(text);
        }
        first[0] = ItemText(dialog, 1001);
        first[1] = ItemText(dialog, 1002);
        first[2] = ItemText(dialog, 1011);
        velk::ui::selectListLine(list, 1);
        velk::ui::settle(dialog);
        second[0] = ItemText(dialog, 1001);
        second[1] = ItemText(dialog, 1002);
        second[2] = ItemText(dialog, 1011);
        velk::ui::clickButton(dialog, IDOK);
    });
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(title, kDeviceDialogTitle);
    EXPECT_EQ(lines, (std::vector<std::string>{"VYT-TK17 #0", "VYT-TK17 #1"}));
    EXPECT_EQ(first[0], "300 H");
    EXPECT_EQ(first[1], "16");
    EXPECT_EQ(first[2], "1");
    EXPECT_EQ(second[0], "3a0 H");
    EXPECT_EQ(second[1], "32");
    EXPECT_EQ(second[2], "3");
    const unsigned char* area = static_cast<const unsigned char*>(m->privateData);
    EXPECT_EQ(area[192] | area[193] << 8, 3);
    SimApi sim = Sim();
    ASSERT_TRUE(sim.ok());
    EXPECT_TRUE(sim.IsOpen(1));
    EXPECT_TRUE(sim.IsOpen(3));
    EXPECT_EQ(sim.CallCount("Tk17Create", -1), 4) << "all four sockets are probed";
}

// A card that opens but gives no resource record is closed again at set-up and
// never offered.
TEST_F(DeviceSelection, ACardWithoutItsResourceIsClosedAndNotListed) {
    ASSERT_EQ(StartHost("[card 0]\nclock = virtual\n[card 1]\nclock = virtual\n"
                        "[fault]\nTk17GetResource = socket 1 error 23\n"),
              1);
    EXPECT_EQ(Sim().IsOpen(0), 1);
    EXPECT_EQ(Sim().IsOpen(1), 0) << "the card without its resource is closed";
    int count = -1;
    std::string socket;
    ModuleRecord* m = CreateAnswering(kAnalog, [&](HWND dialog) {
        count = static_cast<int>(SendMessageA(GetDlgItem(dialog, 103), LB_GETCOUNT, 0, 0));
        socket = ItemText(dialog, 1011);
        velk::ui::clickButton(dialog, IDOK);
    });
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(socket, "0");
}

TEST_F(DeviceSelection, OneCardServesOneModuleOfEachClass) {
    ASSERT_EQ(StartHost(), 1);
    ModuleRecord* analog = CreateOnLine(kAnalog);
    ASSERT_NE(analog, nullptr);
    // A second analog module finds no free card: warning, and creation refused.
    ModuleRecord* second = CreateAnswering(kAnalog, [](HWND) {}, velk::NewModule(), 300);
    EXPECT_EQ(second, nullptr);
    ASSERT_EQ(host().log().warnings().size(), 1u);
    EXPECT_EQ(host().log().warnings()[0].caption, "エラー");
    EXPECT_EQ(host().log().warnings()[0].text, "使えるデバイスがありません");
    // The digital classes still get the card.
    EXPECT_NE(CreateOnLine(kDigitalIn), nullptr);
    EXPECT_NE(CreateOnLine(kDigitalOut), nullptr);
    // Removing the analog module frees the card for the next one.
    EXPECT_TRUE(host().removeModule(analog));
    EXPECT_NE(CreateOnLine(kAnalog), nullptr);
    EXPECT_EQ(host().log().warnings().size(), 1u);
}

TEST_F(DeviceSelection, DoubleClickEndsLikeOkAndEnterIsOk) {
    ASSERT_EQ(StartHost(kSockets1And3), 1);
    ModuleRecord* m = CreateAnswering(kDigitalIn, [](HWND dialog) {
        velk::ui::doubleClickListLine(GetDlgItem(dialog, 103), 1);
    });
    ASSERT_NE(m, nullptr);
    const unsigned char* area = static_cast<const unsigned char*>(m->privateData);
    EXPECT_EQ(area[96], 3);
    ModuleRecord* k = CreateAnswering(kDigitalOut, [](HWND dialog) { velk::ui::pressKey(dialog, VK_RETURN); });
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(static_cast<const unsigned char*>(k->privateData)[96], 1) << "line 0 is selected from the opening on";
}

TEST_F(DeviceSelection, EscCancelAndTheCloseBoxRefuseCreation) {
    ASSERT_EQ(StartHost(), 1);
    EXPECT_EQ(CreateAnswering(kAnalog, [](HWND dialog) { velk::ui::pressKey(dialog, VK_ESCAPE); }), nullptr);
    EXPECT_EQ(CreateAnswering(kAnalog, [](HWND dialog) { velk::ui::closeBox(dialog); }), nullptr);
    EXPECT_EQ(CreateAnswering(kAnalog, [](HWND dialog) { velk::ui::clickButton(dialog, IDCANCEL); }), nullptr);
    // Nothing was claimed: the card is still free for the class.
    EXPECT_NE(CreateOnLine(kAnalog), nullptr);
    EXPECT_TRUE(host().log().warnings().empty());
}

TEST_F(DeviceSelection, ReselectingALineLeavesTheDetailsAlone) {
    ASSERT_EQ(StartHost(kSockets1And3), 1);
    std::string afterSame, afterOther;
    ModuleRecord* m = CreateAnswering(kAnalog, [&](HWND dialog) {
        HWND list = GetDlgItem(dialog, 103);
        SetWindowTextA(GetDlgItem(dialog, 1011), "x");
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(103, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
        afterSame = ItemText(dialog, 1011);
        velk::ui::selectListLine(list, 1);
        velk::ui::settle(dialog);
        afterOther = ItemText(dialog, 1011);
        velk::ui::pressKey(dialog, VK_ESCAPE);
    });
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(afterSame, "x") << "the shown slot is not written again";
    EXPECT_EQ(afterOther, "3");
}

TEST_F(DeviceSelection, OkWithoutASelectedLineKeepsTheDialogOpen) {
    ASSERT_EQ(StartHost(), 1);
    bool stillOpen = false;
    ModuleRecord* m = CreateAnswering(kAnalog, [&](HWND dialog) {
        SendMessageA(GetDlgItem(dialog, 103), LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        velk::ui::clickButton(dialog, IDOK);
        velk::ui::settle(dialog);
        stillOpen = IsWindow(dialog) != FALSE;
        velk::ui::pressKey(dialog, VK_ESCAPE);
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(m, nullptr);
}

class SlotBinding : public ExtensionTest {};

TEST_F(SlotBinding, DeviceCheckWarnsForAMissingCardAndReclaimsAPresentOne) {
    ASSERT_EQ(StartHost(), 1);
    ModuleRecord* m = CreateOnLine(kAnalog);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(host().callClass(m, 105), 1);
    EXPECT_TRUE(host().log().warnings().empty());
    SimApi sim = Sim();
    ASSERT_TRUE(sim.ok());
    sim.PullCard(0);
    host().pump();
    std::vector<velk::Warning> warnings = host().log().warnings();
    ASSERT_EQ(warnings.size(), 1u) << "the card-removed notification";
    EXPECT_EQ(host().callClass(m, 105), 0);
    warnings = host().log().warnings();
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[1].caption, "VYT-TK17 ERROR");
    EXPECT_EQ(warnings[1].text, "指定のソケット 0 にデバイスが存在しませんでした");
}

// Each class has its own claim on a card: removing the digital input module frees
// the card for digital input only, and the analog module keeps its claim.
TEST_F(SlotBinding, RemovingAModuleFreesOnlyItsOwnClassesClaim) {
    ASSERT_EQ(StartHost(), 1);
    ModuleRecord* analog = CreateOnLine(kAnalog);
    ModuleRecord* din = CreateOnLine(kDigitalIn);
    ASSERT_NE(analog, nullptr);
    ASSERT_NE(din, nullptr);
    EXPECT_TRUE(host().removeModule(din));
    EXPECT_EQ(CreateAnswering(kAnalog, [](HWND) {}, velk::NewModule(), 300), nullptr) << "the analog claim stays";
    ModuleRecord* again = CreateOnLine(kDigitalIn);
    EXPECT_NE(again, nullptr) << "the card is free for digital input again";
}

TEST_F(SlotBinding, TwoModulesOnOneSocketShareOneFlag) {
    const char twoCards[] = "[card 0]\nclock = virtual\n[card 2]\nclock = virtual\n";
    ASSERT_EQ(StartHost(twoCards), 1);
    ModuleRecord* a = CreateOnLine(kAnalog, 0);
    ModuleRecord* b = CreateOnLine(kAnalog, 0);  // the only line left: socket 2
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    unsigned char* areaB = static_cast<unsigned char*>(b->privateData);
    ASSERT_EQ(areaB[192], 2);
    // As when a worksheet holds two modules of one card: b now names socket 0.
    areaB[192] = 0;
    EXPECT_EQ(host().callClass(a, 105), 1);
    EXPECT_EQ(host().callClass(b, 105), 1);
    EXPECT_TRUE(host().removeModule(b));  // clears socket 0's flag although a is bound
    std::vector<std::string> lines;
    ModuleRecord* c = CreateAnswering(kAnalog, [&](HWND dialog) {
        HWND list = GetDlgItem(dialog, 103);
        for (int i = 0; i < SendMessageA(list, LB_GETCOUNT, 0, 0); ++i) lines.push_back(std::to_string(i));
        lines.push_back(ItemText(dialog, 1011));
        velk::ui::clickButton(dialog, IDOK);
    });
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(lines, (std::vector<std::string>{"0", "0"})) << "one line, socket 0; socket 2 is still marked";
}

TEST_F(SlotBinding, RemoveWithAnUnknownSocketChangesNothing) {
    ASSERT_EQ(StartHost(), 1);
    ModuleRecord* m = CreateOnLine(kDigitalOut);
    ASSERT_NE(m, nullptr);
    static_cast<unsigned char*>(m->privateData)[96] = 7;
    EXPECT_TRUE(host().removeModule(m));
    EXPECT_EQ(CreateAnswering(kDigitalOut, [](HWND) {}, velk::NewModule(), 300), nullptr) << "socket 0 stays claimed";
}

class Notifications : public ExtensionTest {
protected:
    // Posts `message` from the driver with the host's running flag at `running`.
    void Notify(uint32_t message, int32_t running) {
        host().setRunning(running);
        host().log().clearEvents();
        SimApi sim = Sim();
        ASSERT_TRUE(sim.ok());
        ASSERT_TRUE(sim.PostNotification(0, message));
        host().pump();
        host().setRunning(0);
    }
};

TEST_F(Notifications, EachMessageStopsARunningExperimentBeforeWarning) {
    ASSERT_EQ(StartHost(), 1);
    const std::pair<uint32_t, std::string> kMessages[] = {
        {1224, "ShowWarning|VYT-TK17 警告|アプリケーション実行中にカードを抜かないでください\n"
               "継続する場合はカードを差込み、Velkを再起動してください"},
        {1227, "ShowWarning|VYT-TK17|バッファオーバーフロー"},
        {1228, "ShowWarning|VYT-TK17|バッファオーバーラン"},
    };
    for (const auto& m : kMessages) {
        SCOPED_TRACE(m.first);
        Notify(m.first, 1);
        EXPECT_EQ(Events(), (std::vector<std::string>{"StopExperiment", m.second}));
        Notify(m.first, 0);
        EXPECT_EQ(Events(), (std::vector<std::string>{m.second})) << "no experiment: the warning only";
        Notify(m.first, 2);
        EXPECT_EQ(Events(), (std::vector<std::string>{m.second})) << "2 is not 'running'";
    }
    Notify(1225, 1);
    EXPECT_TRUE(Events().empty()) << "other numbers go to the default procedure";
}

// The message parameters are not examined: an lParam the driver chose and a socket
// that is not the card's change nothing.
TEST_F(Notifications, AnyLParamIsHandledByTheMessageNumberAlone) {
    const char twoCards[] = "[card 0]\nclock = virtual\n[card 2]\nclock = virtual\nsocket_cell = 0xFFFF0001\n";
    ASSERT_EQ(StartHost(twoCards), 1);
    SimApi sim = Sim();
    ASSERT_TRUE(sim.ok());
    const intptr_t kParams[] = {1, -1, 0x7FFFFFFF, 1224, 0x12345678};
    for (uint16_t card : {0, 2}) {
        for (intptr_t lParam : kParams) {
            SCOPED_TRACE(std::to_string(card) + " " + std::to_string(lParam));
            host().log().clearEvents();
            host().setRunning(1);
            ASSERT_TRUE(sim.PostNotificationParam(card, 1227, lParam));
            ASSERT_TRUE(sim.PostNotificationParam(card, 1226, lParam));
            host().pump();
            host().setRunning(0);
            EXPECT_EQ(Events(), (std::vector<std::string>{"StopExperiment", "ShowWarning|VYT-TK17|バッファオーバーフロー"}));
            host().log().clearEvents();
            ASSERT_TRUE(sim.PostNotificationParam(card, 1224, lParam));
            host().pump();
            const std::string removed = "ShowWarning|VYT-TK17 警告|";
            ASSERT_EQ(Events().size(), 1u);
            EXPECT_EQ(Events()[0].compare(0, removed.size(), removed), 0) << "the card-removed warning alone";
        }
    }
}

}  // namespace
}  // namespace exttest
