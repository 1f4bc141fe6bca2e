// velutron-cli export and chart: what other tools get, on standard output or in files.

#include <gtest/gtest.h>

#include "data/Export.h"
#include "data/KnownDatabase.h"
#include "platform/AtomicFile.h"
#include "support/SimProcess.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron {
namespace {

using test::CommandResult;

class CliExportTest : public ::testing::Test {
 protected:
  CliExportTest() {
    EXPECT_TRUE(WriteFileAtomically(work.path() / "known.DAT", test::KnownDump().File()));
    EXPECT_TRUE(WriteFileAtomically(work.path() / "damaged.DAT", std::vector<uint8_t>{0xFF, 0xFE, 0x01}));
  }
  CommandResult Cli(std::vector<std::string> args) {
    test::Command c;
    c.argv = {VELUTRON_CLI_PATH};
    c.argv.insert(c.argv.end(), args.begin(), args.end());
    c.workDir = work.path().string();
    return RunCommand(c);
  }
  std::string File(const std::string& name) const {
    const auto bytes = ReadWholeFile(work.path() / name);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("(none)");
  }
  test::TempDir work;
  const DatabaseContents known = DecodeDatabase(test::KnownDump().File());
};

TEST_F(CliExportTest, ExportGoesToStandardOutputOrItsFileWithMessagesKeptOutOfIt) {
  const std::string csv = ExportDatabase(known, ExportFormat::Csv, "known.DAT");
  const std::string json = ExportDatabase(known, ExportFormat::Json, "known.DAT");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {{"export", "known.DAT", "--format", "csv"}, 0, csv, ""},
      {{"--json", "export", "known.DAT", "--format", "json"},
       0,
       json,
       "{\"type\":\"result\",\"outcome\":\"completed\"}\n"},
      {{"export", "known.DAT", "--format", "json", "--out", "known.json"}, 0, "", ""},
      {{"export", "damaged.DAT", "--format", "csv"},
       1,
       "",
       "[Błąd bazy danych!] Uszkodzenie struktury bazy danych !\n"},
      {{"export", "known.DAT", "--format", "csv", "--out", "no/such/folder.csv"},
       1,
       "[Uwaga !] Blokada zapisu pliku na dysku !\n",
       ""},
  };
  for (const Case& c : cases) {
    const CommandResult r = Cli(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args.back();
    EXPECT_EQ(r.out, c.out) << c.args.back();
    EXPECT_EQ(r.err, c.err) << c.args.back();
  }
  EXPECT_EQ(File("known.json"), json);
  EXPECT_EQ(Cli({"export", "known.DAT", "--format", "xml"}).exitCode, 2);
}

TEST_F(CliExportTest, ChartIsDrawnWithoutADisplayAsPngOfTheSizeAskedOrSvg) {
#ifndef VELUTRON_CHARTS
  GTEST_SKIP() << "built without the drawing program";
#endif
  const CommandResult png =
      Cli({"chart", "known.DAT", "--out", "known.png", "--width", "640", "--height", "480"});
  EXPECT_EQ(png.exitCode, 0) << png.err;
  const std::string picture = File("known.png");
  ASSERT_GT(picture.size(), 24u);
  EXPECT_EQ(picture.substr(1, 3), "PNG");
  // IHDR: width and height, big-endian, at bytes 16 and 20.
  EXPECT_EQ(picture.substr(16, 8), std::string("\0\0\x02\x80\0\0\x01\xE0", 8));

  EXPECT_EQ(Cli({"chart", "known.DAT", "--out", "known.jpg"}).exitCode, 2);
  EXPECT_EQ(Cli({"chart", "damaged.DAT", "--out", "damaged.png"}).exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(work.path() / "damaged.png"));
}

TEST_F(CliExportTest, ChartPlacesEveryRecordAndRefusesAFileWithNothingToDraw) {
#ifndef VELUTRON_CHARTS
  GTEST_SKIP() << "built without the drawing program";
#endif
  test::DumpBuilder noTime;
  noTime.Record({1200}, 0x05, 0x13).Record({1208}, 0x05, 0x13);
  test::DumpBuilder noValue;
  noValue.Record({0}).Record({4003});
  ASSERT_TRUE(WriteFileAtomically(work.path() / "notime.DAT", noTime.File()));
  ASSERT_TRUE(WriteFileAtomically(work.path() / "novalue.DAT", noValue.File()));
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string out;
    std::string inPicture;  // a text the SVG holds
  };
  const std::vector<Case> cases = {
      {{"--locale", "pl_PL", "chart", "known.DAT", "--out", "a.SVG"}, 0, "", "<title>known.DAT</title>"},
      {{"--locale", "pl_PL", "chart", "known.DAT", "--out", "b.svg"}, 0, "", ">22,5</text>"},
      {{"--locale", "en_US", "chart", "known.DAT", "--out", "c.svg"}, 0, "", ">22.5</text>"},
      {{"chart", "notime.DAT", "--out", "d.svg"}, 0, "", ">Numer rekordu (brak poprawnego czasu)</text>"},
      {{"chart", "novalue.DAT", "--out", "e.svg"},
       1,
       "[Uwaga !] Brak pomiarów do narysowania wykresu !\n",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[c.args.size() - 3]);
    const CommandResult r = Cli(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_EQ(r.out, c.out);
    const std::string svg = File(c.args.back());
    if (c.inPicture.empty()) {
      EXPECT_EQ(svg, "(none)");
    } else {
      EXPECT_NE(svg.find(c.inPicture), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace velutron
