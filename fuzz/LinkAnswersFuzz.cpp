// Plays a logger that answers every byte the program sends with whatever the fuzzer says, as late as it
// says, and runs one operation against it. Whatever the answers, the operation must end without a
// crash or a spin, send nothing but its own commands, write no file from a bad dump, leave every
// existing file as it was unless it completed, leave no partial file, and tell the user why it failed.
//
// Input: byte 0 picks the operation, byte 1 answers its questions, bytes 2-4 say which of the ten
// ports open for the scan; then, for every byte the program sends, one control byte:
//   00xxxxxx  no answer
//   01ddddnn  nn + 1 answer bytes taken from the input, d × 0.5 ms after the usual latency
//   10dddddd  a burst: a 16-bit length, then that many bytes, paced at the line rate, d ms late
//   11dddddd  the port vanishes d × 10 ms from now: nothing crosses any more
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "app/Config.h"
#include "app/Diagnostics.h"
#include "data/DatabaseFile.h"
#include "data/Download.h"
#include "session/Session.h"
#include "sim/VirtualClock.h"
#include "support/ScriptedUi.h"
#include "support/SimSession.h"

using namespace velutron;

namespace {

constexpr uint64_t kByteUs = 191;  // 11 bits at 57 600 baud
constexpr uint64_t kLatencyUs = 500;

class FuzzInput {
 public:
  explicit FuzzInput(std::span<const uint8_t> data) : data_(data) {}
  bool Empty() const { return at_ >= data_.size(); }
  uint8_t Byte() { return Empty() ? 0 : data_[at_++]; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() | Byte() << 8); }

 private:
  std::span<const uint8_t> data_;
  size_t at_ = 0;
};

struct Arrival {
  uint64_t atUs;
  uint8_t byte;
};

class FuzzPort final : public SerialPort {
 public:
  FuzzPort(sim::VirtualClock& clock, FuzzInput& in, uint32_t openMask)
      : clock_(clock), in_(in), mask_(openMask) {}

  bool Open(const std::string& name, Parity) override {
    int n = 0;
    if (name.rfind("COM", 0) == 0) n = std::atoi(name.c_str() + 3);
    if (open_ || n < 1 || n > 20 || (mask_ & (1u << (n - 1))) == 0) return false;
    open_ = true;
    incoming_.clear();
    return true;
  }
  void Close() override {
    open_ = false;
    incoming_.clear();
  }
  bool IsOpen() const override { return open_; }

  void SendByte(uint8_t byte) override {
    if (!open_) return;
    sent.push_back(byte);
    const uint64_t now = clock_.NowUs();
    if (vanishAtUs_ <= now) return;
    const uint8_t control = in_.Byte();
    const uint8_t delay = control & 0x3F;
    uint64_t at = now + kByteUs + kLatencyUs;
    switch (control >> 6) {
      case 0:
        break;
      case 1:
        at += (delay >> 2) * 500;
        for (int i = 0; i <= (control & 3); ++i) Arrive(at += kByteUs, in_.Byte());
        break;
      case 2:
        at += delay * 1000;
        for (uint16_t i = 0, n = in_.Word(); i < n && !in_.Empty(); ++i) Arrive(at += kByteUs, in_.Byte());
        break;
      default:
        vanishAtUs_ = now + delay * 10'000;
    }
  }
  uint32_t InputCount() override {
    const uint64_t now = std::min(clock_.NowUs(), vanishAtUs_);
    uint32_t n = 0;
    while (n < incoming_.size() && incoming_[n].atUs <= now) ++n;
    CountIdleCall();
    return open_ ? n : 0;
  }
  uint32_t Read(std::span<uint8_t> buffer) override {
    const uint32_t n = std::min<uint32_t>(InputCount(), static_cast<uint32_t>(buffer.size()));
    for (uint32_t i = 0; i < n; ++i) {
      buffer[i] = incoming_.front().byte;
      incoming_.pop_front();
    }
    return n;
  }
  void DiscardInput() override { Read(std::span<uint8_t>(scratch_)); }
  void WaitForInput(uint32_t timeoutMs) override {
    if (InputCount() > 0) return;
    uint64_t until = clock_.NowUs() + uint64_t{timeoutMs} * 1000;
    if (!incoming_.empty() && incoming_.front().atUs < vanishAtUs_)
      until = std::min(until, incoming_.front().atUs);
    clock_.AdvanceToUs(until);
  }
  bool WriteBlock(std::span<const uint8_t> bytes) override {
    for (uint8_t b : bytes) SendByte(b);
    return open_;
  }

  std::vector<uint8_t> sent;

