#include "gui/Chart.h"

#include <png.h>
#include <zlib.h>

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QSvgGenerator>
#include <algorithm>
#include <array>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <utility>
#include <vector>

#include "platform/Console.h"

namespace velutron {

namespace {

constexpr qreal kMargin = 10;
constexpr qreal kMarkSize = 9;
const QColor kMissingColour(128, 128, 128);
const QColor kOnColour(0, 90, 0);
const QColor kOffColour(0, 0, 0);

// Distinct colours for up to the twenty lines of ten channels, in their order.
QColor LineColour(size_t index) {
  static const QColor kColours[] = {{31, 119, 180},  {255, 127, 14},  {44, 160, 44},   {214, 39, 40},
                                    {148, 103, 189}, {140, 86, 75},   {227, 119, 194}, {127, 127, 127},
                                    {188, 189, 34},  {23, 190, 207},  {0, 0, 128},     {128, 0, 0},
                                    {0, 100, 0},     {255, 0, 255},   {0, 128, 128},   {128, 128, 0},
                                    {70, 70, 200},   {200, 120, 120}, {100, 60, 0},    {0, 200, 120}};
  return kColours[index % std::size(kColours)];
}
QColor LineColour(const ChartData& chart, size_t i) {
  const int colour = chart.lines[i].colour;
  return LineColour(colour >= 0 ? static_cast<size_t>(colour) : i);
}

// Pixel sizes, so a PNG and an SVG of the same size lay out alike whatever their resolution.
QFont TextFont(bool bold = false) {
  QFont font;
  font.setPixelSize(12);
  font.setBold(bold);
  return font;
}

// A name may hold any byte the logger took: a control character shown as its code, so that an SVG (and
// the PDF report drawn from one) stays a document that reads.
QString Text(const std::string& utf8) { return QString::fromStdString(VisibleText(utf8)); }

// 1, 2 or 5 times a power of ten, at least `raw`.
double NiceStep(double raw) {
  if (!(raw > 0) || !std::isfinite(raw)) return 1;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0}) {
    if (m * magnitude >= raw * (1 - 1e-9)) return m * magnitude;
  }
  return 10 * magnitude;
}

std::vector<double> Ticks(double low, double high, double step) {
  std::vector<double> ticks;
  if (!(step > 0) || !(high >= low)) return ticks;
  for (double k = std::ceil(low / step - 1e-9); k * step <= high + step * 1e-9 && ticks.size() < 1000; ++k) {
    ticks.push_back(std::abs(k * step) < step * 1e-9 ? 0.0 : k * step);
  }
  return ticks;
}

// A number with the decimals its step needs and the regional decimal separator.
QString Number(double v, double step, const Locale& locale) {
  const int decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 6);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  QString text = QString::fromLatin1(buf);
  text.replace(QLatin1Char('.'), Text(locale.DecimalSeparator()));
  return text;
}

CivilTime CivilOf(double seconds) {
  const auto whole = static_cast<long long>(std::floor(seconds));
  const long long days = whole >= 0 ? whole / 86400 : -((-whole + 86399) / 86400);
  const long long rest = whole - days * 86400;
  // Days from 1970-01-01 to a civil date (Howard Hinnant's algorithm).
  const long long z = days + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
  return {year,
          month,
          day,
          static_cast<int>(rest / 3600),
          static_cast<int>(rest / 60 % 60),
          static_cast<int>(rest % 60)};
}

// Time steps that read well: seconds, minutes, hours, days.
double TimeStep(double raw) {
  static constexpr std::array<double, 22> kSteps = {
      1,    2,    5,    10,    15,    30,    60,    120,    300,    600,     900,
      1800, 3600, 7200, 10800, 21600, 43200, 86400, 172800, 604800, 1209600, 2419200};
  for (double s : kSteps) {
    if (s >= raw) return s;
  }
  return NiceStep(raw / 86400) * 86400;
}

struct LegendEntry {
  enum class Sample { Line, On, Off, Missing } sample = Sample::Line;
  QColor colour;
  QString text;
};

