#include "sim/Device.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "sim/Calendar.h"
#include "sim/LoggerMap.h"

namespace velutron::sim {

namespace {

using namespace velutron::sim::map;

uint8_t ToBcd(int value) { return static_cast<uint8_t>((value / 10) * 16 + value % 10); }
int FromBcd(uint8_t bcd) { return (bcd >> 4) * 10 + (bcd & 0x0F); }

// A small deterministic generator, so the same seed gives the same memory on every platform.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ULL + 1) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  double Uniform() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }  // [0, 1)
  double Noise(double amplitude) { return (Uniform() * 2 - 1) * amplitude; }
  bool Chance(double p) { return Uniform() < p; }

 private:
  uint64_t state_;
};

// Temperature of a channel by the time of day: a daily curve with its warmest hour mid-afternoon.
double DailyTemperature(int channel, double secondsOfDay) {
  const double base = 4.0 + 3.5 * ((channel - 1) % 5);
  const double swing = 2.0 + 0.5 * ((channel - 1) % 3);
  const double phase = (secondsOfDay / 86400.0 - 15.0 / 24.0) * 2 * std::numbers::pi;
  return base + swing * std::cos(phase);
}

// Plausible wet-bulb depression in degrees for a given dry-bulb temperature.
double WetDepression(int pair, double dry) {
  return std::clamp(1.5 + 0.12 * dry + 0.7 * (pair % 3), 0.5, 9.0);
}

uint16_t ToRaw(double celsius) {
  return static_cast<uint16_t>(std::clamp(std::lround((celsius + 55.0) * 16.0), 1L, 4002L));
}

bool IsFramedCommand(uint8_t b) {
  return b == kReadRegister || b == kWriteRegister || b == kReadParam || b == kWriteParam || b == kReadName ||
         b == kWriteName;
}

int FrameLength(uint8_t first) {
  return first == kWriteRegister || first == kWriteParam || first == kWriteName ? 3 : 2;
}

}  // namespace

Device::Device() : declareMs(kDeclareMsDefault) {
  SetSensors(4, false);
  registers[kIdent] = kIdentValue;
  registers[kBus] = kBusOk | 4;
  registers[kIntervalLo] = 600 & 0xFF;  // ten minutes
  registers[kIntervalHi] = 600 >> 8;
  registers[kWorkOptions] = 0x01;
  params.fill(0xFF);
  names.fill(' ');
  SetText(kReadParam, kSupervisorAt, kSupervisorLen, "QA dept. room 12");
  SetText(kReadParam, kOwnerAt, kOwnerLen, "Northfield Cold Store, Hall B");
  SetText(kReadParam, kSerialAt, kSerialLen, "VT-2009-000417");
  static constexpr const char* kPoints[kMaxSensors] = {"Freezer 1", "Freezer 2", "Chiller", "Loading bay",
                                                       "Office",    "Corridor",  "Outdoor", "Packing room",
                                                       "Cellar",    "Roof space"};
  for (int n = 1; n <= kMaxSensors; ++n) {
    SetText(kReadName, NameOf(n), kNameLen, kPoints[n - 1]);
    params[LowLimitOf(n)] = static_cast<uint8_t>(-5 + 55);
    params[HighLimitOf(n)] = static_cast<uint8_t>(25 + 55);
    registers[OffsetOf(n)] = kNoOffset;
  }
  GenerateMeasurements(48, 1);
}

size_t Device::Capacity() const { return kMemoryBytes / (2 * static_cast<size_t>(SensorCount()) + 5); }

int Device::SensorCount() const { return registers[kSensorSetup] & 0x7F; }
bool Device::Humidity() const { return (registers[kSensorSetup] & kHumidityFlag) != 0; }
bool Device::Recording() const { return registers[kRecording] != 0; }
void Device::SetRecording(bool on) { registers[kRecording] = on ? kRecordingOn : 0; }

void Device::SetSensors(int count, bool humidity) {
  registers[kSensorSetup] = static_cast<uint8_t>((count & 0x7F) | (humidity ? kHumidityFlag : 0));
}

void Device::SetText(uint8_t space, uint8_t address, int length, const char* text) {
  auto& target = space == kReadName || space == kWriteName ? names : params;
  const size_t given = std::strlen(text);
  for (int k = 0; k < length; ++k) {
    target[static_cast<uint8_t>(address + k)] =
        static_cast<size_t>(k) < given ? static_cast<uint8_t>(text[k]) : ' ';
  }
}

