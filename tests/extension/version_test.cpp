// The version resource of Velk_ux1.dll, read back as Explorer and installers read it.
#include <gtest/gtest.h>

#include <windows.h>

#include "extension/resources/velk_version.h"
#include "tests/support/version_reader.h"
#include "velk_build_id.h"

namespace {

using versiontest::VersionInfo;

std::string DllPath() { return versiontest::ProgramFolder() + "Velk_ux1.dll"; }

TEST(ExtensionVersion, FixedPartSaysVersion210OfADll) {
    VersionInfo info(DllPath());
    ASSERT_TRUE(info.present()) << DllPath() << " has no version resource";
    const VS_FIXEDFILEINFO* f = info.fixed();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(f->dwFileVersionMS, 0x0002000Au);  // 2.10
    EXPECT_EQ(f->dwFileVersionLS, 0u);
    EXPECT_EQ(f->dwProductVersionMS, 0x0002000Au);
    EXPECT_EQ(f->dwProductVersionLS, 0u);
    EXPECT_EQ(f->dwFileType, static_cast<DWORD>(VFT_DLL));
    EXPECT_EQ(f->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
    EXPECT_EQ(f->dwFileFlags & f->dwFileFlagsMask, 0u) << "a release is no debug, patched or pre-release build";
}

TEST(ExtensionVersion, JapaneseAndEnglishTablesAreAnnounced) {
    VersionInfo info(DllPath());
    const auto pairs = info.translations();
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0], std::make_pair(uint16_t{0x0411}, uint16_t{932}));
    EXPECT_EQ(pairs[1], std::make_pair(uint16_t{0x0409}, uint16_t{1252}));
}

TEST(ExtensionVersion, BothTablesNameTheFileVersionAndExtension) {
    VersionInfo info(DllPath());
    for (const char* table : {"041103a4", "040904e4"}) {
        SCOPED_TRACE(table);
        EXPECT_EQ(info.text(table, "FileVersion"), "2.10");
        EXPECT_EQ(info.text(table, "ProductVersion"), "2.10");
        EXPECT_EQ(info.text(table, "OriginalFilename"), "Velk_ux1.dll");
        EXPECT_EQ(info.text(table, "InternalName"), "Velk_ux1");
        const std::string description = info.text(table, "FileDescription");
        EXPECT_NE(description.find("VYT-TK17"), std::string::npos) << description;
        EXPECT_NE(description.find("Velk"), std::string::npos) << description;
    }
    // The Japanese table reads as Japanese in code page 932 (the strings are stored
    // as Unicode and converted by VerQueryValueA).
    EXPECT_EQ(info.text("041103a4", "FileDescription"), "Velk 用 VYT-TK17 拡張ライブラリ");
    EXPECT_EQ(info.text("040904e4", "FileDescription"), "VYT-TK17 extension for Velk");
}

TEST(ExtensionVersion, BuildCommitIsTheOneThisBuildWasMadeFrom) {
    VersionInfo info(DllPath());
    const std::string id(VELK_BUILD_ID);
    ASSERT_FALSE(id.empty());
    for (const char* table : {"041103a4", "040904e4"}) {
        bool found = false;
        EXPECT_EQ(info.text(table, "BuildCommit", &found), id) << table;
        EXPECT_TRUE(found) << table;
    }
}

// The About box shows string 3952 ("VYT-TK17 Module Version 2.10"): the version
// resource must not tell the user another version than the dialog does.
TEST(ExtensionVersion, AgreesWithTheAboutBoxString) {
    HMODULE dll = LoadLibraryExA(DllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(dll, nullptr);
    char about[128] = {};
    const int n = LoadStringA(dll, 3952, about, sizeof about);
    FreeLibrary(dll);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(about), std::string("VYT-TK17 Module Version ") + VELK_VERSION_TEXT);
    EXPECT_EQ(VersionInfo(DllPath()).text("040904e4", "FileVersion"), VELK_VERSION_TEXT);
}

}  // namespace
