#include "data/ExportDialog.h"

#include <QFileDialog>

namespace velutron {

std::optional<std::string> AskWorkbookFile(QWidget* parent, const std::string& proposed,
                                           const std::function<int(QDialog&)>& exec) {
  QFileDialog dialog(parent, QStringLiteral("Eksport do arkusza"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilter(QStringLiteral("Arkusz Excel (*.xlsx)"));
  dialog.setDefaultSuffix(QStringLiteral("xlsx"));
  dialog.selectFile(QString::fromStdString(proposed));
  if (exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().first().toStdString();
}

}  // namespace velutron
