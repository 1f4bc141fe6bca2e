// The chart's numbers: every record placed on the axis, the reduction per pixel column, and the text
// that the command line hands to the drawing program.

#include <gtest/gtest.h>

#include "data/ChartSeries.h"
#include "data/KnownDatabase.h"

namespace velutron {
namespace {

// Seconds of 2009-06-05 00:00 on the chart's axis.
constexpr double kJune5 = 1244160000;

std::vector<double> Xs(const std::vector<ChartPoint>& points) {
  std::vector<double> xs;
  for (const ChartPoint& p : points) xs.push_back(p.x);
  return xs;
}

TEST(ChartSeries, EveryRecordIsOnTheAxisWithUnitsInEveryNameAndMarksWhereValuesAreMissing) {
  // Record 4's stamp is no date: it follows record 3 at the file's spacing. Record 2 lacks channel 1
  // and with it channel 2 (no OFF mark then), record 3 holds channel 4 as a temperature and lacks
  // channel 3.
  const ChartData chart = ChartOfDatabase(DecodeDatabase(test::KnownDump().File()), "known.DAT");
  const double t1 = kJune5 + 14 * 3600 + 5 * 60 + 30;
  EXPECT_EQ(chart.axis, ChartAxis::Time);
  struct Line {
    std::string name;
    std::vector<double> xs;
  };
  const std::vector<Line> expected = {{"1. Suchy [°C]", {t1, t1 + 1200, t1 + 1800}},
                                      {"2. Mokry [%RH]", {t1, t1 + 1200, t1 + 1800}},
                                      {"3. [°C]", {t1, t1 + 600, t1 + 1800}},
                                      {"4. [°C]", {t1 + 1200}},
                                      {"4. [%RH]", {t1, t1 + 600, t1 + 1800}}};
  ASSERT_EQ(chart.lines.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(chart.lines[i].name, expected[i].name);
    EXPECT_EQ(Xs(chart.lines[i].points), expected[i].xs);
  }
  EXPECT_EQ(chart.on, (std::vector<ChartPoint>{{t1, 20.0}}));
  EXPECT_TRUE(chart.off.empty());
  EXPECT_EQ(chart.missing, (std::vector<double>{t1 + 600, t1 + 1200}));
}

TEST(ChartSeries, RecordsWithoutATimeSitBetweenTheirNeighboursOrAtTheirNumbers) {
  // Month bytes: 0x06 a real date, 0x13 none. Stamps at 14:05:30 + minutes.
  struct Case {
    std::string name;
    std::vector<std::pair<uint8_t, uint8_t>> months;  // month byte, minute BCD
    ChartAxis axis;
    std::vector<double> xs;  // seconds after 14:05:30, or record numbers
  };
  const std::vector<Case> cases = {
      {"between", {{0x06, 0x05}, {0x13, 0}, {0x13, 0}, {0x06, 0x35}}, ChartAxis::Time, {0, 600, 1200, 1800}},
      {"before the first time",
       {{0x13, 0}, {0x13, 0}, {0x06, 0x05}, {0x06, 0x15}},
       ChartAxis::Time,
       {-1200, -600, 0, 600}},
      {"one time, a minute apart", {{0x13, 0}, {0x06, 0x05}, {0x13, 0}}, ChartAxis::Time, {-60, 0, 60}},
      {"no time at all", {{0x13, 0}, {0x13, 0}, {0x13, 0}}, ChartAxis::RecordNumber, {1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::DumpBuilder dump;
    for (const auto& [month, minute] : c.months) dump.Record({1200}, 0x05, month, 9, 0x14, minute);
    const ChartData chart = ChartOfDatabase(DecodeDatabase(dump.File()), "t.DAT");
    EXPECT_EQ(chart.axis, c.axis);
    std::vector<double> xs = Xs(chart.lines.at(0).points);
    const double origin = c.axis == ChartAxis::Time ? kJune5 + 14 * 3600 + 5 * 60 + 30 : 0;
    for (double& x : xs) x -= origin;
    EXPECT_EQ(xs, c.xs);
  }
}

TEST(ChartSeries, EachColumnKeepsItsLowestAndHighestPointInOrderAndTheNearestBeyondTheRange) {
  struct Case {
    std::string name;
    std::vector<ChartPoint> points;
    std::vector<ChartPoint> reduced;  // over 0..10 in 2 columns
  };
  const std::vector<Case> cases = {
      {"nothing", {}, {}},
      {"one point", {{1, 5}}, {{1, 5}}},
      {"high before low", {{0, 1}, {1, 9}, {2, 4}, {3, 0}, {4, 2}, {6, 3}}, {{1, 9}, {3, 0}, {6, 3}}},
      {"a flat column keeps its first point", {{6, 2}, {7, 2}, {8, 2}}, {{6, 2}}},
      {"beyond the range", {{-9, 1}, {-1, 2}, {2, 3}, {11, 4}, {20, 5}}, {{-1, 2}, {2, 3}, {11, 4}}},
      {"the right edge belongs to the last column", {{10, 1}, {9, 3}}, {{10, 1}, {9, 3}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReduceToColumns(c.points, 0, 10, 2), c.reduced);
  }
  EXPECT_EQ(OneMarkPerColumn(std::vector<ChartPoint>{{7, 1}, {1, 2}, {2, 3}, {12, 4}}, 0, 10, 2),
            (std::vector<ChartPoint>{{1, 2}, {7, 1}}));
}

TEST(ChartSeries, TheDrawingProgramReadsBackWhatTheCommandLineWritesAndNothingElse) {
  ChartData chart = ChartOfDatabase(DecodeDatabase(test::KnownDump().File()), "known\t.DAT");
  chart.off = {{1.5, -0.0625}};
  chart.breaks = {2.5, 7.0};
  const std::string text = WriteChartData(chart);
  const auto read = ReadChartData(text);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->title, "known .DAT");
  EXPECT_EQ(WriteChartData(*read), text);
  EXPECT_EQ(read->breaks, chart.breaks);
  EXPECT_EQ(text.find("offset"), std::string::npos);  // a database's local axis, as ever

  // An archive's UTC axis carries the offsets its labels add: 1 h, then 2 h from x = 7200 on.
  chart.offsets = {{0, 3600}, {7200, 7200}};
  const auto utc = ReadChartData(WriteChartData(chart));
  ASSERT_TRUE(utc.has_value());
  EXPECT_EQ(utc->offsets, chart.offsets);
  EXPECT_EQ((std::vector<double>{LocalX(*utc, -10), LocalX(*utc, 7199), LocalX(*utc, 7200)}),
            (std::vector<double>{3590, 10799, 14400}));

  for (const std::string bad :
       {"", "velutron-chart 2\n", "velutron-chart 1\np\t1\t2\n", "velutron-chart 1\noffset\t1\n",
        "velutron-chart 1\nline\tK\tx\n", "velutron-chart 1\non\t1\tnan\n", "velutron-chart 1\nmissing\t1x\n",
        "velutron-chart 1\naxis\tdays\n", "velutron-chart 1\nbreak\t2\nbreak\t1\n"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ReadChartData(bad).has_value());
  }
}

}  // namespace
}  // namespace velutron
