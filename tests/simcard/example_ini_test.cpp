// The commented example vyttk17.ini that the release ships beside the simulated driver
// (docs/guide/vyttk17.ini, copied to bin/example/ by the build): it loads as a user
// would place it, with the CRLF line ends of the release, gives the cards and signals
// its comments promise, and each fault line it offers is valid once uncommented.
#include "driver_loader.h"

#include <fstream>
#include <sstream>

using namespace simtest;

namespace {

std::string ReadExample() {
    std::ifstream in(exeDir() + "example\\vyttk17.ini", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string WithCrLf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n' && (out.empty() || out.back() != '\r')) out += '\r';
        out += c;
    }
    return out;
}

uint32_t Field(const Tk17Resource& r, size_t offset) {
    uint32_t v;
    memcpy(&v, r.bytes + offset, 4);
    return v;
}

TEST(SimcardExampleIni, LoadsBesideTheDriverWithTheCardsItDescribes) {
    const std::string example = ReadExample();
    ASSERT_NE(example.find("[card 0]"), std::string::npos) << "bin\\example\\vyttk17.ini is missing or empty";
    clearConfigEnvironment();
    const std::string dir = makeTempDir();
    ASSERT_TRUE(CopyFileA(driverPath().c_str(), (dir + "vyttk17.dll").c_str(), FALSE));
    writeFile(dir + "vyttk17.ini", WithCrLf(example));
    LoadedDriver d(dir + "vyttk17.dll");
    ASSERT_TRUE(d.complete());
    EXPECT_NE(d.configSource().find("vyttk17.ini"), std::string::npos) << d.configSource();
    EXPECT_EQ(d.lastError(), "");

    EXPECT_EQ(d.open(0), 1);
    EXPECT_EQ(d.open(1), 1);
    EXPECT_NE(d.open(2), 1) << "the example has no card in socket 2";
    Tk17Resource r;
    ASSERT_EQ(d.Tk17GetResource(0, &r), 1);
    EXPECT_EQ(Field(r, TK17_RESOURCE_IO_ADDRESS), 0x300u);  // "300 H" in the device selection dialog
    ASSERT_EQ(d.Tk17GetResource(1, &r), 1);
    EXPECT_EQ(Field(r, TK17_RESOURCE_IO_ADDRESS), 0x340u);

    // Card 0's digital input: the pattern 01 02 04 08; card 1 reads back its output.
    uint8_t in = 0;
    for (uint8_t expected : {0x01, 0x02, 0x04, 0x08, 0x01}) {
        ASSERT_EQ(d.Tk17InPort(0, &in), 1);
        EXPECT_EQ(in, expected);
    }
    // The port is reached only through the driver: no experiment check here.
    ASSERT_EQ(d.Tk17OutPort(1, 0x5A), 1);
    ASSERT_EQ(d.Tk17InPort(1, &in), 1);
    EXPECT_EQ(in, 0x5A);
    // No fault is armed in the example: a read of card 0 works.
    Tk17Mode m = makeMode(0, 0, 7, 1);
    ASSERT_EQ(d.Tk17SetMode(0, &m), 1);
    ASSERT_EQ(d.Tk17StartSampling(0), 1);
    EXPECT_EQ(d.sim.CallCount("Tk17StartSampling", 0), 1);
}

TEST(SimcardExampleIni, EveryOfferedFaultLineIsValidWhenUncommented) {
    const std::string example = ReadExample();
    const size_t faults = example.find("[fault]");
    ASSERT_NE(faults, std::string::npos);
    clearConfigEnvironment();
    LoadedDriver d(driverPath());
    ASSERT_TRUE(d.complete());
    int offered = 0;
    size_t line = example.find("\n; ", faults);
    while (line != std::string::npos) {
        const size_t start = line + 3;
        const size_t end = example.find('\n', start);
        const std::string text = example.substr(start, end - start);
        line = end == std::string::npos ? end : example.find("\n; ", end);
        if (text.find(" = ") == std::string::npos) continue;  // a comment, not a fault line
        ++offered;
        std::string variant = example;
        variant.replace(start - 2, 2, "");  // drop the "; " that disarms it
        EXPECT_EQ(d.sim.Configure(variant.c_str()), 1) << text << ": " << d.lastError();
    }
    EXPECT_GE(offered, 4) << "the example's fault lines were not found";
}

TEST(SimcardExampleIni, TheOfferedSocketCellGivesCardOneSocketTwo) {
    std::string example = ReadExample();
    const size_t at = example.find("; socket_cell = ");
    ASSERT_NE(at, std::string::npos) << "the example offers no socket_cell line";
    example.erase(at, 2);
    clearConfigEnvironment();
    LoadedDriver d(driverPath());
    ASSERT_TRUE(d.complete());
    ASSERT_EQ(d.sim.Configure(example.c_str()), 1) << d.lastError();
    uint32_t cell = 1;
    ASSERT_EQ(d.Tk17Create(&cell, nullptr, TK17_MSG_CARD_REMOVED, 0), 1);
    EXPECT_EQ(cell, 0x00010002u);
    Tk17Resource r;
    ASSERT_EQ(d.Tk17GetResource(1, &r), 1);
    ASSERT_EQ(d.open(0), 1) << "card 0 is still socket 0";
    ASSERT_EQ(d.Tk17GetResource(2, &r), 1);
    EXPECT_EQ(Field(r, TK17_RESOURCE_IO_ADDRESS), 0x340u);
    EXPECT_EQ(d.Tk17GetResource(1, &r), 0) << "after its probe card 1 answers only as socket 2";
}

}  // namespace