// Everything PaintChart places, computed once from the area and the fonts.
struct Layout {
  QRectF plot;
  QRectF title;
  std::vector<LegendEntry> entries;
  std::vector<QPointF> entryAt;  // top left of each entry
  qreal rowHeight = 0;
  double xStep = 1;
  double temperatureStep = 1;
  double humidityStep = 1;
};

constexpr qreal kSampleWidth = 22;
constexpr qreal kEntryGap = 16;

Layout LayOut(const ChartData& chart, const ChartViewport& view, const QRectF& area, const Locale& locale) {
  Layout l;
  const QFontMetricsF fm(TextFont());
  const QFontMetricsF bold(TextFont(true));
  const qreal line = fm.height();
  l.title = QRectF(area.left(), area.top() + kMargin / 2, area.width(), bold.height() * 1.4);

  for (size_t i = 0; i < chart.lines.size(); ++i) {
    l.entries.push_back({LegendEntry::Sample::Line, LineColour(chart, i), Text(chart.lines[i].name)});
  }
  if (!chart.on.empty()) l.entries.push_back({LegendEntry::Sample::On, kOnColour, "ON"});
  if (!chart.off.empty()) l.entries.push_back({LegendEntry::Sample::Off, kOffColour, "OFF"});
  if (!chart.missing.empty()) {
    l.entries.push_back({LegendEntry::Sample::Missing, kMissingColour, QStringLiteral("Brak odczytu")});
  }
  // The legend flows over as many rows as it needs, each entry whole.
  l.rowHeight = line + 4;
  const qreal width = area.width() - 2 * kMargin;
  qreal x = 0;
  int rows = l.entries.empty() ? 0 : 1;
  std::vector<QPointF> at;
  for (const LegendEntry& e : l.entries) {
    const qreal w = kSampleWidth + 4 + fm.horizontalAdvance(e.text);
    if (x > 0 && x + w > width) {
      x = 0;
      ++rows;
    }
    at.push_back({x, (rows - 1) * l.rowHeight});
    x += w + kEntryGap;
  }
  const qreal legendTop = area.bottom() - kMargin / 2 - rows * l.rowHeight;
  for (const QPointF& p : at) l.entryAt.push_back({area.left() + kMargin + p.x(), legendTop + p.y()});

  // Two lines of labels under the plot (date over time), then the axis title.
  const qreal bottom = legendTop - kMargin / 2 - line - (chart.axis == ChartAxis::Time ? 2 * line : line) - 6;
  const qreal top = l.title.bottom() + 4;
  const qreal plotHeight = std::max<qreal>(bottom - top, 10);
  const double tempSpan = view.temperature.high - view.temperature.low;
  l.temperatureStep = NiceStep(tempSpan / std::max(2.0, std::floor(plotHeight / 40)));
  qreal leftLabels = 0;
  for (double v : Ticks(view.temperature.low, view.temperature.high, l.temperatureStep)) {
    leftLabels = std::max(leftLabels, fm.horizontalAdvance(Number(v, l.temperatureStep, locale)));
  }
  qreal rightLabels = 0;
  if (view.humidity) {
    l.humidityStep =
        NiceStep((view.humidity->high - view.humidity->low) / std::max(2.0, std::floor(plotHeight / 40)));
    for (double v : Ticks(view.humidity->low, view.humidity->high, l.humidityStep)) {
      rightLabels = std::max(rightLabels, fm.horizontalAdvance(Number(v, l.humidityStep, locale)));
    }
  }
  const qreal left = area.left() + kMargin + line + 4 + leftLabels + 6;
  const qreal right = area.right() - kMargin - (view.humidity ? line + 4 + rightLabels + 6 : 30);
  l.plot = QRectF(QPointF(left, top), QPointF(std::max(right, left + 10), top + plotHeight));

  const qreal labelWidth = chart.axis == ChartAxis::Time
                               ? fm.horizontalAdvance(Text(locale.ShortDate({2000, 12, 28, 0, 0, 0}))) + 24
                               : fm.horizontalAdvance("000000") + 16;
  const double perLabel = (view.x.high - view.x.low) / std::max(1.0, std::floor(l.plot.width() / labelWidth));
  l.xStep = chart.axis == ChartAxis::Time ? TimeStep(perLabel) : std::max(1.0, NiceStep(perLabel));
  return l;
}

