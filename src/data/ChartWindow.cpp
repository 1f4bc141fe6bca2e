#include "data/ChartWindow.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QtCharts/QChart>
#include <span>

#include "data/Chart.h"
#include "link/Link.h"
#include "platform/AtomicFile.h"
#include "platform/Utf8Path.h"

namespace velutron {

namespace {
constexpr qreal kWheelZoom = 1.25;
}  // namespace

ChartView::ChartView(QChart* chart, QWidget* parent) : QChartView(chart, parent) {
  setRenderHint(QPainter::Antialiasing);
  setRubberBand(QChartView::RectangleRubberBand);
}

void ChartView::wheelEvent(QWheelEvent* event) {
  const qreal factor = event->angleDelta().y() > 0 ? 1 / kWheelZoom : kWheelZoom;
  if (event->angleDelta().y() == 0) return;
  // The point under the pointer stays where it is.
  const QRectF area = chart()->plotArea();
  const QPointF at = chart()->mapFromScene(mapToScene(event->position().toPoint()));
  QRectF zoomed(QPointF(0, 0), area.size() * factor);
  zoomed.moveTopLeft(at - (at - area.topLeft()) * factor);
  chart()->zoomIn(zoomed);
  event->accept();
}

void ChartView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) {
    panning_ = true;
    lastPan_ = event->position();
    setCursor(Qt::ClosedHandCursor);
    event->accept();
    return;
  }
  QChartView::mousePressEvent(event);
}

void ChartView::mouseMoveEvent(QMouseEvent* event) {
  if (panning_) {
    const QPointF delta = event->position() - lastPan_;
    lastPan_ = event->position();
    chart()->scroll(-delta.x(), delta.y());
    event->accept();
    return;
  }
  QChartView::mouseMoveEvent(event);
}

void ChartView::mouseReleaseEvent(QMouseEvent* event) {
  if (panning_ && (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton)) {
    panning_ = false;
    unsetCursor();
    event->accept();
    return;
  }
  QChartView::mouseReleaseEvent(event);
}

void ChartView::mouseDoubleClickEvent(QMouseEvent* event) {
  chart()->zoomReset();
  event->accept();
}

ChartWindow::ChartWindow(const DatabaseContents& db, const QString& title, UserInterface& ui, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      ui_(ui) {
  setObjectName("ChartWindow");
  setWindowTitle(QStringLiteral("Wykres bazy danych - ") + title);
  setModal(true);
  resize(960, 600);

  view_ = new ChartView(BuildChart(db, title), this);
  view_->setObjectName("ChartView");
  auto* hint =
      new QLabel(QStringLiteral("Kółko myszy: powiększenie.  Lewy przycisk: powiększ zaznaczony obszar.  "
                                "Prawy przycisk: przesuwanie.  Dwuklik: cały wykres."),
                 this);
  // Wrapped rather than widening the window past a 1024-pixel screen.
  hint->setWordWrap(true);
  auto* whole = new QPushButton(QStringLiteral("&Cały wykres"), this);
  auto* save = new QPushButton(QStringLiteral("&Zapisz obraz..."), this);
  save->setObjectName("SaveButton");
  auto* close = new QPushButton(QStringLiteral("Za&mknij"), this);
  connect(whole, &QPushButton::clicked, this, [this] { Chart()->zoomReset(); });
  connect(save, &QPushButton::clicked, this, &ChartWindow::SaveClick);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(hint, 1);
  buttons->addWidget(whole);
  buttons->addWidget(save);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(view_, 1);
  layout->addLayout(buttons);

  chooser_ = [](QWidget* parent) -> std::optional<QString> {
    QFileDialog dialog(parent, QStringLiteral("Zapisz wykres"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({QStringLiteral("Obraz PNG (*.png)"), QStringLiteral("Obraz SVG (*.svg)")});
    dialog.setDefaultSuffix("png");
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
      dialog.setDefaultSuffix(filter.contains("svg") ? "svg" : "png");
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first();
  };
}

QChart* ChartWindow::Chart() const { return view_->chart(); }

bool ChartWindow::SavePicture(const QString& fileName) {
  const PictureFormat format = PictureFormatOf(fileName).value_or(PictureFormat::Png);
  const QByteArray picture =
      DrawPicture(*view_->scene(), Chart()->sceneBoundingRect(), Chart()->size().toSize(), format);
  const auto* data = reinterpret_cast<const uint8_t*>(picture.constData());
  if (picture.isEmpty() ||
      !WriteFileAtomically(PathFromUtf8(fileName.toStdString()),
                           std::span<const uint8_t>(data, static_cast<size_t>(picture.size())))) {
    ui_.ShowMessage(text::kCaptionWarning, "Blokada zapisu pliku na dysku !");
    return false;
  }
  return true;
}

void ChartWindow::SaveClick() {
  if (const auto name = chooser_(this)) SavePicture(*name);
}

}  // namespace velutron
