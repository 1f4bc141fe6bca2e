#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "platform/UserInterface.h"
#include "settings/DialogAnswers.h"

namespace velutron::cli {

// The command line's user interface: every message on standard output, human-readable or one JSON
// object per line; questions answered by --yes, the terminal, or Cancel; the input box and the file
// dialog answered by the command's arguments.
class ConsoleUi final : public UserInterface {
 public:
  ConsoleUi(std::FILE* out, bool json, bool yes) : out_(out), json_(json), yes_(yes) {}

  // The answer the next input box takes; without one it takes its proposed text.
  std::optional<std::string> inputAnswer;
  // The file the next open dialog returns; without one it is cancelled.
  std::optional<std::string> fileAnswer;
  // Readings the monitoring window shows before it closes: the first one, then one per refresh. Without
  // a number it runs until interrupted.
  std::optional<int> monitorReadings;

  // Device settings. The dialogs are accepted with these values set and the others as read; a value a
  // dialog cannot take refuses the command line before anything is written.
  ChooserAnswer chooserAnswer;
  LoggerOptionsAnswer optionsAnswer;
  SensorParamsAnswer sensorAnswer;
  // The sensor the chooser must offer (N of "text point N", ...); refused when the logger's sensor
  // count does not have it.
  std::optional<int> expectedSensor;
  // Leave the next input box with Cancel: a text field read without a change.
  bool leaveInputBox = false;
  // Why the command line was refused part-way (said on standard error); empty when it was not. Once
  // refused, every later question, input box and dialog is left without a word.
  const std::string& Refusal() const { return refusal_; }

  void ShowMessage(std::string_view caption, std::string_view text) override;
  void ShowError(std::string_view text) override;
  bool AskOkCancel(std::string_view caption, std::string_view text) override;
  std::optional<std::string> AskText(std::string_view caption, std::string_view prompt,
                                     std::string_view initial) override;
  void Beep() override;
  // A long transfer draws a progress bar on standard error when that is a terminal (not with --json);
  // the next progress maximum of 0 ends its line.
  void SetProgressMax(int max) override;
  void StepProgress() override {}
  void TransferProgress(uint32_t done, uint32_t total) override;
  void SetReportText(std::string_view) override {}
  std::optional<std::string> ChooseFileToOpen(const FileDialogSpec& request) override;
  bool PrintReportView() override { return false; }
  void ShellOpen(std::string_view, std::string_view) override {}
  void ShowAboutBox() override {}
  std::optional<ChooserValues> ShowChooser(const ChooserValues& shown) override;
  std::optional<LoggerOptionsValues> ShowLoggerOptions(const LoggerOptionsValues& shown) override;
  std::optional<SensorParamsValues> ShowSensorParams(const SensorParamsValues& shown) override;
  void ShowValue(std::string_view name, std::string_view text) override;
  void ShowValue(std::string_view name, long long number) override;
  // One block per reading, a refresh every 1000 ms; Ctrl+C closes the window between two refreshes.
  void RunMonitorWindow(const MonitorView& view, const MonitorRefresh& refresh) override;

  // "name: value" / {"type":"value",...}
  void Value(std::string_view name, std::string_view value);
  void Value(std::string_view name, long long value);
  void Result(Outcome outcome);
  // A line of a command's own: `human` as text, `json` (one object) with --json.
  void Print(const std::string& human, const std::string& json) { Line(json_ ? json : human); }
  bool Json() const { return json_; }

  // Where messages go from now on; a command whose product is standard output moves them to standard
  // error.
  void SetOutput(std::FILE* out) { out_ = out; }

 private:
  bool AnswerFromTerminal(std::string_view caption, std::string_view text);
  void DrawBar(std::chrono::steady_clock::time_point now);
  void Refuse(const std::string& why);
  template <typename Values, typename Given>
  std::optional<Values> AnswerDialog(const Values& shown, const Given& given);
  void PrintMonitor(const MonitorView& view);
  void Line(const std::string& line);

  std::FILE* out_;
  bool json_;
  bool yes_;
  // The progress bar: whether it is drawn at all, when the transfer began and the line was last drawn.
  std::optional<bool> barWanted_;
  bool barShown_ = false;
  std::chrono::steady_clock::time_point barStart_;
  std::chrono::steady_clock::time_point barDrawn_;
  uint32_t barStartDone_ = 0;
  uint32_t barDone_ = 0;
  uint32_t barTotal_ = 0;
  std::string barLine_;
  std::string refusal_;
};

// "  45% [##########              ] 67584/149865 B  5.2 kB/s  ETA 0:16": bytes, and the rate and time
// left from what arrived in the `seconds` since `doneAtStart` bytes were there.
std::string ProgressLine(uint32_t done, uint32_t total, uint32_t doneAtStart, double seconds);

}  // namespace velutron::cli
