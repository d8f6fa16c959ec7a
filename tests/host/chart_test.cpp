// Charts checked as data: the trace of known signals lies in the rows their values
// give, a column keeps a single-sample spike among a hundred thousand samples,
// digital levels sit on their two rows, and the PNG file decodes to exactly the
// pixels that were rendered, at the stated size, whatever the writing thread's COM.
#include <gtest/gtest.h>

#include "velk/recording/chart.h"
#include "velk/recording/png.h"
#include "tests/support/png_decode.h"

#include <math.h>

#include <set>
#include <string>
#include <vector>

namespace {

using velk::Chart;
using velk::ChartDesign;

using velktest::Image;
using velktest::DecodePng;

Image Render(const Chart& chart) {
    Image image;
    image.width = chart.layout().width;
    image.height = chart.layout().height;
    EXPECT_TRUE(chart.render(image.rgb));
    return image;
}

// Rows of strip `channel` that hold trace pixels in plot column `col`.
std::set<int> TraceRows(const Chart& chart, const Image& image, uint32_t channel, int col) {
    std::set<int> rows;
    const int top = chart.layout().stripTop[channel];
    for (int y = top; y < top + chart.layout().stripHeight; ++y)
        if (image.isTrace(chart.layout().plotLeft + col, y)) rows.insert(y);
    return rows;
}

ChartDesign TwoStrips(double durationS) {
    ChartDesign design;
    design.title = "test";
    design.channelLabels = {"dc", u8"矩形波"};
    design.durationS = durationS;
    design.plotWidth = 200;
    design.stripHeight = 101;
    return design;
}

TEST(Chart, ADcLevelAndASquareWaveLieOnTheirRows) {
    Chart chart(TwoStrips(1.0));
    std::vector<float> dc(1000, 2.5f), square(1000);
    for (size_t j = 0; j < square.size(); ++j) square[j] = (j / 100) % 2 == 0 ? 5.0f : -5.0f;  // 10 Hz at 1 kS/s
    chart.add(0, 0.0, 0.001, dc.data(), 500);
    chart.add(0, 0.5, 0.001, dc.data() + 500, 500);  // a second block
    chart.add(1, 0.0, 0.001, square.data(), 1000);
    const Image image = Render(chart);
    EXPECT_EQ(chart.samples(0), 1000u);
    const int dcRow = chart.rowOf(0, 2.5);
    EXPECT_EQ(dcRow, chart.layout().stripTop[0] + 38) << "2.5 V is 37.5 % down a ±10 V strip of 101 rows";
    const int high = chart.rowOf(1, 5.0), low = chart.rowOf(1, -5.0);
    for (int col = 0; col < 200; ++col) {
        ASSERT_EQ(TraceRows(chart, image, 0, col), std::set<int>{dcRow}) << "column " << col;
        const std::set<int> rows = TraceRows(chart, image, 1, col);
        // 5 samples a column: a column holds one level, or both where the level changes.
        const bool edge = col % 20 == 0 && col > 0;
        if (edge) {
            ASSERT_EQ(rows.size(), static_cast<size_t>(low - high + 1)) << "the edge joins both levels, column " << col;
        } else {
            ASSERT_EQ(rows, std::set<int>{(col / 20) % 2 == 0 ? high : low}) << "column " << col;
        }
    }
}

TEST(Chart, ASingleSampleSpikeSurvivesAMillionSamples) {
    ChartDesign design = TwoStrips(10.0);
    design.channelLabels = {"spike"};
    Chart chart(design);
    std::vector<float> block(10000, 0.0f);
    for (int k = 0; k < 100; ++k) {
        if (k == 73) block[4321] = 9.0f;
        chart.add(0, k * 0.1, 0.00001, block.data(), static_cast<uint32_t>(block.size()));
        block[4321] = 0.0f;
    }
    const Image image = Render(chart);
    const int spikeColumn = chart.columnOf(7.3 + 4321 * 0.00001);
    EXPECT_EQ(spikeColumn, 146);
    const std::set<int> rows = TraceRows(chart, image, 0, spikeColumn);
    EXPECT_TRUE(rows.count(chart.rowOf(0, 9.0))) << "the spike's maximum is drawn";
    EXPECT_TRUE(rows.count(chart.rowOf(0, 0.0)));
    EXPECT_EQ(TraceRows(chart, image, 0, spikeColumn - 2), std::set<int>{chart.rowOf(0, 0.0)});
}

// Fewer samples than columns: the columns between two samples carry the line from
// one to the next, so a slow ramp stays one unbroken rising line.
TEST(Chart, SparseSamplesAreJoinedAcrossTheEmptyColumns) {
    ChartDesign design = TwoStrips(1.0);
    design.channelLabels = {"ramp"};
    Chart chart(design);
    std::vector<float> ramp(11);
    for (size_t j = 0; j < ramp.size(); ++j) ramp[j] = -8.0f + 1.6f * static_cast<float>(j);
    chart.add(0, 0.0, 0.1, ramp.data(), 11);
    const Image image = Render(chart);
    int previousTop = 1 << 30;
    for (int col = 0; col <= chart.columnOf(1.0); ++col) {
        const std::set<int> rows = TraceRows(chart, image, 0, col);
        ASSERT_FALSE(rows.empty()) << "column " << col;
        ASSERT_LE(*rows.begin(), previousTop) << "rising, column " << col;
        previousTop = *rows.begin();
    }
    EXPECT_EQ(*TraceRows(chart, image, 0, 0).rbegin(), chart.rowOf(0, -8.0));
    EXPECT_EQ(*TraceRows(chart, image, 0, 199).begin(), chart.rowOf(0, 8.0));
}

TEST(Chart, DigitalLevelsAndValuesOutsideTheRange) {
    ChartDesign design = TwoStrips(1.0);
    design.digital = true;
    design.yMin = -1.0;
    design.yMax = 6.0;
    design.channelLabels = {"line 0"};
    Chart chart(design);
    std::vector<float> levels(200);
    for (size_t j = 0; j < levels.size(); ++j) levels[j] = j < 100 ? 0.0f : 5.0f;
    chart.add(0, 0.0, 0.005, levels.data(), 200);
    const float wild[3] = {NAN, 100.0f, -100.0f};
    chart.add(0, 0.999, 0.0, wild, 3);
    const Image image = Render(chart);
    EXPECT_EQ(TraceRows(chart, image, 0, 10), std::set<int>{chart.rowOf(0, 0.0)});
    EXPECT_EQ(TraceRows(chart, image, 0, 150), std::set<int>{chart.rowOf(0, 5.0)});
    EXPECT_EQ(chart.samples(0), 202u) << "a sample that is not a number is left out";
    const std::set<int> last = TraceRows(chart, image, 0, 199);
    EXPECT_EQ(*last.begin(), chart.layout().stripTop[0]) << "clamped to the strip's top";
    EXPECT_EQ(*last.rbegin(), chart.layout().stripTop[0] + design.stripHeight - 1) << "and its bottom";
}

TEST(Chart, ThePngFileHoldsExactlyTheRenderedPixels) {
    Chart chart(TwoStrips(2.0));
    std::vector<float> ramp(2000);
    for (size_t j = 0; j < ramp.size(); ++j) ramp[j] = static_cast<float>(j) / 100.0f - 10.0f;
    chart.add(0, 0.0, 0.001, ramp.data(), 2000);
    chart.add(1, 0.0, 0.001, ramp.data(), 2000);
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + "velk-chart-test-" + std::to_string(GetCurrentProcessId()) + ".png";
    ASSERT_TRUE(chart.writePng(path));
    const Image rendered = Render(chart);
    Image decoded;
    ASSERT_TRUE(DecodePng(path, decoded));
    DeleteFileA(path.c_str());
    EXPECT_EQ(decoded.width, chart.layout().width);
    EXPECT_EQ(decoded.height, chart.layout().height);
    EXPECT_EQ(decoded.width, 72 + 200 + 24);
    EXPECT_TRUE(decoded.rgb == rendered.rgb) << "the file decodes to the rendered pixels";
    EXPECT_FALSE(velk::WritePng("Z:\\no\\such\\folder\\x.png", 2, 2, std::vector<uint8_t>(12))) << "an unwritable path";
}

std::string TempPng(const std::string& name) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + "velk-png-test-" + std::to_string(GetCurrentProcessId()) + "-" + name + ".png";
}

