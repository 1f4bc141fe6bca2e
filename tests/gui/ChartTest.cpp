// The chart of a database: its series and points, its pictures, and zoom and pan with the mouse.

#include <gtest/gtest.h>

#include <QDateTimeAxis>
#include <QImage>
#include <QLineSeries>
#include <QScatterSeries>
#include <QTest>
#include <QValueAxis>
#include <QtCharts/QChart>
#include <map>

#include "data/Chart.h"
#include "data/ChartWindow.h"
#include "data/KnownDatabase.h"
#include "support/ScriptedUi.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron {
namespace {

// Points per series, by name.
std::map<std::string, qsizetype> PointsByName(QChart& chart) {
  std::map<std::string, qsizetype> points;
  for (QAbstractSeries* s : chart.series())
    points[s->name().toStdString()] += static_cast<QXYSeries*>(s)->count();
  return points;
}

TEST(ChartTest, EveryChannelIsASeriesOfItsValuesOnMarksSitOnChannelOneAndGapsAreMarked) {
  const DatabaseContents db = DecodeDatabase(test::KnownDump().File());
  std::unique_ptr<QChart> chart(BuildChart(db, "known.DAT"));
  // Markers and records without a real time give no point; channel 4 holds both quantities; records 2
  // and 3 lack a value and are marked along the bottom.
  EXPECT_EQ(PointsByName(*chart), (std::map<std::string, qsizetype>{{"1. Suchy", 2},
                                                                    {"2. Mokry", 2},
                                                                    {"3.", 2},
                                                                    {"4. [°C]", 1},
                                                                    {"4. [%RH]", 2},
                                                                    {"ON", 1},
                                                                    {"Brak odczytu", 2}}));
  EXPECT_EQ(chart->series().size(), 7);
  ASSERT_EQ(chart->axes(Qt::Vertical).size(), 2);  // °C on the left, %RH on the right
  const auto* temperature =
      static_cast<QValueAxis*>(chart->axes(Qt::Vertical, chart->series().front()).front());
  EXPECT_EQ(temperature->alignment(), Qt::AlignLeft);
  for (QAbstractSeries* s : chart->series()) {
    const auto* xy = static_cast<QXYSeries*>(s);
    if (s->name() == "ON") {
      EXPECT_EQ(xy->at(0).y(), 20.0);
    }
    if (s->name() == "Brak odczytu") {
      EXPECT_EQ(xy->at(0).y(), temperature->min());
    }
  }
}

TEST(ChartTest, TheWindowZoomsPansAndSavesWhatItShows) {
  const DatabaseContents db = DecodeDatabase(test::KnownDump().File());
  test::ScriptedUi ui;
  ChartWindow window(db, "known.DAT", ui);
  EXPECT_LE(window.minimumSizeHint().width(), 800);  // fits a small screen with its buttons
  window.resize(900, 600);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  auto* time = static_cast<QDateTimeAxis*>(window.Chart()->axes(Qt::Horizontal).front());
  auto span = [time] { return time->min().msecsTo(time->max()); };
  const qint64 whole = span();
  const QPoint centre = window.View()->chart()->plotArea().center().toPoint();

  QWheelEvent wheel(centre, window.View()->mapToGlobal(centre), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(window.View()->viewport(), &wheel);
  EXPECT_LT(span(), whole);
  const QDateTime before = time->min();
  QTest::mousePress(window.View()->viewport(), Qt::RightButton, {}, centre);
  QMouseEvent move(QEvent::MouseMove, centre + QPoint(100, 0),
                   window.View()->mapToGlobal(centre + QPoint(100, 0)), Qt::NoButton, Qt::RightButton,
                   Qt::NoModifier);
  QCoreApplication::sendEvent(window.View()->viewport(), &move);
  QTest::mouseRelease(window.View()->viewport(), Qt::RightButton, {}, centre + QPoint(100, 0));
  EXPECT_LT(time->min(), before);  // dragged right: earlier times come into view
  QTest::mouseDClick(window.View()->viewport(), Qt::LeftButton, {}, centre);
  EXPECT_EQ(span(), whole);

  test::TempDir dir;
  const QString png = QString::fromStdString((dir.path() / "chart.png").string());
  const QString svg = QString::fromStdString((dir.path() / "chart.svg").string());
  EXPECT_TRUE(window.SavePicture(png));
  EXPECT_TRUE(window.SavePicture(svg));
  EXPECT_EQ(QImage(png).size(), window.Chart()->size().toSize());
  const auto svgBytes = ReadWholeFile(svg.toStdString());
  ASSERT_TRUE(svgBytes.has_value());
  EXPECT_NE(std::string(svgBytes->begin(), svgBytes->end()).find("<svg"), std::string::npos);
  EXPECT_FALSE(window.SavePicture(QString::fromStdString((dir.path() / "no" / "chart.png").string())));
  EXPECT_EQ(ui.events, std::vector<std::string>{"message|Uwaga !|Blokada zapisu pliku na dysku !"});
}

}  // namespace
}  // namespace velutron
