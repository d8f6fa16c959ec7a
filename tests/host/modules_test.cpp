// Module instances: what Velk allocates and sets before the create code, the
// class protocol codes it sends, and what the extension may change through
// ChangeModuleSize and PerformDefaultAction.
#include "host_test_support.h"

#include <algorithm>
#include <set>

using hosttest::TestClass;
using velk::Host;

namespace {

// Velk gives a module's private data area and channel state records uncleared: the
// host fills them with 0xCB, so a class that relies on zeros it did not write fails.
bool allUncleared(const void* p, size_t n) {
    auto* b = static_cast<const unsigned char*>(p);
    return std::all_of(b, b + n, [](unsigned char c) { return c == 0xCB; });
}

}  // namespace

TEST_F(HostTest, CreateAllocatesTheRecordAndItsAreasBeforeTheCreateCode) {
    Host host(hosttest::quietOptions());
    TestClass::registerWith(host);
    ModuleRecord* m = host.createModule("TEST:SRC");
    ASSERT_NE(m, nullptr);
    auto& calls = TestClass::get().calls;
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].module, m);
    EXPECT_EQ(calls[0].code, VELK_CODE_CREATE);
    EXPECT_EQ(calls[0].value1, 0);
    EXPECT_EQ(calls[0].value2, 0);
    EXPECT_EQ(calls[0].currentAtCall, m);  // the module being created is Velk's current one

    EXPECT_EQ(m->ownerWindow, host.mainWindow());
    EXPECT_EQ(m->inputCount, 0u);
    EXPECT_EQ(m->outputCount, 0u);
    EXPECT_EQ(m->moduleName[0], 0);
    EXPECT_EQ(m->outputGate, 1);
    ASSERT_NE(m->privateData, nullptr);
    EXPECT_TRUE(allUncleared(m->privateData, TestClass::kPrivateSize));
    std::set<const void*> distinct;
    for (int i = 0; i < 16; ++i) {
        ASSERT_NE(m->channelData[i], nullptr) << i;
        EXPECT_TRUE(allUncleared(m->channelData[i], TestClass::kChannelSize)) << i;
        ASSERT_NE(m->outputChannels[i], nullptr) << i;
        EXPECT_EQ(m->outputChannels[i]->outputMark, 0) << i;
        distinct.insert(m->channelData[i]);
        distinct.insert(m->outputChannels[i]);
    }
    EXPECT_EQ(distinct.size(), 32u);
    // Channel state records do not overlap.
    std::vector<const unsigned char*> cs;
    for (int i = 0; i < 16; ++i) cs.push_back(reinterpret_cast<const unsigned char*>(m->channelData[i]));
    std::sort(cs.begin(), cs.end());
    for (int i = 1; i < 16; ++i) EXPECT_GE(cs[i] - cs[i - 1], ptrdiff_t(TestClass::kChannelSize));

    auto* count = reinterpret_cast<uint16_t*>(host.lookUp(velk::LookupKind::Variable, "&wNumberOfModules"));
    EXPECT_EQ(*count, 1);
    EXPECT_TRUE(host.isModule(m));
    EXPECT_EQ(host.classOf(m)->classId(), "TEST:SRC");
}

TEST_F(HostTest, ClassWithoutChannelStateGetsNoChannelRecords) {
    Host host(hosttest::quietOptions());
    TestClass::registerWith(host, "TEST:SINK", 0, 104);
    ModuleRecord* m = host.createModule("TEST:SINK");
    ASSERT_NE(m, nullptr);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(m->channelData[i], nullptr) << i;
    EXPECT_NE(m->privateData, nullptr);
}

TEST_F(HostTest, RefusedCreateLeavesNoModule) {
    Host host(hosttest::quietOptions());
    TestClass::registerWith(host);
    TestClass::get().createResult = 0;
    EXPECT_EQ(host.createModule("TEST:SRC"), nullptr);
    EXPECT_TRUE(host.modules().empty());
    EXPECT_EQ(host.currentModule(), nullptr);
    auto* count = reinterpret_cast<uint16_t*>(host.lookUp(velk::LookupKind::Variable, "&wNumberOfModules"));
    EXPECT_EQ(*count, 0);
    // No remove code for a module that was never created.
    ASSERT_EQ(TestClass::get().calls.size(), 1u);
}

TEST_F(HostTest, ClassAskingForAreasBeyondThirtyTwoBitsGetsNoModule) {
    // On i686 such a size plus the guard bytes wrapped to a few bytes, and the
    // guard was then written far past the block.
    Host host(hosttest::quietOptions());
    TestClass::registerWith(host, "TEST:HUGEPRIV", TestClass::kChannelSize, 0xFFFFFFFFu);
    TestClass::registerWith(host, "TEST:HUGECHAN", 0xFFFFFFF9u, TestClass::kPrivateSize);
    EXPECT_EQ(host.createModule("TEST:HUGEPRIV"), nullptr);
    EXPECT_EQ(host.createModule("TEST:HUGECHAN"), nullptr);
    EXPECT_TRUE(host.modules().empty());
    EXPECT_TRUE(TestClass::get().calls.empty()) << "no create code for a module that got no areas";
    const auto errors = host.log().errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_NE(errors[0].find("TEST:HUGEPRIV asks for 4294967295 bytes of private data"), std::string::npos) << errors[0];
    EXPECT_NE(errors[1].find("4294967289 bytes per channel state record"), std::string::npos) << errors[1];
    TestClass::registerWith(host, "TEST:LARGEST", 12, Host::kLargestModuleArea);
    EXPECT_NE(host.createModule("TEST:LARGEST"), nullptr) << "the largest area is still given";
}

