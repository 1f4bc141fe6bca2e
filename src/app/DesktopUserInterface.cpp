#include "app/DesktopUserInterface.h"

#include <QDateTime>
#include <QUrl>
#include <cstdio>

#include "app/AboutBox.h"
#include "monitor/MonitorWindow.h"
#include "settings/ChooserDialog.h"
#include "settings/LoggerOptionsDialog.h"
#include "settings/SensorParamsDialog.h"

namespace velutron {

DesktopUserInterface::DesktopUserInterface() = default;

DesktopUserInterface::~DesktopUserInterface() = default;

void DesktopUserInterface::ShowAboutBox() {
  aboutBoxes_.push_back(std::make_unique<TForm2>());
  TForm2& box = *aboutBoxes_.back();
  box.SetUrlOpener([this](const QUrl& url) { OpenUrl(url); });
  if (qEnvironmentVariableIsSet("VELUTRON_TRACE_STARTUP")) {
    std::fprintf(stderr, "velutron: about box at %lld ms since the epoch\n",
                 static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
    std::fflush(stderr);
  }
  Exec(box);
}

void DesktopUserInterface::RunMonitorWindow(const MonitorView& view, const MonitorRefresh& refresh) {
  TForm6 window(view, refresh);
  Exec(window);
}

namespace {
// Fills a settings dialog, shows it modally and reads it back when its accept button closed it.
template <typename Dialog, typename Values>
std::optional<Values> RunSettingsDialog(const Values& shown, const std::function<int(QDialog&)>& exec) {
  Dialog dialog;
  dialog.Fill(shown);
  if (exec(dialog) != QDialog::Accepted) return std::nullopt;
  return dialog.Values();
}
}  // namespace

std::optional<ChooserValues> DesktopUserInterface::ShowChooser(const ChooserValues& shown) {
  return RunSettingsDialog<TForm3>(shown, [this](QDialog& d) { return Exec(d); });
}

std::optional<LoggerOptionsValues> DesktopUserInterface::ShowLoggerOptions(const LoggerOptionsValues& shown) {
  return RunSettingsDialog<TForm4>(shown, [this](QDialog& d) { return Exec(d); });
}

std::optional<SensorParamsValues> DesktopUserInterface::ShowSensorParams(const SensorParamsValues& shown) {
  return RunSettingsDialog<TForm5>(shown, [this](QDialog& d) { return Exec(d); });
}

}  // namespace velutron
