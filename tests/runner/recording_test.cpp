// Recordings written as the data arrive: rows joined across channels as soon as
// every channel has passed them, memory bounded by a block (or by the lag limit when
// a channel falls behind), every sink ended and every failure reported; and a long
// run stopped part way keeps everything up to its stop.
#include "runner_support.h"

#include "velk/recording/recording.h"

#include <math.h>
#include <string.h>

namespace runnertest {
namespace {

struct Row {
    double time;
    std::vector<float> values;
};

// Keeps what it is given.
class KeptRows : public velk::RowSink {
public:
    explicit KeptRows(std::vector<Row>& rows) : rows_(rows) {}
    void begin(const std::vector<std::string>& labels) override { labels_ = labels; }
    void row(double time, const float* values, size_t count) override {
        rows_.push_back({time, std::vector<float>(values, values + count)});
    }
    bool end(std::string&) override { return true; }
    std::vector<std::string> labels_;

private:
    std::vector<Row>& rows_;
};

std::vector<float> Ramp(float from, size_t n) {
    std::vector<float> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = from + static_cast<float>(i);
    return v;
}

TEST(SampleJoiner, RowsGoOutOnceEveryChannelHasPassedThem) {
    std::vector<Row> rows;
    velk::SampleJoiner j(2, 1000);
    j.addSink(std::make_unique<KeptRows>(rows));
    j.begin({"a", "b"});
    const std::vector<float> a = Ramp(0, 10), b = Ramp(100, 10);
    j.add(0, 0, a.data(), 10, 0.0, 0.001);
    EXPECT_TRUE(rows.empty()) << "channel b has not passed any row yet";
    EXPECT_EQ(j.pendingRows(), 10u);
    j.add(0, 10, a.data(), 10, 0.01, 0.001);
    j.add(1, 0, b.data(), 10, 0.0, 0.001);
    ASSERT_EQ(rows.size(), 10u);
    EXPECT_EQ(j.pendingRows(), 10u) << "rows 10 to 19 wait for channel b";
    EXPECT_NEAR(rows[3].time, 0.003, 1e-12);
    EXPECT_EQ(rows[3].values, (std::vector<float>{3, 103}));
    std::string error;
    EXPECT_TRUE(j.end(error)) << error;
    ASSERT_EQ(rows.size(), 20u) << "at the end the rest goes out";
    EXPECT_EQ(rows[15].values[0], 5.0f);
    EXPECT_TRUE(isnan(rows[15].values[1])) << "channel b has no sample there";
    EXPECT_EQ(j.pendingHighWater(), 20u);
}

TEST(SampleJoiner, AChannelFallingBehindBoundsTheRowsHeldAndItsLateSamplesAreReported) {
    std::vector<Row> rows;
    velk::SampleJoiner j(2, 1000000, 100);
    j.addSink(std::make_unique<KeptRows>(rows));
    j.begin({"a", "b"});
    const std::vector<float> a = Ramp(0, 50);
    for (uint64_t k = 0; k < 1000; k += 50) j.add(0, k, a.data(), 50, k * 0.001, 0.001);
    EXPECT_LE(j.pendingHighWater(), 100u);
    EXPECT_EQ(rows.size(), 900u) << "all but the last 100 rows went out without channel b";
    const std::vector<float> b = Ramp(7, 20);
    j.add(1, 0, b.data(), 20, 0.0, 0.001);
    EXPECT_EQ(j.lateSamples(), 20u);
    std::string error;
    EXPECT_FALSE(j.end(error));
    EXPECT_NE(error.find("20 samples arrived after their rows had been written"), std::string::npos) << error;
    EXPECT_EQ(rows.size(), 1000u);
}

TEST(SampleJoiner, SamplesBeyondTheLimitAndRowsWithoutAnySampleAreLeftOut) {
    std::vector<Row> rows;
    velk::SampleJoiner j(1, 25);
    j.addSink(std::make_unique<KeptRows>(rows));
    j.begin({"a"});
    const std::vector<float> a = Ramp(0, 10);
    j.add(0, 0, a.data(), 10, 0.0, 0.5);
    j.add(0, 20, a.data(), 10, 10.0, 0.5);  // a gap of ten samples, then past the limit of 25
    std::string error;
    EXPECT_TRUE(j.end(error)) << error;
    ASSERT_EQ(rows.size(), 15u);
    EXPECT_EQ(rows[10].time, 10.0);
    EXPECT_EQ(rows[14].values[0], 4.0f);
}

// A file whose writes fail part way: the other sink of the same rows is still written
// whole, and the failure says how far the file got.
TEST(SampleJoiner, AFailingFileIsReportedAndTheOtherSinksAreStillWritten) {
    const std::string good = TempFolder("joiner") + "\\good.csv";
    auto full = std::make_unique<velk::CsvSink>("Z:\\dev\\full");  // every write: disk full
    auto whole = std::make_unique<velk::CsvSink>(good);
    std::string error;
    ASSERT_TRUE(full->open(error)) << error;
    ASSERT_TRUE(whole->open(error)) << error;
    velk::SampleJoiner j(1, 100000);
    j.addSink(std::move(full));
    j.addSink(std::move(whole));
    j.begin({"x"});
    const std::vector<float> a = Ramp(0, 20000);
    j.add(0, 0, a.data(), a.size(), 0.0, 0.001);
    EXPECT_FALSE(j.end(error));
    EXPECT_NE(error.find("cannot write Z:\\dev\\full: the disk is full (112); it is incomplete"), std::string::npos)
        << error;
    const Csv csv = ReadCsv(good);
    ASSERT_EQ(csv.rows.size(), 20000u);
    EXPECT_EQ(csv.rows[19999][1], "19999");
}

// Every cell reads back as the very number given: the time as a double (two samples
// 10 us apart after 10000 s keep apart), each value as a float, by its shortest text;
// a missing sample is an empty cell.
TEST(CsvSink, EveryNumberReadsBackExactly) {
    const std::string path = TempFolder("cells") + "\\cells.csv";
    velk::CsvSink sink(path);
    std::string error;
    ASSERT_TRUE(sink.open(error)) << error;
    sink.begin({"a", "b"});
    const double times[] = {0.0, 0.1 + 2 * 0.001, 10000.00001, 10000.00002, 1e-7, 123456789.125};
    const float values[][2] = {{0.1f, -9.99511719f}, {NAN, 3.4028235e38f}, {1e-45f, -0.0f},
                               {4.99755859375f, NAN}, {1.0f / 3.0f, 2.5f}, {-1.0e-3f, 16777217.0f}};
    for (size_t k = 0; k < 6; ++k) sink.row(times[k], values[k], 2);
    ASSERT_TRUE(sink.end(error)) << error;
    const Csv csv = ReadCsv(path);
    ASSERT_EQ(csv.rows.size(), 6u);
    for (size_t k = 0; k < 6; ++k) {
        ASSERT_EQ(csv.rows[k].size(), 3u) << k;
        EXPECT_EQ(strtod(csv.rows[k][0].c_str(), nullptr), times[k]) << csv.rows[k][0];
        for (size_t c = 0; c < 2; ++c) {
            const std::string& cell = csv.rows[k][c + 1];
            if (isnan(values[k][c])) {
                EXPECT_EQ(cell, "") << k;
                continue;
            }
            const float back = strtof(cell.c_str(), nullptr);
            EXPECT_EQ(memcmp(&back, &values[k][c], sizeof back), 0) << cell;
        }
    }
    EXPECT_NE(csv.rows[2][0], csv.rows[3][0]);
    EXPECT_EQ(csv.rows[0][1], "0.1") << "float's shortest, not 0.100000001";
    EXPECT_EQ(csv.rows[2][2], "-0");
    EXPECT_EQ(csv.rows[1][0], "0.10200000000000001") << "the double of 0.1 + 2 x 0.001, which is not 0.102's";
    EXPECT_EQ(csv.rows[4][0], "1e-07");
}

// The long run: 8 channels, blocks of 65535 at 1 ms, a million seconds on the
// virtual clock. Stopped after four blocks, the file holds all four and memory held
// at most one block's rows at a time.
TEST_F(RunnerTest, ALongRunStoppedPartWayKeepsEveryRowUpToItsStop) {
    ASSERT_TRUE(Build("[experiment]\nblock_size = 65535\nduration_s = 1000000\n"
                      "[module ai]\nclass = analog_in\nchannels = 8\nbuffer = 1M\n[record ai]\nfile = long.csv\n"
                      "[card 0]\nclock = virtual\nai0 = scan\nai7 = scan start=7\n"));
    ASSERT_TRUE(E().start());
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(E().round());
    const velk::ModuleRun* run = E().moduleRun("ai");
    ASSERT_TRUE(run->recording);
    EXPECT_LE(run->recording->pendingHighWater(), 65535u) << "rows wait at most for the channels of one read";
    EXPECT_EQ(run->csv->rows(), 3u * 65535) << "the rows have gone to the file while the run goes";
    E().requestStop();
    EXPECT_FALSE(E().round()) << "the stop is seen after the round's processing (a fourth block)";
    EXPECT_EQ(E().report().end, velk::RunEnd::StoppedByUser);
    std::string error;
    ASSERT_TRUE(E().writeRecordings(error)) << error;
    const Csv csv = ReadCsv(Out("long.csv"));
    ASSERT_EQ(csv.rows.size(), 4u * 65535);
    for (size_t k : {size_t(0), size_t(65535), size_t(4 * 65535 - 1)}) {
        ASSERT_EQ(csv.rows[k].size(), 9u);
        EXPECT_NEAR(strtod(csv.rows[k][0].c_str(), nullptr), static_cast<double>(k) * 0.001, 1e-9);
        EXPECT_EQ(static_cast<float>(strtod(csv.rows[k][1].c_str(), nullptr)), CodeVolts(static_cast<int>(k % 4096)));
        EXPECT_EQ(static_cast<float>(strtod(csv.rows[k][8].c_str(), nullptr)),
                  CodeVolts(static_cast<int>((k + 7) % 4096)));
    }
    EXPECT_NE(Summary().find("(262140 rows)"), std::string::npos) << Summary();
    EXPECT_NE(Summary().find("recorded to "), std::string::npos) << Summary();
}

}  // namespace
}  // namespace runnertest
