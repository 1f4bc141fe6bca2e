#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "link/Commands.h"
#include "platform/Clock.h"
#include "platform/SerialPort.h"
#include "platform/UserInterface.h"
#include "platform/ZeroedBytes.h"

namespace velutron {

// The one program-wide serial-link record.
struct LinkState {
  std::string PortName;
  ZeroedBytes RxBuffer = ZeroedBytes(proto::kRxBufferSize);
  uint32_t BytesRead = 0;
  uint32_t InputCount = 0;  // the input-queue count of the latest poll
  uint32_t EventMask = 0;
  // The three shared byte registers.
  uint8_t DataByte = 0;
  uint8_t PortNumber = 1;
  uint8_t SensorNumber = 1;
  bool TimedOut = false;
  bool LinkOk = false;
  bool ReplyOk = false;
  uint16_t ReplyTimeout = proto::kReplyTimeoutMs;
  uint32_t StartTick = 0;
  uint8_t EchoByte = proto::kProbeEcho;
};

// A reply code's message; `caption` empty for the silent acknowledgement, `isError` for codes outside
// the table (shown in the error dialog).
struct ReplyMessage {
  std::string caption;
  std::string text;
  bool isError = false;
};
ReplyMessage ReplyCodeMessage(uint8_t code);

namespace text {
inline constexpr std::string_view kCaptionWarning = "Uwaga !";
inline constexpr std::string_view kCaptionAnswer = "Odpowiedź";
inline constexpr std::string_view kNoLink = "Brak połączenia z VELUTRON !";
inline constexpr std::string_view kTimeout = "Przekroczenie czasu na odpowiedź !!!";
inline constexpr std::string_view kPortNotOpen = "Niewłaściwy port lub nie jest on aktywny !!!";
inline constexpr std::string_view kRecordingActive = "Wybrana opcja wymaga wyłączenia rejestracji pomiarów!";
inline constexpr std::string_view kCaptionChangeMode = "Zmień tryb pracy!";
}  // namespace text

// The serial link: the shared state and every primitive that drives the logger through it. All waits
// block on the port or the clock; none spins.
class Link {
 public:
  Link(SerialPort& port, Clock& clock, UserInterface& ui) : port_(port), clock_(clock), ui_(ui) {}

  LinkState state;
  // After Ctrl+C, SIGTERM or SIGHUP every primitive finds the link down, so the running operation ends
  // at its next exchange, never in the middle of one, and without the messages of a failure. The
  // command-line monitoring turns this off: there an interrupt closes the window between two refreshes.
  bool stopOnInterrupt = true;
  // Set by another thread to end the running operation as an interrupt does (the station's stop).
  const std::atomic<bool>* stopFlag = nullptr;
  // How many times a read whose answer did not come is asked again before the link is taken for down
  // (the station: on a busy PC a command's bytes can come too far apart for the logger, which drops it).
  int readRetries = 0;
  // True when an interrupt asks to stop and no unit is being written (see WholeUnit).
  bool Interrupted() const;
  // Whether an interrupt took the link down: the running operation was stopped, not failed.
  bool StoppedByInterrupt() const { return stoppedByInterrupt_; }
  // A unit the logger must get whole (WholeUnit): false, and the link down, when an interrupt came
  // before it began; otherwise interrupts wait until EndUnit.
  bool BeginUnit();
  void EndUnit() { --unitDepth_; }

  SerialPort& Port() { return port_; }
  Clock& GetClock() { return clock_; }
  bool PortOpen() const { return port_.IsOpen(); }

  // Opens and configures `name` as the start-up and the port scan do; false when it cannot be opened.
  bool OpenPort(const std::string& name, Parity parity);

  void DelayMs(uint16_t ms);
  // Raw send: one byte ahead of the queue, not guarded by LinkOk, no reply awaited.
  void SendRaw(uint8_t byte);
  // Sends the bytes of one command 3 ms apart and throws away every byte received before its last byte,
  // so that a late answer, an extra byte or the rest of a cut dump is never taken as its answer. A
  // one-byte command has no gap of its own: it first waits for the line to be quiet.
  void SendCommand(std::initializer_list<uint8_t> bytes);
  // One poll of the input queue; true when bytes were waiting and were read into RxBuffer.
  bool Read_Comm(uint32_t maxBytes);
  void WaitReply(uint16_t timeoutMs, bool fixedTime);

  void Load_COM_Byte(bool showReply, uint8_t cmd, uint16_t timeoutMs);
  void Write_COM_Byte(uint8_t b1, uint8_t b2, uint8_t b3);
  void Read_COM_Byte(uint8_t b1, uint8_t b2);
  void Read_COM_Time();
  bool Write_Comm(uint32_t count, const std::vector<uint8_t>& source);
  void Test_COM_OK();
  void Test_Job_Rej();
  void ShowReplyCode();

 private:
  // True when a guarded primitive may run: the link is up and no interrupt asks to stop.
  bool Ready();
  // Before a one-byte command that follows an answer: waits until nothing has arrived for kQuietLineMs
  // and throws away what came meanwhile, so that the second copy of a doubled answer is not taken as
  // this command's answer. After raw bytes (the head of a declaration) the line has had its gaps.
  void AwaitQuietLine();

  SerialPort& port_;
  Clock& clock_;
  UserInterface& ui_;
  int unitDepth_ = 0;
  bool stoppedByInterrupt_ = false;
  bool answerLast_ = false;  // the last thing on the line was a byte received, at lastReceivedTick_
  uint32_t lastReceivedTick_ = 0;
};

// Holds interrupts back while one short unit is written (a text field, the clock's registers, one
// sensor's parameters, the toggle and its state), so that the logger holds all of it or none of it.
class WholeUnit {
 public:
  explicit WholeUnit(Link& link) : link_(link), begun_(link.BeginUnit()) {}
  ~WholeUnit() {
    if (begun_) link_.EndUnit();
  }
  WholeUnit(const WholeUnit&) = delete;
  WholeUnit& operator=(const WholeUnit&) = delete;
  bool Begun() const { return begun_; }

 private:
  Link& link_;
  bool begun_;
};

}  // namespace velutron
