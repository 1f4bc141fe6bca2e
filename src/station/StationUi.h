#pragma once

// The station's user interface: nobody sits in front of it, so what an operation would show goes to
// the log, every question is answered no, and the monitoring window is the watcher's reading loop.

#include <functional>

#include "platform/UserInterface.h"
#include "station/Log.h"

namespace velutron::station {

class StationUi final : public UserInterface {
 public:
  StationUi(Log& log, std::string source) : log_(log), source_(std::move(source)) {}

  // Runs in place of the monitoring window.
  std::function<void(const MonitorRefresh&)> window;
  void SetSource(std::string source) { source_ = std::move(source); }

  void ShowMessage(std::string_view caption, std::string_view text) override;
  void ShowError(std::string_view text) override;
  bool AskOkCancel(std::string_view, std::string_view) override { return false; }
  std::optional<std::string> AskText(std::string_view, std::string_view, std::string_view) override {
    return std::nullopt;
  }
  void Beep() override {}
  void SetProgressMax(int) override {}
  void StepProgress() override {}
  void SetReportText(std::string_view) override {}
  std::optional<std::string> ChooseFileToOpen(const FileDialogSpec&) override { return std::nullopt; }
  bool PrintReportView() override { return false; }
  void ShellOpen(std::string_view, std::string_view) override {}
  void ShowAboutBox() override {}
  std::optional<ChooserValues> ShowChooser(const ChooserValues&) override { return std::nullopt; }
  std::optional<LoggerOptionsValues> ShowLoggerOptions(const LoggerOptionsValues&) override {
    return std::nullopt;
  }
  std::optional<SensorParamsValues> ShowSensorParams(const SensorParamsValues&) override {
    return std::nullopt;
  }
  void ShowValue(std::string_view, std::string_view) override {}
  void ShowValue(std::string_view, long long) override {}
  void RunMonitorWindow(const MonitorView& view, const MonitorRefresh& refresh) override;

 private:
  Log& log_;
  std::string source_;
};

}  // namespace velutron::station