struct Mapping {
  QRectF plot;
  ChartRange x;
  ChartRange y;
  // A tenth of a pixel is finer than any screen and keeps an SVG's numbers short.
  static qreal Round(qreal v) { return std::round(v * 10) / 10; }
  QPointF operator()(const ChartPoint& p) const {
    const double w = x.high > x.low ? x.high - x.low : 1;
    const double h = y.high > y.low ? y.high - y.low : 1;
    return {Round(plot.left() + (p.x - x.low) / w * plot.width()),
            Round(plot.bottom() - (p.y - y.low) / h * plot.height())};
  }
};

QPolygonF MarkShape(LegendEntry::Sample sample, QPointF c, qreal size) {
  const qreal r = size / 2;
  switch (sample) {
    case LegendEntry::Sample::On:
      return QPolygonF({c + QPointF(0, -r), c + QPointF(r, r), c + QPointF(-r, r)});
    case LegendEntry::Sample::Off:
      return QPolygonF({c + QPointF(-r, -r), c + QPointF(r, -r), c + QPointF(r, r), c + QPointF(-r, r)});
    default:
      return QPolygonF({c + QPointF(0, -r), c + QPointF(r, 0), c + QPointF(0, r), c + QPointF(-r, 0)});
  }
}

// All marks of one kind: in a vector picture as one path, so that it holds one element for them; in
// pixels as one small picture of the mark put down at each place, since filling and outlining a path of
// a thousand overlapping shapes took a third of a chart's drawing.
void PaintMarks(QPainter& painter, LegendEntry::Sample sample, QColor colour, const std::vector<QPointF>& at,
                qreal size) {
  if (at.empty()) return;
  const QPen pen = sample == LegendEntry::Sample::Missing ? QPen(colour) : QPen(Qt::white, 1);
  const bool pixels = painter.paintEngine() && painter.paintEngine()->type() == QPaintEngine::Raster &&
                      painter.transform().type() <= QTransform::TxTranslate;
  if (!pixels) {
    QPainterPath path;
    for (const QPointF& c : at) path.addPolygon(MarkShape(sample, c, size)), path.closeSubpath();
    painter.setPen(pen);
    painter.setBrush(colour);
    painter.drawPath(path);
    return;
  }
  // Room for the outline around the shape; each mark lands within half a pixel of its place.
  const int side = static_cast<int>(std::ceil(size)) + 4;
  QImage stamp(side, side, QImage::Format_ARGB32_Premultiplied);
  stamp.fill(Qt::transparent);
  const QPointF centre(side / 2.0, side / 2.0);
  QPainter p(&stamp);
  p.setRenderHints(painter.renderHints());
  p.setPen(pen);
  p.setBrush(colour);
  p.drawPolygon(MarkShape(sample, centre, size));
  p.end();
  for (const QPointF& c : at) {
    painter.drawImage(QPointF(std::round(c.x() - centre.x()), std::round(c.y() - centre.y())), stamp);
  }
}

QString TimeLabel(double x, double step, const Locale& locale) {
  const CivilTime t = CivilOf(x);
  char buf[16];
  if (step < 60) {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  } else {
    std::snprintf(buf, sizeof buf, "%02d:%02d", t.hour, t.minute);
  }
  return Text(locale.ShortDate(t)) + QLatin1Char('\n') + QString::fromLatin1(buf);
}

// The ticks of the horizontal axis and the x their labels show. On a UTC axis they fall on round local
// times, each stretch between two changes of the offset on its own: the hour that autumn repeats is
// labelled twice, side by side.
std::vector<std::pair<double, double>> XTicks(const ChartData& chart, const ChartRange& x, double step) {
  std::vector<std::pair<double, double>> ticks;
  if (chart.axis != ChartAxis::Time || chart.offsets.empty()) {
    for (double t : Ticks(x.low, x.high, step)) ticks.emplace_back(t, t);
    return ticks;
  }
  std::vector<double> starts = {x.low};
  for (const ChartOffset& o : chart.offsets) {
    if (o.from > x.low && o.from < x.high) starts.push_back(o.from);
  }
  for (size_t i = 0; i < starts.size(); ++i) {
    const bool last = i + 1 == starts.size();
    const double end = last ? x.high : starts[i + 1];
    const double offset = LocalX(chart, starts[i]) - starts[i];
    for (double t : Ticks(starts[i] + offset, end + offset, step)) {
      if (last || t - offset < end) ticks.emplace_back(t - offset, t);
    }
  }
  return ticks;
}

}  // namespace

