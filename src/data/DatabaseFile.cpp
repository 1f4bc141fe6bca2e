#include "data/DatabaseFile.h"

#include <utility>

namespace velutron {

namespace {

void PutWord(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value & 0xFF));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

// Bounds-checked sequential reads over the file.
class Cursor {
 public:
  explicit Cursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  bool Has(size_t n) const { return bytes_.size() - at_ >= n; }
  std::span<const uint8_t> Take(size_t n) {
    auto part = bytes_.subspan(at_, n);
    at_ += n;
    return part;
  }
  uint8_t Byte() { return bytes_[at_++]; }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

}  // namespace

DatabaseWriteResult EncodeDatabase(std::span<const uint8_t> dump, std::vector<uint8_t>& out) {
  out.clear();
  if (dump.size() < kDumpHeaderSize) return DatabaseWriteResult::Truncated;
  const DumpView header = DumpView::Of(dump);
  if (header.recordCount == 0) return DatabaseWriteResult::NoRecords;
  const int channels = header.Channels();
  if (channels < 1 || channels > dbfile::kMaxChannels) return DatabaseWriteResult::BadChannelCount;
  if (header.recordCount > dbfile::MaxRecords(channels)) return DatabaseWriteResult::TooManyRecords;
  if (header.DeclaredSize() > dump.size()) return DatabaseWriteResult::Truncated;

  out.reserve(dbfile::FileSize(channels, header.recordCount));
  out.push_back(dbfile::kLeadByte);
  out.push_back(dbfile::kFormatMark);
  out.insert(out.end(), dump.begin(), dump.begin() + kDumpHeaderSize);

  const size_t recordSize = dbfile::RecordSize(channels);
  auto plain = dump.subspan(kDumpHeaderSize);
  uint16_t total = 0;
  for (size_t j = 0; j < header.recordCount; ++j) {
    uint16_t sum = 0;
    for (uint8_t b : plain.subspan(j * recordSize, recordSize)) {
      const auto stored = static_cast<uint8_t>(255 - b);
      out.push_back(stored);
      sum = static_cast<uint16_t>(sum + stored);
    }
    PutWord(out, sum);
    total = static_cast<uint16_t>(total + (sum & 0xFF));
  }
  PutWord(out, total);

  uint16_t textSum = 0;
  for (uint8_t b : plain.subspan(header.recordCount * recordSize, dbfile::TextsSize(channels))) {
    const auto stored = static_cast<uint8_t>(b + dbfile::kTextShift);
    out.push_back(stored);
    textSum = static_cast<uint16_t>(textSum + stored);
  }
  PutWord(out, textSum);
  return DatabaseWriteResult::Ok;
}

DatabaseContents DecodeDatabase(std::span<const uint8_t> file) {
  DatabaseContents db;
  Cursor in(file);
  auto fail = [&db](DatabaseCheck check) {
    db.check = check;
    return std::move(db);
  };

  if (file.size() > dbfile::LargestFileSize()) return fail(DatabaseCheck::TooLong);
  if (!in.Has(3)) return fail(DatabaseCheck::EndsEarly);
  const uint8_t lead = in.Byte();
  const uint8_t mark = in.Byte();
  if (lead != dbfile::kLeadByte || (mark != dbfile::kFormatMark && mark != dbfile::kOlderFormatMark)) {
    return fail(DatabaseCheck::BadFormatMark);
  }
  int channelByte = in.Byte();
  if (channelByte > 128) {
    db.humidity = true;
    channelByte -= 128;
  }
  if (channelByte < 1 || channelByte > dbfile::kMaxChannels) return fail(DatabaseCheck::BadChannelCount);
  db.channels = channelByte;

  db.olderLayout = mark == dbfile::kOlderFormatMark;
  const size_t rest = (db.olderLayout ? dbfile::kOlderHeaderSize : dbfile::kHeaderSize) - 3;
  if (!in.Has(rest)) return fail(DatabaseCheck::EndsEarly);
  auto header = in.Take(rest);
  if (!db.olderLayout) {
    db.switchThreshold = header[0];
    header = header.subspan(3);  // bytes 4 and 5 are the logger's own, never interpreted
  }
  db.recordCount = static_cast<uint16_t>(header[0] | header[1] << 8);
  if (db.recordCount > dbfile::MaxRecords(db.channels)) return fail(DatabaseCheck::TooManyRecords);
  if (db.recordCount == 0) return fail(DatabaseCheck::NoRecords);
  db.headerValid = true;

  const size_t recordSize = dbfile::RecordSize(db.channels);
  db.records.reserve(db.recordCount * recordSize);
  uint16_t total = 0;
  for (size_t j = 0; j < db.recordCount; ++j) {
    if (!in.Has(recordSize + 2)) return fail(DatabaseCheck::EndsEarly);
    uint16_t sum = 0;
    for (uint8_t stored : in.Take(recordSize)) {
      sum = static_cast<uint16_t>(sum + stored);
      db.records.push_back(static_cast<uint8_t>(255 - stored));
    }
    const uint8_t low = in.Byte();
    const uint8_t high = in.Byte();
    if (low != (sum & 0xFF) || high != (sum >> 8)) return fail(DatabaseCheck::RecordChecksum);
    total = static_cast<uint16_t>(total + low);
  }

  if (!in.Has(2)) return fail(DatabaseCheck::EndsEarly);
  const uint8_t totalLow = in.Byte();
  const uint8_t totalHigh = in.Byte();
  // Compatibility: one matching byte of the total is enough.
  if (totalLow != (total & 0xFF) && totalHigh != (total >> 8)) return fail(DatabaseCheck::TotalChecksum);

  const size_t textsSize = dbfile::TextsSize(db.channels);
  if (!in.Has(textsSize + 2)) return fail(DatabaseCheck::EndsEarly);
  uint16_t textSum = 0;
  std::vector<uint8_t> texts;
  texts.reserve(textsSize);
  for (uint8_t stored : in.Take(textsSize)) {
    textSum = static_cast<uint16_t>(textSum + stored);
    texts.push_back(static_cast<uint8_t>(stored - dbfile::kTextShift));
  }
  const auto ownerEnd = texts.begin() + dbfile::kOwnerTextSize;
  const auto supervisionEnd = ownerEnd + dbfile::kSupervisionTextSize;
  db.ownerText.assign(texts.begin(), ownerEnd);
  db.supervisionText.assign(ownerEnd, supervisionEnd);
  db.pointNames.assign(supervisionEnd, texts.end());
  const uint8_t textLow = in.Byte();
  const uint8_t textHigh = in.Byte();
  if (textLow != (textSum & 0xFF) || textHigh != (textSum >> 8)) return fail(DatabaseCheck::TextChecksum);
  return db;
}

}  // namespace velutron
