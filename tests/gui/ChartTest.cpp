// The chart of a database: its picture (legend, axes, one path a line), and the window's zoom, pan
// and saving.

#include <gtest/gtest.h>

#include <QImage>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include "data/ChartSeries.h"
#include "data/ChartWindow.h"
#include "gui/Chart.h"
#include "data/KnownDatabase.h"
#include "support/ScriptedUi.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron {
namespace {

// The texts of an SVG picture, in order.
std::vector<std::string> Texts(const QByteArray& svg) {
  std::vector<std::string> texts;
  static const QRegularExpression text("<text[^>]*>([^<]*)</text>");
  for (const auto& m : text.globalMatch(QString::fromUtf8(svg))) texts.push_back(m.captured(1).toStdString());
  return texts;
}

bool Has(const std::vector<std::string>& texts, const std::string& t) {
  return std::find(texts.begin(), texts.end(), t) != texts.end();
}

TEST(ChartTest, TheLegendShowsEveryEntryWholeWithItsUnitAndTheAxesTheRegionalDecimals) {
  const ChartData chart = ChartOfDatabase(DecodeDatabase(test::KnownDump().File()), "known.DAT");
  ChartViewport zoomed = WholeChart(chart);
  zoomed.temperature = {20.0, 21.0};
  struct Case {
    std::string name;
    QSize size;
    ChartViewport view;
    std::string tick;  // a label of the °C axis
  };
  const std::vector<Case> cases = {
      {"wide", {1270, 990}, WholeChart(chart), "22,5"},
      {"narrow: the legend takes more rows", {300, 400}, WholeChart(chart), "22"},
      {"zoomed: round ticks in tenths", {640, 480}, zoomed, "20,2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QByteArray svg = DrawPicture(chart, c.view, c.size, PictureFormat::Svg, FixedLocale(","));
    const auto texts = Texts(svg);
    for (const char* entry :
         {"1. Suchy [°C]", "2. Mokry [%RH]", "3. [°C]", "4. [°C]", "4. [%RH]", "ON", "Brak odczytu"}) {
      EXPECT_EQ(std::count(texts.begin(), texts.end(), entry), 1) << entry;
    }
    EXPECT_TRUE(Has(texts, c.tick));
    EXPECT_FALSE(std::any_of(texts.begin(), texts.end(), [](const std::string& t) {
      return t.find("\xE2\x80\xA6") != std::string::npos ||
             (t.find('.') != std::string::npos && t[0] >= '0' && t[0] <= '9' &&
              t.find(' ') == std::string::npos);
    })) << "an elided text or a number with a decimal point";
    EXPECT_TRUE(svg.contains("<title>known.DAT</title>"));
    // One path a line: four of three points (grid lines and legend samples have two, the lone value of
    // "4. [°C]" is a dot).
    static const QRegularExpression longPolyline("<polyline[^>]*points=\"(\\S+ ){3}\"");
    EXPECT_EQ(QString::fromUtf8(svg).count(longPolyline), 4);
  }
}

TEST(ChartTest, AFileWithoutAnyTimeIsDrawnByRecordNumberAndSaysSo) {
  test::DumpBuilder dump;
  dump.Record({1200}, 0x05, 0x13).Record({1216}, 0x05, 0x13);
  const ChartData chart = ChartOfDatabase(DecodeDatabase(dump.File()), "t.DAT");
  const auto texts =
      Texts(DrawPicture(chart, WholeChart(chart), {640, 480}, PictureFormat::Svg, FixedLocale(",")));
  EXPECT_TRUE(Has(texts, "Numer rekordu (brak poprawnego czasu)"));
  EXPECT_TRUE(Has(texts, "1") && Has(texts, "2"));
}

TEST(ChartTest, OverlappingMarksInAPngAreFilledWhereTheyOverlap) {
  ChartData chart;
  chart.title = "t.DAT";
  chart.lines.push_back({Quantity::Temperature, "1. [°C]", {{0, 0}, {1, 10}, {1000, 10}}});
  const QSize size(400, 300);
  const ChartViewport view = WholeChart(chart);
  const QRectF plot = PlotArea(chart, view, QRectF(QPointF(0, 0), size), FixedLocale(","));
  const double perPixel = (view.x.high - view.x.low) / plot.width();
  // Two OFF squares two pixels apart, well below the line.
  chart.off = {{500, 2}, {500 + 2 * perPixel, 2}};
  const QImage png = QImage::fromData(DrawPicture(chart, view, size, PictureFormat::Png, FixedLocale(",")));
  ASSERT_EQ(png.size(), size);
  const double x = plot.left() + (500 + perPixel - view.x.low) / (view.x.high - view.x.low) * plot.width();
  const double y = plot.bottom() - (2 - view.temperature.low) /
                                       (view.temperature.high - view.temperature.low) * plot.height();
  EXPECT_EQ(png.pixelColor(static_cast<int>(x), static_cast<int>(y)), QColor(Qt::black));
}

TEST(ChartTest, TheWindowZoomsPansAndSavesWhatItShowsUnderTheDatabasesName) {
  QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
  const DatabaseContents db = DecodeDatabase(test::KnownDump().File());
  test::ScriptedUi ui;
  ChartWindow window(db, "known.DAT", ui);
  EXPECT_LE(window.minimumSizeHint().width(), 800);  // fits a small screen with its buttons
  window.resize(900, 600);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  ChartView* view = window.View();
  auto span = [view] { return view->Viewport().x.high - view->Viewport().x.low; };
  const double whole = span();
  const QPoint centre = view->Plot().center().toPoint();

  QWheelEvent wheel(centre, view->mapToGlobal(centre), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(view, &wheel);
  EXPECT_DOUBLE_EQ(span(), whole / 1.25);
  const double before = view->Viewport().x.low;
  QTest::mousePress(view, Qt::RightButton, {}, centre);
  QMouseEvent move(QEvent::MouseMove, centre + QPoint(100, 0), view->mapToGlobal(centre + QPoint(100, 0)),
                   Qt::NoButton, Qt::RightButton, Qt::NoModifier);
  QCoreApplication::sendEvent(view, &move);
  QTest::mouseRelease(view, Qt::RightButton, {}, centre + QPoint(100, 0));
  EXPECT_LT(view->Viewport().x.low, before);  // dragged right: earlier times come into view
  QTest::mouseDClick(view, Qt::LeftButton, {}, centre);
  EXPECT_EQ(span(), whole);
  const double plotWidth = view->Plot().width();
  QTest::mousePress(view, Qt::LeftButton, {}, centre);
  QMouseEvent drag(QEvent::MouseMove, centre + QPoint(50, 40), view->mapToGlobal(centre + QPoint(50, 40)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(view, &drag);
  QTest::mouseRelease(view, Qt::LeftButton, {}, centre + QPoint(50, 40));
  EXPECT_NEAR(span(), whole * 50 / plotWidth, whole * 1e-9);

  QString proposed;
  window.SetSaveChooser([&proposed](QWidget*, const QString& name) -> std::optional<QString> {
    proposed = name;
    return std::nullopt;
  });
  window.findChild<QPushButton*>("SaveButton")->click();
  EXPECT_EQ(proposed, "known.png");

  test::TempDir dir;
  const QString png = QString::fromStdString((dir.path() / "chart.png").string());
  const QString svg = QString::fromStdString((dir.path() / "chart.svg").string());
  EXPECT_TRUE(window.SavePicture(png));
  EXPECT_TRUE(window.SavePicture(svg));
  EXPECT_EQ(QImage(png).size(), view->size());
  const auto svgBytes = ReadWholeFile(svg.toStdString());
  ASSERT_TRUE(svgBytes.has_value());
  const QByteArray saved(reinterpret_cast<const char*>(svgBytes->data()),
                         static_cast<qsizetype>(svgBytes->size()));
  EXPECT_TRUE(saved.contains("<title>known.DAT</title>"));
  // Zoomed to a fraction of a degree: the ticks are round values with the regional decimal comma.
  const auto texts = Texts(saved);
  EXPECT_TRUE(std::any_of(texts.begin(), texts.end(),
                          [](const std::string& t) { return t.find(',') != std::string::npos; }));
  EXPECT_FALSE(window.SavePicture(QString::fromStdString((dir.path() / "no" / "chart.png").string())));
  EXPECT_EQ(ui.events, std::vector<std::string>{"message|Uwaga !|Blokada zapisu pliku na dysku !"});
  QLocale::setDefault(QLocale::c());
}

}  // namespace
}  // namespace velutron
