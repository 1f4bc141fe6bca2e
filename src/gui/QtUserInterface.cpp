#include "gui/QtUserInterface.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QInputDialog>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPageRanges>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QProgressBar>
#include <QSpacerItem>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextOption>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <climits>
#include <memory>

#include "gui/FormLook.h"
#include "gui/ShownText.h"

namespace velutron {

namespace {
QString Q(std::string_view text) { return ShownText(text); }

// Message and input boxes size themselves to their layout whatever their minimum width; a row as wide as
// the caption needs, at the foot of the layout, holds them open.
void FitCaption(QDialog& dialog) {
  QLayout* layout = dialog.layout();
  if (!layout) return;
  const int room = look::TitleBarWidth(dialog.windowTitle()) - layout->contentsMargins().left() -
                   layout->contentsMargins().right();
  auto* row = new QSpacerItem(room, 0, QSizePolicy::Minimum, QSizePolicy::Fixed);
  if (auto* grid = qobject_cast<QGridLayout*>(layout)) {
    grid->addItem(row, grid->rowCount(), 0, 1, grid->columnCount());
  } else {
    layout->addItem(row);
  }
}

// A file name as given, or the one entry of its folder that differs from it only in letter case.
QString ExistingLocalFile(const QString& name) {
  const QFileInfo info(name);
  if (info.exists()) return info.absoluteFilePath();
  const QDir dir = info.absoluteDir();
  for (const QString& entry : dir.entryList(QDir::Files)) {
    if (entry.compare(info.fileName(), Qt::CaseInsensitive) == 0) return dir.absoluteFilePath(entry);
  }
  return info.absoluteFilePath();
}

// The orientation and font size that fit the widest line of `doc` across the page: the view's size when
// it fits, otherwise landscape when that keeps the text larger, and the font shrunk until the line fits.
void FitWidestLine(QPrinter& printer, QTextDocument& doc, QFont font) {
  const QFontMetricsF metrics(font, &printer);
  qreal widest = 1;
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
    widest = std::max(widest, metrics.horizontalAdvance(b.text()));
  }
  qreal best = 0;
  QPageLayout::Orientation bestOrientation = QPageLayout::Portrait;
  for (const auto orientation : {QPageLayout::Portrait, QPageLayout::Landscape}) {
    printer.setPageOrientation(orientation);
    // Printing an unpaginated document keeps 2 cm margins around it.
    const int margin = static_cast<int>(2 / 2.54 * printer.logicalDpiY());
    const qreal scale = std::min<qreal>(1, (printer.width() - 2 * margin) / widest);
    if (scale > best) {
      best = scale;
      bestOrientation = orientation;
    }
  }
  printer.setPageOrientation(bestOrientation);
  // Some room for the layout's rounding.
  if (best < 1) font.setPointSizeF(font.pointSizeF() * best * 0.97);
  doc.setDefaultFont(font);
  // Should a line still not fit, it goes on in the next line rather than off the page.
  QTextOption option = doc.defaultTextOption();
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  doc.setDefaultTextOption(option);
}

// Whether the desktop names a program for a file of this kind or a kind it belongs to (a CSV file is
// text). Opening a file no program is named for goes nowhere visible (or to a web browser), and nothing
// says so: xdg-open only starts. Where xdg-mime cannot answer, the desktop's own answer stands.
bool HasProgramFor(const QString& file) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
  const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
  if (xdgMime.isEmpty()) return true;
  const QMimeType type = QMimeDatabase().mimeTypeForFile(file);
  for (const QString& kind : QStringList{type.name()} + type.allAncestors()) {
    QProcess query;
    query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), kind});
    if (!query.waitForFinished(5000) || query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0) {
      return true;
    }
    if (!query.readAllStandardOutput().trimmed().isEmpty()) return true;
  }
  return false;
#else
  (void)file;
  return true;
#endif
}

bool OpenOnDesktop(const QUrl& url) {
  if (url.isLocalFile() && !HasProgramFor(url.toLocalFile())) return false;
  return QDesktopServices::openUrl(url);
}

bool IsUrl(const QString& target) {
  const QUrl url(target, QUrl::StrictMode);
  // One letter before the colon is a drive, not a scheme.
  return url.isValid() && url.scheme().size() > 1;
}
}  // namespace

QtUserInterface::QtUserInterface() : opener_(OpenOnDesktop) {}

QtUserInterface::~QtUserInterface() = default;

void QtUserInterface::Attach(QTextEdit* reportView, QProgressBar* progressBar) {
  view_ = reportView;
  bar_ = progressBar;
}

QString QtUserInterface::DialogText(std::string_view text) {
  QString s = Q(text);
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  s.replace('\r', '\n');
  return s;
}

int QtUserInterface::Exec(QDialog& dialog) {
  if (hook_) {
    QDialog* d = &dialog;
    QTimer::singleShot(0, d, [this, d] { hook_(d); });
  }
  return dialog.exec();
}

void QtUserInterface::ShowMessage(std::string_view caption, std::string_view text) {
  QMessageBox box(QMessageBox::NoIcon, Q(caption), DialogText(text), QMessageBox::Ok, nullptr);
  box.setTextFormat(Qt::PlainText);
  FitCaption(box);
  Exec(box);
}

void QtUserInterface::ShowError(std::string_view text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), DialogText(text), QMessageBox::Ok, nullptr);
  box.setTextFormat(Qt::PlainText);
  FitCaption(box);
  Exec(box);
}

