#include "platform/Win32SerialPort.h"

#include <windows.h>

#include <algorithm>

#include "platform/PortNames.h"
#include "platform/Utf16.h"

namespace velutron {
namespace {

constexpr DWORD kOutputQueueBytes = 655360;
constexpr DWORD kBaudRate = 57600;

HANDLE AsHandle(void* handle) { return static_cast<HANDLE>(handle); }

// Reads return at once with whatever is queued.
void SetImmediateReads(HANDLE handle) {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  SetCommTimeouts(handle, &timeouts);
}

}  // namespace

Win32SerialPort::~Win32SerialPort() { Close(); }

bool Win32SerialPort::IsOpen() const { return handle_ != nullptr; }

bool Win32SerialPort::Open(const std::string& name, Parity parity) {
  Close();
  const std::wstring device = Utf16FromUtf8(ResolvePortName(name));
  HANDLE handle =
      CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  DCB dcb;
  ZeroMemory(&dcb, sizeof(dcb));
  dcb.DCBlength = sizeof(DCB);
  // A handle without a communications state is no serial port: a file, or a port whose device is gone.
  if (!GetCommState(handle, &dcb)) {
    CloseHandle(handle);
    return false;
  }
  handle_ = handle;

  SetupComm(handle, kInputQueueBytes, kOutputQueueBytes);
  dcb.BaudRate = kBaudRate;
  // The flag word as a whole is 2: parity checking on, every other flag off, DTR and RTS held inactive.
  dcb.fBinary = 0;
  dcb.fParity = 1;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 0;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fDsrSensitivity = 0;
  dcb.fTXContinueOnXoff = 0;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fErrorChar = 0;
  dcb.fNull = 0;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.fAbortOnError = 0;
  dcb.fDummy2 = 0;
  dcb.Parity = parity == Parity::Odd ? ODDPARITY : EVENPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.ByteSize = 8;
  SetCommState(handle, &dcb);

  DWORD mask = 0;
  GetCommMask(handle, &mask);
  eventMask_ = static_cast<uint32_t>(mask);
  SetCommMask(handle, EV_TXEMPTY);

  SetImmediateReads(handle);
  // Whatever arrived before we owned the port belongs to nobody.
  PurgeComm(handle, PURGE_RXCLEAR);
  return true;
}

void Win32SerialPort::Close() {
  if (handle_ == nullptr) return;
  CloseHandle(AsHandle(handle_));
  handle_ = nullptr;
  queue_.clear();
  head_ = 0;
}

void Win32SerialPort::SendByte(uint8_t byte) {
  if (handle_ == nullptr) return;
  TransmitCommChar(AsHandle(handle_), static_cast<char>(byte));
}

uint32_t Win32SerialPort::DriverInputCount() {
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(AsHandle(handle_), &errors, &status)) return 0;
  return static_cast<uint32_t>(status.cbInQue);
}

void Win32SerialPort::Drain() {
  if (handle_ == nullptr) return;
  for (;;) {
    const size_t room = kInputQueueBytes - Queued();
    const DWORD wanted = static_cast<DWORD>(std::min<size_t>(room, DriverInputCount()));
    if (wanted == 0) return;
    if (head_ > 0 && head_ == queue_.size()) {
      queue_.clear();
      head_ = 0;
    }
    const size_t at = queue_.size();
    queue_.resize(at + wanted);
    DWORD got = 0;
    if (!ReadFile(AsHandle(handle_), queue_.data() + at, wanted, &got, nullptr)) got = 0;
    queue_.resize(at + got);
    if (got < wanted) return;
  }
}

uint32_t Win32SerialPort::InputCount() {
  Drain();
  return static_cast<uint32_t>(Queued());
}

uint32_t Win32SerialPort::Read(std::span<uint8_t> buffer) {
  Drain();
  const size_t n = std::min(buffer.size(), Queued());
  std::copy_n(queue_.begin() + static_cast<std::ptrdiff_t>(head_), n, buffer.begin());
  head_ += n;
  if (head_ == queue_.size()) {
    queue_.clear();
    head_ = 0;
  }
  return static_cast<uint32_t>(n);
}

void Win32SerialPort::DiscardInput() {
  if (handle_ == nullptr) return;
  queue_.clear();
  head_ = 0;
  PurgeComm(AsHandle(handle_), PURGE_RXCLEAR);
}

void Win32SerialPort::WaitForInput(uint32_t timeoutMs) {
  if (handle_ == nullptr) {
    Sleep(timeoutMs);
    return;
  }
  if (InputCount() > 0 || timeoutMs == 0) return;
  // With both interval and multiplier at MAXDWORD a read returns as soon as one byte arrives, or
  // empty after the constant: a blocking wait for input with a time limit, without polling.
  HANDLE handle = AsHandle(handle_);
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = std::min<DWORD>(timeoutMs, MAXDWORD - 1);
  if (!SetCommTimeouts(handle, &timeouts)) {
    Sleep(timeoutMs);
    return;
  }
  uint8_t byte = 0;
  DWORD got = 0;
  if (ReadFile(handle, &byte, 1, &got, nullptr) && got == 1) queue_.push_back(byte);
  SetImmediateReads(handle);
}

bool Win32SerialPort::WriteBlock(std::span<const uint8_t> bytes) {
  if (handle_ == nullptr) return false;
  HANDLE handle = AsHandle(handle_);
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, MAXDWORD));
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  DWORD event = eventMask_;
  bool emptied = WaitCommEvent(handle, &event, nullptr) != FALSE;
  eventMask_ = static_cast<uint32_t>(event);
  return emptied;
}

}  // namespace velutron