ChartViewport WholeChart(const ChartData& chart) {
  ChartViewport view;
  view.x = TimeRange(chart);
  if (view.x.high <= view.x.low) {
    const double pad = chart.axis == ChartAxis::Time ? 60 : 1;
    view.x = {view.x.low - pad, view.x.high + pad};
  }
  auto values = [](std::optional<ChartRange> r) {
    if (!r) return ChartRange{0, 1};
    const double room = r->high > r->low ? (r->high - r->low) / 20 : 1;
    const double step = NiceStep((r->high - r->low + 2 * room) / 8);
    return ChartRange{std::floor((r->low - room) / step) * step, std::ceil((r->high + room) / step) * step};
  };
  view.temperature = values(ValueRange(chart, Quantity::Temperature));
  if (const auto humidity = ValueRange(chart, Quantity::Humidity)) view.humidity = values(humidity);
  return view;
}

QRectF PlotArea(const ChartData& chart, const ChartViewport& view, const QRectF& area, const Locale& locale) {
  return LayOut(chart, view, area, locale).plot;
}

void PaintChart(QPainter& painter, const ChartData& chart, const ChartViewport& view, const QRectF& area,
                const Locale& locale) {
  const Layout l = LayOut(chart, view, area, locale);
  const QFontMetricsF fm(TextFont());
  painter.save();
  painter.fillRect(area, Qt::white);

  painter.setFont(TextFont(true));
  painter.setPen(Qt::black);
  painter.drawText(l.title, Qt::AlignCenter, Text(chart.title));
  painter.setFont(TextFont());

  // Grid and tick labels.
  const QPen grid(QColor(225, 225, 225), 1);
  const Mapping temperatures{l.plot, view.x, view.temperature};
  for (double v : Ticks(view.temperature.low, view.temperature.high, l.temperatureStep)) {
    const qreal y = temperatures({view.x.low, v}).y();
    painter.setPen(grid);
    painter.drawLine(QPointF(l.plot.left(), y), QPointF(l.plot.right(), y));
    painter.setPen(Qt::black);
    painter.drawText(QRectF(area.left(), y - fm.height() / 2, l.plot.left() - area.left() - 6, fm.height()),
                     Qt::AlignRight | Qt::AlignVCenter, Number(v, l.temperatureStep, locale));
  }
  if (view.humidity) {
    const Mapping humidities{l.plot, view.x, *view.humidity};
    for (double v : Ticks(view.humidity->low, view.humidity->high, l.humidityStep)) {
      const qreal y = humidities({view.x.low, v}).y();
      painter.drawText(
          QRectF(l.plot.right() + 6, y - fm.height() / 2, area.right() - l.plot.right(), fm.height()),
          Qt::AlignLeft | Qt::AlignVCenter, Number(v, l.humidityStep, locale));
    }
  }
  for (const auto& [x, shown] : XTicks(chart, view.x, l.xStep)) {
    const qreal px = temperatures({x, view.temperature.low}).x();
    painter.setPen(grid);
    painter.drawLine(QPointF(px, l.plot.top()), QPointF(px, l.plot.bottom()));
    painter.setPen(Qt::black);
    const QString label =
        chart.axis == ChartAxis::Time ? TimeLabel(shown, l.xStep, locale) : Number(shown, l.xStep, locale);
    painter.drawText(QRectF(px - 100, l.plot.bottom() + 4, 200, 2 * fm.height()),
                     Qt::AlignHCenter | Qt::AlignTop, label);
  }
  painter.setPen(Qt::black);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(l.plot);

  // Axis titles.
  const QString xTitle = chart.axis == ChartAxis::Time
                             ? QStringLiteral("Czas")
                             : QStringLiteral("Numer rekordu (brak poprawnego czasu)");
  const qreal labelLines = chart.axis == ChartAxis::Time ? 2 : 1;
  painter.drawText(
      QRectF(l.plot.left(), l.plot.bottom() + 6 + labelLines * fm.height(), l.plot.width(), fm.height()),
      Qt::AlignCenter, xTitle);
  auto verticalTitle = [&](qreal x, const QString& text) {
    painter.save();
    painter.translate(x, l.plot.center().y());
    painter.rotate(-90);
    painter.drawText(QRectF(-l.plot.height() / 2, -fm.height() / 2, l.plot.height(), fm.height()),
                     Qt::AlignCenter, text);
    painter.restore();
  };
  verticalTitle(area.left() + kMargin + fm.height() / 2, QStringLiteral("Temperatura [°C]"));
  if (view.humidity)
    verticalTitle(area.right() - kMargin - fm.height() / 2, QStringLiteral("Wilgotność [%RH]"));

  // The lines, each one path of its lowest and highest value per pixel column.
  painter.save();
  painter.setClipRect(l.plot.adjusted(-1, -1, 1, 1));
  painter.setRenderHint(QPainter::Antialiasing);
  const int columns = std::max(1, static_cast<int>(std::ceil(l.plot.width())));
  const bool vector = painter.paintEngine() && painter.paintEngine()->type() == QPaintEngine::SVG;
  for (size_t i = 0; i < chart.lines.size(); ++i) {
    const ChartLine& line = chart.lines[i];
    const Mapping map{
        l.plot, view.x,
        line.quantity == Quantity::Humidity && view.humidity ? *view.humidity : view.temperature};
    const auto points = ReduceToColumns(line.points, view.x.low, view.x.high, columns);
    painter.setPen(QPen(LineColour(chart, i), 1.5));
    // A gap in the records breaks the line: each run between gaps is drawn on its own.
    auto gap = chart.breaks.begin();
    for (size_t start = 0; start < points.size();) {
      while (gap != chart.breaks.end() && *gap <= points[start].x) ++gap;
      size_t end = start + 1;
      while (end < points.size() && (gap == chart.breaks.end() || points[end].x <= *gap)) ++end;
      QPolygonF polyline;
      polyline.reserve(static_cast<qsizetype>(end - start));
      for (size_t k = start; k < end; ++k) polyline.append(map(points[k]));
      start = end;
      if (polyline.size() == 1) {
        // A lone value is a dot, not nothing.
        painter.setBrush(LineColour(chart, i));
        painter.drawEllipse(polyline.front(), 2.5, 2.5);
        painter.setBrush(Qt::NoBrush);
      } else if (vector) {
        painter.drawPolyline(polyline);
      } else {
        // Pixels: a wide polyline that crosses itself thousands of times is filled as one shape, which
        // takes seconds; its segments one by one give the same pixels at once.
        QList<QLineF> segments;
        segments.reserve(polyline.size() - 1);
        for (qsizetype k = 1; k < polyline.size(); ++k) segments.append(QLineF(polyline[k - 1], polyline[k]));
        painter.drawLines(segments);
      }
    }
  }
  auto marksAt = [&](const std::vector<ChartPoint>& marks) {
    std::vector<QPointF> at;
    for (const ChartPoint& p : OneMarkPerColumn(marks, view.x.low, view.x.high, columns)) {
      at.push_back(temperatures(p));
    }
    return at;
  };
  PaintMarks(painter, LegendEntry::Sample::On, kOnColour, marksAt(chart.on), kMarkSize);
  PaintMarks(painter, LegendEntry::Sample::Off, kOffColour, marksAt(chart.off), kMarkSize);
  std::vector<ChartPoint> missing;
  for (double x : chart.missing) missing.push_back({x, view.temperature.low});
  std::vector<QPointF> missingAt = marksAt(missing);
  for (QPointF& p : missingAt) p.setY(l.plot.bottom() - 4);
  PaintMarks(painter, LegendEntry::Sample::Missing, kMissingColour, missingAt, 6);
  painter.restore();

  // The legend, every entry whole.
  painter.setRenderHint(QPainter::Antialiasing);
  for (size_t i = 0; i < l.entries.size(); ++i) {
    const LegendEntry& e = l.entries[i];
    const QPointF at = l.entryAt[i];
    const QPointF middle = at + QPointF(kSampleWidth / 2, l.rowHeight / 2);
    if (e.sample == LegendEntry::Sample::Line) {
      painter.setPen(QPen(e.colour, 2));
      painter.drawLine(at + QPointF(0, l.rowHeight / 2), at + QPointF(kSampleWidth, l.rowHeight / 2));
    } else {
      PaintMarks(painter, e.sample, e.colour, {middle},
                 e.sample == LegendEntry::Sample::Missing ? 6 : kMarkSize);
    }
    painter.setPen(Qt::black);
    painter.drawText(QRectF(at.x() + kSampleWidth + 4, at.y(), area.right() - at.x(), l.rowHeight),
                     Qt::AlignLeft | Qt::AlignVCenter, e.text);
  }
  painter.restore();
}

