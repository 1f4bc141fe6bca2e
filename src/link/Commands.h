#pragma once

// Everything the program sends to the logger: command bytes, addresses, gaps and time-outs. No other
// file spells a protocol number.

#include <array>
#include <cstdint>
#include <string_view>

namespace velutron::proto {

// Framed commands: the first byte of each kind of exchange.
inline constexpr uint8_t kRegisterRead = 30;   // 30, a          -> data byte
inline constexpr uint8_t kRegisterWrite = 20;  // 20, a, v       -> reply code
inline constexpr uint8_t kParamRead = 35;      // 35, a          -> data byte (parameter space)
inline constexpr uint8_t kParamWrite = 25;     // 25, a, v       -> reply code
inline constexpr uint8_t kNameRead = 37;       // 37, a          -> data byte (point-name space)
inline constexpr uint8_t kNameWrite = 27;      // 27, a, v       -> reply code

// Raw single bytes: sent ahead of the queue, no reply awaited.
inline constexpr uint8_t kLeadIn = 75;
inline constexpr uint8_t kModeToggle = 70;
inline constexpr uint8_t kDownloadAscending = 50;   // "2": records 1..N
inline constexpr uint8_t kDownloadDescending = 55;  // "7": records N..1

// The link probe is a register read of the identification address; a present logger echoes it.
inline constexpr uint8_t kProbeAddress = 62;
inline constexpr uint8_t kProbeEcho = 62;

// Actions: one byte, answered with a reply code within the action's own time-out.
struct Action {
  uint8_t command;
  uint16_t timeoutMs;
};
inline constexpr Action kActionReset{10, 500};
inline constexpr Action kActionErase{40, 300};
inline constexpr Action kActionFormat{45, 2000};

// Sensor declaration: a parameter-space write of n - 1 to this address; the first two bytes go raw,
// the last through the action wait.
inline constexpr uint8_t kDeclareAddress = 128;
inline constexpr uint16_t kDeclareTimeoutMs = 1000;

// Registers (read with kRegisterRead, written with kRegisterWrite). n is a sensor number 1..10.
namespace reg {
inline constexpr uint8_t kSetSeconds = 2;
inline constexpr uint8_t kSetMinutes = 3;
inline constexpr uint8_t kSetHours = 4;
inline constexpr uint8_t kSetDay = 5;
inline constexpr uint8_t kSetMonth = 7;
inline constexpr uint8_t kClockSeconds = 8;  // 8..12 BCD seconds, minutes, hours, day, month
inline constexpr uint8_t kClockMinutes = 9;
inline constexpr uint8_t kClockHours = 10;
inline constexpr uint8_t kClockDay = 11;
inline constexpr uint8_t kClockMonth = 12;
inline constexpr uint8_t kYear = 13;       // binary years since 2000
inline constexpr uint8_t kRecording = 14;  // 0 = stopped
inline constexpr uint8_t kBusState = 46;   // bit 7 set = the 1-Wire bus answers
inline constexpr uint8_t kBusOkBit = 0x80;
inline constexpr uint8_t kIdentification = 62;
inline constexpr uint8_t kCrcConflicts = 69;  // 255 = counter full
inline constexpr uint8_t kIntervalLow = 72;
inline constexpr uint8_t kIntervalHigh = 73;
inline constexpr uint8_t kOptions = 74;
inline constexpr uint8_t kSensors = 75;  // bits 0-6 N, bit 7 humidity
inline constexpr uint8_t kSensorCountMask = 0x7F;
inline constexpr uint8_t kHumidityBit = 0x80;
inline constexpr uint8_t kThreshold = 77;
constexpr uint8_t Offset(int n) { return static_cast<uint8_t>(77 + n); }
// Current raw reading of sensor n, low byte first.
constexpr uint8_t ReadingLow(int n) { return static_cast<uint8_t>(88 + 2 * (n - 1)); }
constexpr uint8_t ReadingHigh(int n) { return static_cast<uint8_t>(89 + 2 * (n - 1)); }
constexpr uint8_t LowAlarm(int n) { return static_cast<uint8_t>(107 + n); }
constexpr uint8_t HighAlarm(int n) { return static_cast<uint8_t>(117 + n); }
// Register 14 while recording, as the mode toggle reports it.
inline constexpr uint8_t kRecordingActive = 100;
// An alarm limit byte is degrees + 55; an offset byte is 48 + the offset in sixteenths of a degree.
inline constexpr int kLimitBias = 55;
inline constexpr int kOffsetZero = 48;
// Working option "Maskowanie pomiarów błędnych.": an invalid reading leaves the last value shown.
inline constexpr uint8_t kMaskErrorsBit = 0x20;
}  // namespace reg

// The two 256-byte memory spaces (the EEPROM image) and the fields the program uses in them.
namespace mem {
inline constexpr int kSpaceSize = 256;
inline constexpr uint8_t kSupervisor = 16;
inline constexpr int kSupervisorLength = 16;
inline constexpr uint8_t kOwner = 32;
inline constexpr int kOwnerLength = 35;
inline constexpr uint8_t kSerial = 88;
inline constexpr int kSerialLength = 16;
inline constexpr int kPointNameLength = 16;
constexpr uint8_t PointName(int n) { return static_cast<uint8_t>((n - 1) * kPointNameLength); }
constexpr uint8_t LowAlarm(int n) { return static_cast<uint8_t>(107 + n); }
constexpr uint8_t HighAlarm(int n) { return static_cast<uint8_t>(117 + n); }
}  // namespace mem

inline constexpr int kMaxSensors = 10;

// Timing, in milliseconds.
inline constexpr uint16_t kByteGapMs = 3;         // between the bytes of a framed command
inline constexpr uint16_t kReplyTimeoutMs = 250;  // fixed-time waits
inline constexpr uint16_t kLeadInGapMs = 1;
inline constexpr uint16_t kModeToggleGapMs = 50;
inline constexpr uint16_t kDownloadLeadMs = 100;   // after the download command
inline constexpr uint16_t kDownloadWindowMs = 50;  // reception ends at the first quiet window
inline constexpr uint16_t kImageWriteGapMs = 5;
// A one-byte command goes out only once nothing has arrived for this long: the second copy of a
// doubled answer comes a byte's time after the first, later when a busy machine relays it.
inline constexpr uint16_t kQuietLineMs = 10;

// Line: 57 600 baud, 8 data bits, parity, 1 stop bit -> 11 bit times per byte.
inline constexpr uint32_t kBaudRate = 57600;
inline constexpr uint32_t kBitsPerByte = 11;

// Receive buffer and driver queues.
inline constexpr uint32_t kRxBufferSize = 262145;
inline constexpr uint32_t kInputQueueSize = 262144;
inline constexpr uint32_t kOutputQueueSize = 655360;

// Reply codes.
namespace reply {
inline constexpr uint8_t kNoLink = 0;
inline constexpr uint8_t kAccepted = 100;  // silent acknowledgement of a single write
inline constexpr uint8_t kWriteDone = 110;
inline constexpr uint8_t kResetDone = 113;
inline constexpr uint8_t kErased = 120;
inline constexpr uint8_t kClockSet = 130;
inline constexpr uint8_t kAlarmSaved = 140;
inline constexpr uint8_t kOptionsSet = 150;
inline constexpr uint8_t kSensorsSaved = 160;
inline constexpr uint8_t kAddressSaved = 170;
inline constexpr uint8_t kCorrectionSaved = 180;
inline constexpr uint8_t kImageSaved = 190;
}  // namespace reply

// The kinds of exchange, for the record and for the simulated logger.
enum class ExchangeKind {
  Probe,
  RegisterRead,
  RegisterWrite,
  ParamRead,
  ParamWrite,
  NameRead,
  NameWrite,
  Action,
  SensorDeclaration,
  LeadIn,
  ModeToggle,
  Download
};

struct ExchangeSpec {
  ExchangeKind kind;
  uint8_t firstByte;
  int framedBytes;     // bytes sent, including the first
  bool answered;       // one byte comes back
  uint16_t timeoutMs;  // 0: per command or none
};

inline constexpr std::array<ExchangeSpec, 12> kExchanges{{
    {ExchangeKind::Probe, kRegisterRead, 2, true, kReplyTimeoutMs},
    {ExchangeKind::RegisterRead, kRegisterRead, 2, true, kReplyTimeoutMs},
    {ExchangeKind::RegisterWrite, kRegisterWrite, 3, true, kReplyTimeoutMs},
    {ExchangeKind::ParamRead, kParamRead, 2, true, kReplyTimeoutMs},
    {ExchangeKind::ParamWrite, kParamWrite, 3, true, kReplyTimeoutMs},
    {ExchangeKind::NameRead, kNameRead, 2, true, kReplyTimeoutMs},
    {ExchangeKind::NameWrite, kNameWrite, 3, true, kReplyTimeoutMs},
    {ExchangeKind::Action, 0, 1, true, 0},
    {ExchangeKind::SensorDeclaration, kParamWrite, 3, true, kDeclareTimeoutMs},
    {ExchangeKind::LeadIn, kLeadIn, 1, false, 0},
    {ExchangeKind::ModeToggle, kModeToggle, 1, false, 0},
    {ExchangeKind::Download, kDownloadAscending, 1, false, 0},
}};

}  // namespace velutron::proto
