#include "settings/Maintenance.h"

#include <string>

#include "session/Format.h"
#include "settings/Exchanges.h"

namespace velutron {

namespace {

constexpr int kEarliestPcYear = 2009;
constexpr int kLastSafeSecond = 57;
// How often the seconds are looked at again while they are 58 or 59.
constexpr uint32_t kSecondsPollMs = 10;

Outcome RunAction(Session& s, proto::Action action, std::string_view caption, std::string_view question,
                  bool needsService) {
  if (!ReadyToChange(s, needsService)) return Outcome::Failed;
  if (!s.ui.AskOkCancel(caption, question)) return Outcome::Cancelled;
  Link& link = s.link;
  link.Load_COM_Byte(true, action.command, action.timeoutMs);
  return ReplyConfirmed(link.state) ? Outcome::Completed : Outcome::Failed;
}

}  // namespace

Outcome BitBtn2Click(Session& s) {
  Link& link = s.link;
  link.Test_COM_OK();
  if (!link.state.LinkOk) return Outcome::Failed;
  if (!s.ui.AskOkCancel("Przełączenie trybu pracy.", "Czy napewno chcesz zmienić tryb pracy?")) {
    return Outcome::Cancelled;
  }
  // Once the toggle has gone out, the user learns the state it left, interrupt or not.
  const WholeUnit unit(link);
  if (!unit.Begun()) return Outcome::Cancelled;
  link.SendRaw(proto::kModeToggle);
  link.DelayMs(proto::kModeToggleGapMs);
  const uint8_t state = ReadRegister(link, proto::reg::kRecording);
  if (!link.state.LinkOk) return Outcome::Failed;
  s.ui.ShowMessage("Stan pracy:", state == proto::reg::kRecordingActive
                                      ? "REJESTRACJA AKTYWNA\rPOMIARY I ZAPIS TEMPERATUR."
                                      : "REJESTRACJA ZABLOKOWANA\rSTAN PRZERWY.");
  return Outcome::Completed;
}

Outcome BitBtn3Click(Session& s) {
  if (!ReadyToChange(s, false)) return Outcome::Failed;
  Link& link = s.link;
  if (!s.ui.AskOkCancel("Ustaw czas PC -> Rej.", "Czy synchronizować czas rejestratora z czasem PC?")) {
    return Outcome::Cancelled;
  }
  const CivilTime today = s.clock.Now();
  if (today.year < kEarliestPcYear) {
    s.ui.ShowMessage("Błąd zegara PC !!!",
                     "Ustaw czas zegara komputera !!!\rData PC = " + s.locale.ShortDate(today));
    return Outcome::Failed;
  }

  // Seconds + 1 must not carry into the minutes: sleep while they are 58 or 59.
  CivilTime now = s.clock.Now();
  while (now.second > kLastSafeSecond) {
    s.clock.SleepMs(kSecondsPollMs);
    now = s.clock.Now();
  }
  // The six registers are one time: an interrupt waits until all of them are written.
  const WholeUnit unit(link);
  if (!unit.Begun()) return Outcome::Cancelled;
  RegisterWriter writer(link);
  auto write = [&writer](uint8_t address, int value) { writer.Write(address, static_cast<uint8_t>(value)); };
  write(proto::reg::kSetSeconds, ByteToBcd(static_cast<uint8_t>(now.second + 1)));
  write(proto::reg::kSetMinutes, ByteToBcd(static_cast<uint8_t>(now.minute)));
  write(proto::reg::kSetHours, ByteToBcd(static_cast<uint8_t>(now.hour)));
  const CivilTime date = s.clock.Now();
  write(proto::reg::kSetDay, ByteToBcd(static_cast<uint8_t>(date.day)));
  write(proto::reg::kSetMonth, ByteToBcd(static_cast<uint8_t>(date.month)));
  write(proto::reg::kYear, (date.year - 2000) & 0xFF);

  const CivilTime done = s.clock.Now();
  const std::string text = "Ustawiono czas zegara poprawnie!\rData= " + s.locale.ShortDate(done) + "\r" +
                           "Czas= " + s.locale.LongTime(done);
  // The clock is set only when every register took its value; a refusal has shown its own message.
  if (!writer.Confirmed()) return Outcome::Failed;
  s.ui.ShowMessage("Zegar OK!", text);
  return Outcome::Completed;
}

Outcome Resetuk1Click(Session& s) {
  return RunAction(s, proto::kActionReset, "Reset rejestratora!",
                   "Czy napewno chcesz zresetować rejestrator?", false);
}

Outcome Wykasujpomiary1Click(Session& s) {
  return RunAction(s, proto::kActionErase, "Kasowanie danych !!!", "Czy napewno chcesz wykasować pomiary?",
                   false);
}

Outcome Formatowanieukadu1Click(Session& s) {
  return RunAction(s, proto::kActionFormat, "Formatowanie pamięci rejestratora.",
                   "Czy NAPEWNO chcesz sformatować pamięć\ri wykasować wszystkie parametry?", true);
}

}  // namespace velutron
