#include "data/Chart.h"

#include <QBuffer>
#include <QDateTime>
#include <QGraphicsScene>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <QtCharts/QChart>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <memory>

#include "data/Measurements.h"

namespace velutron {

namespace {

// The logger's clock is local civil time.
qreal Milliseconds(const CivilTime& t) {
  const QDateTime at(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second));
  return static_cast<qreal>(at.toMSecsSinceEpoch());
}

QString SeriesName(const DatabaseContents& db, const ChannelColumn& c, bool channelHoldsBoth) {
  QString name = QString::number(c.channel) + ".";
  const QString point = QString::fromStdString(LoggerText(db.PointName(c.channel)));
  if (!point.isEmpty()) name += ' ' + point;
  if (channelHoldsBoth) name += c.quantity == Quantity::Humidity ? " [%RH]" : QStringLiteral(" [°C]");
  return name;
}

QValueAxis* ValueAxis(const QString& title) {
  auto* axis = new QValueAxis;
  axis->setTitleText(title);
  axis->setLabelFormat("%.1f");
  return axis;
}

// Distinct colours for up to the twenty columns of ten channels, in their order.
QColor ColumnColour(size_t index) {
  static const QColor kColours[] = {{31, 119, 180},  {255, 127, 14},  {44, 160, 44},   {214, 39, 40},
                                    {148, 103, 189}, {140, 86, 75},   {227, 119, 194}, {127, 127, 127},
                                    {188, 189, 34},  {23, 190, 207},  {0, 0, 128},     {128, 0, 0},
                                    {0, 100, 0},     {255, 0, 255},   {0, 128, 128},   {128, 128, 0},
                                    {70, 70, 200},   {200, 120, 120}, {100, 60, 0},    {0, 200, 120}};
  return kColours[index % std::size(kColours)];
}

// An axis takes the range of the first series attached to it, so the ranges over every series are set
// by hand.
struct Span {
  qreal low = 0;
  qreal high = 0;
  bool any = false;
  void Take(qreal v) {
    low = any ? std::min(low, v) : v;
    high = any ? std::max(high, v) : v;
    any = true;
  }
  // Some room around the values, so none sits on the frame; a flat line gets `pad` on each side.
  std::pair<qreal, qreal> Range(qreal pad) const {
    if (!any) return {0, 1};
    const qreal room = low < high ? (high - low) / 20 : pad;
    return {low - room, high + room};
  }
};

}  // namespace

