#pragma once

#include <cstdint>
#include <optional>

#include "platform/SerialPort.h"

namespace velutron {

// A serial port over the Windows communications API, opened synchronous (no overlapped input/output).
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
  uint32_t ReadQueued(uint8_t* data, uint32_t count);

  void* handle_ = nullptr;  // HANDLE; nullptr while closed
  uint32_t eventMask_ = 0;  // the communication event word, as the port reported it at open
  // WaitForInput takes the first arriving byte out of the driver to learn that it came; it is handed
  // out again by the next Read and counted by InputCount.
  std::optional<uint8_t> pending_;
};

}  // namespace velutron
