#pragma once

#include <termios.h>

#include <cstddef>
#include <string>
#include <vector>

#include "platform/SerialPort.h"

namespace velutron {

// Turns `tio` into the link's settings: raw, 57 600 baud, 8 data bits, one stop bit, `parity` with
// parity checking, no flow control, reads that return at once with whatever is queued.
void ApplyLinkSettings(termios& tio, Parity parity);

// A serial port over termios. The port is exclusive against every other opener that locks (flock) or
// is not privileged (TIOCEXCL). The driver's queue sizes are its own: termios has no way to size them.
// While open, a lock file in $VELUTRON_LOCK_DIR (default /run/lock) names this program and its pid, so
// that a program refused the port can say who holds it.
class PosixSerialPort final : public SerialPort {
 public:
  PosixSerialPort() = default;
  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;
  ~PosixSerialPort() override;

  bool Open(const std::string& name, Parity parity) override;
  void Close() override;
  bool IsOpen() const override { return fd_ >= 0; }
  std::optional<PortHolder> HeldBy() const override { return holder_; }
  bool HungUp() const override { return hungUp_; }

  void SendByte(uint8_t byte) override;
  uint32_t InputCount() override;
  uint32_t Read(std::span<uint8_t> buffer) override;
  void DiscardInput() override;
  void WaitForInput(uint32_t timeoutMs) override;
  bool WriteBlock(std::span<const uint8_t> bytes) override;

 private:
  bool Configure(Parity parity);
  // Waits until the port can take more output; false when `timeoutMs` passed first.
  bool WaitWritable(int timeoutMs);

  void Drain();
  // A hang-up, or an error a vanished device gives; true when `error` was one.
  bool NoteGone(int error);

  static constexpr size_t kInputQueueBytes = 262144;
  int fd_ = -1;
  std::string lockFile_;  // written while open
  std::optional<PortHolder> holder_;
  std::vector<uint8_t> queue_;  // received bytes not yet read, from head_ on
  size_t head_ = 0;
  bool hungUp_ = false;
};

}  // namespace velutron
