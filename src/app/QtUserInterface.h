#pragma once

#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "platform/UserInterface.h"

class QDialog;
class QProgressBar;
class QTextEdit;
class QUrl;

namespace velutron {

class TForm2;

// The desktop program's dialogs, progress bar and report view behind the operations' interface.
class QtUserInterface final : public UserInterface {
 public:
  QtUserInterface();
  ~QtUserInterface() override;

  // The main window's report view and progress bar; either may be absent.
  void Attach(QTextEdit* reportView, QProgressBar* progressBar);

  // Called with every dialog just after its modal loop has started, so a test can read and answer it.
  using DialogHook = std::function<void(QDialog*)>;
  void SetDialogHook(DialogHook hook) { hook_ = std::move(hook); }
  // Where links and documents go; QDesktopServices::openUrl unless replaced.
  using UrlOpener = std::function<void(const QUrl&)>;
  void SetUrlOpener(UrlOpener opener) { opener_ = std::move(opener); }

  void ShowMessage(std::string_view caption, std::string_view text) override;
  void ShowError(std::string_view text) override;
  bool AskOkCancel(std::string_view caption, std::string_view text) override;
  std::optional<std::string> AskText(std::string_view caption, std::string_view prompt,
                                     std::string_view initial) override;
  void Beep() override;
  void SetProgressMax(int max) override;
  void StepProgress() override;
  void SetReportText(std::string_view text) override;
  std::optional<std::string> ChooseFileToOpen(const FileDialogSpec& request) override;
  bool PrintReportView() override;
  void ShellOpen(std::string_view target, std::string_view parameters = {}) override;
  void ShowAboutBox() override;
  void RunMonitorWindow(const MonitorView& view, const MonitorRefresh& refresh) override;

  // Device settings: the dialogs TForm3, TForm4 and TForm5. Values read are shown in them.
  std::optional<ChooserValues> ShowChooser(const ChooserValues& shown) override;
  std::optional<LoggerOptionsValues> ShowLoggerOptions(const LoggerOptionsValues& shown) override;
  std::optional<SensorParamsValues> ShowSensorParams(const SensorParamsValues& shown) override;
  void ShowValue(std::string_view, std::string_view) override {}
  void ShowValue(std::string_view, long long) override {}

  // Every about box shown so far; each showing makes a new one.
  const std::vector<std::unique_ptr<TForm2>>& AboutBoxes() const { return aboutBoxes_; }

  // A message text as a dialog shows it: carriage returns become line breaks.
  static QString DialogText(std::string_view text);

  // Shows `dialog` modally, after the dialog hook.
  int Exec(QDialog& dialog);

 private:
  void OpenUrl(const QUrl& url);

  QPointer<QTextEdit> view_;
  QPointer<QProgressBar> bar_;
  int progressMax_ = 0;
  int progressPos_ = 0;
  DialogHook hook_;
  UrlOpener opener_;
  std::vector<std::unique_ptr<TForm2>> aboutBoxes_;
};

}  // namespace velutron