TEST_F(HostTest, CreateByIndexPresetsAndUnknownClasses) {
    Host host(hosttest::quietOptions());
    TestClass::registerWith(host, "TEST:A");
    TestClass::registerWith(host, "TEST:B");
    velk::NewModule how;
    how.inputCount = 2;
    how.outputCount = 3;
    how.name = "a name longer than twelve";
    how.outputGate = 0;
    ModuleRecord* m = host.createModule(size_t(1), how);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(host.classOf(m)->classId(), "TEST:B");
    EXPECT_EQ(m->inputCount, 2u);
    EXPECT_EQ(m->outputCount, 3u);
    EXPECT_EQ(std::string(m->moduleName), "a name longe");
    EXPECT_EQ(m->outputGate, 0);
    EXPECT_EQ(host.createModule(size_t(2)), nullptr);
    EXPECT_EQ(host.createModule("TEST:C"), nullptr);
}

TEST_F(HostTest, RemoveSetupCallAndProcessReachTheClass) {
    Host host(hosttest::quietOptions());
    TestClass::registerWith(host);
    ModuleRecord* a = host.createModule("TEST:SRC");
    ModuleRecord* b = host.createModule("TEST:SRC");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(host.currentModule(), b);
    EXPECT_EQ(host.setupModule(a), 1);
    EXPECT_EQ(host.currentModule(), a);
    EXPECT_EQ(host.callClass(b, 202, -5, 77), 1);
    EXPECT_EQ(host.process(b), 1);
    EXPECT_EQ(TestClass::get().processed, 1);
    EXPECT_TRUE(host.removeModule(a));
    EXPECT_EQ(host.currentModule(), nullptr);  // the current module went away
    EXPECT_FALSE(host.removeModule(a));
    EXPECT_EQ(host.process(a), -1);

    auto& calls = TestClass::get().calls;
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[2].code, VELK_CODE_SETUP);
    EXPECT_EQ(calls[2].module, a);
    EXPECT_EQ(calls[2].currentAtCall, a);
    EXPECT_EQ(calls[3].code, 202u);
    EXPECT_EQ(calls[3].value1, -5);
    EXPECT_EQ(calls[3].value2, 77);
    EXPECT_EQ(calls[4].code, VELK_CODE_REMOVE);
    EXPECT_EQ(calls[4].module, a);
    EXPECT_EQ(host.modules(), std::vector<ModuleRecord*>{b});
}

TEST_F(HostTest, WritingPastTheModulesAreasIsReportedAtRemoval) {
    Host host(hosttest::quietOptions());
    TestClass::registerWith(host);
    ModuleRecord* m = host.createModule("TEST:SRC");
    ASSERT_NE(m, nullptr);
    static_cast<unsigned char*>(m->privateData)[TestClass::kPrivateSize] = 1;
    reinterpret_cast<unsigned char*>(m->channelData[3])[TestClass::kChannelSize + 2] = 1;
    host.removeModule(m);
    const auto errors = host.log().errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_NE(errors[0].find("past its private data area of 40 bytes"), std::string::npos) << errors[0];
    EXPECT_NE(errors[1].find("channel state record 3"), std::string::npos) << errors[1];
}

