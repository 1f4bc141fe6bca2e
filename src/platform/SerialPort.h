#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace velutron {

enum class Parity : uint8_t { Even, Odd };

// Who holds a port, as its lock file names them; `program` is empty when the file names nobody.
struct PortHolder {
  std::string program;
  long pid = 0;
};

// The serial port as the link needs it: exactly the operations of the Windows communications API that
// the protocol relies on, so a termios port, a Win32 port and the simulated logger are interchangeable.
class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Opens `name` (COMn or a device path) exclusively and configures it for the logger: 57 600 baud,
  // 8 data bits, 1 stop bit, `parity` with parity checking, raw, no flow control, DTR and RTS inactive.
  // Returns false when the port is absent or already in use; nothing is open then.
  virtual bool Open(const std::string& name, Parity parity) = 0;
  // After an Open that failed because another program holds the port: who it is; nullopt when unknown
  // or when Open did not fail for that reason.
  virtual std::optional<PortHolder> HeldBy() const { return std::nullopt; }
  // The same in words: "port held by velutron-station, pid 1234"; empty when HeldBy is.
  std::string Holder() const {
    const std::optional<PortHolder> holder = HeldBy();
    if (!holder) return {};
    if (holder->program.empty()) return "port held by another program";
    return "port held by " + holder->program + ", pid " + std::to_string(holder->pid);
  }
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // True once the device hung up (a USB adapter unplugged, the far end of a pseudo-terminal closed)
  // until the port is opened again: it will deliver nothing more, and waits on it end at once.
  virtual bool HungUp() const { return false; }

  // Hands one byte to the driver for immediate transmission (TransmitCommChar); returns at once.
  virtual void SendByte(uint8_t byte) = 0;
  // Number of received bytes waiting in the driver (ClearCommError's input-queue count). Line errors
  // are cleared and discarded.
  virtual uint32_t InputCount() = 0;
  // Reads up to `buffer.size()` bytes that are already waiting; returns how many were delivered.
  virtual uint32_t Read(std::span<uint8_t> buffer) = 0;
  // Throws away every received byte not yet read, in the port's own queue and the driver's
  // (tcflush / PurgeComm). Bytes still on their way arrive afterwards as usual.
  virtual void DiscardInput() = 0;
  // Blocks until at least one byte is waiting or `timeoutMs` has passed, whichever comes first.
  virtual void WaitForInput(uint32_t timeoutMs) = 0;
  // Writes a block and waits until the transmit queue is empty; false when that wait failed.
  virtual bool WriteBlock(std::span<const uint8_t> bytes) = 0;
};

}  // namespace velutron
