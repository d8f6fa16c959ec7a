// Where the driver takes its configuration from, and how the text is parsed.
#include "driver_loader.h"

#include "tests/support/unicode_files.h"

using namespace simtest;

namespace {

// A copy of the driver in a folder of its own, optionally with a vyttk17.ini beside it.
struct DriverCopy {
    std::string dir = makeTempDir();
    std::string dll = dir + "vyttk17.dll";
    explicit DriverCopy(const char* ini = nullptr)
    {
        EXPECT_TRUE(CopyFileA(driverPath().c_str(), dll.c_str(), FALSE)) << dll;
        if (ini) writeFile(dir + "vyttk17.ini", ini);
    }
};

uint32_t field(const Tk17Resource& r, size_t offset)
{
    uint32_t v;
    memcpy(&v, r.bytes + offset, 4);
    return v;
}

// Sockets in which Tk17Create succeeds.
std::vector<int> openableSockets(LoadedDriver& d)
{
    std::vector<int> sockets;
    for (int s = 0; s < 4; ++s)
        if (d.open(s) == 1) sockets.push_back(s);
    return sockets;
}

}  // namespace

TEST(SimcardConfigSource, NoConfigurationGivesOneDefaultCardInSocketZero)
{
    clearConfigEnvironment();
    DriverCopy copy;
    LoadedDriver d(copy.dll);
    ASSERT_TRUE(d.complete());
    EXPECT_EQ("default", d.configSource());
    EXPECT_EQ(std::vector<int>{0}, openableSockets(d));
    EXPECT_EQ(TK17SIM_ERR_NO_CARD, d.Tk17GetLastError(1));
    Tk17Resource r;
    ASSERT_EQ(1, d.Tk17GetResource(0, &r));
    EXPECT_EQ(0x300u, field(r, TK17_RESOURCE_IO_ADDRESS));
    EXPECT_EQ(16u, field(r, TK17_RESOURCE_IO_LENGTH));

    // Default input: a counter; default signals: not all channels alike; real clock.
    uint8_t a = 0, b = 0;
    ASSERT_EQ(1, d.Tk17InPort(0, &a));
    ASSERT_EQ(1, d.Tk17InPort(0, &b));
    EXPECT_EQ(static_cast<uint8_t>(a + 1), b);
    Tk17Mode m = makeMode(0, 0, 7, 1);
    ASSERT_EQ(1, d.Tk17SetMode(0, &m));
    ASSERT_EQ(1, d.Tk17StartSampling(0));
    uint32_t count = 0, status = 0;
    ASSERT_EQ(1, d.Tk17GetSamplingStatus(0, &count, &status));
    EXPECT_LT(count, 0xFFFFFFFFu) << "the default card runs on the real clock";
    // Waits (with a deadline) until the real clock has converted the 8 samples read.
    for (int i = 0; i < 10000 && count < 8; ++i) {
        Sleep(1);
        ASSERT_EQ(1, d.Tk17GetSamplingStatus(0, &count, &status));
    }
    ASSERT_GE(count, 8u) << "no 8 samples within 10 s of real time";
    std::vector<uint16_t> scan(8);
    ASSERT_EQ(1, d.Tk17GetData(0, scan.data(), 8));
    EXPECT_NE(scan[4], scan[5]);  // two different DC levels
}

TEST(SimcardConfigSource, IniFileBesideTheDriver)
{
    clearConfigEnvironment();
    DriverCopy copy("[card 2]\nio_address = 0x340\nio_length = 32\n");
    LoadedDriver d(copy.dll);
    ASSERT_TRUE(d.complete());
    EXPECT_NE(std::string::npos, d.configSource().find("vyttk17.ini")) << d.configSource();
    EXPECT_EQ(std::vector<int>{2}, openableSockets(d));
    Tk17Resource r;
    ASSERT_EQ(1, d.Tk17GetResource(2, &r));
    EXPECT_EQ(0x340u, field(r, TK17_RESOURCE_IO_ADDRESS));
    EXPECT_EQ(32u, field(r, TK17_RESOURCE_IO_LENGTH));
}

