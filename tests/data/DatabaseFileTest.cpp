#include <gtest/gtest.h>

#include "DumpBuilder.h"
#include "data/DatabaseFile.h"

namespace velutron::test {
namespace {

TEST(DatabaseWriter, StoresRecordsInvertedTextsShiftedWithExactChecksums) {
  DumpBuilder dump;
  dump.owner = dump.supervision = "";
  dump.Record({0x04B0}, 0x05, 0x06, 0x09, 0x14, 0x05, 0x30);
  std::vector<uint8_t> file;
  ASSERT_EQ(EncodeDatabase(dump.Bytes(), file), DatabaseWriteResult::Ok);

  const uint8_t head[] = {0xFF, 0xFE, 0x01, 0x00, 0x12, 0x34, 0x01, 0x00,
                          0xFA, 0xF9, 0xF6, 0xEB, 0xFA, 0xCF, 0xFB, 0x4F,  // 255 - plain
                          0xE7, 0x06,                                      // record sum 1767
                          0xE7, 0x00};                                     // total of low bytes
  std::vector<uint8_t> expected(sizeof head + 67 + 2, 0xA0);                // texts: spaces + 128
  std::copy(std::begin(head), std::end(head), expected.begin());
  expected[sizeof head + 67] = 0xE0;  // 67 x 0xA0, low byte first
  expected[sizeof head + 68] = 0x29;
  EXPECT_EQ(file, expected);
}

TEST(DatabaseWriter, HumidityThreeChannelsTwoRecordsGives139Bytes) {
  DumpBuilder dump;
  dump.channelByte = 0x83;
  dump.threshold = 25;
  dump.Record({0, 1200, 1184}).Record({1300, 1250, 1240});
  const auto file = dump.File();
  ASSERT_EQ(file.size(), 139u);
  EXPECT_EQ(file[2], 0x83);
  EXPECT_EQ(file[3], 25);
  EXPECT_EQ(file[8 + 6], 0xFF);  // high byte 0x00 of channel 1's raw 0
}

TEST(DatabaseWriter, RefusesDumpsItCannotStore) {
  std::vector<uint8_t> file{1, 2, 3};
  DumpBuilder empty;
  EXPECT_EQ(EncodeDatabase(empty.Bytes(), file), DatabaseWriteResult::NoRecords);
  EXPECT_TRUE(file.empty());

  for (uint8_t channelByte : {0x00, 0x80, 0x0B, 0x8B}) {
    DumpBuilder dump;
    dump.channelByte = channelByte;
    dump.Record({});
    EXPECT_EQ(EncodeDatabase(dump.Bytes(), file), DatabaseWriteResult::BadChannelCount) << int{channelByte};
  }

  DumpBuilder dump;
  dump.channelByte = 2;
  dump.Record({1, 2}).Record({3, 4});
  const auto bytes = dump.Bytes();
  EXPECT_EQ(EncodeDatabase(std::span(bytes).first(bytes.size() - 1), file), DatabaseWriteResult::Truncated);
  EXPECT_EQ(EncodeDatabase(std::span(bytes).first(5), file), DatabaseWriteResult::Truncated);
  EXPECT_EQ(EncodeDatabase(bytes, file), DatabaseWriteResult::Ok);
  EXPECT_EQ(file.size(), dbfile::FileSize(2, 2));
}

TEST(DatabaseReader, DecodesWhatTheWriterStoredInBothLayouts) {
  DumpBuilder dump;
  dump.channelByte = 0x82;
  dump.threshold = 30;
  dump.pointNames = {"Dry", "Wet"};
  dump.Record({1200, 1184}, 0x31, 0x12, 0x89, 0xC9).Record({4003, 0});
  const auto file = dump.File();

  std::vector<uint8_t> plain;
  for (const auto& r : dump.records) plain.insert(plain.end(), r.begin(), r.end());

  for (const auto& bytes : {file, ToOlderLayout(file)}) {
    const DatabaseContents db = DecodeDatabase(bytes);
    ASSERT_EQ(db.check, DatabaseCheck::Ok);
    EXPECT_TRUE(db.humidity);
    EXPECT_EQ(db.channels, 2);
    EXPECT_EQ(db.recordCount, 2);
    EXPECT_EQ(db.records, plain);
    EXPECT_EQ(db.Record(0).HourBcd(), 0x09);  // ON/OFF bits removed
    EXPECT_EQ(std::string(db.PointName(2).begin(), db.PointName(2).end()), "Wet             ");
    EXPECT_EQ(db.switchThreshold, bytes == file ? 30 : 0);
  }
}

TEST(DatabaseReader, DamagedHeadersAreRejected) {
  DumpBuilder dump;
  dump.Record({1200});
  const auto good = dump.File();
  auto patched = [&](size_t at, uint8_t value) {
    auto f = good;
    f[at] = value;
    return DecodeDatabase(f).check;
  };
  EXPECT_EQ(patched(0, 0xFE), DatabaseCheck::BadFormatMark);
  EXPECT_EQ(patched(1, 0xFD), DatabaseCheck::BadFormatMark);
  EXPECT_EQ(patched(2, 0), DatabaseCheck::BadChannelCount);
  EXPECT_EQ(patched(2, 11), DatabaseCheck::BadChannelCount);
  EXPECT_EQ(patched(2, 128), DatabaseCheck::BadChannelCount);
  EXPECT_EQ(patched(2, 139), DatabaseCheck::BadChannelCount);
  EXPECT_EQ(patched(6, 0), DatabaseCheck::NoRecords);
  EXPECT_EQ(DecodeDatabase(std::span(good).first(2)).check, DatabaseCheck::EndsEarly);
}

TEST(DatabaseReader, RecordCountIsBoundByTheLoggerMemory) {
  for (int k : {1, 10}) {
    DumpBuilder dump;
    dump.channelByte = static_cast<uint8_t>(k);
    dump.records.assign(dbfile::MaxRecords(k), std::vector<uint8_t>(dbfile::RecordSize(k), 0x11));
    auto file = dump.File();
    EXPECT_EQ(DecodeDatabase(file).check, DatabaseCheck::Ok);
    const uint32_t tooMany = dbfile::MaxRecords(k) + 1;
    file[6] = static_cast<uint8_t>(tooMany & 0xFF);
    file[7] = static_cast<uint8_t>(tooMany >> 8);
    EXPECT_EQ(DecodeDatabase(file).check, DatabaseCheck::TooManyRecords);
  }
  EXPECT_EQ(dbfile::MaxRecords(1), 18724u);
  EXPECT_EQ(dbfile::MaxRecords(10), 5242u);
}

TEST(DatabaseReader, ChecksumRules) {
  DumpBuilder dump;
  dump.Record({1000}).Record({1100}).Record({1200});
  const auto good = dump.File();
  const size_t total = 8 + 3 * 10;
  const size_t text = good.size() - 2;

  auto f = good;
  f[8 + 10 + 3] ^= 0x01;  // inside record 2
  DatabaseContents db = DecodeDatabase(f);
  EXPECT_EQ(db.check, DatabaseCheck::RecordChecksum);
  EXPECT_EQ(db.RecordsRead(), 2u);  // the failed record is still decoded, the third is not read

  f = good;
  f[total] ^= 0x01;
  EXPECT_EQ(DecodeDatabase(f).check, DatabaseCheck::Ok) << "low byte wrong, high byte right";
  f = good;
  f[total + 1] ^= 0x01;
  EXPECT_EQ(DecodeDatabase(f).check, DatabaseCheck::Ok) << "high byte wrong, low byte right";
  f[total] ^= 0x01;
  EXPECT_EQ(DecodeDatabase(f).check, DatabaseCheck::TotalChecksum);

  for (size_t at : {text, text + 1}) {
    f = good;
    f[at] ^= 0x01;
    EXPECT_EQ(DecodeDatabase(f).check, DatabaseCheck::TextChecksum);
  }
}

TEST(DatabaseReader, EveryShortenedFileIsDamaged) {
  DumpBuilder dump;
  dump.channelByte = 0x82;
  dump.Record({1200, 1100}).Record({1300, 1200});
  const auto good = dump.File();
  for (auto bytes : {good, ToOlderLayout(good)}) {
    for (size_t size = 0; size < bytes.size(); ++size) {
      EXPECT_NE(DecodeDatabase(std::span(bytes).first(size)).check, DatabaseCheck::Ok) << size;
    }
  }
}

}  // namespace
}  // namespace velutron::test
