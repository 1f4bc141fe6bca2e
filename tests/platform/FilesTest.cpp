// Reading outside files within bounds, and replacing files whole without overriding how they are
// protected.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/AtomicFile.h"
#include "platform/FileRead.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

void Put(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(FileReadTest, ReadsAtMostOneByteMoreThanTheLimitAndOnlyFromRegularFiles) {
  test::TempDir dir;
  Put(dir.path() / "small", {1, 2, 3});
  Put(dir.path() / "exact", Bytes(8, 7));
  // A sparse file far larger than any valid one: it must not be read whole.
  { std::ofstream(dir.path() / "huge"); }
  fs::resize_file(dir.path() / "huge", 3'000'000'000ULL);
  ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
  fs::create_directory(dir.path() / "folder");

  struct Case {
    fs::path path;
    std::optional<size_t> size;  // nullopt: refused
  };
  const Case cases[] = {
      {dir.path() / "small", 3}, {dir.path() / "exact", 8},   {dir.path() / "huge", 9},
      {dir.path() / "fifo", {}}, {dir.path() / "folder", {}}, {dir.path() / "absent", {}},
      {"/dev/zero", {}},
  };
  for (const Case& c : cases) {
    const auto got = ReadFileAtMost(c.path, 8);
    ASSERT_EQ(got.has_value(), c.size.has_value()) << c.path;
    if (got) {
      EXPECT_EQ(got->size(), *c.size) << c.path;
    }
  }
  EXPECT_EQ(ReadFileAtMost(dir.path() / "small", 8), (Bytes{1, 2, 3}));
}

TEST(AtomicFileTest, ReplacesWholeFilesThroughLinksAndRefusesWhatCannotOrMustNotBeReplaced) {
  const Bytes fresh{'n', 'e', 'w'};
  struct Case {
    const char* what;
    void (*make)(const fs::path& dir);  // makes dir/target (and whatever it points to)
    bool replaced;
  };
  const Case cases[] = {
      {"nothing there yet", [](const fs::path&) {}, true},
      {"a writable file",
       [](const fs::path& d) {
         Put(d / "target", {'o', 'l', 'd'});
       },
       true},
      {"a read-only file",
       [](const fs::path& d) {
         Put(d / "target", {'o', 'l', 'd'});
         fs::permissions(d / "target", fs::perms::owner_read | fs::perms::group_read);
       },
       false},
      {"a folder", [](const fs::path& d) { fs::create_directory(d / "target"); }, false},
      {"a FIFO", [](const fs::path& d) { ::mkfifo((d / "target").c_str(), 0600); }, false},
      {"a link to a device", [](const fs::path& d) { fs::create_symlink("/dev/null", d / "target"); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    c.make(dir.path());
    AtomicFile file(dir.path() / "target");
    ASSERT_EQ(file.Ok(), c.replaced);
    if (c.replaced) {
      ASSERT_TRUE(file.Write(fresh));
      ASSERT_TRUE(file.Commit());
      EXPECT_EQ(ReadWholeFile(dir.path() / "target"), fresh);
    }
    // Never a partial copy left behind.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, fs::exists(fs::symlink_status(dir.path() / "target")) ? 1u : 0u);
  }
}

TEST(AtomicFileTest, ALinkIsKeptAndTheFileItNamesReplacedWithItsPermissions) {
  test::TempDir dir;
  fs::create_directory(dir.path() / "store");
  Put(dir.path() / "store" / "data.DAT", {'o', 'l', 'd'});
  fs::permissions(dir.path() / "store" / "data.DAT", fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink("store/data.DAT", dir.path() / "data.DAT");
  fs::create_symlink("store/new.DAT", dir.path() / "dangling.DAT");

  ASSERT_TRUE(WriteFileAtomically(dir.path() / "data.DAT", Bytes{'n', 'e', 'w'}));
  ASSERT_TRUE(WriteFileAtomically(dir.path() / "dangling.DAT", Bytes{'x'}));

  EXPECT_TRUE(fs::is_symlink(dir.path() / "data.DAT"));
  EXPECT_EQ(ReadWholeFile(dir.path() / "store" / "data.DAT"), (Bytes{'n', 'e', 'w'}));
  EXPECT_EQ(fs::status(dir.path() / "store" / "data.DAT").permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_TRUE(fs::is_symlink(dir.path() / "dangling.DAT"));
  EXPECT_EQ(ReadWholeFile(dir.path() / "store" / "new.DAT"), Bytes{'x'});
}

}  // namespace
}  // namespace velutron
