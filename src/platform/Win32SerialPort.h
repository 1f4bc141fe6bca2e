#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/SerialPort.h"

namespace velutron {

// A serial port over the Windows communications API, opened synchronous (no overlapped input/output).
// Received bytes move from the driver into a queue of the input-queue size whenever the input is looked
// at: a driver that does not honour SetupComm (wine's, over a tty of a few kilobytes) would otherwise
// stall a memory dump halfway.
class Win32SerialPort final : public SerialPort {
 public:
  Win32SerialPort() = default;
  Win32SerialPort(const Win32SerialPort&) = delete;
  Win32SerialPort& operator=(const Win32SerialPort&) = delete;
  ~Win32SerialPort() override;

  bool Open(const std::string& name, Parity parity) override;
  void Close() override;
  bool IsOpen() const override;

  void SendByte(uint8_t byte) override;
  uint32_t InputCount() override;
  uint32_t Read(std::span<uint8_t> buffer) override;
  void DiscardInput() override;
  void WaitForInput(uint32_t timeoutMs) override;
  bool WriteBlock(std::span<const uint8_t> bytes) override;

 private:
  uint32_t DriverInputCount();
  void Drain();
  size_t Queued() const { return queue_.size() - head_; }

  static constexpr size_t kInputQueueBytes = 262144;
  void* handle_ = nullptr;      // HANDLE; nullptr while closed
  uint32_t eventMask_ = 0;      // the communication event word, as the port reported it at open
  std::vector<uint8_t> queue_;  // received bytes not yet read, from head_ on
  size_t head_ = 0;
};

}  // namespace velutron