TEST_F(HostTest, ARestoredModuleGetsItsSavedBytesWithoutTheCreateCode) {
    Host host(hosttest::quietOptions());
    TestClass::registerWith(host);
    velk::SavedModule saved;
    saved.inputCount = 3;
    saved.outputCount = 12;
    saved.name = "Saved";
    saved.comment = "from a file";
    for (uint32_t i = 0; i < TestClass::kPrivateSize; ++i) saved.area += static_cast<char>(0xA0 + i);
    std::string why;
    ModuleRecord* m = host.restoreModule("TEST:SRC", saved, why);
    ASSERT_NE(m, nullptr) << why;
    EXPECT_TRUE(TestClass::get().calls.empty()) << "no create code";
    EXPECT_EQ(std::string(static_cast<char*>(m->privateData), TestClass::kPrivateSize), saved.area);
    EXPECT_EQ(host.privateArea(m), saved.area);
    EXPECT_EQ(m->inputCount, 3u);
    EXPECT_EQ(m->outputCount, 12u);
    EXPECT_STREQ(m->moduleName, "Saved");
    EXPECT_STREQ(m->moduleComment, "from a file");
    EXPECT_EQ(m->ownerWindow, host.mainWindow());
    EXPECT_EQ(m->outputGate, 1);
    for (int i = 0; i < 16; ++i) EXPECT_TRUE(allUncleared(m->channelData[i], TestClass::kChannelSize)) << i;
    EXPECT_EQ(host.callClass(m, VELK_CODE_DEVICE_CHECK), 1);
    EXPECT_EQ(TestClass::get().calls.back().code, VELK_CODE_DEVICE_CHECK);

    // An area of another size than the class registered, or counts beyond the record.
    saved.area.pop_back();
    EXPECT_EQ(host.restoreModule("TEST:SRC", saved, why), nullptr);
    EXPECT_EQ(why, "the saved private data area has 39 bytes; class TEST:SRC registered 40");
    saved.area += '\0';
    saved.outputCount = 17;
    EXPECT_EQ(host.restoreModule("TEST:SRC", saved, why), nullptr);
    EXPECT_EQ(why, "a module record holds at most 16 input and output channels");
    EXPECT_EQ(host.restoreModule("TEST:NONE", saved, why), nullptr);
    EXPECT_EQ(why, "the extension registered no class TEST:NONE");
    EXPECT_EQ(host.modules(), std::vector<ModuleRecord*>{m});
    EXPECT_EQ(host.privateArea(nullptr), "");
    EXPECT_TRUE(host.log().errors().empty());
}

TEST_F(HostTest, ChangeModuleSizeSetsCountsUpToSixteen) {
    Host host(hosttest::quietOptions());
    TestClass::registerWith(host);
    ModuleRecord* m = host.createModule("TEST:SRC");
    auto change = hosttest::velkFunction<ChangeModuleSizeFn>(host, "ChangeModuleSize");
    EXPECT_EQ(change(m, 0, 8), 1);
    EXPECT_EQ(m->outputCount, 8u);
    EXPECT_EQ(change(m, 16, 16), 1);
    EXPECT_EQ(change(m, 17, 1), 0);
    EXPECT_EQ(change(m, 1, 17), 0);
    EXPECT_EQ(m->inputCount, 16u);
    EXPECT_EQ(m->outputCount, 16u);
    const auto& sc = host.sizeChanges();
    ASSERT_EQ(sc.size(), 4u);
    EXPECT_TRUE(sc[0].accepted);
    EXPECT_EQ(sc[0].outputCount, 8u);
    EXPECT_FALSE(sc[2].accepted);
    EXPECT_EQ(sc[2].inputCount, 17u);
    EXPECT_TRUE(host.log().errors().empty());
}

TEST_F(HostTest, PerformDefaultActionIsRecordedAndAnswersTheConfiguredResult) {
    velk::HostOptions o = hosttest::quietOptions();
    o.defaultActionResult = -42;
    Host host(o);
    TestClass::registerWith(host);
    ModuleRecord* m = host.createModule("TEST:SRC");
    auto pda = hosttest::velkFunction<PerformDefaultActionFn>(host, "PerformDefaultAction");
    EXPECT_EQ(pda(m, 108, 3, -4), -42);
    EXPECT_EQ(pda(m, 0, 0, 0), -42);
    const auto& calls = host.defaultActions();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].module, m);
    EXPECT_EQ(calls[0].code, 108u);
    EXPECT_EQ(calls[0].value1, 3);
    EXPECT_EQ(calls[0].value2, -4);
    const auto events = host.log().events();
    EXPECT_NE(std::find(events.begin(), events.end(), "PerformDefaultAction|108|3|-4"), events.end());
}

TEST_F(HostTest, RegisteredClassCopiesTheRecordAndKeepsTheTextsAddresses) {
    Host host(hosttest::quietOptions());
    char shortName[13] = "Short";
    char longName[39] = "Long name";
    ClassRegistration r = {};
    r.classId = "TEST:COPY";
    r.privateDataSize = 256;
    r.channelDataSize = 12;
    r.menuCommand = 2951;
    r.shortName = shortName;
    r.longName = longName;
    r.classCallback = &TestClass::callback;
    auto reg = hosttest::velkFunction<RegisterModuleClassFn>(host, "RegisterModuleClass");
    EXPECT_EQ(reg(&r), 1);
    r.privateDataSize = 1;  // the record was the caller's temporary: copied
    ASSERT_EQ(host.classes().size(), 1u);
    const velk::RegisteredClass& c = host.classes()[0];
    EXPECT_EQ(c.record.privateDataSize, 256u);
    EXPECT_EQ(c.record.menuCommand, 2951u);
    EXPECT_EQ(c.classId(), "TEST:COPY");
    EXPECT_EQ(c.shortName(), "Short");
    EXPECT_EQ(c.longName(), "Long name");
    // The name buffers are the extension's and are read where they are, whenever the
    // host needs them: a buffer that changes (or does not live on) shows.
    std::strcpy(shortName, "Changed");
    EXPECT_EQ(c.record.shortName, shortName);
    EXPECT_EQ(c.shortName(), "Changed");
    EXPECT_EQ(host.findClass("TEST:COPY"), &c);
}
