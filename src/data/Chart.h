#pragma once

#include <QByteArray>
#include <QRectF>
#include <QSize>
#include <QString>
#include <optional>

#include "data/DatabaseFile.h"

class QChart;
class QGraphicsScene;

namespace velutron {

// The chart of a database: every channel over time, temperatures in °C on the left axis, humidity in
// %RH on its own axis on the right, and the records' ON/OFF marks on channel 1. Built from the decoded
// records, never from the report's text.
QChart* BuildChart(const DatabaseContents& db, const QString& title);

enum class PictureFormat { Png, Svg };
// By the file name's extension (any letter case); nullopt for anything else.
std::optional<PictureFormat> PictureFormatOf(const QString& fileName);

// Draws `source` of `scene` as a picture of `size` pixels; empty when it could not be drawn.
QByteArray DrawPicture(QGraphicsScene& scene, const QRectF& source, QSize size, PictureFormat format);
// The chart alone, laid out at `size`, without a window (the command line).
QByteArray DrawChart(const DatabaseContents& db, const QString& title, QSize size, PictureFormat format);

}  // namespace velutron
