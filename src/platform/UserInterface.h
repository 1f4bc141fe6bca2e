#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velutron {

// A file-open dialog as the operations describe it: title, one filter entry, options.
struct FileDialogSpec {
  std::string title;
  std::string filterDescription;  // "Bazy danych rejestratora"
  std::string filterPattern;      // "*.dat"
  bool hideReadOnly = false;
};

// Everything an operation shows or asks. All text is UTF-8; "\r" in a message is a line break.
// Implemented by the desktop program, the command line and the tests' scripted interface.
class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // Modal message box with no owner window and one OK button.
  virtual void ShowMessage(std::string_view caption, std::string_view text) = 0;
  // The library's error dialog: error icon, caption "Error", one "OK" button.
  virtual void ShowError(std::string_view text) = 0;
  // OK/Cancel question; true when answered OK.
  virtual bool AskOkCancel(std::string_view caption, std::string_view text) = 0;
  // Text input box; nullopt when cancelled.
  virtual std::optional<std::string> AskText(std::string_view caption, std::string_view prompt,
                                             std::string_view initial) = 0;
  virtual void Beep() = 0;

  // The main window's progress bar: minimum 0, step 1. A maximum of 0 empties it; a step past the
  // maximum wraps to the minimum.
  virtual void SetProgressMax(int max) = 0;
  virtual void StepProgress() = 0;
  // Bytes of a long transfer received so far and the total expected (0 while unknown), for a terminal's
  // progress bar; the desktop program shows its progress bar and ignores this.
  virtual void TransferProgress(uint32_t done, uint32_t total) {
    (void)done;
    (void)total;
  }

  // The report view: the whole text to show (UTF-8).
  virtual void SetReportText(std::string_view text) = 0;
  // The file-open dialog; the chosen file's full path, or nullopt when cancelled.
  virtual std::optional<std::string> ChooseFileToOpen(const FileDialogSpec& request) = 0;
  // Shows the print dialog and, when confirmed, prints the whole report view; false when cancelled.
  virtual bool PrintReportView() = 0;

  // Asks the desktop to open a document, a link or a program (ShellExecute "open").
  virtual void ShellOpen(std::string_view target, std::string_view parameters = {}) = 0;
  // The about box; returns when it closes.
  virtual void ShowAboutBox() = 0;
};

// How an operation ended; the command line turns it into its exit code.
enum class Outcome { Completed, Cancelled, Failed };

}  // namespace velutron
