#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <optional>

#include "archive/Archive.h"
#include "archive/PeriodReport.h"
#include "archive/TimeZone.h"
#include "platform/QtLocale.h"
#include "platform/UserInterface.h"

class QComboBox;
class QDateTimeEdit;
class QLabel;
class QListWidget;
class QTableWidget;
class QVBoxLayout;

namespace velutron {

class ChartView;

// "Archiwum": a logger, a period (local time) and its channels chosen; the chart of the period, the
// statistics table, and "Raport PDF…".
class ArchiveWindow final : public QDialog {
  Q_OBJECT

 public:
  // Asks where to save the report, proposing a name (nullopt: cancelled).
  using PdfChooser = std::function<std::optional<QString>(QWidget* parent, const QString& proposed)>;
  // `location`: the archive's SQLite file or postgresql:// URL. The window shows the messages of a
  // failure through `ui`; Opened() is false when the archive could not be opened.
  // `zone`: the IANA name the period is chosen and shown in; empty for the machine's.
  ArchiveWindow(const std::string& location, const std::string& zone, UserInterface& ui,
                QWidget* parent = nullptr);
  ~ArchiveWindow() override;

  bool Opened() const { return archive_ != nullptr; }
  QComboBox* Loggers() const { return loggers_; }
  QDateTimeEdit* From() const { return from_; }
  QDateTimeEdit* To() const { return to_; }
  QListWidget* Channels() const { return channels_; }
  QTableWidget* Statistics() const { return table_; }
  ChartView* Chart() const { return view_; }
  // What the window has to say of the archive itself ("no readings yet"); empty otherwise.
  QLabel* Status() const { return status_; }
  void SetPdfChooser(PdfChooser chooser) { chooser_ = std::move(chooser); }

  // "Pokaż": reads the chosen period; false after the message when it cannot be shown.
  bool ShowPeriod();
  // The report of the period shown as a PDF; false after the message when it could not be written.
  bool SavePdf(const QString& fileName);

 private:
  void LoggerChosen();
  void PdfClick();

  UserInterface& ui_;
  QtLocale locale_;
  std::optional<archive::TimeZone> zone_;
  std::unique_ptr<archive::PeriodArchive> archive_;
  std::vector<archive::LoggerEntry> entries_;
  QComboBox* loggers_ = nullptr;
  QDateTimeEdit* from_ = nullptr;
  QDateTimeEdit* to_ = nullptr;
  QListWidget* channels_ = nullptr;
  QTableWidget* table_ = nullptr;
  QLabel* status_ = nullptr;
  QVBoxLayout* chartBox_ = nullptr;
  ChartView* view_ = nullptr;
  PdfChooser chooser_;
  // What is on screen, for the report.
  std::optional<archive::PeriodResult> shown_;
  archive::ReportContext context_;
};

}  // namespace velutron
