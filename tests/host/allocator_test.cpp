// Velk's allocator as the extension uses it: tags and lines, what stays live, faults
// in the caller's use recorded rather than crashing, and failures on demand.
#include "host_test_support.h"

#include "velk/host/allocator.h"

#include <algorithm>

using velk::AllocationEvent;
using velk::TaggedAllocator;

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(TaggedAllocator, CountsLiveBlocksByTagAndLine) {
    TaggedAllocator a;
    void* p1 = a.allocate(100, "Vyttk17AD", 200);
    void* p2 = a.allocate(50, "Vyttk17AD", 200);
    void* p3 = a.allocate(8, "Tk17CtlDlg", 91);
    ASSERT_TRUE(p1 && p2 && p3);
    EXPECT_NE(p1, p2);
    EXPECT_EQ(a.liveCount(), 3u);
    EXPECT_EQ(a.liveCount("Vyttk17AD"), 2u);
    EXPECT_EQ(a.liveCount("Vyttk17AD", 200), 2u);
    EXPECT_EQ(a.liveCount("Vyttk17AD", 235), 0u);
    EXPECT_EQ(a.liveCount("Tk17CtlDlg", 91), 1u);
    EXPECT_EQ(a.liveBytes(), 158u);

    a.release(p1, "Vyttk17AD", 235);
    EXPECT_EQ(a.liveCount("Vyttk17AD", 200), 1u);
    EXPECT_FALSE(a.isLive(p1));
    EXPECT_TRUE(a.isLive(p2));
    EXPECT_TRUE(a.errors().empty());

    const std::vector<AllocationEvent> ev = a.events();
    ASSERT_EQ(ev.size(), 4u);
    EXPECT_EQ(ev[3].kind, AllocationEvent::Kind::Free);
    EXPECT_EQ(ev[3].tag, "Vyttk17AD");
    EXPECT_EQ(ev[3].line, 235);
    EXPECT_EQ(ev[3].size, 100u);  // the size of the block that was freed
    EXPECT_EQ(ev[2].tag, "Tk17CtlDlg");
    EXPECT_EQ(ev[2].line, 91);
}

TEST(TaggedAllocator, LiveReportNamesEachSiteWithLiveBlocks) {
    TaggedAllocator a;
    EXPECT_EQ(a.liveReport(), "");
    void* p = a.allocate(400, "Vyttk17AD", 200);
    a.allocate(16, "Vyttk17DOUT", 154);
    a.allocate(16, "Vyttk17DOUT", 154);
    const std::string report = a.liveReport();
    EXPECT_TRUE(contains(report, "Vyttk17AD:200 1 block 400 bytes")) << report;
    EXPECT_TRUE(contains(report, "Vyttk17DOUT:154 2 blocks 32 bytes")) << report;
    a.release(p, "Vyttk17AD", 235);
    EXPECT_FALSE(contains(a.liveReport(), "Vyttk17AD")) << a.liveReport();
}

TEST(TaggedAllocator, DoubleFreeIsRecordedWithBothSites) {
    TaggedAllocator a;
    void* p = a.allocate(10, "Vyttk17DOUT", 154);
    a.release(p, "Vyttk17DOUT", 177);
    a.release(p, "Vyttk17DOUT", 177);
    const auto errors = a.errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(contains(errors[0], "double free")) << errors[0];
    EXPECT_TRUE(contains(errors[0], "Vyttk17DOUT:154")) << errors[0];
    EXPECT_TRUE(contains(errors[0], "Vyttk17DOUT:177")) << errors[0];
    EXPECT_EQ(a.liveCount(), 0u);
    EXPECT_EQ(a.events().back().kind, AllocationEvent::Kind::BadFree);
}

TEST(TaggedAllocator, FreeOfForeignOrNullPointerIsAnError) {
    TaggedAllocator a;
    int local = 0;
    a.release(&local, "Tk17CtlDlg", 300);
    a.release(nullptr, "Tk17CtlDlg", 301);
    const auto errors = a.errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_TRUE(contains(errors[0], "unknown pointer")) << errors[0];
    EXPECT_TRUE(contains(errors[0], "Tk17CtlDlg:300")) << errors[0];
    EXPECT_TRUE(contains(errors[1], "null")) << errors[1];
}

TEST(TaggedAllocator, WritingPastTheEndIsFoundAtTheFree) {
    TaggedAllocator a;
    auto* p = static_cast<unsigned char*>(a.allocate(12, "Vyttk17AD", 200));
    p[12] = 0;  // one byte too far
    a.release(p, "Vyttk17AD", 235);
    const auto errors = a.errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(contains(errors[0], "past the end of 12 bytes allocated at Vyttk17AD:200")) << errors[0];
}

