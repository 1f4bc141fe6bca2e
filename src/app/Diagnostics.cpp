#include "app/Diagnostics.h"

#include <string>

#include "app/Config.h"
#include "app/StartUp.h"

namespace velutron {

namespace {

constexpr int kScanPorts = 10;

std::string ScanFoundText(int port, bool odd) {
  return "Wykryto połączenie z VELUTRON [COM " + std::to_string(port) + "].\r" +
         std::string(51, '-') + "\r" + "Szybkość transmisji - 57 600,\r" +
         (odd ? "Test parzystości - ODDPARITY," : "Test parzystości - EVENPARITY,") + "\r" +
         "1 bit stopu / 8 bitów danych.";
}

// Opens COMn with the current parity and probes it; the port stays open only when the logger echoes.
bool TryPort(Session& s, int n) {
  Link& link = s.link;
  link.state.RxBuffer[0] = 0;
  if (!link.OpenPort(ComPortName(n), s.PortParity())) return false;
  link.state.EchoByte = proto::kProbeEcho;
  link.SendCommand({proto::kRegisterRead, proto::kProbeAddress});
  link.WaitReply(proto::kReplyTimeoutMs, true);
  if (!link.state.TimedOut && link.state.RxBuffer[0] == link.state.EchoByte) return true;
  link.Port().Close();
  return false;
}

}  // namespace

Outcome TESTRS2321Click(Session& s) {
  Link& link = s.link;
  if (link.PortOpen()) link.Port().Close();

  int found = 0;
  for (int pass = 1; pass <= 2 && found == 0; ++pass) {
    // The second pass tries the other parity; after a fruitless scan it stays inverted for this run.
    if (pass == 2) s.settings.OddParity = s.settings.OddParity != 0 ? 0 : 1;
    for (int n = 1; n <= kScanPorts && found == 0; ++n) {
      if (TryPort(s, n)) found = n;
    }
  }

  if (found == 0) {
    link.state.LinkOk = false;
    s.ui.ShowMessage(text::kCaptionWarning, "Nie wykryto połączenia z VELUTRON !");
    return Outcome::Failed;
  }
  link.state.LinkOk = true;
  s.ui.ShowMessage("TEST_OK !", ScanFoundText(found, s.settings.OddParity != 0));
  link.state.PortNumber = static_cast<uint8_t>(found);
  // The logger is found, but a scan whose result is not kept for the next start has not done its job.
  return SaveConfig(s) ? Outcome::Completed : Outcome::Failed;
}

Outcome Test1Wie1Click(Session& s) {
  Link& link = s.link;
  link.Test_COM_OK();
  link.Read_COM_Byte(proto::kRegisterRead, proto::reg::kBusState);
  if (link.state.TimedOut || !link.state.LinkOk) return Outcome::Failed;
  if ((link.state.DataByte & proto::reg::kBusOkBit) == 0) {
    s.ui.ShowMessage(text::kCaptionWarning, "Brak komunikacji magistralą 1-WIRE z czujnikami!");
    return Outcome::Failed;
  }
  link.Read_COM_Byte(proto::kRegisterRead, proto::reg::kCrcConflicts);
  if (link.state.TimedOut || !link.state.LinkOk) return Outcome::Failed;

  const int conflicts = link.state.DataByte;
  if (conflicts == 0) {
    s.ui.ShowMessage("Test OK!", "Brak konfliktów na magistrali 1-WIRE.");
    return Outcome::Completed;
  }
  if (conflicts == 255) {
    s.ui.ShowMessage("Uwaga!", "Przekroczony bufor konfliktów CRC\r[ERROR > 255] !!!");
  } else {
    s.ui.ShowMessage("Uwaga!", "Wykryto konflikty kontrolne CRC\r[ERROR = " + std::to_string(conflicts) + "] !!!");
  }
  return Outcome::Failed;
}

}  // namespace velutron
