#pragma once

#include <memory>
#include <vector>

#include "gui/QtUserInterface.h"

namespace velutron {

class TForm2;

// The desktop program's user interface whole: the shared dialogs of QtUserInterface and the rooms' own
// windows, which only the program above the rooms may know.
class DesktopUserInterface final : public QtUserInterface {
 public:
  DesktopUserInterface();
  ~DesktopUserInterface() override;

  void ShowAboutBox() override;
  void RunMonitorWindow(const MonitorView& view, const MonitorRefresh& refresh) override;

  // Device settings: the dialogs TForm3, TForm4 and TForm5. Values read are shown in them.
  std::optional<ChooserValues> ShowChooser(const ChooserValues& shown) override;
  std::optional<LoggerOptionsValues> ShowLoggerOptions(const LoggerOptionsValues& shown) override;
  std::optional<SensorParamsValues> ShowSensorParams(const SensorParamsValues& shown) override;

  // Every about box shown so far; each showing makes a new one.
  const std::vector<std::unique_ptr<TForm2>>& AboutBoxes() const { return aboutBoxes_; }

 private:
  std::vector<std::unique_ptr<TForm2>> aboutBoxes_;
};

}  // namespace velutron