std::optional<PictureFormat> PictureFormatOf(const QString& fileName) {
  if (fileName.endsWith(".png", Qt::CaseInsensitive)) return PictureFormat::Png;
  if (fileName.endsWith(".svg", Qt::CaseInsensitive)) return PictureFormat::Svg;
  return std::nullopt;
}

namespace {

void AppendPngBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<QByteArray*>(png_get_io_ptr(png));
  out->append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(length));
}

void NoFlush(png_structp) {}

// libpng reports a failure by a long jump; each call is wrapped here so that the jump passes over
// nothing but libpng's own frames.
bool PngStart(png_structp png, png_infop info, QSize size, QByteArray* out) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, out, AppendPngBytes, NoFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(size.width()), static_cast<png_uint_32>(size.height()), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // A chart is mostly rows like the row above: each row as its difference from the one above, and runs
  // of equal bytes, encode it faster than deflate's fastest level and a third smaller.
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
  png_set_compression_strategy(png, Z_RLE);
  png_write_info(png, info);
  // QImage's RGB32 rows are B, G, R, 0xFF in memory on a little-endian machine.
  if (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
  } else {
    png_set_filler(png, 0, PNG_FILLER_BEFORE);
  }
  return true;
}

bool PngRows(png_structp png, const QImage& band, int rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  for (int r = 0; r < rows; ++r) png_write_row(png, band.constScanLine(r));
  return true;
}

