#include "link/Link.h"

#include <algorithm>
#include <span>

#include "platform/Process.h"

namespace velutron {

ReplyMessage ReplyCodeMessage(uint8_t code) {
  const std::string warn(text::kCaptionWarning);
  const std::string answer(text::kCaptionAnswer);
  switch (code) {
    case 0:
      return {warn, std::string(text::kNoLink)};
    case 10:
      return {warn, "Przerwanie transmisji danych !!!"};
    case 20:
      return {warn, "Uszkodzenie bufora danych EEPROM !"};
    case 30:
      return {warn, "Uszkodzenie zegara C-MOS !!!"};
    case 40:
      return {warn, "Uszkodzenie bufora danych EEPROM !!!"};
    case 50:
      return {warn, "Rozmiar danych jest niepoprawny !"};
    case 60:
      return {warn, "Przerwanie transmisji pliku wynikowego !"};
    case 70:
      return {warn, "Niepoprawny formatu transmitowanego pliku !"};
    case 80:
      return {warn, "Brak danych do transmisji !"};
    case 90:
      return {warn, "Popraw format alarmu temperatury <-50..120°C>."};
    case 97:
      return {warn, "Brak odpowiedzi z czujnika temperatury !!!"};
    case proto::reply::kAccepted:
      return {"", ""};
    case proto::reply::kWriteDone:
      return {answer, "Zapis danych wykonany poprawnie !"};
    case proto::reply::kResetDone:
      return {answer, "Układ zresetowany !!!"};
    case proto::reply::kErased:
      return {answer, "BUFOR DANYCH WYKASOWANY !!!"};
    case proto::reply::kClockSet:
      return {answer, "Zegar układu ustawiony poprawnie."};
    case proto::reply::kAlarmSaved:
      return {answer, "Nastawa alarmu zapisana poprawnie."};
    case proto::reply::kOptionsSet:
      return {answer, "Ustawiono opcje robocze poprawnie."};
    case proto::reply::kSensorsSaved:
      return {answer, "Zapisano stan czujników poprawnie."};
    case proto::reply::kAddressSaved:
      return {answer, "Zapisano adres czujnika poprawnie."};
    case proto::reply::kCorrectionSaved:
      return {answer, "Zapisano korekte czujnika poprawnie."};
    case proto::reply::kImageSaved:
      return {answer, "Zapisano dane z PC do EEPROMu poprawnie."};
    default:
      return {"Error", "Niezdefiniowany kod: " + std::to_string(code) + " !!!", true};
  }
}

bool Link::OpenPort(const std::string& name, Parity parity) {
  state.PortName = name;
  // Queue sizes, the settings record and the event mask are the port's own business; their results
  // were never examined, so Open reports only whether the device could be had.
  return port_.Open(name, parity);
}

void Link::DelayMs(uint16_t ms) {
  const uint32_t t0 = clock_.TickMs();
  for (uint32_t elapsed = 0; elapsed < ms; elapsed = clock_.TickMs() - t0) clock_.SleepMs(ms - elapsed);
}

void Link::SendRaw(uint8_t byte) {
  answerLast_ = false;
  if (port_.IsOpen()) port_.SendByte(byte);
}

bool Link::Interrupted() const {
  return unitDepth_ == 0 &&
         ((stopOnInterrupt && InterruptRequested()) || (stopFlag != nullptr && stopFlag->load()));
}

bool Link::Ready() {
  if (state.LinkOk && Interrupted()) {
    state.LinkOk = false;
    stoppedByInterrupt_ = true;
  }
  return state.LinkOk;
}

bool Link::BeginUnit() {
  if (Interrupted()) {
    if (state.LinkOk) stoppedByInterrupt_ = true;
    state.LinkOk = false;
    return false;
  }
  ++unitDepth_;
  return true;
}

void Link::AwaitQuietLine() {
  if (!port_.IsOpen() || port_.HungUp() || !answerLast_) return;
  // A line that keeps talking (the rest of a dump) is not waited out: the discard before the byte
  // still throws away what came.
  const uint32_t start = clock_.TickMs();
  for (;;) {
    const uint32_t quiet = clock_.TickMs() - lastReceivedTick_;
    if (quiet >= proto::kQuietLineMs || clock_.TickMs() - start >= proto::kReplyTimeoutMs) break;
    port_.WaitForInput(proto::kQuietLineMs - quiet);
    if (port_.InputCount() > 0) {
      port_.DiscardInput();
      lastReceivedTick_ = clock_.TickMs();
    }
  }
}

void Link::SendCommand(std::initializer_list<uint8_t> bytes) {
  if (bytes.size() == 1) AwaitQuietLine();
  size_t left = bytes.size();
  for (uint8_t byte : bytes) {
    if (left != bytes.size()) DelayMs(proto::kByteGapMs);
    // The logger answers only once the whole command has reached it, so whatever is waiting before the
    // last byte goes out is a late answer, an extra byte or the rest of a dump. Not after it: held up
    // there for a millisecond, the program would throw away the answer itself.
    if (--left == 0 && port_.IsOpen()) port_.DiscardInput();
    SendRaw(byte);
  }
}

bool Link::Read_Comm(uint32_t maxBytes) {
  state.InputCount = port_.IsOpen() ? port_.InputCount() : 0;
  if (state.InputCount == 0) {
    state.BytesRead = 0;
    return false;
  }
  const uint32_t want = std::min({maxBytes, state.InputCount, proto::kRxBufferSize});
  state.BytesRead = port_.Read(std::span<uint8_t>(state.RxBuffer.data(), want));
  answerLast_ = true;
  lastReceivedTick_ = clock_.TickMs();
  return true;
}

void Link::WaitReply(uint16_t timeoutMs, bool fixedTime) {
  state.RxBuffer[0] = 0;
  if (fixedTime) {
    state.ReplyTimeout = proto::kReplyTimeoutMs;
    timeoutMs = state.ReplyTimeout;
  }
  state.StartTick = clock_.TickMs();
  state.TimedOut = false;
  state.LinkOk = true;
  for (;;) {
    // The time check comes before the poll: a byte found by the poll of the round that used the time
    // up is still taken, but the wait counts as timed out.
    const uint32_t elapsed = clock_.TickMs() - state.StartTick;
    if (elapsed >= timeoutMs) state.TimedOut = true;
    if (Read_Comm(proto::kRxBufferSize)) return;
    if (state.TimedOut) return;
    // A device that hung up answers nothing more: the wait ends as if its time were up.
    if (port_.HungUp()) {
      state.TimedOut = true;
      return;
    }
    if (port_.IsOpen()) {
      port_.WaitForInput(timeoutMs - elapsed);
    } else {
      clock_.SleepMs(timeoutMs - elapsed);
    }
  }
}

void Link::Load_COM_Byte(bool showReply, uint8_t cmd, uint16_t timeoutMs) {
  if (!Ready()) return;
  SendCommand({cmd});
  WaitReply(timeoutMs, false);
  if (state.TimedOut) {
    ui_.ShowMessage(text::kCaptionWarning, text::kTimeout);
  } else if (showReply) {
    ShowReplyCode();
  }
}

void Link::Write_COM_Byte(uint8_t b1, uint8_t b2, uint8_t b3) {
  if (!Ready()) return;
  SendCommand({b1, b2, b3});
  WaitReply(proto::kReplyTimeoutMs, true);
  if (state.TimedOut) {
    ui_.ShowMessage(text::kCaptionWarning, text::kTimeout);
    state.LinkOk = false;
  } else {
    ShowReplyCode();
  }
}

void Link::Read_COM_Byte(uint8_t b1, uint8_t b2) {
  if (!Ready()) return;
  // A read asked again changes nothing, and a late first answer is thrown away before the second ask.
  for (int asked = 0;; ++asked) {
    SendCommand({b1, b2});
    WaitReply(proto::kReplyTimeoutMs, true);
    if (!state.TimedOut || asked >= readRetries || Interrupted() || port_.HungUp()) break;
  }
  if (state.TimedOut) {
    // Cleared before the message: a monitoring tick delivered while it is open must find the link down.
    state.LinkOk = false;
    ui_.ShowMessage(text::kCaptionWarning, text::kTimeout);
  } else {
    state.DataByte = state.RxBuffer[0];
  }
}

void Link::Read_COM_Time() {
  if (!Ready()) return;
  WaitReply(proto::kReplyTimeoutMs, true);
  if (state.TimedOut) {
    state.LinkOk = false;
  } else {
    state.DataByte = state.RxBuffer[0];
  }
}

bool Link::Write_Comm(uint32_t count, const std::vector<uint8_t>& source) {
  if (!port_.IsOpen()) return false;
  count = std::min<uint32_t>(count, static_cast<uint32_t>(source.size()));
  return port_.WriteBlock(std::span<const uint8_t>(source.data(), count));
}

void Link::Test_COM_OK() {
  if (Interrupted()) {
    state.LinkOk = false;
    stoppedByInterrupt_ = true;
    return;
  }
  if (!port_.IsOpen()) {
    state.LinkOk = false;
    ui_.ShowMessage(text::kCaptionWarning, text::kPortNotOpen);
    return;
  }
  state.EchoByte = proto::kProbeEcho;
  SendCommand({proto::kRegisterRead, proto::kProbeAddress});
  WaitReply(proto::kReplyTimeoutMs, true);
  if (!state.TimedOut && state.RxBuffer[0] == state.EchoByte) return;
  state.LinkOk = false;
  ui_.ShowMessage(text::kCaptionWarning, text::kNoLink);
}

void Link::Test_Job_Rej() {
  if (!Ready()) return;
  Read_COM_Byte(proto::kRegisterRead, proto::reg::kRecording);
  if (state.TimedOut) return;
  if (state.DataByte != 0) {
    state.LinkOk = false;
    ui_.ShowMessage(text::kCaptionChangeMode, text::kRecordingActive);
  }
}

void Link::ShowReplyCode() {
  state.ReplyOk = false;
  const uint8_t code = state.RxBuffer[0];
  if (code == proto::reply::kAccepted) {
    state.ReplyOk = true;
    return;
  }
  const ReplyMessage msg = ReplyCodeMessage(code);
  if (msg.isError) {
    ui_.ShowError(msg.text);
  } else {
    ui_.ShowMessage(msg.caption, msg.text);
  }
}

}  // namespace velutron