TEST(SimcardConfigSource, FileNamedByEnvironmentWinsOverIni)
{
    clearConfigEnvironment();
    DriverCopy copy("[card 2]\n");
    std::string other = copy.dir + "other.ini";
    writeFile(other, "[card 1]\n[card 3]\n");
    SetEnvironmentVariableA("VYTTK17_CONFIG", other.c_str());
    LoadedDriver d(copy.dll);
    clearConfigEnvironment();
    ASSERT_TRUE(d.complete());
    EXPECT_EQ((std::vector<int>{1, 3}), openableSockets(d));
    EXPECT_NE(std::string::npos, d.configSource().find("other.ini"));
}

TEST(SimcardConfigSource, InlineTextWinsOverFiles)
{
    clearConfigEnvironment();
    DriverCopy copy("[card 2]\n");
    std::string other = copy.dir + "other.ini";
    writeFile(other, "[card 1]\n");
    SetEnvironmentVariableA("VYTTK17_CONFIG", other.c_str());
    SetEnvironmentVariableA("VYTTK17_CONFIG_TEXT", "[card 3]\nio_address = 0x3A0\n");
    LoadedDriver d(copy.dll);
    clearConfigEnvironment();
    ASSERT_TRUE(d.complete());
    EXPECT_EQ("VYTTK17_CONFIG_TEXT", d.configSource());
    EXPECT_EQ(std::vector<int>{3}, openableSockets(d));
}

TEST(SimcardConfigSource, InvalidTextAtLoadLeavesNoCardAndExplainsWhy)
{
    clearConfigEnvironment();
    SetEnvironmentVariableA("VYTTK17_CONFIG_TEXT", "[card 0]\nio_adress = 0x300\n");
    LoadedDriver d(driverPath());
    clearConfigEnvironment();
    ASSERT_TRUE(d.complete());
    EXPECT_TRUE(openableSockets(d).empty());
    std::string error = d.lastError();
    EXPECT_NE(std::string::npos, error.find("line 2")) << error;
    EXPECT_NE(std::string::npos, error.find("io_adress")) << error;
}

TEST(SimcardConfigSource, MissingFileNamedByEnvironmentLeavesNoCard)
{
    clearConfigEnvironment();
    std::string missing = makeTempDir() + "absent.ini";
    SetEnvironmentVariableA("VYTTK17_CONFIG", missing.c_str());
    LoadedDriver d(driverPath());
    clearConfigEnvironment();
    ASSERT_TRUE(d.complete());
    EXPECT_TRUE(openableSockets(d).empty());
    EXPECT_NE(std::string::npos, d.lastError().find("absent.ini")) << d.lastError();
}

// VYTTK17_CONFIG is read as UTF-16 and the file opened by that name: a folder named
// with characters that code page 932 lacks (Hangul here) still works, and a missing
// file is named in UTF-8 as the path was given.
TEST(SimcardConfigSource, AFileInAFolderOutsideTheAnsiCodePageIsRead)
{
    clearConfigEnvironment();
    velktest::ScratchFolder scratch("simcard-wide");
    const std::string folder = scratch.path() + u8"\\設定-한국";
    ASSERT_TRUE(velktest::MakeFolderNamed(folder));
    ASSERT_TRUE(velktest::WriteNamed(folder + u8"\\表.ini", "[card 1]\n[card 3]\n"));
    SetEnvironmentVariableW(L"VYTTK17_CONFIG", velktest::Wide(folder + u8"\\表.ini").c_str());
    {
        LoadedDriver d(driverPath());
        ASSERT_TRUE(d.complete());
        EXPECT_EQ(u8"file " + folder + u8"\\表.ini", d.configSource());
        EXPECT_EQ((std::vector<int>{1, 3}), openableSockets(d));
    }
    const std::string missing = folder + u8"\\無い.ini";
    SetEnvironmentVariableW(L"VYTTK17_CONFIG", velktest::Wide(missing).c_str());
    {
        LoadedDriver d(driverPath());
        clearConfigEnvironment();
        EXPECT_TRUE(openableSockets(d).empty());
        EXPECT_NE(std::string::npos, d.lastError().find(missing)) << d.lastError();
    }
}

