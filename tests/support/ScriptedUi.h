#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/UserInterface.h"
#include "settings/DialogAnswers.h"

namespace velutron::test {

// A user interface that records everything an operation shows, in order, and answers questions and
// input boxes from a script. Each event is one line:
//   "message|<caption>|<text>"  "error|<text>"  "question|<caption>|<text>|ok|cancel"
//   "input|<caption>|<prompt>|<initial>|<answer or cancel>"  "beep"  "open-file|<title>|<path or cancel>"
//   "print|ok|cancel"  "shell|<target>|<parameters>"  "about"  "monitor-window" (when it opens)
//   "value|<name>|<value>"
//   "chooser|<caption>|<label>|<min>..<max>|<position>|<number chosen or close>" (ranges as min..max)
//   "options|<minutes>|<threshold>|<options>|<humidity 0/1>|accept or close"
//   "sensor-params|<caption>|<low range>|<low>|<high range>|<high>|<offset>|accept or close"
// Progress and report-view calls are kept apart (progress, reportText) so event lists stay readable.
class ScriptedUi : public UserInterface {
 public:
  std::vector<std::string> events;
  std::deque<bool> answers;                       // AskOkCancel; Cancel when empty
  std::deque<std::optional<std::string>> inputs;  // AskText; nullopt = Cancel; when empty: accept initial
  std::deque<std::optional<std::string>> files;   // ChooseFileToOpen; Cancel when empty
  std::deque<bool> prints;                        // PrintReportView; Cancel when empty
  // The settings dialogs: an answer accepts with the values it gives; nullopt, or none left, closes.
  std::deque<std::optional<ChooserAnswer>> choosers;
  std::deque<std::optional<LoggerOptionsAnswer>> optionDialogs;
  bool optionsGiven = false;  // the options dialog is answered as the command line answers it
  std::deque<std::optional<SensorParamsAnswer>> sensorDialogs;

  std::vector<int> progress;  // every maximum set (as -max-1) and step (as the new position)
  int progressMax = 0;
  int progressPos = 0;
  std::string reportText;
  int reportTextSets = 0;

  // The monitoring window runs this many refreshes, then the user closes it (unless a refresh closes it
  // first). `beforeRefresh` runs before each (SimSession lets the window's 1000 ms pass on its clock).
  int monitorRefreshes = 0;
  std::function<void()> beforeRefresh;
  std::vector<MonitorView> monitorViews;  // what the window showed: when it opened, after each refresh

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
  void ShellOpen(std::string_view target, std::string_view parameters) override;
  void ShowAboutBox() override;
  std::optional<ChooserValues> ShowChooser(const ChooserValues& shown) override;
  std::optional<LoggerOptionsValues> ShowLoggerOptions(const LoggerOptionsValues& shown) override;
  std::optional<SensorParamsValues> ShowSensorParams(const SensorParamsValues& shown) override;
  void ShowValue(std::string_view name, std::string_view text) override;
  void ShowValue(std::string_view name, long long number) override;
  void RunMonitorWindow(const MonitorView& view, const MonitorRefresh& refresh) override;
};

}  // namespace velutron::test
