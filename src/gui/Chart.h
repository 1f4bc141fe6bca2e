#pragma once

#include <QByteArray>
#include <QRectF>
#include <QSize>
#include <QString>
#include <optional>

#include "session/ChartData.h"
#include "platform/Locale.h"

class QPainter;

namespace velutron {

// The part of a chart that is shown: the horizontal range, and the ranges of the °C axis on the left
// and the %RH axis on the right (only when the chart has humidity).
struct ChartViewport {
  ChartRange x;
  ChartRange temperature;
  std::optional<ChartRange> humidity;
};

// The whole chart: every record, and value axes that end on round numbers with some room around the
// values.
ChartViewport WholeChart(const ChartData& chart);

// The chart drawn into `area` with QPainter: the title, the plot with each line as one path (reduced to
// its lowest and highest value per pixel column), the ON/OFF and "Brak odczytu" marks, the axes with
// round ticks in the regional number and date formats, and the legend on as many rows as it needs.
void PaintChart(QPainter& painter, const ChartData& chart, const ChartViewport& view, const QRectF& area,
                const Locale& locale);
// Where PaintChart puts the plot in `area`, for turning the pointer into values.
QRectF PlotArea(const ChartData& chart, const ChartViewport& view, const QRectF& area, const Locale& locale);

enum class PictureFormat { Png, Svg };
// By the file name's extension (any letter case); nullopt for anything else.
std::optional<PictureFormat> PictureFormatOf(const QString& fileName);

// The chart as a picture of `size` pixels; empty when it could not be drawn. A PNG is drawn in bands of
// rows, so a large one needs memory for a band, not for the whole picture. An SVG is titled with the
// chart's title.
QByteArray DrawPicture(const ChartData& chart, const ChartViewport& view, QSize size, PictureFormat format,
                       const Locale& locale);

}  // namespace velutron
