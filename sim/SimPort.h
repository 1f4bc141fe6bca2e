#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/SerialPort.h"
#include "sim/Device.h"
#include "sim/VirtualClock.h"

namespace velutron::sim {

// The ports of a simulated machine: which names exist, which are in use by another program, and on
// which a logger hangs.
struct SimBench {
  struct Entry {
    Entry(Device* logger = nullptr, bool busy = false) : device(logger), inUse(busy) {}
    Device* device = nullptr;  // nullptr: the port exists but nothing answers
    bool inUse = false;        // opened by another program: opening fails
    // Who that program is, as its lock file says.
    std::optional<PortHolder> holder;
    // Unplugged (an adapter pulled, a cable cut) from this time on: nothing crosses any more, a handle
    // opened before stays dead, and the port cannot be opened until it is plugged in again.
    std::optional<uint64_t> unpluggedAtUs;
    uint32_t plugging = 0;  // counts pluggings in, so a handle of an earlier one stays dead
  };
  std::map<std::string, Entry> ports;  // "COM1" .. ; a name not listed does not exist

  void Unplug(const std::string& name, uint64_t atUs) { ports[name].unpluggedAtUs = atUs; }
  void PlugIn(const std::string& name) {
    ports[name].unpluggedAtUs.reset();
    ++ports[name].plugging;
  }
};

// An in-process serial port on virtual time. Bytes take their line time (11 bits at 57 600 baud) to
// cross; a logger answers only when the parity matches its own. Waiting advances the virtual clock to
// the next arriving byte or the time-out, so tests of every operation run in microseconds.
class SimSerialPort final : public SerialPort {
 public:
  SimSerialPort(VirtualClock& clock, SimBench& bench) : clock_(clock), bench_(bench) {}

  bool Open(const std::string& name, Parity parity) override;
  void Close() override;
  std::optional<PortHolder> HeldBy() const override { return heldBy_; }
  bool IsOpen() const override { return open_; }
  void SendByte(uint8_t byte) override;
  uint32_t InputCount() override;
  uint32_t Read(std::span<uint8_t> buffer) override;
  void DiscardInput() override;
  void WaitForInput(uint32_t timeoutMs) override;
  bool WriteBlock(std::span<const uint8_t> bytes) override;

  // What went over the wire from the program, with the virtual time each byte was handed over.
  struct Sent {
    std::string port;
    uint64_t atUs;
    uint8_t byte;
  };
  std::vector<Sent> sent;
  // Called after each byte the program sends, with the count sent so far: a test's way to make
  // something happen at an exact point of an exchange (an interrupt after the tenth write).
  std::function<void(size_t)> afterSend;
  // Names of every Open call, in order, and whether it succeeded.
  std::vector<std::pair<std::string, bool>> opens;
  // Off for runs of days, whose wire would fill the memory; `sent` and `opens` then stay empty.
  bool keepHistory = true;

  // A byte that reaches the program at `atUs` whatever the logger does: line noise, a stray answer.
  void Inject(uint64_t atUs, uint8_t byte);

  // Just the bytes sent, in order.
  std::vector<uint8_t> SentBytes() const;
  std::string OpenName() const { return name_; }

 private:
  // False once the port was unplugged: bytes no longer cross.
  bool Connected(uint64_t atUs) const;

  VirtualClock& clock_;
  SimBench& bench_;
  bool open_ = false;
  std::optional<PortHolder> heldBy_;  // of the last Open refused for a holder
  std::string name_;
  uint32_t plugging_ = 0;
  Parity parity_ = Parity::Even;
  uint64_t lineFreeUs_ = 0;       // when the program's transmitter is free again
  std::deque<Emitted> incoming_;  // bytes from the logger, in time order
  std::vector<Emitted> answers_;  // kept between bytes: a run of days sends millions
};

}  // namespace velutron::sim
