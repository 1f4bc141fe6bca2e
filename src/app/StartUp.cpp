#include "app/StartUp.h"

#include "app/Config.h"

namespace velutron {

namespace {
constexpr std::string_view kQuitCaption = "Koniec pracy...";
constexpr std::string_view kQuitQuestion = "Czy zakończyć program?";

std::string HolderLine(const SerialPort& port, HolderWords words) {
  if (words == HolderWords::English) return port.Holder();
  const std::optional<PortHolder> holder = port.HeldBy();
  if (!holder) return {};
  if (holder->program.empty()) return "Port zajmuje inny program.";
  return "Port zajmuje: " + holder->program + ", pid " + std::to_string(holder->pid);
}
}  // namespace

std::string ComPortName(int number) { return "COM" + std::to_string(number); }

void OpenCommClick(Session& s, std::optional<std::string_view> firstArgument) {
  LoadConfig(s, firstArgument);
  if (s.settings.ConfigBad) s.link.state.PortNumber = 1;
  const std::string portName = ComPortName(s.link.state.PortNumber);

  ClearReportView(s);

  s.link.state.LinkOk = false;
  if (OpenProgramPort(s, portName, HolderWords::Polish)) s.link.Test_COM_OK();
  s.ui.ShowAboutBox();
}

bool OpenProgramPort(Session& s, const std::string& portName, HolderWords words) {
  if (s.link.OpenPort(portName, s.PortParity())) return true;
  s.ui.Beep();
  std::string message = "Niewłaściwa nazwa portu " + portName + "\r lub jest on aktywny !!!";
  // Another of our programs holding the port says who it is.
  if (const std::string holder = HolderLine(s.link.Port(), words); !holder.empty()) message += "\r" + holder;
  s.ui.ShowError(message);
  return false;
}

bool Koniecpracy1Click(Session& s) {
  if (!s.ui.AskOkCancel(kQuitCaption, kQuitQuestion)) return false;
  if (s.link.PortOpen()) s.link.Port().Close();
  return true;
}

}  // namespace velutron