void Device::SetClock(CivilTime now, uint64_t atUs) {
  clockBase_ = now;
  clockBaseUs_ = atUs;
}

CivilTime Device::ClockAt(uint64_t atUs) const {
  if (atUs >= clockBaseUs_ && atUs - clockBaseUs_ < 1'000'000) return clockBase_;
  const int64_t elapsed = atUs >= clockBaseUs_
                              ? static_cast<int64_t>((atUs - clockBaseUs_) / 1'000'000)
                              : -static_cast<int64_t>((clockBaseUs_ - atUs + 999'999) / 1'000'000);
  return FromSeconds(ToSeconds(clockBase_) + elapsed);
}

uint16_t Device::CurrentRaw(int n, uint64_t atUs) const {
  if (n < 1 || n > SensorCount() || faults.busDown) return 0;
  if (const auto pinned = pinnedReadings.find(n); pinned != pinnedReadings.end()) return pinned->second;
  const CivilTime now = ClockAt(atUs);
  const int64_t second = ToSeconds(now);
  // The reading moves once a second, with a little noise that is the same for the same second.
  Random noise(static_cast<uint64_t>(second) * 16 + static_cast<uint64_t>(n));
  const double secondsOfDay = now.hour * 3600 + now.minute * 60 + now.second;
  const bool wet = Humidity() && n % 2 == 0;
  const int dryChannel = wet ? n - 1 : n;
  double t = DailyTemperature(dryChannel, secondsOfDay) + noise.Noise(0.15);
  if (wet) t -= WetDepression(n / 2, t);
  return ToRaw(t + (registers[OffsetOf(n)] - kNoOffset) * 0.0625);
}

void Device::GenerateMeasurements(int count, uint32_t seed) {
  measurements.clear();
  Random random(seed);
  const int channels = SensorCount();
  const bool humidity = Humidity();
  int interval = registers[kIntervalLo] | registers[kIntervalHi] << 8;
  if (interval == 0) interval = 600;
  const int64_t last = ToSeconds(clockBase_) - clockBase_.second - 60;
  bool onState = false;
  for (int i = 0; i < count; ++i) {
    Measurement m;
    const int64_t at = last - static_cast<int64_t>(count - 1 - i) * interval;
    m.time = FromSeconds(at);
    const double secondsOfDay = m.time.hour * 3600 + m.time.minute * 60 + m.time.second;
    m.singlePair = humidity && channels > 2 && random.Chance(0.07);
    for (int c = 1; c <= channels; ++c) {
      const bool wet = humidity && c % 2 == 0 && (!m.singlePair || c == 2);
      double t = DailyTemperature(wet ? c - 1 : c, secondsOfDay) + random.Noise(0.3);
      if (wet) t = DailyTemperature(c - 1, secondsOfDay) - WetDepression(c / 2, t) + random.Noise(0.2);
      uint16_t raw = ToRaw(t);
      if (random.Chance(0.01)) raw = random.Chance(0.5) ? 0 : 4095;  // sensor lost or shorted
      m.raw.push_back(raw);
    }
    if (i % 9 == 4) {
      onState = !onState;
      m.onOff = onState;
    }
    measurements.push_back(std::move(m));
  }
}

std::vector<uint8_t> Device::Dump(bool descending) const {
  const int k = SensorCount();
  std::vector<uint8_t> dump;
  size_t n = std::min<size_t>(measurements.size(), 0xFFFF);
  if (!faults.overfullMemory) n = std::min(n, Capacity());
  dump.reserve(6 + n * (2 * k + 6) + 51 + 16 * k);
  dump.push_back(static_cast<uint8_t>(registers[kSensorSetup]));
  dump.push_back(threshold);
  dump.push_back(carried[0]);
  dump.push_back(carried[1]);
  dump.push_back(static_cast<uint8_t>(n & 0xFF));
  dump.push_back(static_cast<uint8_t>(n >> 8));
  for (size_t i = 0; i < n; ++i) {
    const Measurement& m = measurements[descending ? n - 1 - i : i];
    dump.push_back(ToBcd(m.time.day));
    dump.push_back(ToBcd(m.time.month));
    dump.push_back(static_cast<uint8_t>(((m.time.year - 2000) & 0x7F) | (m.singlePair ? 0x80 : 0)));
    uint8_t hour = ToBcd(m.time.hour);
    if (m.onOff) hour = static_cast<uint8_t>(0x80 | (*m.onOff ? 0x40 : 0) | (hour & 0x3F));
    dump.push_back(hour);
    dump.push_back(ToBcd(m.time.minute));
    dump.push_back(ToBcd(m.time.second));
    for (int c = 0; c < k; ++c) {
      const uint16_t raw = static_cast<size_t>(c) < m.raw.size() ? m.raw[c] : 0;
      dump.push_back(static_cast<uint8_t>(raw >> 8));
      dump.push_back(static_cast<uint8_t>(raw & 0xFF));
    }
  }
  for (int i = 0; i < kOwnerLen; ++i) dump.push_back(params[kOwnerAt + i]);
  for (int i = 0; i < kSupervisorLen; ++i) dump.push_back(params[kSupervisorAt + i]);
  for (int i = 0; i < 16 * k; ++i) dump.push_back(names[static_cast<uint8_t>(i)]);
  return dump;
}

uint8_t Device::ReadRegister(uint8_t address, uint64_t atUs) const {
  const CivilTime now = ClockAt(atUs);
  switch (address) {
    case kSecond:
      return ToBcd(now.second);
    case kMinute:
      return ToBcd(now.minute);
    case kHour:
      return ToBcd(now.hour);
    case kDay:
      return ToBcd(now.day);
    case kMonth:
      return ToBcd(now.month);
    case kYear:
      return static_cast<uint8_t>(now.year - 2000);
    case kBus:
      return static_cast<uint8_t>((registers[address] & 0x7F) | (faults.busDown ? 0 : kBusOk));
    case kIdent:
      return kIdentValue;
    case kSwitchThreshold:
      return threshold;
    default:
      break;
  }
  if (address >= ReadingLoOf(1) && address <= ReadingHiOf(kMaxSensors)) {
    const int n = (address - ReadingLoOf(1)) / 2 + 1;
    const uint16_t raw = CurrentRaw(n, atUs);
    return address == ReadingLoOf(n) ? static_cast<uint8_t>(raw) : static_cast<uint8_t>(raw >> 8);
  }
  // The alarm limits live in the parameter memory and are reached through both spaces.
  if (address >= LowLimitOf(1) && address <= HighLimitOf(kMaxSensors)) return params[address];
  return registers[address];
}

void Device::WriteRegister(uint8_t address, uint8_t value, uint64_t atUs) {
  registers[address] = value;
  if (address == kSwitchThreshold) threshold = value;
  if (address >= LowLimitOf(1) && address <= HighLimitOf(kMaxSensors)) params[address] = value;
  const bool clockField =
      (address >= kSetSecond && address <= kSetDay) || address == kSetMonth || address == kYear;
  if (!clockField) return;

  // Like a real clock chip, the fields are stored as written and an impossible date (29.02 before the
  // year is set) is only resolved when the clock ticks on; the seconds phase survives except when the
  // seconds themselves are set.
  const uint64_t whole = atUs >= clockBaseUs_ ? (atUs - clockBaseUs_) / 1'000'000 : 0;
  CivilTime now = whole == 0 ? clockBase_ : FromSeconds(ToSeconds(clockBase_) + static_cast<int64_t>(whole));
  uint64_t baseUs = clockBaseUs_ + whole * 1'000'000;
  switch (address) {
    case kSetSecond:
      now.second = std::clamp(FromBcd(value), 0, 59);
      baseUs = atUs;
      break;
    case kSetMinute:
      now.minute = std::clamp(FromBcd(value), 0, 59);
      break;
    case kSetHour:
      now.hour = std::clamp(FromBcd(value), 0, 23);
      break;
    case kSetDay:
      now.day = std::clamp(FromBcd(value), 1, 31);
      break;
    case kSetMonth:
      now.month = std::clamp(FromBcd(value), 1, 12);
      break;
    default:  // the year
      now.year = 2000 + (value & 0x7F);
      break;
  }
  SetClock(now, baseUs);
}

uint8_t Device::ReplyFor(uint8_t command, uint8_t usual) const {
  const auto it = faults.replyCodes.find(command);
  return it != faults.replyCodes.end() ? it->second : usual;
}

void Device::Answer(uint8_t byte, uint64_t atUs, std::vector<Emitted>& out) {
  if (faults.silent || (faults.silentAfter && answered_ >= *faults.silentAfter)) return;
  ++answered_;
  if (faults.wrongAnswer) byte = *faults.wrongAnswer;
  const uint64_t start = std::max(atUs + kAnswerLatencyUs + faults.answerDelayUs, txFreeUs_);
  txFreeUs_ = start + LineTimeUs(1);
  out.push_back({txFreeUs_, byte});
  if (faults.extraByte) {
    txFreeUs_ += LineTimeUs(1);
    out.push_back({txFreeUs_, byte});
  }
}

void Device::SendDump(bool descending, uint64_t atUs, std::vector<Emitted>& out) {
  if (faults.silent) return;
  std::vector<uint8_t> bytes = Dump(descending);
  if (faults.dumpCutAfter && *faults.dumpCutAfter < bytes.size()) bytes.resize(*faults.dumpCutAfter);
  uint64_t start = std::max(atUs + uint64_t{faults.dumpStartDelayMs} * 1000, txFreeUs_);
  uint64_t sentSinceStart = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (faults.dumpPauseAfter && i == *faults.dumpPauseAfter && i > 0) {
      start += LineTimeUs(sentSinceStart) + uint64_t{faults.dumpPauseMs} * 1000;
      sentSinceStart = 0;
    }
    ++sentSinceStart;
    out.push_back({start + LineTimeUs(sentSinceStart), bytes[i]});
  }
  txFreeUs_ = start + LineTimeUs(sentSinceStart);
}

void Device::Execute(uint64_t atUs, std::vector<Emitted>& out) {
  const uint8_t command = pending_[0];
  const uint8_t address = pending_[1];
  const uint8_t value = pending_.size() > 2 ? pending_[2] : 0;
  switch (command) {
    case kReadRegister:
      Answer(ReadRegister(address, atUs), atUs, out);
      break;
    case kReadParam:
      Answer(params[address], atUs, out);
      break;
    case kReadName:
      Answer(names[address], atUs, out);
      break;
    case kWriteRegister:
      WriteRegister(address, value, atUs);
      Answer(ReplyFor(command, kAccepted), atUs, out);
      break;
    case kWriteParam:
      if (address == kDeclareAt) {
        // The logger reads the one sensor on the bus and stores its address under number value + 1.
        uint8_t code = faults.busDown ? 97 : kAddressSaved;
        if (auto it = faults.replyCodes.find(kDeclareAt); it != faults.replyCodes.end()) {
          code = it->second;
        } else {
          code = ReplyFor(command, code);
        }
        if (code == kAddressSaved) declared.push_back(value + 1);
        Answer(code, atUs + uint64_t{std::min(declareMs, kDeclareMsMax)} * 1000, out);
      } else {
        params[address] = value;
        Answer(ReplyFor(command, kAccepted), atUs, out);
      }
      break;
    case kWriteName:
      names[address] = value;
      Answer(ReplyFor(command, kAccepted), atUs, out);
      break;
    default:
      break;
  }
}

void Device::Receive(uint8_t byte, uint64_t atUs, std::vector<Emitted>& out) {
  if (keepHistory) received.push_back({atUs, byte});
  // A frame whose next byte never came is dropped; the program waits far longer than this after a failure.
  if (!pending_.empty() && atUs - lastByteUs_ > kFrameGapUs) pending_.clear();
  lastByteUs_ = atUs;

  if (!pending_.empty()) {
    pending_.push_back(byte);
    if (static_cast<int>(pending_.size()) == FrameLength(pending_[0])) {
      Execute(atUs, out);
      pending_.clear();
    }
    return;
  }
  if (IsFramedCommand(byte)) {
    pending_.push_back(byte);
    return;
  }
  if (byte == kReset) {
    registers[kCrcCount] = 0;
    Answer(ReplyFor(byte, kResetDone), atUs, out);
  } else if (byte == kErase) {
    const uint8_t code = ReplyFor(byte, kErased);
    if (code == kErased) measurements.clear();
    Answer(code, atUs, out);
  } else if (byte == kFormat) {
    const uint8_t code = ReplyFor(byte, kErased);
    if (code == kErased) {
      measurements.clear();
      SetText(kReadParam, kSupervisorAt, kSupervisorLen, "");
      SetText(kReadParam, kOwnerAt, kOwnerLen, "");
      SetText(kReadParam, kSerialAt, kSerialLen, "");
      names.fill(' ');
    }
    Answer(code, atUs, out);
  } else if (byte == kToggle) {
    SetRecording(!Recording());
  } else if (byte == kDumpUp || byte == kDumpDown) {
    SendDump(byte == kDumpDown, atUs, out);
  }
  // The lead-in 75 and unknown bytes are taken without an answer.
}

}  // namespace velutron::sim