bool QtUserInterface::Ask(std::string_view caption, std::string_view text, QMessageBox::StandardButton yes,
                          QMessageBox::StandardButton no, QMessageBox::StandardButton preferred) {
  QMessageBox box(QMessageBox::Question, Q(caption), DialogText(text), yes | no, nullptr);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(preferred);
  box.setEscapeButton(no);
  FitCaption(box);
  Exec(box);
  return box.clickedButton() == box.button(yes);
}

bool QtUserInterface::AskOkCancel(std::string_view caption, std::string_view text) {
  return Ask(caption, text, QMessageBox::Ok, QMessageBox::Cancel, QMessageBox::Ok);
}

bool QtUserInterface::AskBeforeIrreversible(std::string_view caption, std::string_view text) {
  // Enter alone must not do what cannot be undone.
  return Ask(caption, text, QMessageBox::Yes, QMessageBox::No, QMessageBox::No);
}

std::optional<std::string> QtUserInterface::AskText(std::string_view caption, std::string_view prompt,
                                                    std::string_view initial) {
  QInputDialog dialog(nullptr);
  dialog.setInputMode(QInputDialog::TextInput);
  dialog.setWindowTitle(Q(caption));
  dialog.setLabelText(DialogText(prompt));
  dialog.setTextValue(Q(initial));
  // The input box builds its layout when first measured.
  dialog.minimumSizeHint();
  FitCaption(dialog);
  if (Exec(dialog) != QDialog::Accepted) return std::nullopt;
  return dialog.textValue().toStdString();
}

void QtUserInterface::Beep() { QApplication::beep(); }

void QtUserInterface::SetProgressMax(int max) {
  progressMax_ = max < 0 ? 0 : max;
  progressPos_ = 0;
  transfer_ = false;
  if (!bar_) return;
  // A range of 0..0 would turn the bar into a busy indicator; an empty bar is what is meant.
  bar_->setRange(0, progressMax_ > 0 ? progressMax_ : 1);
  bar_->setValue(0);
}

void QtUserInterface::StepProgress() {
  if (transfer_) return;
  progressPos_ = progressPos_ + 1 > progressMax_ ? 0 : progressPos_ + 1;
  if (bar_) bar_->setValue(progressPos_);
}

void QtUserInterface::TransferProgress(uint32_t done, uint32_t total) {
  transfer_ = true;
  if (!bar_) return;
  // The bar counts in int: a total beyond it is shown in coarser units.
  const uint32_t unit = total / INT_MAX + 1;
  const int maximum = total > 0 ? static_cast<int>(total / unit) : 1;
  if (bar_->maximum() != maximum) bar_->setRange(0, maximum);
  bar_->setValue(total > 0 ? static_cast<int>(std::min(done, total) / unit) : 0);
}

void QtUserInterface::SetReportText(std::string_view text) {
  if (!view_) return;
  QString s = Q(text);
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  view_->setPlainText(s);
}

std::optional<std::string> QtUserInterface::ChooseFileToOpen(const FileDialogSpec& request) {
  QFileDialog dialog(nullptr, Q(request.title));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (hook_) dialog.setOption(QFileDialog::DontUseNativeDialog);
  // Files from Windows machines often carry upper-case extensions.
  const QString pattern = Q(request.filterPattern);
  QString patterns = pattern;
  if (pattern.toUpper() != pattern) patterns += ' ' + pattern.toUpper();
  dialog.setNameFilter(Q(request.filterDescription) + " (" + patterns + ")");
  if (Exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return QFileInfo(dialog.selectedFiles().first()).absoluteFilePath().toStdString();
}

bool QtUserInterface::PrintReportView() {
  QPrinter printer(QPrinter::HighResolution);
  printer.setCopyCount(1);
  QPrintDialog dialog(&printer, nullptr);
  dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintPageRange |
                    QAbstractPrintDialog::PrintSelection);
  if (Exec(dialog) != QDialog::Accepted) return false;
  // The whole view is printed whatever range or selection was chosen.
  printer.setPrintRange(QPrinter::AllPages);
  printer.setPageRanges(QPageRanges());
  printer.setDocName(QString());
  if (!printer.outputFileName().isEmpty()) printer.setOutputFormat(QPrinter::PdfFormat);
  if (view_) {
    // The view's font is sized in screen pixels, which on a printer's resolution would shrink to a
    // fraction of a millimetre: print a copy set in the equivalent points.
    std::unique_ptr<QTextDocument> copy(view_->document()->clone());
    QFont font = view_->font();
    if (font.pixelSize() > 0) font.setPointSizeF(font.pixelSize() * 72.0 / 96.0);
    FitWidestLine(printer, *copy, font);
    copy->print(&printer);
  }
  return true;
}

void QtUserInterface::ShellOpen(std::string_view target, std::string_view parameters) {
  const QString t = Q(target);
  const QString p = Q(parameters);
  if (IsUrl(t)) {
    OpenUrl(QUrl(t));
  } else if (!p.isEmpty()) {
    // A program asked to open a document: the desktop's handler for that document stands in for it.
    OpenUrl(QUrl::fromLocalFile(ExistingLocalFile(p)));
  } else {
    OpenUrl(QUrl::fromLocalFile(ExistingLocalFile(t)));
  }
}

void QtUserInterface::OpenUrl(const QUrl& url) {
  if (!opener_ || opener_(url)) return;
  if (url.isLocalFile()) {
    ShowMessage("Uwaga !", "Brak programu do otwarcia pliku:\r" +
                               QDir::toNativeSeparators(url.toLocalFile()).toStdString());
  } else {
    ShowMessage("Uwaga !", "Brak programu do otwarcia adresu:\r" + url.toString().toStdString());
  }
}

}  // namespace velutron
