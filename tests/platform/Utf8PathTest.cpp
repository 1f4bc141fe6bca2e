// A file name with Polish letters, as the user types it (UTF-8), names that very file on disk.

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/Utf8Path.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron {
namespace {

TEST(Utf8Path, APolishNameIsCreatedReplacedReadAndListedAsItself) {
  test::TempDir dir;
  const std::filesystem::path path = dir.path() / PathFromUtf8("Pomiary_żółć.DAT");
  ASSERT_TRUE(WriteFileAtomically(path, std::vector<uint8_t>{1, 2, 3}));
  ASSERT_TRUE(WriteFileAtomically(path, std::vector<uint8_t>{4, 5}));
  EXPECT_EQ(ReadWholeFile(path), (std::vector<uint8_t>{4, 5}));

  // The folder holds the name as the standard spells UTF-8 paths, and nothing else.
  std::vector<std::filesystem::path> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    names.push_back(entry.path().filename());
  EXPECT_EQ(names, std::vector<std::filesystem::path>{std::filesystem::path(u8"Pomiary_żółć.DAT")});
  EXPECT_EQ(Utf8FromPath(names.front()), "Pomiary_żółć.DAT");
}

}  // namespace
}  // namespace velutron
