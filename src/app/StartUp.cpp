#include "app/StartUp.h"

#include "app/Config.h"

namespace velutron {

namespace {
constexpr std::string_view kQuitCaption = "Koniec pracy...";
constexpr std::string_view kQuitQuestion = "Czy zakończyć program?";
}  // namespace

std::string ComPortName(int number) { return "COM" + std::to_string(number); }

void OpenCommClick(Session& s, std::optional<std::string_view> firstArgument) {
  LoadConfig(s, firstArgument);
  if (s.settings.ConfigBad) s.link.state.PortNumber = 1;
  const std::string portName = ComPortName(s.link.state.PortNumber);

  ClearReportView(s);

  s.link.state.LinkOk = false;
  if (OpenProgramPort(s, portName)) s.link.Test_COM_OK();
  s.ui.ShowAboutBox();
}

bool OpenProgramPort(Session& s, const std::string& portName) {
  if (s.link.OpenPort(portName, s.PortParity())) return true;
  s.ui.Beep();
  std::string message = "Niewłaściwa nazwa portu " + portName + "\r lub jest on aktywny !!!";
  // Another of our programs holding the port says who it is.
  if (const std::string holder = s.link.Port().Holder(); !holder.empty()) message += "\r" + holder;
  s.ui.ShowError(message);
  return false;
}

bool Koniecpracy1Click(Session& s) {
  if (!s.ui.AskOkCancel(kQuitCaption, kQuitQuestion)) return false;
  if (s.link.PortOpen()) s.link.Port().Close();
  return true;
}

}  // namespace velutron
