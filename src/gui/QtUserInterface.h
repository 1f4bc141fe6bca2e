#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <functional>

#include "platform/UserInterface.h"

class QDialog;
class QProgressBar;
class QTextEdit;
class QUrl;

namespace velutron {

// The desktop program's message boxes, input boxes, file and print dialogs, progress bar and report
// view behind the operations' interface. The rooms' own windows (about box, settings dialogs,
// monitoring window) are added above it by the desktop program, which knows them.
class QtUserInterface : public UserInterface {
 public:
  QtUserInterface();
  ~QtUserInterface() override;

  // The main window's report view and progress bar; either may be absent.
  void Attach(QTextEdit* reportView, QProgressBar* progressBar);

  // Called with every dialog just after its modal loop has started, so a test can read and answer it.
  using DialogHook = std::function<void(QDialog*)>;
  void SetDialogHook(DialogHook hook) { hook_ = std::move(hook); }
  // Where links and documents go: the desktop's program for them unless replaced. False when nothing
  // could take them (no program for that kind of file), which the user is then told.
  using UrlOpener = std::function<bool(const QUrl&)>;
  void SetUrlOpener(UrlOpener opener) { opener_ = std::move(opener); }

  void ShowMessage(std::string_view caption, std::string_view text) override;
  void ShowError(std::string_view text) override;
  bool AskOkCancel(std::string_view caption, std::string_view text) override;
  bool AskBeforeIrreversible(std::string_view caption, std::string_view text) override;
  std::optional<std::string> AskText(std::string_view caption, std::string_view prompt,
                                     std::string_view initial) override;
  void Beep() override;
  void SetProgressMax(int max) override;
  void StepProgress() override;
  // A transfer's bytes take the bar over until the next SetProgressMax: its maximum is the total the
  // transfer declared, its value the bytes received (an empty bar while the total is unknown).
  void TransferProgress(uint32_t done, uint32_t total) override;
  void SetReportText(std::string_view text) override;
  std::optional<std::string> ChooseFileToOpen(const FileDialogSpec& request) override;
  bool PrintReportView() override;
  void ShellOpen(std::string_view target, std::string_view parameters = {}) override;
  void ShowValue(std::string_view, std::string_view) override {}
  void ShowValue(std::string_view, long long) override {}

  // A message text as a dialog shows it: carriage returns become line breaks.
  static QString DialogText(std::string_view text);

  // Shows `dialog` modally, after the dialog hook.
  int Exec(QDialog& dialog);

 protected:
  void OpenUrl(const QUrl& url);

 private:
  // A question answered `yes` or `no` (also Escape); Enter gives `preferred`.
  bool Ask(std::string_view caption, std::string_view text, QMessageBox::StandardButton yes,
           QMessageBox::StandardButton no, QMessageBox::StandardButton preferred);

  QPointer<QTextEdit> view_;
  QPointer<QProgressBar> bar_;
  int progressMax_ = 0;
  int progressPos_ = 0;
  bool transfer_ = false;  // the bar shows a transfer's bytes: steps leave it alone
  DialogHook hook_;
  UrlOpener opener_;
};

}  // namespace velutron
