#include "settings/TextFields.h"

#include <string>

#include "session/TextField.h"
#include "settings/Exchanges.h"
#include "settings/Sensors.h"

namespace velutron {

namespace {

struct Editor {
  uint8_t readCommand;
  uint8_t writeCommand;
  uint8_t address;
  uint8_t length;
  std::string_view caption;
  std::string_view prompt;
  std::string_view what;
  std::string_view valueName;
  bool needsService;
};

constexpr Editor kSupervisor{proto::kParamRead,
                             proto::kParamWrite,
                             proto::mem::kSupervisor,
                             proto::mem::kSupervisorLength,
                             "Dane osoby nadzorujacej.",
                             "Nadzór pomiarów [max.16 znaków]:",
                             "osobę do nadzoru pomiarów.",
                             "supervisor",
                             false};
constexpr Editor kPointName{proto::kNameRead,
                            proto::kNameWrite,
                            0,  // the chosen sensor's
                            proto::mem::kPointNameLength,
                            "Nazwa punktu pomiarowego.",
                            "Nazwa pkt. pomiarowego [max.16 znaków]:",
                            "nazwę punktu pomiarowego.",
                            "point_name",
                            false};
constexpr Editor kOwner{proto::kParamRead,
                        proto::kParamWrite,
                        proto::mem::kOwner,
                        proto::mem::kOwnerLength,
                        "Licencja użytkownika.",
                        "Wpisz nazwę firmy [max. 35 znaków]:",
                        "licencję użytkownika.",
                        "owner",
                        true};
constexpr Editor kSerial{proto::kParamRead,
                         proto::kParamWrite,
                         proto::mem::kSerial,
                         proto::mem::kSerialLength,
                         "Numer seryjny rejestratora.",
                         "Wpisz numer seryjny [max.16 znaków]:",
                         "numer seryjny.",
                         "serial",
                         true};

Outcome EditField(Session& s, const Editor& e, bool pointName) {
  if (!ReadyToChange(s, e.needsService)) return Outcome::Failed;
  uint8_t address = e.address;
  if (pointName) {
    // Whether a sensor was chosen is not asked: a closed chooser edits the one chosen last.
    WyborKanalu(s);
    address = proto::mem::PointName(s.link.state.SensorNumber);
  }
  // Part of a field is not the field: neither shown nor offered for editing.
  if (!Str_Read_EEPROM(s, e.readCommand, address, e.length)) return Outcome::Failed;
  s.ui.ShowValue(e.valueName, s.FieldText);

  const std::optional<std::string> entered = s.ui.AskText(e.caption, e.prompt, s.FieldText);
  if (!entered) return Outcome::Cancelled;
  s.FieldText = *entered;
  return Str_To_EEPROM(s, e.writeCommand, address, e.length, e.what);
}

}  // namespace

Outcome Nadzrpomiaru1Click(Session& s) { return EditField(s, kSupervisor, false); }
Outcome Nazwapktpomiar1Click(Session& s) { return EditField(s, kPointName, true); }
Outcome Wpislicencji1Click(Session& s) { return EditField(s, kOwner, false); }
Outcome Wpisnrserii1Click(Session& s) { return EditField(s, kSerial, false); }

Outcome Licencja1Click(Session& s) {
  Link& link = s.link;
  link.Test_COM_OK();
  if (!link.state.LinkOk) return Outcome::Failed;
  if (!Str_Read_EEPROM(s, proto::kParamRead, proto::mem::kOwner, proto::mem::kOwnerLength)) {
    return Outcome::Failed;
  }
  const std::string owner = s.FieldText;
  if (!Str_Read_EEPROM(s, proto::kParamRead, proto::mem::kSerial, proto::mem::kSerialLength)) {
    return Outcome::Failed;
  }
  const std::string serial = s.FieldText;
  s.ui.ShowValue(kOwner.valueName, owner);
  s.ui.ShowValue(kSerial.valueName, serial);
  s.ui.ShowMessage("Licencja.", "Licencja użytkownika:\r" + owner + "\rNumer seryjny:\r" + serial);
  return Outcome::Completed;
}

}  // namespace velutron
