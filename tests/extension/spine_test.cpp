// Set-up and shutdown against the Velk stand-in: the look-ups in order, the
// required and optional names, the linked variables, the menu, the three class
// records and the dispatch of class-callback codes.
#include "tests/extension/fixture.h"
#include "tests/support/known_difference.h"
#include "tests/support/temp_folder.h"

#include "abi/velk_names.h"

namespace exttest {
namespace {

const char* const kFormatSettings[] = {"bDateDayLeadingZero", "bDateMonthLeadingZero", "bDateYearLong", "wDateFormat",
                                       "bTime24h", "bTimeLeadingZero", "bDecLeadingZero"};

class Spine : public ExtensionTest {};

TEST_F(Spine, LooksUpEveryNameInOrderThenLinksTheSevenVariables) {
    ASSERT_EQ(StartHost(), 1);
    const std::vector<velk::Lookup>& lookups = host().lookups();
    ASSERT_EQ(lookups.size(), 161u);
#define VELK_EXPECT_NAME(name, required) expected.push_back(name);
    std::vector<std::string> expected;
    VELK_VARIABLE_NAMES(VELK_EXPECT_NAME)
    VELK_FUNCTION_NAMES(VELK_EXPECT_NAME)
#undef VELK_EXPECT_NAME
    for (size_t i = 0; i < lookups.size(); ++i) {
        EXPECT_EQ(lookups[i].name, expected[i]) << i;
        EXPECT_EQ(lookups[i].kind, i < 59 ? velk::LookupKind::Variable : velk::LookupKind::Function) << i;
    }
    // Fixed points of the published order.
    EXPECT_EQ(lookups[0].name, "hInstVelk");
    EXPECT_EQ(lookups[9].name, "&CurrentModulePtr");
    EXPECT_EQ(lookups[29].name, "hBitChannel");
    EXPECT_EQ(lookups[58].name, "&nWindowOrder");
    EXPECT_EQ(lookups[59].name, "NewMemAlloc");
    EXPECT_EQ(lookups[81].name, "ShowWarning");
    EXPECT_EQ(lookups[160].name, "TimeBaseDialog");

    EXPECT_EQ(host().defineModuleCalls(), 1);
    const std::vector<velk::VariableLink>& links = host().variableLinks();
    const std::pair<const char*, uint32_t> kLinks[] = {
        {"fGlobalMilliSecondsPerSample", 8}, {"uiGlobalBlockSize", 4}, {"bAnimation", 4}, {"bExperimentIsRunning", 4},
        {"bExperimentIsPaused", 4},          {"dwExperimentStartTimeTicks", 4}, {"BBoxModul", 4}};
    ASSERT_EQ(links.size(), 7u);
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(links[i].name, kLinks[i].first);
        EXPECT_EQ(links[i].size, kLinks[i].second);
        EXPECT_TRUE(links[i].accepted);
    }
    // Module, then the linked variables, then the card layer and the classes.
    EXPECT_LT(EventIndex("DefineDllModule"), EventIndex("DefineDllVariable|fGlobalMilliSecondsPerSample"));
    EXPECT_LT(EventIndex("DefineDllVariable|BBoxModul"), EventIndex("RegisterMenuEntry"));
}

TEST_F(Spine, ZeroForTheLastFunctionFailsBeforeAnyRegistration) {
    velk::HostOptions options;
    options.zeroNames = {"TimeBaseDialog"};
    ASSERT_EQ(StartHost(kOneVirtualCard, options), 0);
    EXPECT_EQ(host().lookups().size(), 161u);
    EXPECT_EQ(host().defineModuleCalls(), 0);
    EXPECT_TRUE(host().variableLinks().empty());
    EXPECT_TRUE(host().classes().empty());
    EXPECT_EQ(GetMenuItemCount(host().mainMenu()), 5);
    EXPECT_EQ(GetModuleHandleA("vyttk17.dll"), nullptr) << "no driver is loaded before the binding completes";
    // Shutdown after a failed set-up undoes nothing it did not do, and still answers 1.
    EXPECT_EQ(host().finishExtension(), 1);
}

TEST_F(Spine, ZeroForARequiredVariableStopsTheLookUpsThere) {
    velk::HostOptions options;
    options.zeroNames = {"DefDataDir"};
    ASSERT_EQ(StartHost(kOneVirtualCard, options), 0);
    ASSERT_FALSE(host().lookups().empty());
    EXPECT_EQ(host().lookups().back().name, "DefDataDir");
    EXPECT_EQ(host().lookups().size(), 44u);
}

TEST_F(Spine, ZeroForTheSevenFormatSettingsStillCompletes) {
    velk::HostOptions options;
    for (const char* name : kFormatSettings) options.zeroNames.insert(name);
    ASSERT_EQ(StartHost(kOneVirtualCard, options), 1);
    EXPECT_EQ(host().classes().size(), 3u);
    int zeros = 0;
    for (const velk::Lookup& l : host().lookups()) zeros += l.answer == 0;
    EXPECT_EQ(zeros, 7);
}

TEST_F(Spine, ARefusedLastLinkFailsSetUp) {
    velk::HostOptions options;
    options.refusedLinks = {"BBoxModul"};
    ASSERT_EQ(StartHost(kOneVirtualCard, options), 0);
    ASSERT_EQ(host().variableLinks().size(), 7u);
    EXPECT_FALSE(host().variableLinks().back().accepted);
    EXPECT_TRUE(host().classes().empty());
    EXPECT_EQ(GetMenuItemCount(host().mainMenu()), 5);
    EXPECT_EQ(host().finishExtension(), 1);
}

TEST_F(Spine, WithoutTheDriverLibraryNoMenuAndNoClasses) {
    const std::string empty = velktest::NewTempFolder("velk-no-driver");
    velk::HostOptions options;
    options.driverDir = empty;
    ASSERT_EQ(StartHost(kOneVirtualCard, options), 1);
    EXPECT_TRUE(host().classes().empty());
    EXPECT_TRUE(host().menuEntries().empty());
    EXPECT_EQ(GetMenuItemCount(host().mainMenu()), 5);
    // The control classes are registered all the same.
    WNDCLASSA info;
    EXPECT_TRUE(GetClassInfoA(host().extensionModule(), "ZUL:CONTROLKANAL", &info));
    EXPECT_TRUE(GetClassInfoA(host().extensionModule(), "ZUL:CONTROLLESSMORE", &info));
    EXPECT_EQ(host().finishExtension(), 1);
    EXPECT_FALSE(GetClassInfoA(host().extensionModule(), "ZUL:CONTROLKANAL", &info));
}

TEST_F(Spine, MenuPopupAtPositionThreeWithTheThreeClassCommands) {
    ASSERT_EQ(StartHost(), 1);
    HMENU bar = host().mainMenu();
    ASSERT_EQ(GetMenuItemCount(bar), 6);
    char text[64];
    GetMenuStringA(bar, 3, text, sizeof(text), MF_BYPOSITION);
    EXPECT_STREQ(text, "KALMO(&A)");
    HMENU popup = GetSubMenu(bar, 3);
    ASSERT_NE(popup, nullptr);
    ASSERT_EQ(GetMenuItemCount(popup), 3);
    const std::pair<UINT, const char*> kItems[] = {
        {2951, "VYT-TK17 &AD"}, {2952, "VYT-TK17 D-&In"}, {2953, "VYT-TK17 D-&Out"}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(GetMenuItemID(popup, i), kItems[i].first);
        GetMenuStringA(popup, i, text, sizeof(text), MF_BYPOSITION);
        EXPECT_STREQ(text, kItems[i].second);
    }
    ASSERT_EQ(host().menuEntries().size(), 1u);
    EXPECT_EQ(host().menuEntries()[0].entry, 4990u);
}

TEST_F(Spine, MenuEntry4990ShowsTheSetupMessageBox) {
    VELK_SEEN_UNDER_WINE("message-box-text-control");
    ASSERT_EQ(StartHost(), 1);
    std::string boxText;
    {
        velk::ui::Operator op([&] {
            HWND box = velk::ui::waitForWindow("Setup", 10000);
            if (box == nullptr) return;
            boxText = ItemText(box, 0xFFFF);
            velk::ui::clickButton(box, IDOK);
        });
        EXPECT_EQ(host().chooseMenuEntry(4990), IDOK);
    }
    EXPECT_EQ(boxText, "Do here some setup functions!");
    EXPECT_TRUE(host().log().warnings().empty());
}

TEST_F(Spine, ClassRecordsWordByWord) {
    ASSERT_EQ(StartHost(), 1);
    const std::vector<velk::RegisteredClass>& classes = host().classes();
    ASSERT_EQ(classes.size(), 3u);
    struct Expected {
        const char* id;
        uint32_t privateSize, channelSize, command;
        const char* shortName;
        const char* longName;
    } const kExpected[] = {
        {kAnalog, 256, 12, 2951, "TK17A/D", "VYT-TK17 In"},
        {kDigitalIn, 104, 12, 2952, "TK17DIN", "VYT-TK17 DIN"},
        {kDigitalOut, 100 + sizeof(void*), 0, 2953, "TK17DOUT", "VYT-TK17 DOUT"},
    };
    for (int i = 0; i < 3; ++i) {
        const ClassRegistration& r = classes[i].record;
        SCOPED_TRACE(kExpected[i].id);
        EXPECT_EQ(r.instance, host().extensionModule());
        EXPECT_EQ(classes[i].classId(), kExpected[i].id);
        EXPECT_EQ(r.privateDataSize, kExpected[i].privateSize);
        EXPECT_EQ(r.reserved12, 0u);
        EXPECT_EQ(r.channelDataSize, kExpected[i].channelSize);
        EXPECT_EQ(r.menuCommand, kExpected[i].command);
        EXPECT_EQ(classes[i].shortName(), kExpected[i].shortName);
        EXPECT_EQ(classes[i].longName(), kExpected[i].longName);
        // The name texts stay valid after registration: Velk keeps their addresses.
        EXPECT_STREQ(r.shortName, kExpected[i].shortName);
        EXPECT_STREQ(r.longName, kExpected[i].longName);
        for (uint32_t word : r.reserved32) EXPECT_EQ(word, 0u);
        for (uint32_t word : r.reserved60) EXPECT_EQ(word, 0u);
        BITMAP small, large;
        ASSERT_NE(GetObjectA(r.smallBitmap, sizeof(small), &small), 0);
        ASSERT_NE(GetObjectA(r.largeBitmap, sizeof(large), &large), 0);
        EXPECT_EQ(small.bmWidth, 26);
        EXPECT_EQ(small.bmHeight, 24);
        EXPECT_EQ(large.bmWidth, 64);
        EXPECT_EQ(large.bmHeight, 46);
        EXPECT_NE(r.classCallback, nullptr);
        EXPECT_NE(r.processingRoutine, nullptr);
    }
    EXPECT_LT(EventIndex("RegisterMenuEntry"), EventIndex("RegisterModuleClass|KA:MMTK17"));
}

TEST_F(Spine, ExportsAnswerOneWhateverTheArgument) {
    ASSERT_EQ(StartHost(), 1);
    EXPECT_EQ(host().callWep(0), 1);
    EXPECT_EQ(host().callWep(-77), 1);
    EXPECT_EQ(host().finishExtension(), 1);
}

class Dispatch : public ExtensionTest {};

TEST_F(Dispatch, UnhandledCodesReachTheDefaultHandlerUnchanged) {
    velk::HostOptions options;
    options.defaultActionResult = 4242;
    ASSERT_EQ(StartHost(kOneVirtualCard, options), 1);
    for (const char* id : {kAnalog, kDigitalIn, kDigitalOut}) {
        SCOPED_TRACE(id);
        ModuleRecord* m = CreateOnLine(id);
        ASSERT_NE(m, nullptr);
        for (uint32_t code : {0u, 2u, 108u, 202u}) {
            size_t before = host().defaultActions().size();
            EXPECT_EQ(host().callClass(m, code, -5, 77), 4242) << code;
            ASSERT_EQ(host().defaultActions().size(), before + 1);
            const velk::DefaultActionCall& call = host().defaultActions().back();
            EXPECT_EQ(call.module, m);
            EXPECT_EQ(call.code, code);
            EXPECT_EQ(call.value1, -5);
            EXPECT_EQ(call.value2, 77);
        }
        size_t before = host().defaultActions().size();
        EXPECT_EQ(host().callClass(m, 1), 1);
        EXPECT_EQ(host().callClass(m, 104), 1);
        EXPECT_EQ(host().defaultActions().size(), before);
        const bool digitalOut = strcmp(id, kDigitalOut) == 0;
        EXPECT_EQ(host().callClass(m, 201, 3, 4), digitalOut ? 4242 : 1);
        EXPECT_EQ(host().defaultActions().size(), before + (digitalOut ? 1 : 0));
        EXPECT_TRUE(host().removeModule(m));
    }
}

TEST_F(Dispatch, CreationDefaultsOfTheAnalogClass) {
    ASSERT_EQ(StartHost(), 1);
    ModuleRecord* m = CreateOnLine(kAnalog);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->inputCount, 0u);
    EXPECT_EQ(m->outputCount, 1u);
    const unsigned char* area = static_cast<const unsigned char*>(m->privateData);
    for (int i = 0; i < 8; ++i) {
        char expected[24];
        snprintf(expected, sizeof(expected), "ﾁｬﾝﾈﾙ %d", i);
        EXPECT_STREQ(reinterpret_cast<const char*>(area + 24 * i), expected);
        EXPECT_EQ(m->channelData[i]->animationPhase, 0);
    }
    const unsigned char kChannel0[] = {0xC1, 0xAC, 0xDD, 0xC8, 0xD9, ' ', '0', 0};
    EXPECT_EQ(memcmp(area, kChannel0, sizeof(kChannel0)), 0);
    auto word = [&](int offset) {
        int32_t v;
        memcpy(&v, area + offset, 4);
        return v;
    };
    EXPECT_EQ(area[192] | area[193] << 8, 0);  // socket
    EXPECT_EQ(word(200), 0);                   // range
    EXPECT_EQ(word(216), 0);
    EXPECT_EQ(word(220), 1);
    EXPECT_EQ(word(224), 0);
    EXPECT_EQ(word(240), 0);
    EXPECT_EQ(word(248), 2);  // bufferSizeIndex "256K"
    void* buffer;
    memcpy(&buffer, area + 232, sizeof(buffer));
    EXPECT_EQ(buffer, nullptr);
    EXPECT_TRUE(host().removeModule(m));
}

TEST_F(Dispatch, CreationKeepsChannelCountsThatArriveSet) {
    ASSERT_EQ(StartHost(), 1);
    velk::NewModule three;
    three.outputCount = 3;
    ModuleRecord* analog = CreateOnLine(kAnalog, 0, three);
    ASSERT_NE(analog, nullptr);
    EXPECT_EQ(analog->outputCount, 3u);
    ModuleRecord* out = CreateOnLine(kDigitalOut);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->inputCount, 1u);
    EXPECT_EQ(out->outputCount, 0u);
    velk::NewModule twoIn;
    twoIn.inputCount = 2;
    ModuleRecord* in = CreateOnLine(kDigitalIn, 0, twoIn);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->inputCount, 2u) << "counts that arrive set are not touched";
    EXPECT_EQ(in->outputCount, 0u);
}

}  // namespace
}  // namespace exttest
