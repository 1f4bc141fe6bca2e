#include "monitor/MemoryImage.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/FileRead.h"
#include "session/FileName.h"

namespace velutron {

namespace {

constexpr std::string_view kPromptFileName = "Wprowadź nazwę pliku konfiguracji:";
constexpr std::string_view kCaptionSaved = "Kopia danych z do EEPROM do PC.";
constexpr std::string_view kSaved = "Zapisano poprawnie obraz pamięci do pliku:\r";
constexpr std::string_view kCannotRead = "Blokada odczytu danych z dysku !";
constexpr std::string_view kCaptionBadFile = "Błąd strukury pliku.";
constexpr std::string_view kNotAnImage = "To nie jest plik danych EEPROM !!!";
constexpr std::string_view kDamaged = "Uszkodzona stuktura pliku danych EEP !!!";
constexpr std::string_view kCaptionRestored = "Wczytanie danych do EEPROM";
constexpr std::string_view kRestored = "Wczytano poprawnie konfigurację z pliku:\r";
constexpr std::string_view kCaptionRestore = "Wczytanie obrazu pamięci";
constexpr std::string_view kReplaceAll =
    "Wczytanie obrazu zastąpi całą konfigurację rejestratora (parametry pracy, liczbę i parametry czujników, "
    "progi alarmowe, wpisy użytkownika i numer seryjny, nazwy punktów pomiaru) zawartością pliku:\r";
constexpr std::string_view kContinue = "\rKontynuować?";
// Every byte of the image but the sensor-declaration trigger.
constexpr size_t kImageWrites = kImageMemorySize - 1;

// Where an image offset lives in the logger: page 0 is the parameter space, page 1 the point names.
struct Cell {
  uint8_t command;
  uint8_t address;
};
Cell CellOf(size_t offset, uint8_t parameterCommand, uint8_t nameCommand) {
  const auto space = static_cast<size_t>(proto::mem::kSpaceSize);
  return offset < space ? Cell{parameterCommand, static_cast<uint8_t>(offset)}
                        : Cell{nameCommand, static_cast<uint8_t>(offset - space)};
}

}  // namespace

uint16_t ImageChecksum(const MemoryImage& memory) {
  uint16_t sum = 0;
  for (uint8_t b : memory) sum = static_cast<uint16_t>(sum + b);
  return sum;
}

std::array<uint8_t, kImageFileSize> ImageFileBytes(const MemoryImage& memory) {
  std::array<uint8_t, kImageFileSize> file{};
  std::copy(memory.begin(), memory.end(), file.begin());
  const uint16_t sum = ImageChecksum(memory);
  file[kImageMemorySize] = static_cast<uint8_t>(sum >> 8);
  file[kImageMemorySize + 1] = static_cast<uint8_t>(sum & 0xFF);
  return file;
}

ImageFileContents ParseImageFile(std::span<const uint8_t> file) {
  ImageFileContents contents;
  if (file.size() != kImageFileSize) return contents;
  MemoryImage memory{};
  std::copy_n(file.begin(), kImageMemorySize, memory.begin());
  const uint16_t sum = ImageChecksum(memory);
  if (file[kImageMemorySize] != (sum >> 8) || file[kImageMemorySize + 1] != (sum & 0xFF)) {
    contents.check = ImageFileCheck::Damaged;
    return contents;
  }
  contents.check = ImageFileCheck::Intact;
  contents.memory = memory;
  return contents;
}

Outcome Zapisobrazurej1Click(Session& s) {
  Link& link = s.link;
  link.Test_COM_OK();
  link.Test_Job_Rej();
  if (!link.state.LinkOk) return Outcome::Failed;
  if (RefusedWithoutService(s)) return Outcome::Failed;

  const std::string proposed = FileNameSafe("Config_EEP_" + s.locale.ShortDate(s.clock.Now()));
  const std::optional<std::string> typed = s.ui.AskText(text::kCaptionFileName, kPromptFileName, proposed);
  if (!typed) return Outcome::Cancelled;

  s.ui.SetProgressMax(static_cast<int>(kImageFileSize));
  link.SendRaw(proto::kLeadIn);
  link.DelayMs(proto::kLeadInGapMs);
  MemoryImage memory{};
  for (size_t offset = 0; offset < kImageMemorySize; ++offset) {
    const Cell cell = CellOf(offset, proto::kParamRead, proto::kNameRead);
    link.Read_COM_Byte(cell.command, cell.address);
    if (!link.state.LinkOk) break;
    memory[offset] = link.state.DataByte;
    s.ui.StepProgress();
  }
  if (!link.state.LinkOk) {
    // The read's own message has told why; no file is written.
    s.ui.SetProgressMax(0);
    return link.Interrupted() ? Outcome::Cancelled : Outcome::Failed;
  }

  // Written beside the target and renamed over it when complete: a failure leaves any old file whole.
  const std::string fileName = *typed + ".eep";
  AtomicFile file(s.InWorkDir(fileName));
  if (!file.Ok()) {
    s.ui.SetProgressMax(0);
    s.ui.ShowMessage(text::kCaptionWarning, text::kBadFileName);
    return Outcome::Failed;
  }
  if (!file.Write(ImageFileBytes(memory)) || !file.Commit()) {
    s.ui.SetProgressMax(0);
    s.ui.ShowMessage(text::kCaptionWarning, std::string(text::kFileWriteFailed) + fileName);
    return Outcome::Failed;
  }
  s.ui.Beep();
  s.ui.SetProgressMax(0);
  s.ui.ShowMessage(kCaptionSaved, std::string(kSaved) + *typed);
  return Outcome::Completed;
}

Outcome Wczytanieobrazurej1Click(Session& s) {
  Link& link = s.link;
  link.Test_COM_OK();
  link.Test_Job_Rej();
  if (!link.state.LinkOk) return Outcome::Failed;
  if (RefusedWithoutService(s)) return Outcome::Failed;

  const FileDialogSpec OpenDialog2{"Wybierz nazwę pliku.", "Pliki obrazów pamięci EEPROM", "*.eep", true};
  const std::optional<std::string> chosen = s.ui.ChooseFileToOpen(OpenDialog2);
  if (!chosen) return Outcome::Cancelled;
  // Read-only (a backup protected against writing is still a backup), and never more of it than one
  // byte past an image, whatever it is.
  const std::optional<std::vector<uint8_t>> bytes = ReadFileAtMost(s.InWorkDir(*chosen), kImageFileSize);
  if (!bytes) {
    s.ui.ShowMessage(text::kCaptionWarning, kCannotRead);
    return Outcome::Failed;
  }
  // The whole image is checked before the first byte goes to the logger.
  const ImageFileContents image = ParseImageFile(*bytes);
  if (image.check != ImageFileCheck::Intact) {
    s.ui.ShowMessage(kCaptionBadFile, image.check == ImageFileCheck::NotAnImage ? kNotAnImage : kDamaged);
    return Outcome::Failed;
  }
  // Nothing of the logger's configuration can be got back once overwritten: the user says so first.
  if (!s.ui.AskBeforeIrreversible(kCaptionRestore, std::string(kReplaceAll) + *chosen + std::string(kContinue)))
    return Outcome::Cancelled;

  s.ui.SetProgressMax(static_cast<int>(kImageMemorySize));
  link.SendRaw(proto::kLeadIn);
  link.DelayMs(proto::kLeadInGapMs);
  bool written = true;
  int acknowledged = 0;
  for (size_t offset = 0; offset < kImageMemorySize && written; ++offset) {
    // These two bytes would begin a sensor declaration, not store a value.
    if (offset == proto::kDeclareAddress) continue;
    const Cell cell = CellOf(offset, proto::kParamWrite, proto::kNameWrite);
    link.Write_COM_Byte(cell.command, cell.address, image.memory[offset]);
    s.ui.StepProgress();
    link.DelayMs(proto::kImageWriteGapMs);
    // A time-out leaves ReplyOk as it was, so the link flag decides too.
    written = link.state.ReplyOk && link.state.LinkOk;
    if (written) ++acknowledged;
  }
  s.ui.SetProgressMax(0);
  if (link.StoppedByInterrupt()) {
    // Too long to finish on an interrupt: the user learns how much of the image the logger now holds.
    s.ui.ShowMessage(text::kCaptionWriteFailed, std::string(text::kWriteInterrupted) + "\rZapisano " +
                                                    std::to_string(acknowledged) + " z " +
                                                    std::to_string(kImageWrites) + " bajtów.");
    return Outcome::Cancelled;
  }
  if (!written) {
    s.ui.ShowMessage(text::kCaptionWriteFailed, text::kWriteInterrupted);
    return Outcome::Failed;
  }
  s.ui.ShowMessage(kCaptionRestored, std::string(kRestored) + *chosen);
  return Outcome::Completed;
}

}  // namespace velutron
