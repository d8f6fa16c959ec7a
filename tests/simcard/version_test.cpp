// The simulated driver's version resource says it is a simulator, in both tables, so
// that nobody takes it for the card maker's driver; the build lacking
// Tk17GetVersion carries the same resource.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>

#include "tests/support/version_reader.h"
#include "velk_build_id.h"

namespace {

using versiontest::VersionInfo;

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

class SimulatorVersion : public ::testing::TestWithParam<const char*> {
protected:
    std::string path() const { return versiontest::ProgramFolder() + GetParam(); }
};

TEST_P(SimulatorVersion, FixedPartSaysVersion210OfADll) {
    VersionInfo info(path());
    ASSERT_TRUE(info.present()) << path() << " has no version resource";
    const VS_FIXEDFILEINFO* f = info.fixed();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(f->dwFileVersionMS, 0x0002000Au);
    EXPECT_EQ(f->dwFileType, static_cast<DWORD>(VFT_DLL));
}

TEST_P(SimulatorVersion, EveryTableSaysSimulator) {
    VersionInfo info(path());
    const auto pairs = info.translations();
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0], std::make_pair(uint16_t{0x0411}, uint16_t{932}));
    EXPECT_EQ(pairs[1], std::make_pair(uint16_t{0x0409}, uint16_t{1252}));

    EXPECT_EQ(info.text("041103a4", "FileDescription"), "VYT-TK17 ドライバ シミュレータ（実カードは操作しません）");
    EXPECT_NE(info.text("041103a4", "Comments").find("メーカー製のドライバではありません"), std::string::npos);
    EXPECT_NE(info.text("040904e4", "FileDescription").find("SIMULATOR"), std::string::npos);
    EXPECT_NE(Lower(info.text("040904e4", "Comments")).find("not the card maker's driver"), std::string::npos);
    for (const char* table : {"041103a4", "040904e4"}) {
        SCOPED_TRACE(table);
        EXPECT_EQ(info.text(table, "OriginalFilename"), "vyttk17.dll");
        EXPECT_EQ(info.text(table, "FileVersion"), "2.10");
        EXPECT_NE(Lower(info.text(table, "InternalName")).find("simulator"), std::string::npos);
        EXPECT_EQ(info.text(table, "BuildCommit"), VELK_BUILD_ID);
    }
}

INSTANTIATE_TEST_SUITE_P(Builds, SimulatorVersion,
                         ::testing::Values("driver\\vyttk17.dll", "driver-noversion\\vyttk17.dll"));

}  // namespace