 private:
  void Arrive(uint64_t atUs, uint8_t byte) {
    if (incoming_.empty() || incoming_.back().atUs <= atUs) incoming_.push_back({atUs, byte});
  }
  // Looking at the port again and again without time passing is a spin.
  void CountIdleCall() {
    if (clock_.NowUs() != lastLookUs_) {
      lastLookUs_ = clock_.NowUs();
      idleCalls_ = 0;
    } else if (++idleCalls_ > 100'000) {
      std::abort();
    }
  }

  sim::VirtualClock& clock_;
  FuzzInput& in_;
  uint32_t mask_;
  bool open_ = false;
  std::deque<Arrival> incoming_;
  uint64_t vanishAtUs_ = UINT64_MAX;
  uint64_t lastLookUs_ = 0;
  uint32_t idleCalls_ = 0;
  std::vector<uint8_t> scratch_ = std::vector<uint8_t>(proto::kRxBufferSize);
};

struct Operation {
  std::function<Outcome(Session&)> run;
  // Every command the operation may send, in order; what it sends must be a prefix of it (the scan
  // repeats its probe).
  std::vector<uint8_t> commands;
  bool repeats = false;
};

const std::vector<Operation>& Operations() {
  static const std::vector<Operation> ops = {
      {[](Session& s) {
         s.link.Test_COM_OK();
         return s.link.state.LinkOk ? Outcome::Completed : Outcome::Failed;
       },
       {30, 62}},
      {[](Session& s) { return TESTRS2321Click(s); }, {30, 62}, true},
      {[](Session& s) { return Test1Wie1Click(s); }, {30, 62, 30, 46, 30, 69}},
      {[](Session& s) { return BitBtn4Click(s); }, {30, 62, 30, 14, 50}},
      {[](Session& s) { return BitBtn5Click(s); }, {30, 62, 30, 14, 55}},
  };
  return ops;
}

bool SentOnlyItsCommands(const Operation& op, const std::vector<uint8_t>& sent) {
  for (size_t i = 0; i < sent.size(); ++i) {
    const size_t k = op.repeats ? i % op.commands.size() : i;
    if (k >= op.commands.size() || sent[i] != op.commands[k]) return false;
  }
  return true;
}

const std::filesystem::path& WorkDir() {
  static const test::TempDir dir;
  return dir.path();
}

const std::vector<uint8_t> kOldFile{0xFF, 0xFE, 1, 0, 0, 0, 1, 0, 9, 9, 9};

std::vector<uint8_t> Contents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(std::span<const uint8_t>(data, size));
  const Operation& op = Operations()[in.Byte() % Operations().size()];
  const uint8_t answers = in.Byte();
  const uint32_t openMask = in.Byte() | in.Byte() << 8 | (in.Byte() & 0x0F) << 16;

  const std::filesystem::path& dir = WorkDir();
  for (const auto& entry : std::filesystem::directory_iterator(dir)) std::filesystem::remove(entry.path());
  std::ofstream(dir / "data.DAT", std::ios::binary)
      .write(reinterpret_cast<const char*>(kOldFile.data()), static_cast<std::streamsize>(kOldFile.size()));

  sim::VirtualClock clock;
  FuzzPort port(clock, in, openMask);
  test::ScriptedUi ui;
  ui.inputs.push_back((answers & 3) == 0 ? std::nullopt
                                         : std::optional<std::string>((answers & 3) == 1 ? "data" : "fresh"));
  ui.answers = {(answers & 4) != 0, (answers & 8) != 0};
  const FixedLocale locale(",");
  Session s(port, clock, ui, locale);
  s.workDir = dir;
  port.Open("COM1", Parity::Even);

  const Outcome outcome = op.run(s);

  if (!SentOnlyItsCommands(op, port.sent)) std::abort();
  if (outcome == Outcome::Failed && ui.events.empty()) std::abort();
  bool sawReport = false;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    const std::vector<uint8_t> bytes = Contents(entry.path());
    if (name == "ViewData.CSV") {
      sawReport = true;
    } else if (name == kConfigFileName) {
      // Only a scan that found the logger saves where.
      const ConfigRecord saved = MakeConfigRecord(s.link.state.PortNumber, s.settings.OddParity);
      if (outcome != Outcome::Completed ||
          !std::equal(bytes.begin(), bytes.end(), saved.begin(), saved.end())) {
        std::abort();
      }
    } else if (name == "data.DAT" && bytes == kOldFile) {
      continue;
    } else if (name != "data.DAT" && name != "fresh.DAT") {
      std::abort();  // a partial file left behind, or something nobody asked for
    } else if (outcome != Outcome::Completed || !DecodeDatabase(bytes).Valid()) {
      std::abort();  // a file written from a bad dump, or replaced by a failed download
    }
  }
  if (sawReport && outcome != Outcome::Completed) std::abort();
  return 0;
}
