#pragma once

// The logger's own view of its command bytes, registers and memories, written from the device's side.
// The simulator deliberately does not share the program's command table: a wrong number there must make
// the tests fail, not be mirrored here.

#include <cstdint>

namespace velutron::sim::map {

// Command bytes the firmware recognises.
inline constexpr uint8_t kReadRegister = 30;   // 30, a     -> register a
inline constexpr uint8_t kWriteRegister = 20;  // 20, a, v  -> reply code
inline constexpr uint8_t kReadParam = 35;      // 35, a     -> parameter byte a
inline constexpr uint8_t kWriteParam = 25;     // 25, a, v  -> reply code
inline constexpr uint8_t kReadName = 37;       // 37, a     -> point-name byte a
inline constexpr uint8_t kWriteName = 27;      // 27, a, v  -> reply code
inline constexpr uint8_t kReset = 10;          // action    -> 113
inline constexpr uint8_t kErase = 40;          // action    -> 120
inline constexpr uint8_t kFormat = 45;         // action    -> 120
inline constexpr uint8_t kToggle = 70;         // flips recording, no answer
inline constexpr uint8_t kLeadIn = 75;         // no answer
inline constexpr uint8_t kDumpUp = 50;         // the memory, oldest record first
inline constexpr uint8_t kDumpDown = 55;       // the memory, newest record first

// Registers.
inline constexpr uint8_t kSetSecond = 2;  // 2..5, 7: clock to set (BCD)
inline constexpr uint8_t kSetMinute = 3;
inline constexpr uint8_t kSetHour = 4;
inline constexpr uint8_t kSetDay = 5;
inline constexpr uint8_t kSetMonth = 7;
inline constexpr uint8_t kSecond = 8;  // 8..12: running clock (BCD)
inline constexpr uint8_t kMinute = 9;
inline constexpr uint8_t kHour = 10;
inline constexpr uint8_t kDay = 11;
inline constexpr uint8_t kMonth = 12;
inline constexpr uint8_t kYear = 13;       // binary, years since 2000; read and written
inline constexpr uint8_t kRecording = 14;  // nonzero while recording
inline constexpr uint8_t kBus = 46;        // bit 7: the 1-Wire bus answers
inline constexpr uint8_t kBusOk = 0x80;
inline constexpr uint8_t kIdent = 62;  // always answers 62
inline constexpr uint8_t kIdentValue = 62;
inline constexpr uint8_t kCrcCount = 69;    // saturates at 255
inline constexpr uint8_t kIntervalLo = 72;  // recording interval in seconds, low byte
inline constexpr uint8_t kIntervalHi = 73;
inline constexpr uint8_t kWorkOptions = 74;
inline constexpr uint8_t kSensorSetup = 75;  // bits 0-6 sensor count, bit 7 humidity pairs
inline constexpr uint8_t kHumidityFlag = 0x80;
inline constexpr uint8_t kSwitchThreshold = 77;
// Recording, as the mode toggle leaves register 14.
inline constexpr uint8_t kRecordingOn = 100;
// Offset of sensor n: 48 + sixteenths of a degree (0..96 for -3..+3 degrees).
constexpr uint8_t OffsetOf(int n) { return static_cast<uint8_t>(77 + n); }
inline constexpr uint8_t kNoOffset = 48;
// Current reading of sensor n: low byte first, then high byte.
constexpr uint8_t ReadingLoOf(int n) { return static_cast<uint8_t>(88 + 2 * (n - 1)); }
constexpr uint8_t ReadingHiOf(int n) { return static_cast<uint8_t>(89 + 2 * (n - 1)); }
// The alarm limits (degrees + 55) live in the parameter memory and are reached as registers too.
constexpr uint8_t LowLimitOf(int n) { return static_cast<uint8_t>(107 + n); }
constexpr uint8_t HighLimitOf(int n) { return static_cast<uint8_t>(117 + n); }

// Parameter memory.
inline constexpr uint8_t kSupervisorAt = 16;
inline constexpr int kSupervisorLen = 16;
inline constexpr uint8_t kOwnerAt = 32;
inline constexpr int kOwnerLen = 35;
inline constexpr uint8_t kSerialAt = 88;
inline constexpr int kSerialLen = 16;
// A write of v here declares the one sensor on the bus as sensor v + 1; the answer comes once the
// sensor has been read, up to a second later.
inline constexpr uint8_t kDeclareAt = 128;
inline constexpr uint32_t kDeclareMsDefault = 300;
inline constexpr uint32_t kDeclareMsMax = 1000;

// Point-name memory: 16 bytes per sensor.
inline constexpr int kNameLen = 16;
constexpr uint8_t NameOf(int n) { return static_cast<uint8_t>((n - 1) * kNameLen); }

inline constexpr int kMaxSensors = 10;
// Measurement memory: it holds at most kMemoryBytes / (2K + 5) records of K sensors.
inline constexpr uint32_t kMemoryBytes = 131072;

// Reply codes.
inline constexpr uint8_t kAccepted = 100;
inline constexpr uint8_t kResetDone = 113;
inline constexpr uint8_t kErased = 120;
inline constexpr uint8_t kAddressSaved = 170;
inline constexpr uint8_t kNoSensor = 97;

}  // namespace velutron::sim::map
