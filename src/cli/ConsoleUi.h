#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "platform/UserInterface.h"

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

  void ShowMessage(std::string_view caption, std::string_view text) override;
  void ShowError(std::string_view text) override;
  bool AskOkCancel(std::string_view caption, std::string_view text) override;
  std::optional<std::string> AskText(std::string_view caption, std::string_view prompt,
                                     std::string_view initial) override;
  void Beep() override;
  void SetProgressMax(int) override {}
  void StepProgress() override {}
  void SetReportText(std::string_view) override {}
  std::optional<std::string> ChooseFileToOpen(const FileDialogSpec& request) override;
  bool PrintReportView() override { return false; }
  void ShellOpen(std::string_view, std::string_view) override {}
  void ShowAboutBox() override {}
  // One block per reading, a refresh every 1000 ms; Ctrl+C closes the window between two refreshes.
  void RunMonitorWindow(const MonitorView& view, const MonitorRefresh& refresh) override;

  // "name: value" / {"type":"value",...}
  void Value(std::string_view name, std::string_view value);
  void Value(std::string_view name, long long value);
  void Result(Outcome outcome);

 private:
  bool AnswerFromTerminal(std::string_view caption, std::string_view text);
  void PrintMonitor(const MonitorView& view);
  void Line(const std::string& line);

  std::FILE* out_;
  bool json_;
  bool yes_;
};

}  // namespace velutron::cli