TEST(SimcardConfigSource, ConfigureWithNullRereadsTheEnvironment)
{
    clearConfigEnvironment();
    LoadedDriver d(driverPath());
    ASSERT_TRUE(d.complete());
    ASSERT_EQ(1, d.sim.Configure("[card 1]\n"));
    EXPECT_EQ("SimConfigure", d.configSource());
    SetEnvironmentVariableA("VYTTK17_CONFIG_TEXT", "[card 2]\n[card 3]\n");
    EXPECT_EQ(1, d.sim.Configure(nullptr));
    clearConfigEnvironment();
    EXPECT_EQ((std::vector<int>{2, 3}), openableSockets(d));
}

class SimcardConfigText : public DriverTest {};

TEST_F(SimcardConfigText, FullExampleWithCommentsAndCrLf)
{
    configure("; lab set-up\r\n"
              "[card 0]\r\n"
              "io_address = 768        ; decimal works too\r\n"
              "io_length  = 0x10\r\n"
              "clock = VIRTUAL\r\n"
              "ai0 = dc offset=1.25\r\n"
              "ai1 = sine amplitude=5 offset=0 frequency=10 phase=90\r\n"
              "din = fixed 5A\r\n"
              "\r\n"
              "# second card\r\n"
              "[Card 1]\r\n"
              "io_address = 0x320\r\n"
              "din = pattern 01 0x02 04\r\n"
              "[fault]\r\n"
              "Tk17OutPort = socket 1 from 2 error 77\r\n");
    ASSERT_EQ(1, d().open(0));
    ASSERT_EQ(1, d().open(1));
    Tk17Resource r;
    ASSERT_EQ(1, d().Tk17GetResource(0, &r));
    EXPECT_EQ(768u, field(r, TK17_RESOURCE_IO_ADDRESS));
    EXPECT_EQ(16u, field(r, TK17_RESOURCE_IO_LENGTH));
    ASSERT_EQ(1, d().Tk17GetResource(1, &r));
    EXPECT_EQ(0x320u, field(r, TK17_RESOURCE_IO_ADDRESS));
    EXPECT_EQ(16u, field(r, TK17_RESOURCE_IO_LENGTH));  // default length

    uint8_t b = 0;
    ASSERT_EQ(1, d().Tk17InPort(0, &b));
    EXPECT_EQ(0x5A, b);
    std::vector<uint8_t> pattern;
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(1, d().Tk17InPort(1, &b));
        pattern.push_back(b);
    }
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 4, 1}), pattern);

    Tk17Mode m = makeMode(0, 0, 1, 10);
    ASSERT_EQ(1, d().Tk17SetMode(0, &m));
    ASSERT_EQ(1, d().Tk17StartSampling(0));
    std::vector<uint16_t> codes = read(0, 2);
    EXPECT_EQ(2304, codes[0]);  // (1.25 + 10) x 4096 / 20
    EXPECT_EQ(3072, codes[1]);  // phase 90: about 5 V at t = 100 us

    EXPECT_EQ(1, d().Tk17OutPort(1, 1));
    EXPECT_EQ(0, d().Tk17OutPort(1, 2));
    EXPECT_EQ(77, d().Tk17GetLastError(1));
    EXPECT_EQ(1, d().Tk17OutPort(0, 2));  // the fault is on socket 1 only
}

