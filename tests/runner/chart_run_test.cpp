// Charts of a run: a PNG file beside every recording (read back with the system's
// decoder, the traces where the signals put them), none when charts are off, a
// chart that would overwrite another file refused before the run, and the live view
// drawing the same charts while the run goes.
#include "runner_support.h"

#include "tests/support/png_decode.h"
#include "velk/experiment/live_view.h"

#include <set>

namespace runnertest {
namespace {

using velk::RunEnd;
using velktest::Image;

constexpr char kTwoModules[] =
    "[experiment]\nblock_size = 50\nduration_s = 0.5\n"
    "[module ai]\nclass = analog_in\nchannels = 2\nrange = 5\n"
    "[module din]\nclass = digital_in\n"
    "[record ai]\nfile = ai.csv\n"
    "[record din]\nfile = din.data\n"
    "[card 0]\nclock = virtual\nai0 = dc offset=2.5\nai1 = square amplitude=4 frequency=2\ndin = fixed 01\n";

// Rows of the chart strip holding trace pixels in plot column `col`.
std::set<int> TraceRows(const velk::Chart& chart, const Image& image, int top, uint32_t channel, int col) {
    std::set<int> rows;
    const int y0 = top + chart.layout().stripTop[channel];
    for (int y = y0; y < y0 + chart.layout().stripHeight; ++y)
        if (image.isTrace(chart.layout().plotLeft + col, y)) rows.insert(y - top);
    return rows;
}

TEST_F(RunnerTest, EveryRecordingGetsItsChartBesideItsFile) {
    ASSERT_TRUE(Build(kTwoModules));
    ASSERT_EQ(E().run().end, RunEnd::Completed);
    std::string error;
    ASSERT_TRUE(E().writeRecordings(error)) << error;
    const std::string summary = Summary();
    EXPECT_NE(summary.find("ai.png\n"), std::string::npos) << summary;
    EXPECT_NE(summary.find("din.data.png\n"), std::string::npos) << summary;
    EXPECT_EQ(E().moduleRun("ai")->chartPath, velk::chartPathFor(E().moduleRun("ai")->csvPath));

    Image ai, din;
    ASSERT_TRUE(velktest::DecodePng(Out("ai.png"), ai));
    ASSERT_TRUE(velktest::DecodePng(Out("din.data.png"), din));
    std::unique_ptr<velk::Chart> aiChart = E().moduleRun("ai")->chart->snapshot();
    std::unique_ptr<velk::Chart> dinChart = E().moduleRun("din")->chart->snapshot();
    ASSERT_TRUE(aiChart && dinChart);
    EXPECT_EQ(ai.width, aiChart->layout().width);
    EXPECT_EQ(ai.height, aiChart->layout().height);
    EXPECT_EQ(aiChart->design().yMax, 5.0) << "the module's ±5 V range";
    EXPECT_EQ(aiChart->samples(0), 500u);
    // 2.5 V (code 3072, exactly 2.5 V on the ±5 V range) in every column; the
    // square wave at +4 V and -4 V; the digital line at level 5.
    const int dc = aiChart->rowOf(0, 2.5);
    const int high = aiChart->rowOf(1, 4.0), low = aiChart->rowOf(1, -4.0);
    const int level = dinChart->rowOf(0, 5.0);
    const int columns = aiChart->columnOf(0.499) + 1;  // up to the last sample's column
    EXPECT_EQ(columns, 879);
    // 500 samples over 880 columns: the trace joins them across the empty columns.
    // The square wave changes at 0.25 s (column 440); away from it it is flat.
    for (int col = 0; col < columns; ++col) {
        ASSERT_EQ(TraceRows(*aiChart, ai, 0, 0, col), std::set<int>{dc}) << col;
        const std::set<int> square = TraceRows(*aiChart, ai, 0, 1, col);
        ASSERT_FALSE(square.empty()) << col;
        if (col < 436) ASSERT_EQ(square, std::set<int>{high}) << col;
        else if (col > 443) ASSERT_EQ(square, std::set<int>{low}) << col;
        else ASSERT_TRUE(*square.begin() >= high && *square.rbegin() <= low) << col;
        ASSERT_EQ(TraceRows(*dinChart, din, 0, 0, col), std::set<int>{level}) << col;
    }
}

TEST_F(RunnerTest, WithChartsOffOnlyTheRecordingsAreWritten) {
    velk::WorksheetResult w = velk::parseWorksheet(kTwoModules, "test.vws");
    ASSERT_TRUE(w.ok());
    velk::HostOptions options;
    options.warnings = velk::WarningOutput::None;
    exp_ = std::make_unique<velk::Experiment>(w.sheet, options);
    out_ = TempFolder("charts-off");
    E().setOutputDir(out_);
    E().setCharts(false);
    ASSERT_TRUE(E().prepare()) << E().error();
    ASSERT_EQ(E().run().end, RunEnd::Completed);
    std::string error;
    ASSERT_TRUE(E().writeRecordings(error)) << error;
    EXPECT_NE(GetFileAttributesA(Out("ai.csv").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(Out("ai.png").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Summary().find("chart "), std::string::npos);
}

TEST_F(RunnerTest, AChartThatWouldOverwriteAnotherFileIsRefusedBeforeTheRun) {
    EXPECT_FALSE(Build("[module ai]\nclass = analog_in\n[module din]\nclass = digital_in\n"
                       "[record ai]\nfile = same.csv\n[record din]\nfile = same.png\n[card 0]\nclock = virtual\n",
                       false));
    EXPECT_NE(E().error().find("test.vws:"), std::string::npos) << E().error();
    EXPECT_NE(E().error().find("same.png"), std::string::npos) << E().error();
    EXPECT_FALSE(E().hasHost()) << "nothing was loaded";
}

TEST_F(RunnerTest, TheLiveViewDrawsTheChartsAsTheRunGoes) {
    ASSERT_TRUE(Build(kTwoModules));
    uint64_t framesSeen = 0;
    {
        velk::LiveView view(E().host(), 0);
        E().setLiveView(&view);
        ASSERT_EQ(E().run().end, RunEnd::Completed);
        E().setLiveView(nullptr);
        framesSeen = view.frames();
        EXPECT_NE(view.status().find("samples/channel"), std::string::npos) << view.status();
        EXPECT_NE(view.status().find("completed"), std::string::npos) << view.status();
        std::vector<uint8_t> bgra;
        int width = 0, height = 0;
        ASSERT_TRUE(view.latest(bgra, width, height));
        std::unique_ptr<velk::Chart> aiChart = E().moduleRun("ai")->chart->snapshot();
        std::unique_ptr<velk::Chart> dinChart = E().moduleRun("din")->chart->snapshot();
        EXPECT_EQ(width, aiChart->layout().width);
        EXPECT_EQ(height, aiChart->layout().height + dinChart->layout().height) << "the two charts one under the other";
        Image picture;
        picture.width = width;
        picture.height = height;
        for (size_t i = 0; i + 3 < bgra.size(); i += 4) picture.rgb.insert(picture.rgb.end(), {bgra[i + 2], bgra[i + 1], bgra[i]});
        const int dc = aiChart->rowOf(0, 2.5);
        const int level = dinChart->rowOf(0, 5.0);
        for (int col = 0; col < aiChart->columnOf(0.499); col += 37) {
            EXPECT_EQ(TraceRows(*aiChart, picture, 0, 0, col), std::set<int>{dc}) << col;
            EXPECT_EQ(TraceRows(*dinChart, picture, aiChart->layout().height, 0, col), std::set<int>{level}) << col;
        }
    }
    EXPECT_GE(framesSeen, 2u) << "drawn while the run went and at its end";
}

}  // namespace
}  // namespace runnertest
