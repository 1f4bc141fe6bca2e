#include "session/TextField.h"

#include "platform/Cp1250.h"

namespace velutron {

void Str_Read_EEPROM(Session& s, uint8_t readCommand, uint8_t address, uint8_t length) {
  Link& link = s.link;
  link.SendRaw(proto::kLeadIn);
  link.DelayMs(proto::kLeadInGapMs);

  std::vector<uint8_t> text;
  bool seenNonSpace = false;
  s.ui.SetProgressMax(length);
  for (int i = 0; i < length; ++i) {
    link.Read_COM_Byte(readCommand, static_cast<uint8_t>(address + i));
    if (link.state.TimedOut || !link.state.LinkOk) break;
    const uint8_t byte = link.state.DataByte;
    if (byte != ' ') seenNonSpace = true;
    if (seenNonSpace) text.push_back(byte);
    s.ui.StepProgress();
  }
  s.FieldText = seenNonSpace ? Cp1250ToUtf8(text) : std::string(kEmptyFieldText);
  s.ui.SetProgressMax(0);
}

}  // namespace velutron