// Images the encoder cannot shrink and images it can: random bytes, long runs,
// repeats far apart; a width of 333 pixels makes rows of 999 bytes, not a multiple of
// four. Each decodes to the very bytes written.
TEST(Chart, ImagesOfAnyContentComeBackExactly) {
    uint32_t seed = 12345;
    for (int kind = 0; kind < 3; ++kind) {
        const int width = 333, height = 211;
        std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
        for (size_t i = 0; i < rgb.size(); ++i) {
            seed = seed * 1664525u + 1013904223u;
            rgb[i] = kind == 0 ? static_cast<uint8_t>(seed >> 24)
                     : kind == 1 ? static_cast<uint8_t>((i / 5000) * 37)
                                 : static_cast<uint8_t>((i % 40000) < 300 ? seed >> 24 : i % 7);
        }
        const std::string path = TempPng(std::to_string(kind));
        ASSERT_TRUE(velk::WritePng(path, width, height, rgb));
        Image decoded;
        ASSERT_TRUE(DecodePng(path, decoded)) << kind;
        DeleteFileA(path.c_str());
        EXPECT_EQ(decoded.width, width);
        EXPECT_EQ(decoded.height, height);
        EXPECT_TRUE(decoded.rgb == rgb) << "content " << kind;
    }
}

