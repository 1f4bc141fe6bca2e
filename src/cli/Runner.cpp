#include "cli/Runner.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <system_error>

#include "app/Config.h"
#include "app/StartUp.h"
#include "platform/SystemSerialPort.h"
#include "platform/Utf8Path.h"

namespace velutron::cli {

std::string ChosenFile(const std::string& name) {
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(PathFromUtf8(name), ec);
  return ec ? name : Utf8FromPath(absolute);
}

CLI::Validator Decimal(bool hex) {
  return CLI::Validator(
      [hex](std::string& text) -> std::string {
        if (hex && text.size() > 2 && (text.starts_with("0x") || text.starts_with("0X")) &&
            text.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos) {
          return {};
        }
        const size_t sign = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
        if (text.size() == sign || text.find_first_not_of("0123456789", sign) != std::string::npos) {
          return "not a whole number: " + text;
        }
        const size_t first = text.find_first_not_of('0', sign);  // none: the number is zero
        text.erase(sign, (first == std::string::npos ? text.size() - 1 : first) - sign);
        return {};
      },
      "INT");
}

bool OutputIsInput(Runner& r, const std::string& input, const std::string& output) {
  const Session& s = r.session();
  std::error_code ec;
  // A missing output is no file at all, so it is not the input either.
  if (!std::filesystem::equivalent(s.InWorkDir(input), s.InWorkDir(output), ec) || ec) return false;
  r.ui().Refuse("the output " + output + " is the database " + input + " itself; name another file");
  return true;
}

int ExitCode(Outcome outcome) {
  switch (outcome) {
    case Outcome::Completed:
      return kExitCompleted;
    case Outcome::Cancelled:
      return kExitCancelled;
    case Outcome::Failed:
      break;
  }
  return kExitFailed;
}

Runner::Runner(const GlobalOptions& o, ConsoleUi& ui, const Locale& locale)
    : o_(o), ui_(ui), port_(MakeSystemSerialPort()), session_(*port_, clock_, ui_, locale) {}

void Runner::LoadSettings() {
  const bool needFile = o_.port.empty() || (!o_.odd && !o_.even);
  if (needFile) {
    LoadConfig(session_, std::nullopt);
    if (session_.settings.ConfigBad) session_.link.state.PortNumber = 1;
  }
  session_.settings.ServiceAccess = o_.service;
  if (o_.odd) session_.settings.OddParity = 1;
  if (o_.even) session_.settings.OddParity = 0;
}

void Runner::OpenPort() {
  OpenProgramPort(session_, o_.port.empty() ? ComPortName(session_.link.state.PortNumber) : o_.port);
}

}  // namespace velutron::cli
