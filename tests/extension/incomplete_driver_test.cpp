// Drivers that lack one of the twelve operations, one build for each: the extension
// refuses every one of them at set-up (no module class, no menu) and unloads it at
// once, although it never calls Tk17GetVersion.
#include "tests/extension/fixture.h"

#include <ctype.h>

namespace exttest {
namespace {

const char* const kOperations[] = {
#define EXTTEST_NAME(name) #name,
    TK17_OPERATION_NAMES(EXTTEST_NAME)
#undef EXTTEST_NAME
};

// The folder of the driver without `operation`: "driver-no" and the name without
// "Tk17" and a leading "Get", lower-cased (Tk17GetVersion: driver-noversion).
std::string FolderWithout(const std::string& operation) {
    std::string shortName = operation.substr(4);
    if (shortName.compare(0, 3, "Get") == 0) shortName = shortName.substr(3);
    for (char& c : shortName) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return velk::Host::exeDir() + "\\driver-no" + shortName;
}

class IncompleteDriver : public ExtensionTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(IncompleteDriver, IsRejectedAndUnloadedAtSetup) {
    const std::string operation = GetParam();
    const std::string folder = FolderWithout(operation);
    // The folder really holds a driver lacking exactly this operation.
    {
        HMODULE variant = LoadLibraryA((folder + "\\vyttk17.dll").c_str());
        ASSERT_NE(variant, nullptr) << folder;
        for (const char* op : kOperations)
            EXPECT_EQ(GetProcAddress(variant, op) == nullptr, operation == op) << op;
        EXPECT_NE(GetProcAddress(variant, "SimConfigure"), nullptr);
        FreeLibrary(variant);
        ASSERT_EQ(GetModuleHandleA("vyttk17.dll"), nullptr);
    }
    velk::HostOptions options;
    options.driverDir = folder;
    ASSERT_EQ(StartHost(kOneVirtualCard, options), 1) << "set-up succeeds without the card classes";
    EXPECT_TRUE(host().classes().empty());
    EXPECT_TRUE(host().menuEntries().empty());
    EXPECT_EQ(GetMenuItemCount(host().mainMenu()), 5) << "no popup inserted";
    EXPECT_EQ(GetModuleHandleA("vyttk17.dll"), nullptr) << "the refused driver is unloaded at once";
    EXPECT_TRUE(host().log().warnings().empty());
}

INSTANTIATE_TEST_SUITE_P(EachOperation, IncompleteDriver, ::testing::ValuesIn(kOperations),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
}  // namespace exttest
