#include "archive/ReportPdf.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgRenderer>
#include <algorithm>
#include <map>

#include "gui/Chart.h"
#include "platform/Console.h"

namespace velutron::archive {

namespace {

constexpr int kDpi = 300;
constexpr double kMarginMm = 15;
constexpr double kGap = 0.02 * kDpi;   // between blocks
constexpr double kPad = 0.025 * kDpi;  // inside a table's cells
constexpr double kChartHeight = 3.6 * kDpi;

// A point or logger name shows its control characters as codes, as the chart beside it does.
QString Q(const std::string& s) { return QString::fromStdString(VisibleText(s)); }

QFont Font(double points, bool bold = false) {
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setPointSizeF(points);
  f.setBold(bold);
  // Any letter spacing turns ligatures off: a hash with "ff" or "fi" in it must be read back (copied,
  // or by pdftotext) letter for letter.
  f.setLetterSpacing(QFont::AbsoluteSpacing, 0.02);
  return f;
}

// One piece of a block placed on a page: rows [from, to) of a table (with its header repeated) or of
// lines, a heading, or the chart.
struct Placed {
  const ReportBlock* block = nullptr;
  size_t from = 0, to = 0;
  double y = 0;
};

class Layout {
 public:
  Layout(QPaintDevice& device, double width) : device_(device), width_(width) {}

  double RowHeight(const ReportBlock& b, size_t row) const {
    if (b.kind == ReportBlock::Kind::Lines) return TextHeight(Font(9), width_, b.rows[row].front()) + kPad;
    const auto& widths = ColumnWidths(b);
    double h = 0;
    for (size_t c = 0; c < b.rows[row].size() && c < widths.size(); ++c)
      h = std::max(h, TextHeight(Font(8, row == 0), widths[c] - 2 * kPad, b.rows[row][c]));
    return h + 2 * kPad;
  }
  double HeadingHeight(const ReportBlock& b) const {
    return TextHeight(Font(12, true), width_, b.text) + kPad;
  }

  // Each column as wide as its widest cell, then all stretched or shrunk to the page's width. Kept per
  // table: a year's day table has thousands of rows, each measured once.
  const std::vector<double>& ColumnWidths(const ReportBlock& b) const {
    auto [cached, fresh] = widths_.try_emplace(&b);
    if (!fresh) return cached->second;
    std::vector<double>& w = cached->second;
    for (size_t r = 0; r < b.rows.size(); ++r) {
      const QFontMetricsF fm(Font(8, r == 0), &device_);
      for (size_t c = 0; c < b.rows[r].size(); ++c) {
        if (w.size() <= c) w.push_back(0);
        w[c] = std::max(w[c], fm.horizontalAdvance(Q(b.rows[r][c])) + 2 * kPad + 1);
      }
    }
    double total = 0;
    for (double x : w) total += x;
    for (double& x : w) x *= width_ / std::max(1.0, total);
    return w;
  }

  double TextHeight(const QFont& font, double width, const std::string& text) const {
    const QFontMetricsF fm(font, &device_);
    return fm.boundingRect(QRectF(0, 0, std::max(1.0, width), 1e7), Qt::TextWordWrap, Q(text)).height();
  }

