// The analog input setup dialog operated with real input: what opening shows, what
// Cancel and OK write back, channel names across channel changes, the copy
// requests, name lengths, range and buffer size, and the run-time fields of an
// experiment that starts or stops while the dialog is open.
#include "tests/extension/fixture.h"
#include "tests/support/known_difference.h"

namespace exttest {
namespace {

using dialog::Same;
using velk::ui::Operator;

constexpr int kRange10 = 1026;
constexpr int kRange5 = 1027;
constexpr int kSocket = 1040;
constexpr int kBufferSize = 1044;

constexpr char kCardInSocket2[] = "[card 2]\nio_address = 0x340\nclock = virtual\n";

// Drops the buffer-size list down and clicks its line `index`, as a user would; the
// list closing sends CBN_CLOSEUP to the dialog.
bool ChooseBufferSize(HWND dlg, int index) {
    if (!dialog::Click(dlg, kBufferSize)) return false;
    COMBOBOXINFO info = {};
    info.cbSize = sizeof info;
    if (!GetComboBoxInfo(GetDlgItem(dlg, kBufferSize), &info)) return false;
    return velk::ui::selectListLine(info.hwndList, index) && velk::ui::settle(dlg);
}

LRESULT CopyRequest(HWND dlg, UINT request) { return SendMessageA(dlg, request, 0, 0); }

class AnalogDialog : public ExtensionTest {
protected:
    ModuleRecord* Module(uint32_t channels, const char* config = kOneVirtualCard) {
        if (StartHost(config) != 1) return nullptr;
        return CreateAnalogModule(channels, "AD one", "first module");
    }
    static unsigned char* Bytes(ModuleRecord* m) { return static_cast<unsigned char*>(m->privateData); }
    static std::string Area(ModuleRecord* m) { return std::string(reinterpret_cast<char*>(Bytes(m)), 256); }
    static std::string Name(ModuleRecord* m, int channel) {
        const char* slot = reinterpret_cast<const char*>(Bytes(m)) + 24 * channel;
        return std::string(slot, strnlen(slot, 24));
    }
    static int32_t Word(ModuleRecord* m, int offset) {
        int32_t v;
        memcpy(&v, Bytes(m) + offset, 4);
        return v;
    }
    static void* Buffer(ModuleRecord* m) {
        void* p;
        memcpy(&p, Bytes(m) + 232, sizeof p);
        return p;
    }
    std::vector<std::string> WorkingCopyLog() { return AllocationLog("Tk17CtlDlg"); }
};

TEST_F(AnalogDialog, OpensWithTheModulesSettings) {
    ModuleRecord* m = Module(2);
    ASSERT_NE(m, nullptr);
    RunSetupDialog(m, [](Operator& op, HWND dlg) {
        Same(op, dialog::Text(dlg, kModuleName), std::string("AD one"), "module name");
        Same(op, dialog::Text(dlg, kModuleComment), std::string("first module"), "description");
        Same(op, dialog::Text(dlg, kChannelName), DefaultName(0), "channel 0's name");
        Same(op, dialog::Text(dlg, kSelectedNumber), std::string("0"), "selected number");
        Same(op, dialog::Text(dlg, kSocket), std::string("0"), "socket");
        Same(op, IsDlgButtonChecked(dlg, kRange10), static_cast<UINT>(BST_CHECKED), "±10 V checked");
        Same(op, IsDlgButtonChecked(dlg, kRange5), static_cast<UINT>(BST_UNCHECKED), "±5 V unchecked");
        Same(op, SendDlgItemMessageA(dlg, kBufferSize, CB_GETCOUNT, 0, 0), LRESULT(8), "buffer sizes");
        Same(op, dialog::Text(dlg, kBufferSize), std::string("256K"), "default buffer size");
        const char* const sizes[] = {"64K", "128K", "256K", "512K", "1M", "2M", "4M", "8M"};
        for (int i = 0; i < 8; ++i) {
            char text[16] = {};
            SendDlgItemMessageA(dlg, kBufferSize, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            Same(op, std::string(text), std::string(sizes[i]), "buffer size entry");
        }
        for (int id : {kRange10, kRange5, kBufferSize})
            op.check(IsWindowEnabled(GetDlgItem(dlg, id)) != 0, "enabled while idle: " + std::to_string(id));
        op.check(dialog::Focus(dlg) == GetDlgItem(dlg, kModuleName), "focus on the module name");
        op.check(dialog::Click(dlg, IDCANCEL), "Cancel");
    });
}

TEST_F(AnalogDialog, TheSocketFieldShowsTheModulesSocket) {
    ModuleRecord* m = Module(1, kCardInSocket2);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(*reinterpret_cast<uint16_t*>(Bytes(m) + 192), 2);
    std::string shown;
    RunSetupDialog(m, [&](Operator& op, HWND dlg) {
        shown = dialog::Text(dlg, kSocket);
        op.check(dialog::Click(dlg, IDCANCEL), "Cancel");
    });
    EXPECT_EQ(shown, "2");
}

TEST_F(AnalogDialog, CancelLeavesEverythingAsItWas) {
    ModuleRecord* m = Module(1);
    ASSERT_NE(m, nullptr);
    const std::string before = Area(m);
    int32_t result = RunSetupDialog(m, [](Operator& op, HWND dlg) {
        op.check(dialog::Click(dlg, kRange5), "±5 V");
        op.check(ChooseBufferSize(dlg, 6), "4M");
        op.check(dialog::Type(dlg, kChannelName, "changed"), "name 0");
        op.check(dialog::Click(dlg, kMore) && dialog::Click(dlg, kMore), "two more");
        op.check(dialog::Click(dlg, kChannel0 + 2), "channel 2");
        op.check(dialog::Type(dlg, kChannelName, "new two"), "name 2");
        op.check(CopyRequest(dlg, kCopyName) == 0, "copy to all");
        op.check(dialog::Type(dlg, kModuleName, "other") && dialog::Type(dlg, kModuleComment, "else"), "texts");
        op.check(dialog::Click(dlg, IDCANCEL), "Cancel");
    });
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(Area(m) == before) << "the private data area is untouched";
    EXPECT_STREQ(m->moduleName, "AD one");
    EXPECT_STREQ(m->moduleComment, "first module");
    EXPECT_EQ(m->outputCount, 1u);
    EXPECT_TRUE(host().sizeChanges().empty());
    EXPECT_EQ(WorkingCopyLog(), (std::vector<std::string>{"Alloc 80 256", "Free 274 256"}));
}

TEST_F(AnalogDialog, OkWithThreeChannelsResizesAndStoresTheTypedNames) {
    ModuleRecord* m = Module(1);
    ASSERT_NE(m, nullptr);
    Bytes(m)[252] = 0x5A;  // unused bytes keep what is there
    RunSetupDialog(m, [](Operator& op, HWND dlg) {
        op.check(dialog::Type(dlg, kChannelName, "Alpha"), "name 0");
        op.check(dialog::Click(dlg, kMore) && dialog::Click(dlg, kMore), "two more");
        op.check(dialog::Click(dlg, kChannel0 + 1), "channel 1");
        Same(op, dialog::Text(dlg, kChannelName), DefaultName(1), "channel 1's old name shown");
        op.check(dialog::Type(dlg, kChannelName, "Beta"), "name 1");
        op.check(dialog::Click(dlg, kChannel0 + 2), "channel 2");
        op.check(dialog::Type(dlg, kChannelName, "Gamma"), "name 2, stored by OK");
        op.check(dialog::Type(dlg, kModuleName, "ABCDEFGHIJKLMNOP"), "module name beyond 12");
        op.check(dialog::Type(dlg, kModuleComment, "0123456789012345678901234567890123456789XYZ"), "comment");
        op.check(dialog::Click(dlg, IDOK), "OK");
    });
    ASSERT_EQ(host().sizeChanges().size(), 1u);
    EXPECT_EQ(host().sizeChanges()[0].module, m);
    EXPECT_EQ(host().sizeChanges()[0].inputCount, 0u);
    EXPECT_EQ(host().sizeChanges()[0].outputCount, 3u);
    EXPECT_EQ(m->outputCount, 3u);
    EXPECT_EQ(Name(m, 0), "Alpha");
    EXPECT_EQ(Name(m, 1), "Beta");
    EXPECT_EQ(Name(m, 2), "Gamma");
    for (int i = 3; i < 8; ++i) EXPECT_EQ(Name(m, i), DefaultName(i)) << "slot " << i << " was never shown";
    EXPECT_STREQ(m->moduleName, "ABCDEFGHIJKL");
    EXPECT_STREQ(m->moduleComment, "0123456789012345678901234567890123456789");
    EXPECT_EQ(Bytes(m)[252], 0x5A);
    EXPECT_EQ(WorkingCopyLog(), (std::vector<std::string>{"Alloc 80 256", "Free 262 256"}));
}

TEST_F(AnalogDialog, TypedNamesSurviveChannelSwitchesAndLessAndMore) {
    ModuleRecord* m = Module(3);
    ASSERT_NE(m, nullptr);
    RunSetupDialog(m, [](Operator& op, HWND dlg) {
        op.check(dialog::Type(dlg, kChannelName, "first"), "name 0");
        op.check(dialog::Click(dlg, kChannel0 + 1), "channel 1");
        op.check(dialog::Type(dlg, kChannelName, "second"), "name 1");
        op.check(dialog::Click(dlg, kLess), "less, channel 1 stays selected");
        Same(op, dialog::Text(dlg, kChannelName), std::string("second"), "after less");
        op.check(dialog::Click(dlg, kMore), "more");
        Same(op, dialog::Text(dlg, kChannelName), std::string("second"), "after more");
        op.check(dialog::Click(dlg, kChannel0), "channel 0");
        Same(op, dialog::Text(dlg, kChannelName), std::string("first"), "channel 0 again");
        op.check(dialog::Click(dlg, kChannel0 + 2), "channel 2");
        Same(op, dialog::Text(dlg, kChannelName), DefaultName(2), "channel 2 untouched");
        // The removed channel's name is kept before the selection moves off it.
        op.check(dialog::Type(dlg, kChannelName, "third"), "name 2");
        op.check(dialog::Click(dlg, kLess), "less removes the selected channel");
        Same(op, dialog::Text(dlg, kSelectedNumber), std::string("1"), "selection moved");
        Same(op, dialog::Text(dlg, kChannelName), std::string("second"), "channel 1's name shown");
        op.check(dialog::Click(dlg, kMore) && dialog::Click(dlg, kChannel0 + 2), "channel 2 back");
        Same(op, dialog::Text(dlg, kChannelName), std::string("third"), "channel 2's name kept");
        op.check(dialog::Click(dlg, IDOK), "OK");
    });
    EXPECT_EQ(Name(m, 0), "first");
    EXPECT_EQ(Name(m, 1), "second");
    EXPECT_EQ(Name(m, 2), "third");
    EXPECT_EQ(m->outputCount, 3u);
}

TEST_F(AnalogDialog, CopyRequestsCopyTheSelectedNameToTheActiveChannels) {
    ModuleRecord* m = Module(5);
    ASSERT_NE(m, nullptr);
    RunSetupDialog(m, [](Operator& op, HWND dlg) {
        op.check(dialog::Click(dlg, kChannel0 + 2), "channel 2");
        op.check(dialog::Type(dlg, kChannelName, "shared"), "typed, not yet stored");
        Same(op, CopyRequest(dlg, kCopyName), LRESULT(0), "1032");
        for (int c : {0, 1, 3, 4}) {
            op.check(dialog::Click(dlg, kChannel0 + c), "channel " + std::to_string(c));
            Same(op, dialog::Text(dlg, kChannelName), std::string("shared"), "copied into " + std::to_string(c));
        }
        op.check(dialog::Click(dlg, IDOK), "OK");
    });
    for (int c = 0; c < 5; ++c) EXPECT_EQ(Name(m, c), "shared") << c;
    for (int c = 5; c < 8; ++c) EXPECT_EQ(Name(m, c), DefaultName(c)) << "beyond the active channels: " << c;
}

// A copied name takes the whole 24-byte slot with it: a name of the full 20
// characters ends with its zero in byte 20, and bytes another version left after
// it in the other slots do not show through.
TEST_F(AnalogDialog, TheNameCopyCopiesWholeSlots) {
    ModuleRecord* m = Module(3);
    ASSERT_NE(m, nullptr);
    for (int c = 0; c < 8; ++c) memset(Bytes(m) + 24 * c + 20, 'X', 4);
    const std::string full = "ABCDEFGHIJKLMNOPQRST";
    RunSetupDialog(m, [&](Operator& op, HWND dlg) {
        op.check(dialog::Click(dlg, kChannel0 + 1), "channel 1");
        op.check(dialog::Type(dlg, kChannelName, full.c_str()), "a name of 20 characters");
        Same(op, CopyRequest(dlg, kCopyName), LRESULT(0), "1032");
        op.check(dialog::Click(dlg, IDOK), "OK");
    });
    const std::string slot1(reinterpret_cast<char*>(Bytes(m)) + 24, 24);
    EXPECT_EQ(slot1.substr(0, 21), full + std::string(1, '\0'));
    for (int c : {0, 2}) {
        EXPECT_EQ(Name(m, c), full) << c;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(Bytes(m)) + 24 * c, 24), slot1) << "slot " << c;
    }
    EXPECT_EQ(Name(m, 3), DefaultName(3)) << "beyond the active channels";
}

TEST_F(AnalogDialog, CopyIfActiveCopiesOnlyRightAfterTheChannelNameBoxHadTheFocus) {
    ModuleRecord* m = Module(3);
    ASSERT_NE(m, nullptr);
    std::vector<std::string> afterEach;
    RunSetupDialog(m, [&](Operator& op, HWND dlg) {
        // Reads the three names by selecting each channel, then selects channel 0 again.
        auto names = [&]() {
            std::string all;
            for (int c = 2; c >= 0; --c) {
                op.check(dialog::Click(dlg, kChannel0 + c), "select");
                all = dialog::Text(dlg, kChannelName) + (c == 2 ? "" : "|") + all;
            }
            return all;
        };
        Same(op, CopyRequest(dlg, kCopyIfNameActive), LRESULT(0), "at opening (last focus 0)");
        afterEach.push_back(names());

        // The focus was last in the module name box (given by the channel buttons).
        op.check(dialog::Click(dlg, kChannelName), "into the name box");
        op.check(dialog::Type(dlg, kChannelName, "boxed"), "type");
        CopyRequest(dlg, kCopyIfNameActive);
        afterEach.push_back(names());

        op.check(dialog::Click(dlg, kChannelName) && dialog::Type(dlg, kChannelName, "radio"), "type");
        op.check(dialog::Click(dlg, kRange5), "radio button");
        CopyRequest(dlg, kCopyIfNameActive);
        afterEach.push_back(names());

        op.check(dialog::Click(dlg, kChannelName) && dialog::Type(dlg, kChannelName, "button"), "type");
        op.check(dialog::Click(dlg, kChannel0), "the selected channel's button");
        CopyRequest(dlg, kCopyIfNameActive);
        afterEach.push_back(names());

        op.check(dialog::Click(dlg, kChannelName) && dialog::Type(dlg, kChannelName, "lessmore"), "type");
        op.check(dialog::Click(dlg, kMore) && dialog::Click(dlg, kLess), "more and less");
        CopyRequest(dlg, kCopyIfNameActive);
        afterEach.push_back(names());

        op.check(dialog::Click(dlg, kChannelName) && dialog::Type(dlg, kChannelName, "again"), "type");
        CopyRequest(dlg, kCopyIfNameActive);
        afterEach.push_back(names());
        op.check(dialog::Click(dlg, IDCANCEL), "Cancel");
    });
    const std::string d1 = DefaultName(1), d2 = DefaultName(2);
    EXPECT_EQ(afterEach, (std::vector<std::string>{
                             DefaultName(0) + "|" + d1 + "|" + d2,
                             "boxed|boxed|boxed",
                             "radio|boxed|boxed",   // stored, not copied
                             "button|boxed|boxed",  // stored, not copied
                             "lessmore|boxed|boxed",
                             "again|again|again",
                         }));
}

TEST_F(AnalogDialog, NamesAreStoredUpToTwentyBytesWithoutSplittingACharacter) {
    ModuleRecord* m = Module(3);
    ASSERT_NE(m, nullptr);
    const std::string twenty = "ABCDEFGHIJ0123456789";
    const std::string kanji11 = "日本語測定装置入力端子";    // 11 double-byte characters, 22 bytes
    const std::string mixed = "a" + kanji11;                  // 23 bytes: 20 would split the 10th character
    RunSetupDialog(m, [&](Operator& op, HWND dlg) {
        op.check(dialog::Type(dlg, kChannelName, (twenty + "XYZ").c_str()), "23 characters into 20");
        Same(op, dialog::Text(dlg, kChannelName), twenty, "the box takes 20 characters");
        op.check(dialog::Click(dlg, kChannel0 + 1) && dialog::Type(dlg, kChannelName, kanji11.c_str()), "kanji");
        op.check(dialog::Click(dlg, kChannel0 + 2) && dialog::Type(dlg, kChannelName, mixed.c_str()), "mixed");
        op.check(dialog::Click(dlg, IDOK), "OK");
    });
    EXPECT_EQ(Name(m, 0), twenty) << "twenty characters stored whole";
    EXPECT_EQ(Name(m, 1), kanji11.substr(0, 20)) << "ten whole characters";
    EXPECT_EQ(Name(m, 2), mixed.substr(0, 19)) << "cut before the character that does not fit";
    for (int c = 0; c < 3; ++c) {
        const std::string name = Name(m, c);
        size_t i = 0;
        while (i < name.size()) i += IsDBCSLeadByteEx(932, static_cast<BYTE>(name[i])) ? 2 : 1;
        EXPECT_EQ(i, name.size()) << "channel " << c << " ends in a lone lead byte";
    }
}

// The box's limit of 20 counts characters under Wine, so it shows all eleven kanji
// (22 bytes); an ANSI edit box on Windows may count bytes and show ten. The stored
// name is the same either way (the test above).
TEST_F(AnalogDialog, TheNameBoxLimitCountsCharacters) {
    VELK_SEEN_UNDER_WINE("edit-box-counts-characters");
    ModuleRecord* m = Module(3);
    ASSERT_NE(m, nullptr);
    const std::string kanji11 = "日本語測定装置入力端子";
    std::string shown;
    RunSetupDialog(m, [&](Operator& op, HWND dlg) {
        op.check(dialog::Type(dlg, kChannelName, kanji11.c_str()), "eleven kanji");
        shown = dialog::Text(dlg, kChannelName);
        op.check(dialog::Click(dlg, IDCANCEL), "Cancel");
    });
    EXPECT_EQ(shown, kanji11);
}

TEST_F(AnalogDialog, RangeAndBufferSizeReachTheAreaOnOk) {
    ModuleRecord* m = Module(1);
    ASSERT_NE(m, nullptr);
    RunSetupDialog(m, [](Operator& op, HWND dlg) {
        op.check(dialog::Click(dlg, kRange5), "±5 V");
        op.check(ChooseBufferSize(dlg, 4), "1M");
        Same(op, dialog::Text(dlg, kBufferSize), std::string("1M"), "shown");
        // A selection made without the list closing is not taken.
        SendDlgItemMessageA(dlg, kBufferSize, CB_SETCURSEL, 7, 0);
        op.check(dialog::Click(dlg, IDOK), "OK");
    });
    EXPECT_EQ(Word(m, 200), 1);
    EXPECT_EQ(Word(m, 248), 4);
    RunSetupDialog(m, [](Operator& op, HWND dlg) {
        Same(op, IsDlgButtonChecked(dlg, kRange5), static_cast<UINT>(BST_CHECKED), "±5 V shown");
        Same(op, dialog::Text(dlg, kBufferSize), std::string("1M"), "1M shown");
        op.check(dialog::Click(dlg, kRange10), "±10 V");
        op.check(ChooseBufferSize(dlg, 0), "64K");
        op.check(dialog::Click(dlg, IDOK), "OK");
    });
    EXPECT_EQ(Word(m, 200), 0);
    EXPECT_EQ(Word(m, 248), 0);
    // The settings take effect at the next start.
    host().setRunning(1);
    ASSERT_EQ(host().callClass(m, 106), 1);
    Tk17Mode mode;
    ASSERT_TRUE(Sim().GetMode(0, &mode));
    EXPECT_EQ(mode.driverBufferSize, 65536);
    EXPECT_EQ(host().callClass(m, 107), 1);
    host().setRunning(0);
}

TEST_F(AnalogDialog, DuringAnExperimentRangeAndBufferSizeAreLockedButNamesAreNot) {
    ModuleRecord* m = Module(3);
    ASSERT_NE(m, nullptr);
    host().setRunning(1);
    ASSERT_EQ(host().callClass(m, 106), 1);
    RunSetupDialog(m, [](Operator& op, HWND dlg) {
        for (int id : {kRange10, kRange5, kBufferSize})
            op.check(IsWindowEnabled(GetDlgItem(dlg, id)) == 0, "disabled while running: " + std::to_string(id));
        op.check(!velk::ui::clickButton(dlg, kRange5), "the ±5 V button cannot be clicked");
        op.check(dialog::Click(dlg, kChannel0 + 1) && dialog::Type(dlg, kChannelName, "live"), "name 1");
        op.check(dialog::Type(dlg, kModuleName, "running"), "module name");
        op.check(dialog::Click(dlg, IDOK), "OK");
    });
    EXPECT_EQ(Name(m, 1), "live");
    EXPECT_STREQ(m->moduleName, "running");
    EXPECT_EQ(Word(m, 200), 0);
    ASSERT_EQ(host().sizeChanges().size(), 1u);
    EXPECT_EQ(host().sizeChanges()[0].outputCount, 3u) << "the count cannot change during an experiment";
    EXPECT_EQ(host().callClass(m, 107), 1);
    host().setRunning(0);
}

// An experiment that starts while the dialog is open (Velk starts it from its own
// message handling, which the dialog's modal loop dispatches): OK keeps what the
// start wrote into bytes 204 to 243, and the buffer stays the one Stop frees.
TEST_F(AnalogDialog, OkKeepsTheFieldsOfAStartMadeWhileOpen) {
    ModuleRecord* m = Module(2);
    ASSERT_NE(m, nullptr);
    host().setBlockSize(10);
    UiThreadCall onUi;
    std::string started;
    RunSetupDialog(m, [&](Operator& op, HWND dlg) {
        op.check(dialog::Click(dlg, kRange5), "±5 V before the start");
        int32_t result = 0;
        op.check(onUi.run([&] {
            host().setRunning(1);
            result = host().callClass(m, 106);
            started = Area(m).substr(204, 40);
        }),
                 "start");
        Same(op, result, 1, "start");
        op.check(dialog::Type(dlg, kChannelName, "during"), "name");
        op.check(dialog::Click(dlg, IDOK), "OK");
    });
    ASSERT_EQ(started.size(), 40u);
    EXPECT_TRUE(Area(m).substr(204, 40) == started) << "mode, buffer and read size as the start left them";
    ASSERT_NE(Buffer(m), nullptr);
    EXPECT_TRUE(host().allocator().isLive(Buffer(m)));
    EXPECT_EQ(Word(m, 240), 2 * 10);
    EXPECT_EQ(Word(m, 200), 1) << "the range chosen before the start";
    EXPECT_EQ(Name(m, 0), "during");
    EXPECT_EQ(host().callClass(m, 107), 1);
    host().setRunning(0);
    EXPECT_EQ(host().allocator().liveCount("Vyttk17AD"), 0u) << "Stop freed the buffer of the start";
}

// An experiment that the driver stops while the dialog is open: the overflow
// notification reaches the extension through the modal loop, Velk stops the
// experiment, Stop frees the buffer. OK must not bring the freed pointer back.
TEST_F(AnalogDialog, OkAfterAStopWhileOpenLeavesNoFreedBuffer) {
    ModuleRecord* m = Module(1);
    ASSERT_NE(m, nullptr);
    host().setRunning(1);
    ASSERT_EQ(host().callClass(m, 106), 1);
    void* buffer = Buffer(m);
    ASSERT_NE(buffer, nullptr);
    const int32_t samplesPerRead = Word(m, 240);
    host().setStopHook([this, m] {
        host().callClass(m, 107);
        host().setRunning(0);
    });
    RunSetupDialog(m, [&](Operator& op, HWND dlg) {
        op.check(Sim().TriggerOverflow(0) != 0, "overflow");
        velk::ui::settle(dlg);
        op.check(host().log().stopRequested(), "the experiment was stopped");
        op.check(dialog::Type(dlg, kChannelName, "after stop"), "name");
        op.check(dialog::Click(dlg, IDOK), "OK");
    });
    host().setStopHook(nullptr);
    EXPECT_FALSE(host().allocator().isLive(buffer));
    EXPECT_EQ(Buffer(m), nullptr) << "the pointer Stop cleared stays cleared";
    EXPECT_EQ(Word(m, 240), samplesPerRead);
    EXPECT_EQ(Name(m, 0), "after stop");
    EXPECT_EQ(host().callClass(m, 107), 1) << "a later stop frees nothing twice";
    EXPECT_TRUE(host().allocator().errors().empty());
}

TEST_F(AnalogDialog, NoMemoryForTheWorkingCopyEndsTheDialogSilently) {
    ModuleRecord* m = Module(2);
    ASSERT_NE(m, nullptr);
    const std::string before = Area(m);
    host().allocator().failNext("Tk17CtlDlg", 80);
    const int32_t result = RunSetupExpectingNoDialog(m, kAnalogDialogTitle);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(host().allocator().failedAllocations(), 1u);
    EXPECT_TRUE(host().log().warnings().empty());
    EXPECT_TRUE(Area(m) == before);
    EXPECT_TRUE(host().sizeChanges().empty());
    // The next opening works again.
    RunSetupDialog(m, [](Operator& op, HWND dlg) { op.check(dialog::Click(dlg, IDCANCEL), "Cancel"); });
}

}  // namespace
}  // namespace exttest
