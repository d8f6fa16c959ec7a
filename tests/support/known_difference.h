// Marks a test whose expectation was established under Wine and may not hold on
// Windows (for example how an ANSI edit box counts double-byte characters).
//
//     VELK_SEEN_UNDER_WINE("edit-box-counts-characters");
//
// The test runs as everywhere else; the mark records the property "known_difference"
// with the id in GoogleTest's XML output, and on a system that is not Wine it prints a
// line saying so. A run of the conformance kit on a real PC then says, test by test,
// which of these behaviours hold there. Every id is listed, with what Wine does, in
// tools/kit/README.txt (the guide_check test keeps the two in step).
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

namespace velktest {

inline bool runningUnderWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

inline void seenUnderWine(const char* id)
{
    ::testing::Test::RecordProperty("known_difference", id);
    if (!runningUnderWine())
        std::printf("[ KNOWN DIFFERENCE ] %s: this expectation was seen under Wine; the test's result says "
                    "whether it holds on this system\n", id);
}

}  // namespace velktest

#define VELK_SEEN_UNDER_WINE(id) ::velktest::seenUnderWine(id)