 private:
  QPaintDevice& device_;
  double width_;
  mutable std::map<const ReportBlock*, std::vector<double>> widths_;
};

std::vector<std::vector<Placed>> Paginate(const ReportDocument& d, const Layout& layout, double top,
                                          double bottom) {
  std::vector<std::vector<Placed>> pages(1);
  double y = top;
  auto newPage = [&] {
    pages.emplace_back();
    y = 0;
  };
  for (size_t i = 0; i < d.blocks.size(); ++i) {
    const ReportBlock& b = d.blocks[i];
    switch (b.kind) {
      case ReportBlock::Kind::Heading: {
        // A heading stays with the first piece of what it heads.
        double h = layout.HeadingHeight(b);
        double next = 0;
        if (i + 1 < d.blocks.size()) {
          const ReportBlock& n = d.blocks[i + 1];
          if (n.kind == ReportBlock::Kind::Chart) next = kChartHeight;
          if (n.kind == ReportBlock::Kind::Table && n.rows.size() > 1)
            next = layout.RowHeight(n, 0) + layout.RowHeight(n, 1);
          if (n.kind == ReportBlock::Kind::Lines && !n.rows.empty()) next = layout.RowHeight(n, 0);
        }
        if (y + h + next > bottom && y > 0) newPage();
        pages.back().push_back({&b, 0, 0, y});
        y += h;
        break;
      }
      case ReportBlock::Kind::Chart:
        if (y + kChartHeight > bottom && y > 0) newPage();
        pages.back().push_back({&b, 0, 0, y});
        y += kChartHeight + kGap;
        break;
      case ReportBlock::Kind::Lines:
      case ReportBlock::Kind::Table: {
        const bool table = b.kind == ReportBlock::Kind::Table;
        const size_t first = table ? 1 : 0;
        const double header = table ? layout.RowHeight(b, 0) : 0;
        size_t row = first;
        while (row < b.rows.size()) {
          size_t end = row;
          double h = header;
          while (end < b.rows.size() && y + h + layout.RowHeight(b, end) <= bottom)
            h += layout.RowHeight(b, end++);
          if (end == row) {
            // Not even one row fits here: on a fresh page a row taller than the page is drawn cut.
            if (y > 0) {
              newPage();
              continue;
            }
            h += layout.RowHeight(b, end++);
          }
          pages.back().push_back({&b, row, end, y});
          y += h;
          row = end;
          if (row < b.rows.size()) newPage();
        }
        y += kGap;
        break;
      }
    }
  }
  return pages;
}

void PaintPiece(QPainter& p, const Layout& layout, const Placed& piece, double left, double top, double width,
                const Locale& locale) {
  const ReportBlock& b = *piece.block;
  double y = top + piece.y;
  switch (b.kind) {
    case ReportBlock::Kind::Heading:
      p.setFont(Font(12, true));
      p.drawText(QRectF(left, y, width, layout.HeadingHeight(b)), Qt::TextWordWrap, Q(b.text));
      break;
    case ReportBlock::Kind::Chart: {
      const auto chart = ReadChartData(b.chart);
      if (!chart) break;
      const QSize size(1100, static_cast<int>(1100 * kChartHeight / width));
      QSvgRenderer svg(DrawPicture(*chart, WholeChart(*chart), size, PictureFormat::Svg, locale));
      svg.render(&p, QRectF(left, y, width, kChartHeight));
      break;
    }
    case ReportBlock::Kind::Lines:
      p.setFont(Font(9));
      for (size_t r = piece.from; r < piece.to; ++r) {
        const double h = layout.RowHeight(b, r);
        p.drawText(QRectF(left, y, width, h), Qt::TextWordWrap, Q(b.rows[r].front()));
        y += h;
      }
      break;
    case ReportBlock::Kind::Table: {
      const auto& widths = layout.ColumnWidths(b);
      auto row = [&](size_t r) {
        const double h = layout.RowHeight(b, r);
        double x = left;
        p.setFont(Font(8, r == 0));
        if (r == 0) p.fillRect(QRectF(left, y, width, h), QColor(230, 230, 230));
        for (size_t c = 0; c < widths.size(); ++c) {
          p.drawRect(QRectF(x, y, widths[c], h));
          if (c < b.rows[r].size())
            p.drawText(QRectF(x + kPad, y + kPad, widths[c] - 2 * kPad, h - 2 * kPad), Qt::TextWordWrap,
                       Q(b.rows[r][c]));
          x += widths[c];
        }
        y += h;
      };
      p.setPen(QPen(Qt::black, 0.003 * kDpi));
      row(0);
      for (size_t r = piece.from; r < piece.to; ++r) row(r);
      break;
    }
  }
}

}  // namespace

QByteArray ReportPdf(const ReportDocument& document, const Locale& locale) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly)) return {};
  {
    QPdfWriter writer(&buffer);
    writer.setResolution(kDpi);
    writer.setTitle(Q(document.title));
    writer.setCreator(QStringLiteral("velutron"));
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm),
                                     QPageLayout::Millimeter));
    const QRect page = writer.pageLayout().paintRectPixels(kDpi);
    const double width = page.width();
    const Layout layout(writer, width);
    const double footer = layout.TextHeight(Font(7), width, "Ag") * 2 + kGap;
    const double title = layout.TextHeight(Font(16, true), width, document.title) + kGap;
    const auto pages = Paginate(document, layout, title, page.height() - footer);

    QPainter p;
    if (!p.begin(&writer)) return {};
    const int count = static_cast<int>(pages.size());
    for (int n = 0; n < count; ++n) {
      if (n > 0) writer.newPage();
      p.setPen(Qt::black);
      if (n == 0) {
        p.setFont(Font(16, true));
        p.drawText(QRectF(0, 0, width, title), Qt::TextWordWrap, Q(document.title));
      }
      for (const Placed& piece : pages[static_cast<size_t>(n)]) {
        p.setPen(Qt::black);
        PaintPiece(p, layout, piece, 0, 0, width, locale);
      }
      p.setPen(Qt::black);
      p.setFont(Font(7));
      const double line = footer / 2 - kGap / 2;
      const double y = page.height() - footer + kGap;
      p.drawLine(QPointF(0, y - kGap / 2), QPointF(width, y - kGap / 2));
      const QString number = QStringLiteral("Strona %1 z %2").arg(n + 1).arg(count);
      p.drawText(QRectF(0, y, width, line), Qt::AlignLeft, Q(document.footer));
      p.drawText(QRectF(0, y, width, line), Qt::AlignRight, number);
      p.drawText(QRectF(0, y + line, width, line), Qt::AlignLeft, Q("SHA-256 danych: " + document.hash));
    }
    if (!p.end()) return {};
  }
  return bytes;
}

}  // namespace velutron::archive
