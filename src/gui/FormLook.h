#pragma once

#include <QApplication>
#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QPixmap>
#include <QStringList>
#include <algorithm>

// Fonts and colours of the program's forms. The classic Windows fonts are asked for first; where a
// machine lacks them the nearest installed family stands in.
namespace velutron::look {

inline QFont Font(const QStringList& families, int pixels, bool bold = false, bool italic = false) {
  QFont f;
  f.setFamilies(families);
  f.setPixelSize(pixels);
  f.setBold(bold);
  f.setItalic(italic);
  return f;
}

inline QFont MsSansSerif(int pixels, bool bold = false) {
  return Font({"MS Sans Serif", "Microsoft Sans Serif", "DejaVu Sans", "Liberation Sans"}, pixels, bold);
}
inline QFont MicrosoftSansSerif(int pixels, bool bold = false) {
  return Font({"Microsoft Sans Serif", "MS Sans Serif", "DejaVu Sans", "Liberation Sans"}, pixels, bold);
}
inline QFont Courier(int pixels, bool bold = false) {
  return Font({"Courier", "Courier New", "Liberation Mono", "DejaVu Sans Mono"}, pixels, bold);
}
inline QFont ComicSans(int pixels) {
  return Font({"Comic Sans MS", "Comic Neue", "Comic Relief", "DejaVu Sans Condensed", "DejaVu Sans"},
              pixels);
}
inline QFont CenturyGothic(int pixels, bool italic = false) {
  return Font({"Century Gothic", "URW Gothic", "TeX Gyre Adventor", "DejaVu Sans"}, pixels, false, italic);
}

// Frame of a classic Windows window (borders and caption), used while the platform reports none.
inline constexpr int kAssumedFrameWidth = 8;
inline constexpr int kAssumedFrameHeight = 27;

// The width a window needs so that a window manager shows its whole caption: the caption in a bold face
// of the title bars' font, and room beside it for the window's icon and buttons.
inline int TitleBarWidth(const QString& caption) {
  QFont font = QApplication::font("QMdiSubWindowTitleBar");
  font.setBold(true);
  const QFontMetrics metrics(font);
  return metrics.horizontalAdvance(caption) + std::max(120, 8 * metrics.height());
}

// The named colours of the classic form designer.
inline const QColor kSilver{0xC0, 0xC0, 0xC0};
inline const QColor kNavy{0x00, 0x00, 0x80};
inline const QColor kPurple{0x80, 0x00, 0x80};
inline const QColor kBlue{0x00, 0x00, 0xFF};
inline const QColor kMaroon{0x80, 0x00, 0x00};
inline const QColor kGreen{0x00, 0x80, 0x00};
inline const QColor kRed{0xFF, 0x00, 0x00};
inline const QColor kBlack{0x00, 0x00, 0x00};
inline const QColor kFuchsia{0xFF, 0x00, 0xFF};
inline const QColor kWhite{0xFF, 0xFF, 0xFF};
inline const QColor kMonitoringRed{0xFF, 0x22, 0x22};
// The active-caption colour of the classic Windows scheme.
inline const QColor kActiveCaption{0x00, 0x00, 0x80};
// The active-border colour of the classic Windows scheme.
inline const QColor kActiveBorder{0xB4, 0xB4, 0xB4};

// A picture of the form: scaled proportionally into its box when larger, never enlarged.
inline QLabel* MakePicture(QWidget* parent, const QRect& box, const QString& resource) {
  auto* image = new QLabel(parent);
  image->setGeometry(box);
  image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  QPixmap pixmap(resource);
  if (pixmap.width() > box.width() || pixmap.height() > box.height()) {
    pixmap = pixmap.scaled(box.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  image->setPixmap(pixmap);
  return image;
}

}  // namespace velutron::look
