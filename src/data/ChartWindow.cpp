#include "data/ChartWindow.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <span>

#include "data/ChartSeries.h"
#include "link/Link.h"
#include "platform/AtomicFile.h"
#include "platform/Utf8Path.h"

namespace velutron {

ChartWindow::ChartWindow(const DatabaseContents& db, const QString& title, UserInterface& ui, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      ui_(ui),
      title_(title) {
  setObjectName("ChartWindow");
  setWindowTitle(QStringLiteral("Wykres bazy danych - ") + title);
  setModal(true);
  resize(960, 600);

  view_ = new ChartView(ChartOfDatabase(db, title.toStdString()), locale_, this);
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
  connect(whole, &QPushButton::clicked, this, [this] { view_->ShowWhole(); });
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

  chooser_ = [](QWidget* parent, const QString& proposed) -> std::optional<QString> {
    QFileDialog dialog(parent, QStringLiteral("Zapisz wykres"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({QStringLiteral("Obraz PNG (*.png)"), QStringLiteral("Obraz SVG (*.svg)")});
    dialog.setDefaultSuffix("png");
    dialog.selectFile(proposed);
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
      dialog.setDefaultSuffix(filter.contains("svg") ? "svg" : "png");
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first();
  };
}

QString ChartWindow::ProposedName() const {
  return QFileInfo(title_).completeBaseName() + QStringLiteral(".png");
}

bool ChartWindow::SavePicture(const QString& fileName) {
  const PictureFormat format = PictureFormatOf(fileName).value_or(PictureFormat::Png);
  const QByteArray picture = DrawPicture(view_->Data(), view_->Viewport(), view_->size(), format, locale_);
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
  if (const auto name = chooser_(this, ProposedName())) SavePicture(*name);
}

}  // namespace velutron
