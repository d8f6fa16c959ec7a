// The digital input and output setup dialogs operated with real input. Both run
// the same checks; what differs is the side of the module the channels are on, the
// source tag and lines of the working copy, and the output buffer reference that
// the output dialog must leave as the experiment left it.
#include "tests/extension/fixture.h"

namespace exttest {
namespace {

using dialog::Same;
using velk::ui::Operator;

constexpr int kSocket = 1045;

struct Form {
    const char* classId;
    const char* title;
    const char* tag;
    int lineAllocate, lineFreeAtOk, lineFreeAtCancel;
    bool inputs;  // the channels are the module's inputs
    size_t areaSize;
};

const Form kIn = {kDigitalIn, "VYT-TK17 デジタル入力", "Tk17CtlDlgDIN", 72, 203, 213, false, 104};
const Form kOut = {kDigitalOut, "VYT-TK17 デジタル出力", "Tk17CtlDlgDOUT", 71, 202, 212, true, 100 + sizeof(void*)};

void PrintTo(const Form& form, std::ostream* out) { *out << form.classId; }

class DigitalDialog : public ExtensionTest, public ::testing::WithParamInterface<Form> {
protected:
    const Form& F() const { return GetParam(); }
    // A module with `channels` channels on its side and one on the other, which the
    // dialog must not take for its count.
    ModuleRecord* Module(uint32_t channels, const char* config = kOneVirtualCard) {
        if (StartHost(config) != 1) return nullptr;
        velk::NewModule how;
        how.inputCount = F().inputs ? channels : 1;
        how.outputCount = F().inputs ? 1 : channels;
        how.name = "D module";
        how.comment = "digital lines";
        return CreateOnLine(F().classId, 0, how);
    }
    uint32_t Count(ModuleRecord* m) const { return F().inputs ? m->inputCount : m->outputCount; }
    static unsigned char* Bytes(ModuleRecord* m) { return static_cast<unsigned char*>(m->privateData); }
    std::string Area(ModuleRecord* m) const { return std::string(reinterpret_cast<char*>(Bytes(m)), F().areaSize); }
    static std::string Name(ModuleRecord* m, int channel) {
        const char* slot = reinterpret_cast<const char*>(Bytes(m)) + 24 * channel;
        return std::string(slot, strnlen(slot, 24));
    }
    int32_t Dialog(ModuleRecord* m, DialogScript script) { return RunSetupDialog(m, std::move(script), F().title); }
    std::vector<std::string> WorkingCopyLog() { return AllocationLog(F().tag); }
    std::string Entry(int line) const { return std::to_string(line) + " " + std::to_string(F().areaSize); }
};

TEST_P(DigitalDialog, OpensWithTheModulesSettingsAndItsChannelCount) {
    ModuleRecord* m = Module(3);
    ASSERT_NE(m, nullptr);
    Dialog(m, [](Operator& op, HWND dlg) {
        Same(op, velk::ui::windowText(dlg), std::string(GetParam().title), "title");
        Same(op, dialog::Text(dlg, kModuleName), std::string("D module"), "module name");
        Same(op, dialog::Text(dlg, kModuleComment), std::string("digital lines"), "description");
        Same(op, dialog::Text(dlg, kChannelName), DefaultName(0), "channel 0's name");
        Same(op, dialog::Text(dlg, kSelectedNumber), std::string("0"), "selected number");
        Same(op, dialog::Text(dlg, kSocket), std::string("0"), "socket");
        const uint16_t states[4] = {1, 2, 2, 3};
        for (int i = 0; i < 16; ++i) {
            HWND button = GetDlgItem(dlg, kChannel0 + i);
            Same(op, dialog::State(dlg, kChannel0 + i), i < 4 ? states[i] : uint16_t(0), "button " + std::to_string(i));
            Same(op, IsWindowVisible(button) != 0, i < 4, "button shown " + std::to_string(i));
        }
        Same(op, dialog::State(dlg, kLess), uint16_t(1), "less enabled");
        Same(op, dialog::State(dlg, kMore), uint16_t(4), "more enabled");
        op.check(dialog::Focus(dlg) == GetDlgItem(dlg, kModuleName), "focus on the module name");
        op.check(dialog::Click(dlg, IDCANCEL), "Cancel");
    });
}

TEST_P(DigitalDialog, TheSocketFieldShowsTheCardsSocket) {
    ModuleRecord* m = Module(1, "[card 2]\nio_address = 0x340\nclock = virtual\n");
    ASSERT_NE(m, nullptr);
    std::string shown;
    Dialog(m, [&](Operator& op, HWND dlg) {
        shown = dialog::Text(dlg, kSocket);
        op.check(dialog::Click(dlg, IDCANCEL), "Cancel");
    });
    EXPECT_EQ(shown, "2");
}

TEST_P(DigitalDialog, CancelLeavesEverythingAsItWas) {
    ModuleRecord* m = Module(2);
    ASSERT_NE(m, nullptr);
    const std::string before = Area(m);
    const int32_t result = Dialog(m, [](Operator& op, HWND dlg) {
        op.check(dialog::Type(dlg, kChannelName, "renamed"), "name 0");
        op.check(dialog::Click(dlg, kMore) && dialog::Click(dlg, kMore), "two more");
        op.check(dialog::Click(dlg, kChannel0 + 3) && dialog::Type(dlg, kChannelName, "three"), "name 3");
        op.check(SendMessageA(dlg, kCopyName, 0, 0) == 0, "copy to all");
        op.check(dialog::Type(dlg, kModuleName, "other") && dialog::Type(dlg, kModuleComment, "else"), "texts");
        op.check(dialog::Click(dlg, IDCANCEL), "Cancel");
    });
    EXPECT_EQ(result, 1) << "the class answers 1 whatever the dialog gives";
    EXPECT_TRUE(Area(m) == before);
    EXPECT_STREQ(m->moduleName, "D module");
    EXPECT_STREQ(m->moduleComment, "digital lines");
    EXPECT_EQ(Count(m), 2u);
    EXPECT_TRUE(host().sizeChanges().empty());
    EXPECT_EQ(WorkingCopyLog(),
              (std::vector<std::string>{"Alloc " + Entry(F().lineAllocate), "Free " + Entry(F().lineFreeAtCancel)}));
}

TEST_P(DigitalDialog, OkFromFourToTwoKeepsTheNamesOfTheChannelsLeftOut) {
    ModuleRecord* m = Module(4);
    ASSERT_NE(m, nullptr);
    const int32_t result = Dialog(m, [](Operator& op, HWND dlg) {
        for (int c = 0; c < 4; ++c) {
            const std::string name = "line " + std::to_string(c);
            op.check(dialog::Click(dlg, kChannel0 + c) && dialog::Type(dlg, kChannelName, name.c_str()), name);
        }
        Same(op, dialog::State(dlg, kMore), uint16_t(3), "more disabled at four");
        op.check(dialog::Click(dlg, kLess) && dialog::Click(dlg, kLess), "two less");
        Same(op, dialog::Text(dlg, kSelectedNumber), std::string("1"), "selection moved to the last channel");
        op.check(dialog::Type(dlg, kModuleName, "ABCDEFGHIJKLMNOP"), "module name beyond 12");
        op.check(dialog::Click(dlg, IDOK), "Ok");
    });
    EXPECT_EQ(result, 1);
    ASSERT_EQ(host().sizeChanges().size(), 1u);
    EXPECT_EQ(host().sizeChanges()[0].inputCount, F().inputs ? 2u : 0u);
    EXPECT_EQ(host().sizeChanges()[0].outputCount, F().inputs ? 0u : 2u);
    EXPECT_EQ(Count(m), 2u);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(Name(m, c), "line " + std::to_string(c));
    EXPECT_STREQ(m->moduleName, "ABCDEFGHIJKL");
    EXPECT_EQ(WorkingCopyLog(),
              (std::vector<std::string>{"Alloc " + Entry(F().lineAllocate), "Free " + Entry(F().lineFreeAtOk)}));
}

TEST_P(DigitalDialog, ATypedNameSurvivesAChannelSwitchAndTheSelectedButtonOnlyMovesTheFocus) {
    ModuleRecord* m = Module(3);
    ASSERT_NE(m, nullptr);
    Dialog(m, [](Operator& op, HWND dlg) {
        op.check(dialog::Click(dlg, kChannelName) && dialog::Type(dlg, kChannelName, "typed"), "name 0");
        op.check(dialog::Click(dlg, kChannel0), "the selected channel's button");
        Same(op, dialog::Text(dlg, kSelectedNumber), std::string("0"), "still channel 0");
        Same(op, dialog::Text(dlg, kChannelName), std::string("typed"), "the box keeps the text");
        op.check(dialog::Focus(dlg) == GetDlgItem(dlg, kModuleName), "focus on the module name");
        op.check(dialog::Click(dlg, kChannel0 + 3), "an inactive channel");
        Same(op, dialog::Text(dlg, kSelectedNumber), std::string("0"), "inactive channels are not selected");
        op.check(dialog::Click(dlg, kChannel0 + 2), "channel 2");
        Same(op, dialog::Text(dlg, kChannelName), DefaultName(2), "channel 2's name");
        op.check(dialog::Click(dlg, kChannel0), "channel 0 again");
        Same(op, dialog::Text(dlg, kChannelName), std::string("typed"), "stored before the switch");
        op.check(dialog::Click(dlg, IDCANCEL), "Cancel");
    });
}

TEST_P(DigitalDialog, CopyRequestsFillTheOtherActiveChannels) {
    ModuleRecord* m = Module(3);
    ASSERT_NE(m, nullptr);
    Dialog(m, [](Operator& op, HWND dlg) {
        op.check(dialog::Click(dlg, kChannel0 + 1) && dialog::Type(dlg, kChannelName, "Name1"), "name 1");
        // The focus was last in the module name and description boxes: 1031 copies nothing.
        op.check(dialog::Click(dlg, kModuleName) && dialog::Click(dlg, kModuleComment), "focus to the texts");
        Same(op, SendMessageA(dlg, kCopyIfNameActive, 0, 0), LRESULT(0), "1031");
        op.check(dialog::Click(dlg, kChannel0), "channel 0");
        Same(op, dialog::Text(dlg, kChannelName), DefaultName(0), "nothing copied");
        op.check(dialog::Click(dlg, kChannel0 + 1), "channel 1");
        Same(op, dialog::Text(dlg, kChannelName), std::string("Name1"), "but the name was stored");
        Same(op, SendMessageA(dlg, kCopyName, 0, 0), LRESULT(0), "1032");
        op.check(dialog::Click(dlg, IDOK), "Ok");
    });
    EXPECT_EQ(Name(m, 0), "Name1");
    EXPECT_EQ(Name(m, 1), "Name1");
    EXPECT_EQ(Name(m, 2), "Name1");
    EXPECT_EQ(Name(m, 3), DefaultName(3)) << "beyond the active channels";

    Dialog(m, [](Operator& op, HWND dlg) {
        op.check(dialog::Click(dlg, kChannelName) && dialog::Type(dlg, kChannelName, "Boxed"), "typed in the box");
        SendMessageA(dlg, kCopyIfNameActive, 0, 0);
        op.check(dialog::Click(dlg, IDOK), "Ok");
    });
    EXPECT_EQ(Name(m, 2), "Boxed") << "1031 right after the name box had the focus";
}

TEST_P(DigitalDialog, TheVersionButtonShowsTheAboutBoxOverTheDialog) {
    ModuleRecord* m = Module(1);
    ASSERT_NE(m, nullptr);
    Dialog(m, [](Operator& op, HWND dlg) {
        op.check(velk::ui::clickButton(dlg, 1006), "version button");
        HWND about = op.waitFor(kAboutTitle);
        if (!about) return;
        op.check(GetWindow(about, GW_OWNER) == dlg, "owned by the setup dialog");
        op.check(velk::ui::clickButton(about, IDOK), "OK");
        velk::ui::settle(dlg);
        op.check(!IsWindow(about) && IsWindow(dlg), "back in the setup dialog");
        op.check(dialog::Click(dlg, IDCANCEL), "Cancel");
    });
}

TEST_P(DigitalDialog, NoMemoryForTheWorkingCopyEndsTheDialogSilently) {
    ModuleRecord* m = Module(2);
    ASSERT_NE(m, nullptr);
    const std::string before = Area(m);
    host().allocator().failNext(F().tag, F().lineAllocate);
    const int32_t result = RunSetupExpectingNoDialog(m, GetParam().title);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(host().allocator().failedAllocations(), 1u);
    EXPECT_TRUE(host().log().warnings().empty());
    EXPECT_TRUE(Area(m) == before);
    EXPECT_TRUE(host().sizeChanges().empty());
}

INSTANTIATE_TEST_SUITE_P(Both, DigitalDialog, ::testing::Values(kIn, kOut),
                         [](const ::testing::TestParamInfo<Form>& info) { return info.param.inputs ? "Out" : "In"; });

// ---- the output buffer reference of a digital output module

class DigitalOutDialog : public ExtensionTest {
protected:
    static void* Buffer(ModuleRecord* m) {
        void* p;
        memcpy(&p, static_cast<unsigned char*>(m->privateData) + 100, sizeof p);
        return p;
    }
};

// Velk starts an experiment from its own message handling while the dialog is
// open: Ok keeps the buffer the start allocated, and the stop frees it.
TEST_F(DigitalOutDialog, OkKeepsTheBufferOfAStartMadeWhileOpen) {
    ASSERT_EQ(StartHost(), 1);
    host().setBlockSize(8);
    ModuleRecord* m = CreateOnLine(kDigitalOut);
    ASSERT_NE(m, nullptr);
    UiThreadCall onUi;
    RunSetupDialog(
        m,
        [&](Operator& op, HWND dlg) {
            int32_t started = 0;
            op.check(onUi.run([&] {
                host().setRunning(1);
                started = host().callClass(m, 106);
            }),
                     "start");
            Same(op, started, 1, "start");
            op.check(dialog::Type(dlg, kChannelName, "during"), "name");
            op.check(dialog::Click(dlg, IDOK), "Ok");
        },
        kOut.title);
    ASSERT_NE(Buffer(m), nullptr) << "the reference the start stored is kept";
    EXPECT_TRUE(host().allocator().isLive(Buffer(m)));
    EXPECT_EQ(std::string(static_cast<char*>(m->privateData)), "during");
    EXPECT_EQ(host().callClass(m, 107), 1);
    host().setRunning(0);
    EXPECT_EQ(host().allocator().liveCount("Vyttk17DOUT"), 0u) << "the stop freed the buffer of the start";
}

TEST_F(DigitalOutDialog, OkAfterAStopWhileOpenLeavesNoFreedBuffer) {
    ASSERT_EQ(StartHost(), 1);
    host().setBlockSize(8);
    ModuleRecord* m = CreateOnLine(kDigitalOut);
    ASSERT_NE(m, nullptr);
    host().setRunning(1);
    ASSERT_EQ(host().callClass(m, 106), 1);
    void* buffer = Buffer(m);
    ASSERT_NE(buffer, nullptr);
    UiThreadCall onUi;
    RunSetupDialog(
        m,
        [&](Operator& op, HWND dlg) {
            op.check(onUi.run([&] {
                host().callClass(m, 107);
                host().setRunning(0);
            }),
                     "stop");
            op.check(dialog::Click(dlg, IDOK), "Ok");
        },
        kOut.title);
    EXPECT_FALSE(host().allocator().isLive(buffer));
    EXPECT_EQ(Buffer(m), nullptr) << "the reference the stop cleared stays cleared";
    EXPECT_EQ(host().callClass(m, 107), 1) << "a later stop frees nothing twice";
    EXPECT_TRUE(host().allocator().errors().empty());
}

}  // namespace
}  // namespace exttest