bool PngEnd(png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_write_end(png, info);
  return true;
}

QByteArray DrawPng(const ChartData& chart, const ChartViewport& view, QSize size, const Locale& locale) {
  // About 32 MB a band: a 1200-pixel picture in one, a 10 000-pixel one in a dozen.
  const int bandRows = std::clamp((32 << 20) / (4 * size.width()), 1, size.height());
  QImage band(size.width(), bandRows, QImage::Format_RGB32);
  if (band.isNull()) return {};
  QByteArray bytes;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = info && PngStart(png, info, size, &bytes);
  for (int top = 0; ok && top < size.height(); top += band.height()) {
    band.fill(Qt::white);
    QPainter painter(&band);
    painter.translate(0, -top);
    PaintChart(painter, chart, view, QRectF(QPointF(0, 0), size), locale);
    painter.end();
    ok = PngRows(png, band, std::min(band.height(), size.height() - top));
  }
  ok = ok && PngEnd(png, info);
  png_destroy_write_struct(&png, &info);
  return ok ? bytes : QByteArray();
}

}  // namespace

QByteArray DrawPicture(const ChartData& chart, const ChartViewport& view, QSize size, PictureFormat format,
                       const Locale& locale) {
  if (size.isEmpty()) return {};
  if (format == PictureFormat::Png) return DrawPng(chart, view, size, locale);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QSvgGenerator svg;
  svg.setOutputDevice(&buffer);
  svg.setSize(size);
  svg.setViewBox(QRectF(QPointF(0, 0), size));
  svg.setResolution(96);
  svg.setTitle(Text(chart.title));
  QPainter painter;
  if (!painter.begin(&svg)) return {};
  PaintChart(painter, chart, view, QRectF(QPointF(0, 0), size), locale);
  painter.end();
  return bytes;
}

}  // namespace velutron