TEST(Chart, APngOfTheWrongSizeIsRefusedBeforeAnyFileIsMade) {
    const std::string path = TempPng("size");
    DeleteFileA(path.c_str());
    EXPECT_FALSE(velk::WritePng(path, 2, 2, std::vector<uint8_t>(11))) << "11 bytes for 2 x 2 pixels";
    EXPECT_FALSE(velk::WritePng(path, 0, 2, std::vector<uint8_t>())) << "no width";
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << path;
}

// COM on the thread that writes a PNG file, before and after: WritePng initialises it
// where the thread has not and gives back exactly what it took.
enum class Com { None, Apartment, Multithreaded };

struct ComCase {
    Com before;
    std::string path;
    bool written = false;
    HRESULT stillThere = E_FAIL;  // CoInitializeEx in the thread's mode after the write
    HRESULT afterOwnEnd = E_FAIL; // CoInitializeEx (multithreaded) once the thread's own count is given back
};

DWORD WINAPI WriteOnThread(void* param) {
    ComCase& c = *static_cast<ComCase*>(param);
    const DWORD mode = c.before == Com::Multithreaded ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED;
    if (c.before != Com::None && FAILED(CoInitializeEx(nullptr, mode))) return 1;
    const std::vector<uint8_t> rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 8, 7};
    c.written = velk::WritePng(c.path, 2, 2, rgb);
    if (c.before != Com::None) {
        c.stillThere = CoInitializeEx(nullptr, mode);
        if (SUCCEEDED(c.stillThere)) CoUninitialize();
        CoUninitialize();  // the thread's own initialisation
    }
    // Nothing may be left: the thread can now choose either mode.
    c.afterOwnEnd = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(c.afterOwnEnd)) CoUninitialize();
    return 0;
}

void WriteWithCom(ComCase& c) {
    HANDLE thread = CreateThread(nullptr, 0, WriteOnThread, &c, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    const DWORD waited = WaitForSingleObject(thread, 30000);
    if (waited != WAIT_OBJECT_0) TerminateThread(thread, 1);
    CloseHandle(thread);
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "the thread writing " << c.path << " did not end within 30 s";
}

// None: COM is not left there. Apartment: the thread's own count stays, and no count
// of the write's. Multithreaded (the other mode): the write uses it and leaves it.
TEST(Chart, APngIsWrittenWhateverTheThreadsComAndItsComStaysAsItWas) {
    for (Com before : {Com::None, Com::Apartment, Com::Multithreaded}) {
        ComCase c{before, TempPng("com" + std::to_string(static_cast<int>(before)))};
        WriteWithCom(c);
        SCOPED_TRACE(c.path);
        EXPECT_TRUE(c.written);
        if (before != Com::None) {
            EXPECT_EQ(c.stillThere, S_FALSE) << "the thread's COM ended with the write";
        }
        EXPECT_EQ(c.afterOwnEnd, S_OK) << "the write left a count of its own on the thread";
        Image decoded;
        EXPECT_TRUE(DecodePng(c.path, decoded) && decoded.width == 2 && decoded.rgb[0] == 255 && decoded.rgb[9] == 9);
        DeleteFileA(c.path.c_str());
    }
}

}  // namespace
