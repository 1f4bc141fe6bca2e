#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/DesktopUserInterface.h"
#include "gui/BusyWaits.h"
#include "platform/QtLocale.h"
#include "session/Session.h"

class QAction;
class QProgressBar;
class QPushButton;
class QTextEdit;

namespace velutron {

// The main window: report view, progress bar, buttons and the menu. It owns the serial port and the
// session every operation works on, and runs the start-up sequence when it is first shown.
class TForm1 final : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kOuterWidth = 650;
  static constexpr int kOuterHeight = 427;
  static constexpr int kMaxOuterHeight = 468;

  // `firstArgument` is the program's first command-line argument (the service letter).
  TForm1(std::unique_ptr<SerialPort> port, std::unique_ptr<Clock> clock,
         std::optional<std::string> firstArgument, QWidget* parent = nullptr);
  ~TForm1() override;

  Session& GetSession() { return session_; }
  DesktopUserInterface& Ui() { return ui_; }
  // True while an operation runs: one started from the menu, a button or the start-up.
  bool Busy() const { return busy_; }

  QTextEdit* ViewCSV = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QPushButton* BitBtn2 = nullptr;
  QPushButton* BitBtn3 = nullptr;
  QPushButton* BitBtn4 = nullptr;
  QPushButton* BitBtn5 = nullptr;
  QPushButton* BitBtn6 = nullptr;

  // The start-up sequence; run once, at the first activation.
  void OpenCommClick();
  void Oprogramie1Click();
  void Koniecpracy1Click();
  // "Wykres bazy danych": the chart of a chosen database.
  void Wykresbazydanych1Click();
  // A download, then (with the archive) the offer to archive what it saved.
  void DownloadClick(uint8_t command);
#ifdef VELUTRON_ARCHIVE
  // "Archiwum": the archive's periods; "Archiwizuj bazę danych…": database files into the archive.
  void ArchiwumClick();
  void ArchiwizujClick();
#endif

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildForm();
  void BuildMenu();
  QPushButton* MakeButton(const char* name, const QString& caption, const QRect& geometry,
                          const QColor& colour, std::function<void()> handler);
  void FitOuterFrame();
  void FollowHeight();
  // Runs `handler` as the one operation of the moment; refused while another runs.
  void RunOperation(const std::function<void()>& handler);

  std::unique_ptr<SerialPort> port_;
  std::unique_ptr<Clock> clock_;
  // The operations wait through these, so the windows repaint while they wait.
  BusyPump pump_;
  IdlePacer pacer_;
  SlicedClock slicedClock_;
  SlicedPort slicedPort_;
  DesktopUserInterface ui_;
  QtLocale locale_;
  Session session_;
  std::optional<std::string> firstArgument_;
  bool activated_ = false;
  bool busy_ = false;
};

}  // namespace velutron
