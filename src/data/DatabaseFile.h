#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace velutron {

// Database file ("*.DAT") layout: a header, records stored inverted with a checksum each, a total
// checksum, the logger's texts shifted by 128 and their checksum.
namespace dbfile {
inline constexpr uint8_t kLeadByte = 0xFF;
inline constexpr uint8_t kFormatMark = 0xFE;       // header of 8 bytes, written by this program
inline constexpr uint8_t kOlderFormatMark = 0xFF;  // header of 5 bytes, read only
inline constexpr size_t kHeaderSize = 8;
inline constexpr size_t kOlderHeaderSize = 5;
inline constexpr uint8_t kHumidityFlag = 0x80;
inline constexpr int kMaxChannels = 10;
// Raw readings above this, and raw 0, mark a sensor out of range.
inline constexpr uint16_t kRawMaxValid = 4002;
inline constexpr size_t kOwnerTextSize = 35;
inline constexpr size_t kSupervisionTextSize = 16;
inline constexpr size_t kPointNameSize = 16;
inline constexpr uint8_t kTextShift = 128;
// The logger's measurement memory bounds the record count: N <= 131 072 / (2K + 5).
inline constexpr uint32_t kRecordSpace = 131072;

constexpr size_t RecordSize(int channels) { return 2 * static_cast<size_t>(channels) + 6; }
constexpr size_t TextsSize(int channels) {
  return kOwnerTextSize + kSupervisionTextSize + kPointNameSize * static_cast<size_t>(channels);
}
constexpr uint32_t MaxRecords(int channels) {
  return kRecordSpace / (2 * static_cast<uint32_t>(channels) + 5);
}
constexpr size_t FileSize(int channels, size_t records) {
  return kHeaderSize + records * (RecordSize(channels) + 2) + 2 + TextsSize(channels) + 2;
}
// The longest file the reader can accept, over every channel count.
constexpr size_t LargestFileSize() {
  size_t largest = 0;
  for (int k = 1; k <= kMaxChannels; ++k) largest = std::max(largest, FileSize(k, MaxRecords(k)));
  return largest;
}
}  // namespace dbfile

// The header of the logger's dump, read strictly by position.
struct DumpView {
  uint8_t channelByte = 0;  // bits 0-6: channel count K, bit 7: humidity mode
  uint8_t switchThreshold = 0;
  uint16_t recordCount = 0;
  // From the dump's first kDumpHeaderSize bytes.
  static DumpView Of(std::span<const uint8_t> header) {
    return {header[0], header[1], static_cast<uint16_t>(header[4] | header[5] << 8)};
  }
  int Channels() const { return channelByte & 0x7F; }
  // Bytes the header declares: 6 + N(2K + 6) + 51 + 16K.
  size_t DeclaredSize() const {
    return 6 + size_t{recordCount} * dbfile::RecordSize(Channels()) + dbfile::TextsSize(Channels());
  }
};
inline constexpr size_t kDumpHeaderSize = 6;

enum class DatabaseWriteResult {
  Ok,
  NoRecords,        // N = 0: nothing to store
  Truncated,        // the declared layout reaches past the bytes received
  BadChannelCount,  // K outside 1..10: the file would never read back
  TooManyRecords,   // N above the memory's capacity for K channels: likewise
};

// Encodes a database file from the received dump bytes (only those actually received). `out` holds the
// whole file on Ok and is left empty otherwise.
DatabaseWriteResult EncodeDatabase(std::span<const uint8_t> dump, std::vector<uint8_t>& out);

// The first check a database file failed.
enum class DatabaseCheck {
  Ok,
  BadFormatMark,    // byte 0 not 0xFF, or byte 1 neither 0xFE nor 0xFF
  BadChannelCount,  // K outside 1..10
  TooManyRecords,   // N above the memory's capacity for K channels
  NoRecords,        // N = 0: never written by the program
  RecordChecksum,   // a record's sum differs (that record is still decoded)
  TotalChecksum,    // both bytes of the total differ
  TextChecksum,     // either byte of the text sum differs
  EndsEarly,        // fewer bytes than the header declares
  TooLong,          // longer than any valid file
};

// One decoded (plain) measurement record.
struct RecordView {
  std::span<const uint8_t> bytes;  // 2K + 6

  uint8_t DayBcd() const { return bytes[0]; }
  uint8_t MonthBcd() const { return bytes[1]; }
  uint8_t Year() const { return bytes[2] & 0x7F; }  // years after 2000, plain
  bool SinglePairFlag() const { return (bytes[2] & 0x80) != 0; }
  bool OnOffFlag() const { return (bytes[3] & 0x80) != 0; }
  bool OnOffState() const { return (bytes[3] & 0x40) != 0; }
  // Packed BCD; without the ON/OFF bits when the record carries an ON/OFF state.
  uint8_t HourBcd() const { return OnOffFlag() ? bytes[3] & 0x3F : bytes[3]; }
  uint8_t MinuteBcd() const { return bytes[4]; }
  uint8_t SecondBcd() const { return bytes[5]; }
  // Channel readings are stored high byte first; `channel` counts from 1.
  uint16_t Raw(int channel) const {
    const size_t at = 4 + 2 * static_cast<size_t>(channel);
    return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
  }
};

// What the reader found in a database file. Fields are filled as far as reading got.
struct DatabaseContents {
  DatabaseCheck check = DatabaseCheck::Ok;
  bool headerValid = false;  // reading got past the header checks (K, N known and within limits)
  bool olderLayout = false;
  bool humidity = false;
  int channels = 0;
  uint8_t switchThreshold = 0;
  uint16_t recordCount = 0;              // N as declared
  std::vector<uint8_t> records;          // decoded records read (the last may have failed its checksum)
  std::vector<uint8_t> ownerText;        // 35 bytes, decoded
  std::vector<uint8_t> supervisionText;  // 16 bytes
  std::vector<uint8_t> pointNames;       // 16 x K bytes

  bool Valid() const { return check == DatabaseCheck::Ok; }
  size_t RecordsRead() const { return channels > 0 ? records.size() / dbfile::RecordSize(channels) : 0; }
  RecordView Record(size_t index) const {
    const size_t size = dbfile::RecordSize(channels);
    return RecordView{std::span<const uint8_t>(records).subspan(index * size, size)};
  }
  // Whether `channel` of `record` holds the humidity of a pair rather than a temperature. A record with
  // the single-pair flag has only channel 2 as humidity.
  bool IsHumidityCell(const RecordView& record, int channel) const {
    if (!humidity) return false;
    return record.SinglePairFlag() ? channel == 2 : channel % 2 == 0;
  }
  // The switching column: the threshold (whole degrees) above channel 1's temperature, raw x 1/16 - 55,
  // compared exactly in sixteenths.
  bool BelowSwitchThreshold(const RecordView& record) const {
    return uint32_t{switchThreshold} * 16 + 55 * 16 > record.Raw(1);
  }
  std::span<const uint8_t> PointName(int channel) const {
    return std::span<const uint8_t>(pointNames)
        .subspan((channel - 1) * dbfile::kPointNameSize, dbfile::kPointNameSize);
  }
};

// Reads and checks a database file, never reading outside `file`.
DatabaseContents DecodeDatabase(std::span<const uint8_t> file);

}  // namespace velutron
