#pragma once

#include <array>
#include <cstdint>
#include <functional>
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

// ---- Device settings dialogs: plain values in and out, so an operation never sees a widget. ----

// An up-down spinner with the read-only edit attached to it. The operation sets the range and the
// position shown (inside the range); the front end returns the position the user left and sets
// `touched` when the user moved it. An untouched spinner is never written back.
struct Spinner {
  int minimum = 0;
  int maximum = 0;
  int position = 0;
  bool touched = false;
};

// The sensor chooser TForm3: caption and label set by the caller, the number spinner from 1.
struct ChooserValues {
  std::string caption;
  std::string label;
  Spinner number;
};

// The general options TForm4.
struct LoggerOptionsValues {
  Spinner intervalMinutes;  // UpDown1, 1..180
  Spinner threshold;        // UpDown2, 0..100
  uint8_t options = 0;      // CheckBox1..CheckBox8, CheckBox1 worth 1
  bool humidity = false;    // CheckBox9
  // Answered with given values (the command line) rather than by a user: a given interval is written
  // whenever it differs from the seconds the logger holds, and every right is checked before any write.
  bool givenValues = false;
};

// The sensor parameters TForm5: the two alarm limits in degrees and the offset field as text. The offset
// spinner is not attached to its field: each click sets the field from the spinner's position.
struct SensorParamsValues {
  std::string caption;
  Spinner low;                   // UpDown1
  Spinner high;                  // UpDown2
  std::string offset;            // Edit3
  std::string decimalSeparator;  // of the regional settings, for the offset spinner's text
};

// --- Monitoring window ---
// The colour of a value label of the monitoring window.
enum class ValueColour { Green, Blue, Red };

// One channel row of the monitoring window: its four labels, the value's colour and the alarm state
// behind it (0 normal, 1 low, 2 high).
struct MonitorRow {
  std::string name;
  std::string band;
  std::string value;
  std::string extremes;
  ValueColour colour = ValueColour::Green;
  int alarm = 0;
};

// Everything the monitoring window shows. The operation fills it before the window opens and again at
// every refresh; the window only displays it.
struct MonitorView {
  static constexpr int kRows = 10;
  int channelCount = 1;  // rows that exist on this logger, 1..10; the window is sized to them
  std::string header;    // two lines separated by "\r"
  std::string time;
  std::string date;
  std::array<MonitorRow, kRows> rows;
};

// One refresh of the monitoring window: reads the logger, updates the view; false when the window must
// close now.
using MonitorRefresh = std::function<bool()>;
// --- end of monitoring window ---

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
  // A question before something that cannot be undone: the desktop asks it Yes/No with No the default;
  // elsewhere it is the OK/Cancel question. True when answered Yes (OK).
  virtual bool AskBeforeIrreversible(std::string_view caption, std::string_view text) {
    return AskOkCancel(caption, text);
  }
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

  // ---- Device settings ----
  // Each dialog is modal and filled from `shown`; it returns the values as the user left them when its
  // accept button closed it, nullopt when it was closed any other way.
  virtual std::optional<ChooserValues> ShowChooser(const ChooserValues& shown) = 0;
  virtual std::optional<LoggerOptionsValues> ShowLoggerOptions(const LoggerOptionsValues& shown) = 0;
  virtual std::optional<SensorParamsValues> ShowSensorParams(const SensorParamsValues& shown) = 0;
  // A value an operation read from the logger, by a plain name ("interval_min", "owner"). The desktop
  // shows values in the dialog or box that follows; the command line prints them.
  virtual void ShowValue(std::string_view name, std::string_view text) = 0;
  virtual void ShowValue(std::string_view name, long long number) = 0;

  // The monitoring window: shows `view` modally and calls `refresh` every 1000 ms, showing `view` again
  // after each, until the user closes the window or a refresh returns false. Never calls `refresh`
  // after the window has closed, nor inside another refresh.
  virtual void RunMonitorWindow(const MonitorView& view, const MonitorRefresh& refresh) = 0;
};

// How an operation ended; the command line turns it into its exit code.
enum class Outcome { Completed, Cancelled, Failed };

}  // namespace velutron