// Numbers in C notation: signs, a fraction without digits before the point, exponents,
// hexadecimal with 0x or 0X for whole numbers and bytes.
TEST_F(SimcardConfigText, NumbersTakeEveryCNotation)
{
    configure("[CARD 0]\n"
              "io_address = +0X300\n"
              "io_length = 010\n"
              "clock = virtual\n"
              "ai0 = DC offset=+.625\n"
              "ai1 = dc OFFSET=-25e-1\n"
              "ai2 = dc offset=0.00048828125E4\n"
              "din = fixed 0Xa5\n");
    ASSERT_EQ(1, d().open(0));
    Tk17Resource r;
    ASSERT_EQ(1, d().Tk17GetResource(0, &r));
    EXPECT_EQ(0x300u, field(r, TK17_RESOURCE_IO_ADDRESS));
    EXPECT_EQ(10u, field(r, TK17_RESOURCE_IO_LENGTH)) << "decimal, the leading 0 is no octal";
    uint8_t b = 0;
    ASSERT_EQ(1, d().Tk17InPort(0, &b));
    EXPECT_EQ(0xA5, b);
    Tk17Mode m = makeMode(0, 0, 2, 10);
    ASSERT_EQ(1, d().Tk17SetMode(0, &m));
    ASSERT_EQ(1, d().Tk17StartSampling(0));
    // (V + 10) x 4096 / 20, each exact.
    EXPECT_EQ((std::vector<uint16_t>{2176, 1536, 3048}), read(0, 3));
}

TEST_F(SimcardConfigText, EmptyTextMeansNoCard)
{
    configure("");
    for (int s = 0; s < 4; ++s) {
        EXPECT_EQ(0, d().open(s));
        EXPECT_EQ(TK17SIM_ERR_NO_CARD, d().Tk17GetLastError(s));
    }
}

