#pragma once

#include <QDialog>
#include <functional>
#include <optional>

#include "data/DatabaseFile.h"
#include "gui/ChartView.h"
#include "platform/QtLocale.h"
#include "platform/UserInterface.h"

namespace velutron {

// "Wykres bazy danych": the chart of one database, with saving as PNG or SVG.
class ChartWindow final : public QDialog {
  Q_OBJECT

 public:
  // `ui` shows the save dialog's outcome; `chooseFile` asks where to save, proposing a name (nullopt:
  // cancelled).
  using SaveChooser = std::function<std::optional<QString>(QWidget* parent, const QString& proposed)>;
  ChartWindow(const DatabaseContents& db, const QString& title, UserInterface& ui, QWidget* parent = nullptr);

  ChartView* View() const { return view_; }
  void SetSaveChooser(SaveChooser chooser) { chooser_ = std::move(chooser); }
  // The name "Zapisz obraz..." proposes: the database's, with .png.
  QString ProposedName() const;

  // The chart as shown, as PNG or SVG by the name's extension; false after the message when it could
  // not be written.
  bool SavePicture(const QString& fileName);

 private:
  void SaveClick();

  UserInterface& ui_;
  QtLocale locale_;
  QString title_;
  ChartView* view_ = nullptr;
  SaveChooser chooser_;
};

}  // namespace velutron