QChart* BuildChart(const DatabaseContents& db, const QString& title) {
  const auto rows = Measurements(db);
  const auto columns = ChannelColumns(db.channels, rows);

  auto chart = std::make_unique<QChart>();
  chart->setTitle(title);
  chart->legend()->setAlignment(Qt::AlignBottom);

  auto* time = new QDateTimeAxis;
  time->setFormat("dd-MM-yyyy HH:mm");
  time->setTitleText(QStringLiteral("Czas"));
  chart->addAxis(time, Qt::AlignBottom);
  QValueAxis* temperature = ValueAxis(QStringLiteral("Temperatura [°C]"));
  chart->addAxis(temperature, Qt::AlignLeft);
  QValueAxis* humidity = nullptr;
  Span times;
  Span temperatures;
  Span humidities;

  for (size_t column = 0; column < columns.size(); ++column) {
    const ChannelColumn& c = columns[column];
    if (c.quantity == Quantity::Humidity && !humidity) {
      humidity = ValueAxis(QStringLiteral("Wilgotność [%RH]"));
      chart->addAxis(humidity, Qt::AlignRight);
    }
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(rows.size()));
    for (const Measurement& m : rows) {
      const Reading& r = m.readings[static_cast<size_t>(c.channel - 1)];
      if (!m.time || r.quantity != c.quantity || !r.value) continue;
      points.append({Milliseconds(*m.time), *r.value});
      times.Take(points.back().x());
      (c.quantity == Quantity::Humidity ? humidities : temperatures).Take(*r.value);
    }
    const bool both = std::count_if(columns.begin(), columns.end(),
                                    [&](const ChannelColumn& o) { return o.channel == c.channel; }) > 1;
    auto* series = new QLineSeries;
    series->setName(SeriesName(db, c, both));
    series->replace(points);
    series->setPointsVisible(points.size() == 1);  // a lone value is a dot, not nothing
    chart->addSeries(series);
    series->setColor(ColumnColour(column));
    series->attachAxis(time);
    series->attachAxis(c.quantity == Quantity::Humidity ? humidity : temperature);
  }

  // ON/OFF marks sit on channel 1, the channel the switching threshold is compared with.
  for (const bool state : {true, false}) {
    QList<QPointF> points;
    for (const Measurement& m : rows) {
      const Reading& first = m.readings.front();
      if (m.on == state && m.time && first.value) points.append({Milliseconds(*m.time), *first.value});
    }
    if (points.isEmpty()) continue;
    auto* marks = new QScatterSeries;
    marks->setName(state ? "ON" : "OFF");
    // Shapes, not only colours, tell them from the channels' lines.
    marks->setMarkerShape(state ? QScatterSeries::MarkerShapeTriangle : QScatterSeries::MarkerShapeRectangle);
    marks->setColor(state ? QColor(0, 90, 0) : QColor(0, 0, 0));
    marks->setBorderColor(Qt::white);
    marks->setMarkerSize(9);
    marks->replace(points);
    chart->addSeries(marks);
    marks->attachAxis(time);
    marks->attachAxis(temperature);
  }

  const auto [first, last] = times.Range(60'000);
  time->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(first)),
                 QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(last)));
  const auto [coldest, warmest] = temperatures.Range(1);
  temperature->setRange(coldest, warmest);
  temperature->applyNiceNumbers();
  if (humidity) {
    const auto [driest, wettest] = humidities.Range(1);
    humidity->setRange(driest, wettest);
    humidity->applyNiceNumbers();
  }

  // A line goes on across a record without a value (thousands of broken lines would make the chart
  // crawl); such records are marked along the bottom instead, so no fault goes unseen.
  QList<QPointF> missing;
  for (const Measurement& m : rows) {
    const bool incomplete =
        std::any_of(m.readings.begin(), m.readings.end(), [](const Reading& r) { return !r.value; });
    if (m.time && incomplete) missing.append({Milliseconds(*m.time), temperature->min()});
  }
  if (!missing.isEmpty()) {
    auto* marks = new QScatterSeries;
    marks->setName(QStringLiteral("Brak odczytu"));
    marks->setMarkerShape(QScatterSeries::MarkerShapeRotatedRectangle);
    marks->setColor(QColor(128, 128, 128));
    marks->setBorderColor(QColor(128, 128, 128));
    marks->setMarkerSize(6);
    marks->replace(missing);
    chart->addSeries(marks);
    marks->attachAxis(time);
    marks->attachAxis(temperature);
  }
  return chart.release();
}

std::optional<PictureFormat> PictureFormatOf(const QString& fileName) {
  if (fileName.endsWith(".png", Qt::CaseInsensitive)) return PictureFormat::Png;
  if (fileName.endsWith(".svg", Qt::CaseInsensitive)) return PictureFormat::Svg;
  return std::nullopt;
}

QByteArray DrawPicture(QGraphicsScene& scene, const QRectF& source, QSize size, PictureFormat format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  const QRectF target(QPointF(0, 0), size);
  if (format == PictureFormat::Svg) {
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(size);
    svg.setViewBox(target);
    QPainter painter;
    if (!painter.begin(&svg)) return {};
    scene.render(&painter, target, source);
    painter.end();
  } else {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return {};
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter, target, source);
    painter.end();
    if (!image.save(&buffer, "PNG")) return {};
  }
  return bytes;
}

QByteArray DrawChart(const DatabaseContents& db, const QString& title, QSize size, PictureFormat format) {
  QGraphicsScene scene;
  QChart* chart = BuildChart(db, title);
  scene.addItem(chart);  // the scene owns it
  chart->resize(size);
  return DrawPicture(scene, QRectF(QPointF(0, 0), size), size, format);
}

}  // namespace velutron