TEST_F(SimcardConfigText, ErrorsNameTheLineAndKeepThePreviousConfiguration)
{
    configure("[card 3]\n");
    struct Case {
        const char* text;
        const char* line;
        const char* mentions;
    } cases[] = {
        {"[card 4]\n", "line 1", "0..3"},
        {"[card 0]\n[card 0]\n", "line 2", "twice"},
        {"[cards 0]\n", "line 1", "section"},
        {"[card 0\n", "line 1", "]"},
        {"io_address = 0x300\n", "line 1", "outside"},
        {"[card 0]\nio_address 0x300\n", "line 2", "key = value"},
        {"[card 0]\nio_address = 0x30g\n", "line 2", "0x30g"},
        {"[card 0]\nio_length = -1\n", "line 2", "-1"},
        {"[card 0]\nclock = fast\n", "line 2", "real, virtual or stepped"},
        {"[card 0]\nai8 = dc\n", "line 2", "ai8"},
        {"[card 0]\n\nai0 = cosine amplitude=1\n", "line 3", "cosine"},
        {"[card 0]\nai0 = sine amplitude=1 freq=10\n", "line 2", "freq"},
        {"[card 0]\nai0 = dc amplitude=1\n", "line 2", "amplitude"},
        {"[card 0]\nai0 = sine amplitude=1,5\n", "line 2", "1,5"},
        {"[card 0]\nai0 = square amplitude=1 duty=2\n", "line 2", "duty"},
        {"[card 0]\nai0 = codes 1 2 5000\n", "line 2", "5000"},
        {"[card 0]\nai0 = codes\n", "line 2", "codes"},
        {"[card 0]\ndin = fixed 100\n", "line 2", "fixed"},
        {"[card 0]\ndin = pattern\n", "line 2", "pattern"},
        {"[card 0]\ndin = pattern 01 zz\n", "line 2", "zz"},
        {"[card 0]\ndin = loopback 3\n", "line 2", "loopback"},
        {"[card 0]\ndin = random\n", "line 2", "random"},
        {"[fault]\nTk17GetDate = socket 0 from 1 error 5\n", "line 2", "Tk17GetDate"},
        {"[fault]\nTk17GetData = socket 4 from 1 error 5\n", "line 2", "socket"},
        {"[fault]\nTk17GetData = socket 0 from 0 error 5\n", "line 2", "from"},
        {"[fault]\nTk17GetData = socket 0 from 1 error\n", "line 2", "error"},
        {"[fault]\npull = socket 0\n", "line 2", "at"},
        {"[fault]\npull = socket 0 at Tk17Nothing 3\n", "line 2", "at"},
        // Numbers are read whole: nothing after them, nothing beyond their range.
        {"[card 0]\nai0 = dc offset=1e\n", "line 2", "'1e' is not a number (offset)"},
        {"[card 0]\nai0 = dc offset=inf\n", "line 2", "'inf' is not a number (offset)"},
        {"[card 0]\nai0 = dc offset=nan\n", "line 2", "'nan' is not a number (offset)"},
        {"[card 0]\nai0 = dc offset=1e400\n", "line 2", "'1e400' is not a number (offset)"},
        {"[card 0]\nai0 = dc offset=0x10\n", "line 2", "'0x10' is not a number (offset)"},
        {"[card 0]\nai0 = dc offset=+-1\n", "line 2", "'+-1' is not a number (offset)"},
        {"[card 0]\nai0 = noise amplitude=1 seed=1.5\n", "line 2", "'1.5' is not a whole number (seed)"},
        {"[card 0]\nio_address = 0x\n", "line 2", "0x"},
        {"[card 0]\ndin = fixed 0x\n", "line 2", "fixed"},
        {"[card 0]\ndin = pattern +1\n", "line 2", "'+1' is not a hexadecimal byte"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(0, sim().Configure(c.text)) << c.text;
        std::string error = d().lastError();
        EXPECT_NE(std::string::npos, error.find(c.line)) << c.text << " -> " << error;
        EXPECT_NE(std::string::npos, error.find(c.mentions)) << c.text << " -> " << error;
    }
    // Still the configuration from before the failed attempts.
    EXPECT_EQ(0, d().open(0));
    EXPECT_EQ(1, d().open(3));
}

TEST_F(SimcardConfigText, ConfigureResetsCardsLogsAndFaults)
{
    configure("[card 0]\nclock = virtual\n");
    ASSERT_EQ(1, d().open(0));
    ASSERT_EQ(1, d().Tk17OutPort(0, 9));
    ASSERT_EQ(1, sim().InjectFault("Tk17InPort", 0, 1, 5));
    EXPECT_GT(sim().CallCount(nullptr, -1), 0);

    configure("[card 0]\nclock = virtual\n");
    EXPECT_EQ(0, sim().IsOpen(0));
    EXPECT_EQ(0, sim().CallCount(nullptr, -1));
    EXPECT_EQ(0, sim().GetOutputLog(-1, nullptr, 0));
    EXPECT_EQ(0, d().Tk17GetLastError(0));
    ASSERT_EQ(1, d().open(0));
    uint8_t b;
    EXPECT_EQ(1, d().Tk17InPort(0, &b));
}

// The reason and the line of a configuration that could not be used, apart, for a
// caller that names its own file (velk run names the worksheet's lines).
TEST(SimcardConfigSource, ConfigErrorGivesTheReasonAndTheLineApart)
{
    clearConfigEnvironment();
    DriverCopy copy;
    const std::string file = copy.dir + "card.ini";
    writeFile(file, "[card 0]\n\nai0 = codes 0 4096\n");
    SetEnvironmentVariableA("VYTTK17_CONFIG", file.c_str());
    LoadedDriver d(copy.dll);
    clearConfigEnvironment();
    ASSERT_TRUE(d.complete());
    uint32_t line = 99;
    char reason[256] = {};
    EXPECT_GT(d.sim.ConfigError(&line, reason, sizeof reason), 0);
    EXPECT_EQ(3u, line);
    EXPECT_EQ(std::string("ai0: '4096' is not a code 0..4095"), reason);
    EXPECT_NE(std::string::npos, d.lastError().find("card.ini: line 3: ai0")) << d.lastError();
    EXPECT_EQ("file " + file + " (invalid)", d.configSource());

    ASSERT_EQ(1, d.sim.Configure("[card 1]\n"));
    EXPECT_EQ(0, d.sim.ConfigError(&line, reason, sizeof reason)) << "a good configuration clears it";
    EXPECT_EQ(0u, line);
    EXPECT_EQ(0, d.sim.Configure("[card 1]\n[card 1]\n"));
    EXPECT_GT(d.sim.ConfigError(&line, reason, sizeof reason), 0);
    EXPECT_EQ(2u, line);
    EXPECT_EQ(std::string("card 1 is configured twice"), reason);
}

TEST(SimcardConfigSource, AFileThatCannotBeReadHasAReasonWithoutALine)
{
    clearConfigEnvironment();
    const std::string folder = makeTempDir();  // a folder is no file to read
    SetEnvironmentVariableA("VYTTK17_CONFIG", folder.c_str());
    LoadedDriver d(driverPath());
    clearConfigEnvironment();
    ASSERT_TRUE(d.complete());
    uint32_t line = 99;
    char reason[512] = {};
    EXPECT_GT(d.sim.ConfigError(&line, reason, sizeof reason), 0);
    EXPECT_EQ(0u, line);
    EXPECT_NE(std::string::npos, std::string(reason).find("cannot read")) << reason;
    EXPECT_TRUE(openableSockets(d).empty());
}

TEST_F(SimcardConfigText, Utf16AndNulBytesAreRefusedWithTheirLine)
{
    const std::string utf16("\xFF\xFE[\0c\0a\0r\0d\0 \0" "0\0]\0\n\0", 20);
    EXPECT_EQ(0, sim().Configure(utf16.c_str())) << "the mark alone already tells";
    uint32_t line = 0;
    char reason[256] = {};
    sim().ConfigError(&line, reason, sizeof reason);
    EXPECT_EQ(1u, line);
    EXPECT_NE(std::string::npos, std::string(reason).find("UTF-16")) << reason;

    // A UTF-16 file without its mark: the NUL after the first letter.
    const std::string path = makeTempDir() + "wide.ini";
    writeFile(path, std::string("[\0c\0a\0r\0d\0 \0" "0\0]\0", 16));
    SetEnvironmentVariableA("VYTTK17_CONFIG", path.c_str());
    EXPECT_EQ(0, sim().Configure(nullptr));
    clearConfigEnvironment();
    sim().ConfigError(&line, reason, sizeof reason);
    EXPECT_EQ(1u, line);
    EXPECT_NE(std::string::npos, std::string(reason).find("NUL")) << reason;
    EXPECT_EQ(0, d().open(0)) << "no card from a file that could not be read";
}

// Lines end with LF, CRLF or a CR alone: a file saved by an older editor (CR only)
// reads as the same configuration, with the same line numbers in its mistakes.
TEST_F(SimcardConfigText, LinesEndWithLfCrLfOrACrAlone)
{
    configure("; saved with CR line ends\r[card 1]\rio_address = 0x320\rclock = virtual\rdin = fixed 5A\r");
    EXPECT_EQ(0, d().open(0));
    ASSERT_EQ(1, d().open(1)) << "the card after the comment line is there";
    Tk17Resource r;
    ASSERT_EQ(1, d().Tk17GetResource(1, &r));
    EXPECT_EQ(0x320u, field(r, TK17_RESOURCE_IO_ADDRESS));
    uint8_t b = 0;
    ASSERT_EQ(1, d().Tk17InPort(1, &b));
    EXPECT_EQ(0x5A, b);

    // Each kind of line end counts one line; CR LF is one line end, LF CR two.
    struct Case {
        const char* text;
        uint32_t line;
    } cases[] = {
        {"[card 0]\r\rclock = fast\r", 3},
        {"[card 0]\r\n\r\nclock = fast\r\n", 3},
        {"[card 0]\n\r\r\nclock = fast", 4},
        {"; a\r; b\n; c\r\n[card 0]\rdin = random\n", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(0, sim().Configure(c.text));
        uint32_t line = 0;
        char reason[256] = {};
        EXPECT_GT(sim().ConfigError(&line, reason, sizeof reason), 0);
        EXPECT_EQ(c.line, line) << reason;
    }
}

// A configuration file with CR line ends, found by the driver at load: its card is
// there (it was read as one comment line, and so as no card at all).
TEST(SimcardConfigSource, AFileWithCrLineEndsGivesItsCards)
{
    clearConfigEnvironment();
    DriverCopy copy("; the bench card\r[card 2]\rio_address = 0x340\r");
    LoadedDriver d(copy.dll);
    ASSERT_TRUE(d.complete());
    EXPECT_EQ(std::vector<int>{2}, openableSockets(d)) << d.lastError();

    // A NUL byte is said on its line, counted with the same line ends.
    const std::string text("; x\r[card 0]\rclock = \0virtual\r", 30);
    writeFile(copy.dir + "vyttk17.ini", text);
    EXPECT_EQ(0, d.sim.Configure(nullptr));
    uint32_t line = 0;
    char reason[256] = {};
    EXPECT_GT(d.sim.ConfigError(&line, reason, sizeof reason), 0);
    EXPECT_EQ(3u, line) << reason;
    EXPECT_NE(std::string::npos, std::string(reason).find("NUL")) << reason;
}

// The [fault] keys pull, overrun and overflow are keys like any other: not
// case-sensitive. Operation names keep their spelling.
TEST_F(SimcardConfigText, FaultEventKeysAreNotCaseSensitive)
{
    configure("[card 0]\nclock = virtual\n[card 1]\nclock = virtual\n"
              "[fault]\n"
              "PULL = socket 0 at Tk17InPort 2\n"
              "OverRun = socket 1 at Tk17GetSamplingStatus 2\n"
              "Overflow = Socket 1 AT Tk17GetSamplingStatus 3\n");
    ASSERT_EQ(1, d().open(0));
    uint8_t b = 0;
    EXPECT_EQ(1, d().Tk17InPort(0, &b));
    EXPECT_EQ(0, d().Tk17InPort(0, &b)) << "pulled just before the second read";
    EXPECT_EQ(TK17SIM_ERR_CARD_REMOVED, d().Tk17GetLastError(0));

    start(1, makeMode(0, 0, 0, 10));
    uint32_t count = 0, status = 0;
    ASSERT_EQ(1, d().Tk17GetSamplingStatus(1, &count, &status));
    EXPECT_EQ(0u, status);
    ASSERT_EQ(1, d().Tk17GetSamplingStatus(1, &count, &status));
    EXPECT_EQ(static_cast<uint32_t>(TK17_STATUS_OVERRUN), status);
    ASSERT_EQ(1, d().Tk17GetSamplingStatus(1, &count, &status));
    EXPECT_EQ(static_cast<uint32_t>(TK17_STATUS_OVERRUN | TK17_STATUS_OVERFLOW), status);

    EXPECT_EQ(0, sim().Configure("[fault]\nPull = socket 0 at tk17inport 2\n"))
        << "an operation name is spelt as exported";
    EXPECT_EQ(0, sim().Configure("[fault]\ntk17inport = socket 0 from 2\n"));
    EXPECT_NE(std::string::npos, d().lastError().find("unknown operation 'tk17inport'")) << d().lastError();
}

// A long line is quoted by its beginning, cut between whole UTF-8 characters.
TEST_F(SimcardConfigText, ALongLineIsQuotedByItsBeginning)
{
    std::string key;
    for (int i = 0; i < 200000; ++i) key += u8"鍵";  // 3 bytes each: a cut at 40 bytes falls inside one
    const std::string text = "[card 0]\n" + key + " = 1\n";
    EXPECT_EQ(0, sim().Configure(text.c_str()));
    uint32_t line = 0;
    const int32_t length = sim().ConfigError(&line, nullptr, 0);
    ASSERT_GT(length, 0);
    EXPECT_LT(length, 200) << "the line is not repeated whole";
    std::string reason(static_cast<size_t>(length) + 1, '\0');
    sim().ConfigError(&line, &reason[0], static_cast<uint32_t>(reason.size()));
    reason.resize(static_cast<size_t>(length));
    EXPECT_EQ(2u, line);
    std::string thirteen;
    for (int i = 0; i < 13; ++i) thirteen += u8"鍵";
    EXPECT_EQ("unknown key '" + thirteen + "...' (io_address, io_length, clock, ai0..ai7, din, socket_cell, poll_time_us, status_bits, port_hold_us)", reason);

    const std::string value = "[card 0]\nai0 = codes " + std::string(100000, '7') + "\n";
    EXPECT_EQ(0, sim().Configure(value.c_str()));
    EXPECT_LT(d().lastError().size(), 200u) << d().lastError().substr(0, 300);
    EXPECT_NE(std::string::npos, d().lastError().find("ai0: '" + std::string(40, '7') + "...' is not a code"))
        << d().lastError().substr(0, 300);
}
