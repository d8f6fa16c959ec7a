// The driver's export table: the twelve operations under their plain names, the
// control functions, and the twelve variants that each lack one operation.
#include "driver_loader.h"

#include <ctype.h>

#include <algorithm>
#include <set>

using namespace simtest;

namespace {

// Names in the export directory of a loaded module.
std::vector<std::string> exportNames(HMODULE module)
{
    std::vector<std::string> names;
    const uint8_t* base = reinterpret_cast<const uint8_t*>(module);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (dir.VirtualAddress == 0) return names;
    auto exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto nameTable = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.emplace_back(reinterpret_cast<const char*>(base + nameTable[i]));
    return names;
}

const std::vector<std::string> kOperations = {
#define SIMTEST_NAME(name) #name,
    TK17_OPERATION_NAMES(SIMTEST_NAME)
#undef SIMTEST_NAME
};

std::string moduleFile(HMODULE module)
{
    char path[MAX_PATH * 2];
    DWORD n = GetModuleFileNameA(module, path, sizeof path);
    return std::string(path, n);
}

}  // namespace

TEST(SimcardExports, TwelveOperationsUndecoratedAndControlFunctionsPrefixed)
{
    clearConfigEnvironment();
    LoadedDriver d(driverPath());
    ASSERT_NE(d.module, nullptr) << driverPath();
    std::vector<std::string> names = exportNames(d.module);
    std::set<std::string> set(names.begin(), names.end());
    for (const std::string& op : kOperations) EXPECT_EQ(1u, set.count(op)) << op;
    for (const std::string& name : names) {
        EXPECT_EQ(std::string::npos, name.find('@')) << name;
        EXPECT_NE('_', name[0]) << name;
        bool isOperation = std::find(kOperations.begin(), kOperations.end(), name) != kOperations.end();
        EXPECT_TRUE(isOperation || name.compare(0, 3, "Sim") == 0) << "unexpected export " << name;
    }
    EXPECT_TRUE(d.complete());
    EXPECT_GT(names.size(), kOperations.size());
}

TEST(SimcardExports, GetVersionAnswersTheDriverVersion)
{
    clearConfigEnvironment();
    LoadedDriver d(driverPath());
    ASSERT_TRUE(d.complete());
    EXPECT_EQ(0x0210, d.Tk17GetVersion());
}

// The variant without `operation`, in driver-no<name>: the name without "Tk17" and a
// leading "Get", lower-cased (driver-noversion, driver-nocreate, ...).
class SimcardIncompleteVariant : public ::testing::TestWithParam<std::string> {};

TEST_P(SimcardIncompleteVariant, LacksOnlyItsOperationAndWorksOtherwise)
{
    const std::string operation = GetParam();
    std::string folder = operation.substr(4);
    if (folder.compare(0, 3, "Get") == 0) folder = folder.substr(3);
    for (char& c : folder) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    folder = "driver-no" + folder;
    clearConfigEnvironment();
    SetEnvironmentVariableA("VYTTK17_CONFIG_TEXT", "[card 0]\nclock = virtual\n");
    LoadedDriver d(exeDir() + folder + "\\vyttk17.dll");
    SetEnvironmentVariableA("VYTTK17_CONFIG_TEXT", nullptr);
    ASSERT_NE(d.module, nullptr) << folder;
    // Really the variant, not the full driver under the same name.
    EXPECT_NE(std::string::npos, moduleFile(d.module).find(folder));
    std::vector<std::string> names = exportNames(d.module);
    for (const std::string& op : kOperations) {
        bool present = std::find(names.begin(), names.end(), op) != names.end();
        EXPECT_EQ(op != operation, present) << op;
    }
    // The rest of the driver works as usual.
    ASSERT_TRUE(d.sim.ok());
    SimCardState state;
    ASSERT_EQ(1, d.sim.GetCardState(0, &state));
    EXPECT_EQ(1u, state.configured);
    if (d.Tk17Create) {
        EXPECT_EQ(1, d.open(0));
        EXPECT_EQ(1, d.sim.IsOpen(0));
    }
}

INSTANTIATE_TEST_SUITE_P(EachOperation, SimcardIncompleteVariant, ::testing::ValuesIn(kOperations),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });
