// Plays a logger that answers every byte the program sends with whatever the fuzzer says, as late as it
// says, and runs one operation against it. Whatever the answers, the operation must end without a
// crash or a spin, send only commands it may send (and nothing that changes the logger when the user
// said no to everything), write no file from a bad dump or image, leave every existing file as it was
// unless it completed, leave no partial file, and tell the user why it failed.
//
// Input: byte 0 picks the operation, byte 1 how the user answers (bit 0: no to everything, bit 1:
// service access, bits 2-3: monitoring refreshes, bit 4: restore a valid image rather than 514 bytes
// from the input, which follow), bytes 2-4 say which of the ten ports open for the scan; then, for every
// byte the program sends, one control byte:
//   00xxxxxx  no answer
//   01ddddnn  nn + 1 answer bytes taken from the input, d × 0.5 ms after the usual latency
//   10dddddd  a burst: a 16-bit length, then that many bytes, paced at the line rate, d ms late
//   11dddddd  the port vanishes d × 10 ms from now: nothing crosses any more
#include <algorithm>
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
#include "monitor/MemoryImage.h"
#include "monitor/Monitoring.h"
#include "session/Session.h"
#include "settings/LoggerOptions.h"
#include "settings/Maintenance.h"
#include "settings/Sensors.h"
#include "settings/TextFields.h"
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

// One command as it went over the wire.
struct Command {
  uint8_t code;
  uint8_t address = 0;
  uint8_t value = 0;
  bool Changes() const {  // anything but a read, the lead-in or a download
    return code != proto::kRegisterRead && code != proto::kParamRead && code != proto::kNameRead &&
           code != proto::kLeadIn && code != proto::kDownloadAscending && code != proto::kDownloadDescending;
  }
};

// The bytes sent, as whole commands; false when they are not (a byte no command starts with, a cut one).
bool Parse(const std::vector<uint8_t>& sent, std::vector<Command>& commands) {
  for (size_t i = 0; i < sent.size();) {
    const uint8_t code = sent[i];
    size_t length = 1;
    if (code == proto::kRegisterRead || code == proto::kParamRead || code == proto::kNameRead) length = 2;
    if (code == proto::kRegisterWrite || code == proto::kParamWrite || code == proto::kNameWrite) length = 3;
    const bool single = code == proto::kLeadIn || code == proto::kModeToggle ||
                        code == proto::kDownloadAscending || code == proto::kDownloadDescending ||
                        code == proto::kActionReset.command || code == proto::kActionErase.command ||
                        code == proto::kActionFormat.command;
    if ((length == 1 && !single) || i + length > sent.size()) return false;
    commands.push_back({code, length > 1 ? sent[i + 1] : uint8_t{0}, length > 2 ? sent[i + 2] : uint8_t{0}});
    i += length;
  }
  return true;
}

using Allowed = std::function<bool(const Command&)>;

Allowed Writes(uint8_t code, std::vector<uint8_t> addresses) {
  return [code, addresses](const Command& c) {
    return c.code == code && std::find(addresses.begin(), addresses.end(), c.address) != addresses.end();
  };
}
Allowed WritesFrom(uint8_t code, int first, int length) {
  return [=](const Command& c) { return c.code == code && ((c.address - first) & 0xFF) < length; };
}
Allowed Single(uint8_t code) {
  return [code](const Command& c) { return c.code == code; };
}
const Allowed kNothing = [](const Command&) { return false; };

struct Operation {
  std::function<Outcome(Session&)> run;
  // Which commands that change the logger it may send, once the user said yes.
  Allowed mayChange;
  bool downloads = false;
  bool restores = false;  // reads an image file, taken from the input unless bit 4 asks for a valid one
};

std::vector<uint8_t> SensorRegisters() {
  std::vector<uint8_t> addresses;
  for (int n = 1; n <= proto::kMaxSensors; ++n) {
    addresses.insert(addresses.end(),
                     {proto::reg::LowAlarm(n), proto::reg::HighAlarm(n), proto::reg::Offset(n)});
  }
  return addresses;
}

const std::vector<Operation>& Operations() {
  using namespace proto::reg;
  static const std::vector<Operation> ops = {
      {[](Session& s) {
         s.link.Test_COM_OK();
         return s.link.state.LinkOk ? Outcome::Completed : Outcome::Failed;
       },
       kNothing},
      {[](Session& s) { return TESTRS2321Click(s); }, kNothing},
      {[](Session& s) { return Test1Wie1Click(s); }, kNothing},
      {[](Session& s) { return BitBtn4Click(s); }, kNothing, true},
      {[](Session& s) { return BitBtn5Click(s); }, kNothing, true},
      {[](Session& s) { return Licencja1Click(s); }, kNothing},
      {[](Session& s) { return BitBtn6Click(s); }, kNothing},
      {[](Session& s) { return Zapisobrazurej1Click(s); }, kNothing},
      {[](Session& s) { return Nadzrpomiaru1Click(s); },
       WritesFrom(proto::kParamWrite, proto::mem::kSupervisor, 16)},
      {[](Session& s) { return Nazwapktpomiar1Click(s); }, WritesFrom(proto::kNameWrite, 0, 160)},
      {[](Session& s) { return Wpislicencji1Click(s); },
       WritesFrom(proto::kParamWrite, proto::mem::kOwner, 35)},
      {[](Session& s) { return Wpisnrserii1Click(s); },
       WritesFrom(proto::kParamWrite, proto::mem::kSerial, 16)},
      {[](Session& s) { return BitBtn2Click(s); }, Single(proto::kModeToggle)},
      {[](Session& s) { return BitBtn3Click(s); },
       Writes(proto::kRegisterWrite, {kSetSeconds, kSetMinutes, kSetHours, kSetDay, kSetMonth, kYear})},
      {[](Session& s) { return Resetuk1Click(s); }, Single(proto::kActionReset.command)},
      {[](Session& s) { return Wykasujpomiary1Click(s); }, Single(proto::kActionErase.command)},
      {[](Session& s) { return Formatowanieukadu1Click(s); }, Single(proto::kActionFormat.command)},
      {[](Session& s) { return Parametryrejestratora1Click(s); },
       Writes(proto::kRegisterWrite, {kIntervalLow, kIntervalHigh, kThreshold, kOptions, kSensors})},
      {[](Session& s) { return Liczbaczujnikw1Click(s); }, Writes(proto::kRegisterWrite, {kSensors})},
      {[](Session& s) { return Deklarowanieczujnika1Click(s); },
       Writes(proto::kParamWrite, {proto::kDeclareAddress})},
      {[](Session& s) { return Parametryczujnika1Click(s); },
       Writes(proto::kRegisterWrite, SensorRegisters())},
      // Every byte of the image but the sensor-declaration trigger.
      {[](Session& s) { return Wczytanieobrazurej1Click(s); },
       [](const Command& c) {
         return (c.code == proto::kParamWrite && c.address != proto::kDeclareAddress) ||
                c.code == proto::kNameWrite;
       },
       false, true},
  };
  return ops;
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

void Put(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The user's answers: everything declined, or yes with values that change something.
void Script(test::ScriptedUi& ui, uint8_t answers, const std::filesystem::path& image) {
  const bool no = (answers & 1) != 0;
  ui.monitorRefreshes = (answers >> 2) & 3;
  if (no) {
    ui.inputs = {std::nullopt};  // an input box is cancelled, not accepted as proposed
    return;
  }
  ui.answers = {true, true, true};
  ui.inputs = {std::optional<std::string>("data"), std::optional<std::string>("data")};
  ui.files = {image.string()};
  ui.choosers = {ChooserAnswer{2}, ChooserAnswer{3}};
  ui.optionDialogs = {LoggerOptionsAnswer{5, 20, 0x25, true}};
  ui.sensorDialogs = {SensorParamsAnswer{-10, 30, std::string("0.5")}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(std::span<const uint8_t>(data, size));
  const Operation& op = Operations()[in.Byte() % Operations().size()];
  const uint8_t answers = in.Byte();
  const uint32_t openMask = in.Byte() | in.Byte() << 8 | (in.Byte() & 0x0F) << 16;

  const std::filesystem::path& dir = WorkDir();
  for (const auto& entry : std::filesystem::directory_iterator(dir)) std::filesystem::remove(entry.path());
  Put(dir / "data.DAT", kOldFile);
  MemoryImage memory{};
  for (size_t i = 0; i < memory.size(); ++i) memory[i] = static_cast<uint8_t>(i * 7);
  const auto intact = ImageFileBytes(memory);
  std::vector<uint8_t> image(intact.begin(), intact.end());
  if (op.restores && (answers & 0x10) == 0) {
    for (uint8_t& b : image) b = in.Byte();
  }
  Put(dir / "image.eep", image);

  sim::VirtualClock clock;
  FuzzPort port(clock, in, openMask);
  test::ScriptedUi ui;
  Script(ui, answers, dir / "image.eep");
  ui.beforeRefresh = [&clock] { clock.SleepMs(1000); };
  const FixedLocale locale(",");
  Session s(port, clock, ui, locale);
  s.workDir = dir;
  s.settings.ServiceAccess = (answers & 2) != 0;
  port.Open("COM1", Parity::Even);

  const Outcome outcome = op.run(s);

  std::vector<Command> commands;
  if (!Parse(port.sent, commands)) std::abort();
  for (const Command& c : commands) {
    if (c.code == proto::kDownloadAscending || c.code == proto::kDownloadDescending) {
      if (!op.downloads) std::abort();
    } else if (c.Changes() && ((answers & 1) != 0 || !op.mayChange(c))) {
      std::abort();  // sent by mistake: the user said no, or the operation has no business there
    }
  }
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
    } else if (name == "image.eep") {
      if (bytes != image) std::abort();  // a restore only reads its file
    } else if (name == "data.eep") {
      if (outcome != Outcome::Completed || ParseImageFile(bytes).check != ImageFileCheck::Intact)
        std::abort();
    } else if (name == "data.DAT" && bytes == kOldFile) {
      continue;
    } else if (name != "data.DAT") {
      std::abort();  // a partial file left behind, or something nobody asked for
    } else if (outcome != Outcome::Completed || !DecodeDatabase(bytes).Valid()) {
      std::abort();  // a file written from a bad dump, or replaced by a failed download
    }
  }
  if (sawReport && outcome != Outcome::Completed) std::abort();
  return 0;
}
