// The seven linked variables: DefineDllVariable accepts exactly those names with
// their sizes, writes Velk's value into the extension's storage at once, and keeps
// it current whenever Velk's value changes.
#include "host_test_support.h"

#include <cstring>

using velk::Host;

namespace {

struct Storage {
    double period = -1;
    uint32_t blockSize = 0xFFFFFFFF;
    int32_t animation = -1, running = -1, paused = -1;
    uint32_t startTicks = 0xFFFFFFFF;
    int32_t bbox = -1;
};

// Links every variable the way the extension does; returns the seven results.
std::vector<int32_t> linkAll(Host& host, Storage& s) {
    auto define = hosttest::velkFunction<DefineDllVariableFn>(host, "DefineDllVariable");
    return {define("fGlobalMilliSecondsPerSample", &s.period, 8), define("uiGlobalBlockSize", &s.blockSize, 4),
            define("bAnimation", &s.animation, 4),          define("bExperimentIsRunning", &s.running, 4),
            define("bExperimentIsPaused", &s.paused, 4),    define("dwExperimentStartTimeTicks", &s.startTicks, 4),
            define("BBoxModul", &s.bbox, 4)};
}

}  // namespace

TEST_F(HostTest, LinkingWritesVelksCurrentValuesAtOnce) {
    velk::HostOptions o = hosttest::quietOptions();
    o.samplePeriodMs = 2.5;
    o.blockSize = 64;
    Host host(o);
    host.setRunning(1);
    host.setStartTicks(123456);
    Storage s;
    EXPECT_EQ(linkAll(host, s), std::vector<int32_t>(7, 1));
    EXPECT_EQ(s.period, 2.5);
    EXPECT_EQ(s.blockSize, 64u);
    EXPECT_EQ(s.animation, 0);
    EXPECT_EQ(s.running, 1);
    EXPECT_EQ(s.paused, 0);
    EXPECT_EQ(s.startTicks, 123456u);
    EXPECT_EQ(s.bbox, 0);
}

TEST_F(HostTest, SettersKeepTheExtensionsStorageCurrent) {
    Host host(hosttest::quietOptions());
    Storage s;
    linkAll(host, s);
    host.setSamplePeriodMs(0.05);
    host.setBlockSize(1000);
    host.setAnimation(1);
    host.setRunning(1);
    host.setPaused(1);
    host.setStartTicks(0xDEADBEEF);
    host.setBBoxModul(7);
    EXPECT_EQ(s.period, 0.05);
    EXPECT_EQ(s.blockSize, 1000u);
    EXPECT_EQ(s.animation, 1);
    EXPECT_EQ(s.running, 1);
    EXPECT_EQ(s.paused, 1);
    EXPECT_EQ(s.startTicks, 0xDEADBEEFu);
    EXPECT_EQ(s.bbox, 7);
    host.setPaused(0);
    EXPECT_EQ(s.paused, 0);
    EXPECT_EQ(s.running, 1);  // only the variable that changed is written
}

TEST_F(HostTest, OnlyTheSevenNamesWithTheirSizesAreAccepted) {
    Host host(hosttest::quietOptions());
    auto define = hosttest::velkFunction<DefineDllVariableFn>(host, "DefineDllVariable");
    uint64_t cell = 0x1111111111111111ull;
    EXPECT_EQ(define("uiGlobalBlockSize", &cell, 8), 0);             // wrong size
    EXPECT_EQ(define("fGlobalMilliSecondsPerSample", &cell, 4), 0);  // wrong size
    EXPECT_EQ(define("bExperimentIsStopped", &cell, 4), 0);          // no such variable
    EXPECT_EQ(define("uiglobalblocksize", &cell, 4), 0);             // names are exact
    EXPECT_EQ(define("BBoxModul", nullptr, 4), 0);
    EXPECT_EQ(cell, 0x1111111111111111ull);  // nothing written for a refused link
    host.setBlockSize(5);
    EXPECT_EQ(cell, 0x1111111111111111ull);
    for (const auto& l : host.variableLinks()) EXPECT_FALSE(l.accepted) << l.name;
}

TEST_F(HostTest, RefusedLinksAnswerZeroAndAreNotWritten) {
    velk::HostOptions o = hosttest::quietOptions();
    o.refusedLinks = {"BBoxModul"};
    Host host(o);
    Storage s;
    const std::vector<int32_t> expected = {1, 1, 1, 1, 1, 1, 0};
    EXPECT_EQ(linkAll(host, s), expected);
    host.setBBoxModul(9);
    EXPECT_EQ(s.bbox, -1);
}

TEST_F(HostTest, LinksAreRecordedInOrderInLinksAndEventLog) {
    Host host(hosttest::quietOptions());
    Storage s;
    linkAll(host, s);
    const auto& links = host.variableLinks();
    ASSERT_EQ(links.size(), 7u);
    EXPECT_EQ(links[0].name, "fGlobalMilliSecondsPerSample");
    EXPECT_EQ(links[0].storage, &s.period);
    EXPECT_EQ(links[0].size, 8u);
    EXPECT_EQ(links[6].name, "BBoxModul");
    EXPECT_EQ(links[6].storage, &s.bbox);
    const auto events = host.log().events();
    ASSERT_GE(events.size(), 7u);
    EXPECT_EQ(events[0], "DefineDllVariable|fGlobalMilliSecondsPerSample|8|1");
    EXPECT_EQ(events[6], "DefineDllVariable|BBoxModul|4|1");
}

// The variables are Velk's: a write by the extension is a misuse, seen after the call
// into the class (or before Velk's next write) and named.
TEST_F(HostTest, AWriteIntoALinkedVariableIsAMisuse) {
    Host host(hosttest::quietOptions());
    Storage s;
    linkAll(host, s);
    host.setRunning(1);
    EXPECT_TRUE(host.log().errors().empty());
    s.blockSize = 7;
    s.paused = 1;
    host.setRunning(0);
    EXPECT_EQ(host.log().errors(), (std::vector<std::string>{"the extension wrote into Velk's linked variable uiGlobalBlockSize",
                                                        "the extension wrote into Velk's linked variable bExperimentIsPaused"}));
}
