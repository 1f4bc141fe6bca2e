#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "platform/Clock.h"
#include "platform/SerialPort.h"

namespace velutron::sim {

// Switchable faults of the simulated logger.
struct Faults {
  bool silent = false;                  // answers nothing at all
  std::optional<uint32_t> silentAfter;  // answers this many one-byte answers, then nothing
  uint32_t answerDelayUs = 0;           // each answer leaves this much later (a late answer)
  std::optional<uint8_t> wrongAnswer;   // every one-byte answer replaced by this byte
  bool extraByte = false;               // every one-byte answer followed by a second byte
  // Reply code per command byte (20, 25, 27, 10, 40, 45); the sensor declaration looks up 128 first,
  // then 25. Unlisted: 100 for writes, the action's own code otherwise.
  std::map<uint8_t, uint8_t> replyCodes;
  bool busDown = false;                    // register 46 bit 7 clear
  std::optional<uint32_t> dumpPauseAfter;  // the dump stops for dumpPauseMs after this many bytes
  uint32_t dumpPauseMs = 0;
  std::optional<uint32_t> dumpCutAfter;  // the dump ends after this many bytes
  bool overfullMemory = false;           // the dump holds every measurement, beyond the memory's capacity
  uint32_t dumpStartDelayMs = 1;         // from the download command to the first dump byte
};

// One stored measurement, as the logger records it.
struct Measurement {
  CivilTime time;
  bool singlePair = false;
  std::optional<bool> onOff;  // the record carries an ON/OFF state
  std::vector<uint16_t> raw;  // one raw reading per channel
};

// Time a byte takes on the line (11 bits at 57 600 baud), for `bytes` bytes back to back, rounded up
// to whole microseconds without drift over long bursts.
constexpr uint64_t LineTimeUs(uint64_t bytes) { return (bytes * 11'000'000 + 57'599) / 57'600; }

// The logger drops a partly received framed command when the next byte is this late.
inline constexpr uint64_t kFrameGapUs = 50'000;
// Time the logger takes to start its answer after the last byte of a command arrived.
inline constexpr uint64_t kAnswerLatencyUs = 500;

// A byte the logger sends, with the time it is on the wire complete (microseconds of the transport's
// time base).
struct Emitted {
  uint64_t atUs;
  uint8_t byte;
};

// The simulated logger: registers, the parameter and point-name spaces, the measurement memory, a
// running clock, the 1-Wire bus, and the protocol state machine that answers each framed command.
class Device {
 public:
  Device();

  std::array<uint8_t, 256> registers{};
  std::array<uint8_t, 256> params{};
  std::array<uint8_t, 256> names{};
  std::vector<Measurement> measurements;
  uint8_t threshold = 0;                       // dump byte 1, also register 77
  std::array<uint8_t, 2> carried{0x12, 0x34};  // dump bytes 2 and 3
  Faults faults;
  Parity parity = Parity::Even;  // the parity the logger's UART runs at
  uint32_t declareMs;            // the sensor declaration is answered this much later (<= 1000 ms)
  // Sensor n -> the raw reading it gives at every moment, instead of the generated one.
  std::map<int, uint16_t> pinnedReadings;

  int SensorCount() const;
  // Records the measurement memory holds for the current sensor count; the dump sends no more.
  size_t Capacity() const;
  bool Humidity() const;
  bool Recording() const;
  void SetRecording(bool on);
  void SetSensors(int count, bool humidity);
  // Writes `text` padded with spaces to `length` bytes into the parameter (35) or point-name (37) space.
  void SetText(uint8_t space, uint8_t address, int length, const char* text);
  // Sets the running clock to `now` at `atUs` on the transport's time base.
  void SetClock(CivilTime now, uint64_t atUs);
  CivilTime ClockAt(uint64_t atUs) const;
  // Raw reading of sensor n (1..N) at `atUs`, as registers 88.. give it (low byte first); a pinned
  // reading when there is one.
  uint16_t CurrentRaw(int n, uint64_t atUs) const;

  // Fills the memory with `count` plausible records on the current sensor setup: daily curves, noise,
  // dry/wet pairs in humidity mode, occasional out-of-range markers. Deterministic for a seed.
  void GenerateMeasurements(int count, uint32_t seed = 1);

  // The dump as the logger sends it after 50 (ascending) or 55 (descending).
  std::vector<uint8_t> Dump(bool descending) const;

  // A byte from the program arrives complete at `atUs`; answers go to `out` with their times.
  void Receive(uint8_t byte, uint64_t atUs, std::vector<Emitted>& out);

  // Every byte received, in order, with its arrival time.
  std::vector<Emitted> received;
  // Off for runs of days, whose bytes would fill the memory: `received` then stays empty.
  bool keepHistory = true;
  // Sensor numbers declared with the declaration command, in order.
  std::vector<int> declared;

 private:
  uint8_t ReadRegister(uint8_t address, uint64_t atUs) const;
  void WriteRegister(uint8_t address, uint8_t value, uint64_t atUs);
  uint8_t ReplyFor(uint8_t command, uint8_t usual) const;
  void Answer(uint8_t byte, uint64_t atUs, std::vector<Emitted>& out);
  void SendDump(bool descending, uint64_t atUs, std::vector<Emitted>& out);
  void Execute(uint64_t atUs, std::vector<Emitted>& out);

  std::vector<uint8_t> pending_;  // bytes of the framed command so far
  uint64_t lastByteUs_ = 0;
  uint64_t txFreeUs_ = 0;  // when the logger's transmitter is free again
  uint32_t answered_ = 0;  // one-byte answers given
  uint64_t clockBaseUs_ = 0;
  CivilTime clockBase_{2009, 6, 5, 14, 5, 30};
};

}  // namespace velutron::sim