TEST(TaggedAllocator, FreshMemoryIsNotZeroed) {
    TaggedAllocator a;
    auto* p = static_cast<unsigned char*>(a.allocate(32, "Vyttk17DOUT", 154));
    EXPECT_TRUE(std::all_of(p, p + 32, [](unsigned char c) { return c == TaggedAllocator::kFreshByte; }));
    a.release(p, "Vyttk17DOUT", 177);
}

TEST(TaggedAllocator, RequestsNoThirtyTwoBitVelkCouldGrantFail) {
    // On i686 a size near 4 GiB plus the guard bytes wrapped to a few bytes, and
    // filling the requested size with fresh bytes then ran over the heap.
    TaggedAllocator a;
    for (uint32_t size : {0xFFFFFFFFu, 0xFFFFFFF9u, TaggedAllocator::kLargestBlock + 1}) {
        EXPECT_EQ(a.allocate(size, "Vyttk17AD", 200), nullptr) << size;
    }
    EXPECT_EQ(a.failedAllocations(), 3u);
    EXPECT_EQ(a.liveCount(), 0u);
    const auto events = a.events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].kind, AllocationEvent::Kind::FailedAlloc);
    EXPECT_EQ(events[0].size, 0xFFFFFFFFu);
    void* small = a.allocate(16, "Vyttk17AD", 200);
    EXPECT_NE(small, nullptr) << "the allocator still works after refusals";
    a.release(small, "Vyttk17AD", 235);
}

TEST(TaggedAllocator, NextFailureHitsOnlyTheNamedSiteOnce) {
    TaggedAllocator a;
    a.failNext("Vyttk17AD", 200);
    void* other = a.allocate(4, "Vyttk17AD", 201);
    EXPECT_NE(other, nullptr);
    EXPECT_EQ(a.allocate(4, "Vyttk17AD", 200), nullptr);
    void* again = a.allocate(4, "Vyttk17AD", 200);
    EXPECT_NE(again, nullptr);
    EXPECT_EQ(a.failedAllocations(), 1u);
    EXPECT_EQ(a.liveCount(), 2u);
    EXPECT_EQ(a.events()[1].kind, AllocationEvent::Kind::FailedAlloc);
}

TEST(TaggedAllocator, FailAllHoldsForEveryLineUntilCleared) {
    TaggedAllocator a;
    a.failAll("Tk17CtlDlgDIN");
    EXPECT_EQ(a.allocate(4, "Tk17CtlDlgDIN", 1), nullptr);
    EXPECT_EQ(a.allocate(4, "Tk17CtlDlgDIN", 2), nullptr);
    EXPECT_NE(a.allocate(4, "Tk17CtlDlg", 1), nullptr);
    a.clearFailures();
    EXPECT_NE(a.allocate(4, "Tk17CtlDlgDIN", 1), nullptr);
    EXPECT_EQ(a.failedAllocations(), 2u);
}

TEST(TaggedAllocator, NextFailureAtAnyLine) {
    TaggedAllocator a;
    a.failNext("Vyttk17DOUT");
    EXPECT_EQ(a.allocate(4, "Vyttk17DOUT", 999), nullptr);
    EXPECT_NE(a.allocate(4, "Vyttk17DOUT", 999), nullptr);
}

TEST(TaggedAllocator, ReleaseAllEmptiesIt) {
    TaggedAllocator a;
    a.allocate(4, "x", 1);
    a.allocate(4, "y", 2);
    EXPECT_EQ(a.releaseAll(), 2u);
    EXPECT_EQ(a.liveCount(), 0u);
}

// Through the entry points the extension is given.
TEST_F(HostTest, NewMemAllocAndFreeReachTheHostAllocatorAndEventLog) {
    velk::Host host(hosttest::quietOptions());
    auto alloc = hosttest::velkFunction<NewMemAllocFn>(host, "NewMemAlloc");
    auto free = hosttest::velkFunction<NewDoMemFreeFn>(host, "NewDoMemFree");
    void* p = alloc(64, "Vyttk17AD", 200);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(host.allocator().liveCount("Vyttk17AD", 200), 1u);
    free(p, "Vyttk17AD", 235);
    free(p, "Vyttk17AD", 235);
    host.allocator().failNext("Vyttk17AD", 200);
    EXPECT_EQ(alloc(64, "Vyttk17AD", 200), nullptr);
    EXPECT_EQ(host.allocator().liveCount(), 0u);

    const auto events = host.log().events();
    const std::vector<std::string> expected = {"Alloc|Vyttk17AD|200", "Free|Vyttk17AD|235", "BadFree|Vyttk17AD|235",
                                               "AllocFailed|Vyttk17AD|200"};
    std::vector<std::string> allocEvents;
    for (const auto& e : events)
        if (e.find("Alloc") != std::string::npos || e.find("Free") != std::string::npos) allocEvents.push_back(e);
    EXPECT_EQ(allocEvents, expected);
    // The double free shows among the host's errors too.
    const auto errors = host.log().errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(contains(errors[0], "double free")) << errors[0];
}
