#include "sim/SimPort.h"

#include <algorithm>

namespace velutron::sim {

bool SimSerialPort::Open(const std::string& name, Parity parity) {
  const auto it = bench_.ports.find(name);
  const bool ok = !open_ && it != bench_.ports.end() && !it->second.inUse &&
                  !(it->second.unpluggedAtUs && *it->second.unpluggedAtUs <= clock_.NowUs());
  if (keepHistory) opens.emplace_back(name, ok);
  heldBy_ = !ok && it != bench_.ports.end() && it->second.inUse ? it->second.holder : std::nullopt;
  if (!ok) return false;
  open_ = true;
  name_ = name;
  plugging_ = it->second.plugging;
  parity_ = parity;
  lineFreeUs_ = clock_.NowUs();
  incoming_.clear();
  return true;
}

void SimSerialPort::Close() {
  open_ = false;
  name_.clear();
  incoming_.clear();
}

bool SimSerialPort::Connected(uint64_t atUs) const {
  const auto it = bench_.ports.find(name_);
  return open_ && it != bench_.ports.end() && it->second.plugging == plugging_ &&
         !(it->second.unpluggedAtUs && *it->second.unpluggedAtUs <= atUs);
}

void SimSerialPort::SendByte(uint8_t byte) {
  if (!open_) return;
  const uint64_t now = clock_.NowUs();
  if (keepHistory) sent.push_back({name_, now, byte});
  if (afterSend) afterSend(sent.size());
  const uint64_t departs = std::max(now, lineFreeUs_);
  lineFreeUs_ = departs + LineTimeUs(1);
  if (!Connected(lineFreeUs_)) return;

  Device* device = bench_.ports[name_].device;
  // A logger on another parity sees only framing errors and stays silent.
  if (device == nullptr || device->parity != parity_) return;
  answers_.clear();
  device->Receive(byte, lineFreeUs_, answers_);
  for (const Emitted& e : answers_) Inject(e.atUs, e.byte);
}

void SimSerialPort::Inject(uint64_t atUs, uint8_t byte) {
  if (incoming_.empty() || incoming_.back().atUs <= atUs) {
    incoming_.push_back({atUs, byte});
    return;
  }
  auto at = std::upper_bound(incoming_.begin(), incoming_.end(), atUs,
                             [](uint64_t t, const Emitted& q) { return t < q.atUs; });
  incoming_.insert(at, {atUs, byte});
}

uint32_t SimSerialPort::InputCount() {
  if (!open_) return 0;
  // Bytes that had arrived before the port went away are still in the driver's queue.
  const auto entry = bench_.ports.find(name_);
  if (entry == bench_.ports.end() || entry->second.plugging != plugging_) return 0;
  uint64_t now = clock_.NowUs();
  if (entry->second.unpluggedAtUs) now = std::min(now, *entry->second.unpluggedAtUs);
  const auto end = std::upper_bound(incoming_.begin(), incoming_.end(), now,
                                    [](uint64_t t, const Emitted& q) { return t < q.atUs; });
  return static_cast<uint32_t>(end - incoming_.begin());
}

uint32_t SimSerialPort::Read(std::span<uint8_t> buffer) {
  const uint32_t count = std::min<uint32_t>(InputCount(), static_cast<uint32_t>(buffer.size()));
  for (uint32_t i = 0; i < count; ++i) {
    buffer[i] = incoming_.front().byte;
    incoming_.pop_front();
  }
  return count;
}

void SimSerialPort::DiscardInput() {
  if (!open_) return;
  // Only what has arrived can be thrown away; a byte still on the line comes in afterwards.
  incoming_.erase(incoming_.begin(), incoming_.begin() + InputCount());
}

void SimSerialPort::WaitForInput(uint32_t timeoutMs) {
  if (InputCount() > 0) return;
  uint64_t until = clock_.NowUs() + uint64_t{timeoutMs} * 1000;
  if (Connected(clock_.NowUs()) && !incoming_.empty()) until = std::min(until, incoming_.front().atUs);
  clock_.AdvanceToUs(until);
}

bool SimSerialPort::WriteBlock(std::span<const uint8_t> bytes) {
  if (!open_) return false;
  for (uint8_t b : bytes) SendByte(b);
  clock_.AdvanceToUs(lineFreeUs_);
  return true;
}

std::vector<uint8_t> SimSerialPort::SentBytes() const {
  std::vector<uint8_t> bytes;
  bytes.reserve(sent.size());
  for (const Sent& s : sent) bytes.push_back(s.byte);
  return bytes;
}

}  // namespace velutron::sim
