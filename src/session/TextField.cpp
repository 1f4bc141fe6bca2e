#include "session/TextField.h"

#include "platform/Cp1250.h"

namespace velutron {

namespace {
constexpr size_t kMaxCandidateChars = 100;
constexpr int kWriteProgressMax = 16;
constexpr uint8_t kLowestAllowed = 32;
constexpr uint8_t kHighestAllowed = 128;
}  // namespace

bool Str_Read_EEPROM(Session& s, uint8_t readCommand, uint8_t address, uint8_t length) {
  Link& link = s.link;
  link.SendRaw(proto::kLeadIn);
  link.DelayMs(proto::kLeadInGapMs);

  std::vector<uint8_t> text;
  bool seenNonSpace = false;
  int read = 0;
  s.ui.SetProgressMax(length);
  for (; read < length; ++read) {
    link.Read_COM_Byte(readCommand, static_cast<uint8_t>(address + read));
    if (link.state.TimedOut || !link.state.LinkOk) break;
    const uint8_t byte = link.state.DataByte;
    if (byte != ' ') seenNonSpace = true;
    if (seenNonSpace) text.push_back(byte);
    s.ui.StepProgress();
  }
  s.FieldText = seenNonSpace ? Cp1250ToUtf8(text) : std::string(kEmptyFieldText);
  s.ui.SetProgressMax(0);
  return read == length;
}

Outcome Str_To_EEPROM(Session& s, uint8_t writeCommand, uint8_t address, uint8_t length,
                      std::string_view what) {
  if (s.FieldText == kEmptyFieldText) return Outcome::Completed;
  std::vector<TypedChar> chars = SplitTypedText(s.FieldText);
  if (chars.size() > kMaxCandidateChars) chars.resize(kMaxCandidateChars);
  if (chars.size() > length) {
    s.ui.ShowMessage("Za długi tekst.",
                     "Wprowadzona nazwa zostanie skrócona do " + std::to_string(length) + " znaków !!!");
    chars.resize(length);
  }

  // The field image, checked byte by byte; a character without a Windows-1250 byte is refused too,
  // never replaced.
  std::vector<uint8_t> image(length, ' ');
  std::string refused;
  for (size_t k = 0; k < chars.size(); ++k) {
    const std::optional<uint8_t> byte = chars[k].byte;
    if (!byte || *byte < kLowestAllowed || *byte > kHighestAllowed) {
      refused += chars[k].typed;
    } else {
      image[k] = *byte;
    }
  }
  if (!refused.empty()) {
    s.ui.ShowMessage("Zmień niedozwolone znaki !", "Popraw znaki: (" + refused + ") !!!");
    return Outcome::Failed;
  }

  Link& link = s.link;
  const WholeUnit unit(link);
  if (!unit.Begun()) return Outcome::Cancelled;
  s.ui.SetProgressMax(kWriteProgressMax);
  int written = 0;
  for (int k = 0; k < length; ++k) {
    link.Write_COM_Byte(writeCommand, static_cast<uint8_t>(address + k), image[k]);
    // A time-out leaves ReplyOk as it was, so only an armed link tells this write was acknowledged.
    const bool accepted = link.state.ReplyOk && link.state.LinkOk;
    link.DelayMs(proto::kByteGapMs);
    s.ui.StepProgress();
    if (!accepted) break;
    ++written;
  }
  s.ui.SetProgressMax(0);

  if (written < length) {
    s.ui.ShowMessage(text::kCaptionWriteFailed, text::kWriteInterrupted);
    return Outcome::Failed;
  }
  s.ui.ShowMessage("Zapis danych.", "Zapisano " + std::string(what));
  return Outcome::Completed;
}

}  // namespace velutron
