#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/DatabaseFile.h"

namespace velutron::test {

// A logger dump as it arrives after the download command, built field by field.
struct DumpBuilder {
  uint8_t channelByte = 1;
  uint8_t threshold = 0;
  uint8_t carried[2] = {0x12, 0x34};
  std::vector<std::vector<uint8_t>> records;
  std::string owner = "Owner";
  std::string supervision = "Supervisor";
  std::vector<std::string> pointNames;  // missing names are blank

  int Channels() const { return channelByte & 0x7F; }

  // Time stamp fields are the record's raw bytes (BCD where the logger uses BCD).
  DumpBuilder& Record(std::vector<uint16_t> raws, uint8_t dayBcd = 0x05, uint8_t monthBcd = 0x06,
                      uint8_t yearByte = 9, uint8_t hourByte = 0x14, uint8_t minuteBcd = 0x05,
                      uint8_t secondBcd = 0x30) {
    std::vector<uint8_t> r{dayBcd, monthBcd, yearByte, hourByte, minuteBcd, secondBcd};
    raws.resize(static_cast<size_t>(Channels()), 1200);
    for (uint16_t raw : raws) {
      r.push_back(static_cast<uint8_t>(raw >> 8));
      r.push_back(static_cast<uint8_t>(raw & 0xFF));
    }
    records.push_back(std::move(r));
    return *this;
  }

  static void PutText(std::vector<uint8_t>& out, const std::string& text, size_t size) {
    std::string padded = text;
    padded.resize(size, ' ');
    out.insert(out.end(), padded.begin(), padded.end());
  }

  std::vector<uint8_t> Bytes() const {
    const auto n = records.size();
    std::vector<uint8_t> out{channelByte,
                             threshold,
                             carried[0],
                             carried[1],
                             static_cast<uint8_t>(n & 0xFF),
                             static_cast<uint8_t>(n >> 8)};
    for (const auto& r : records) out.insert(out.end(), r.begin(), r.end());
    PutText(out, owner, dbfile::kOwnerTextSize);
    PutText(out, supervision, dbfile::kSupervisionTextSize);
    for (int k = 0; k < Channels(); ++k) {
      PutText(out, k < static_cast<int>(pointNames.size()) ? pointNames[k] : "", dbfile::kPointNameSize);
    }
    return out;
  }

  std::vector<uint8_t> File() const {
    std::vector<uint8_t> file;
    EncodeDatabase(Bytes(), file);
    return file;
  }
};

// The same file in the older layout: 5-byte header, no threshold, no carried bytes.
inline std::vector<uint8_t> ToOlderLayout(const std::vector<uint8_t>& file) {
  std::vector<uint8_t> older{0xFF, 0xFF, file[2], file[6], file[7]};
  older.insert(older.end(), file.begin() + 8, file.end());
  return older;
}

}  // namespace velutron::test
