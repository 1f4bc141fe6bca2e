// A pause in the logger's dump, as a busy PC or a USB adapter's latency timer makes one: waited out up
// to a second while the header declares more, and refused as a cut dump beyond that.

#include <gtest/gtest.h>

#include "CliRun.h"
#include "data/DatabaseFile.h"
#include "support/SimProcess.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron {
namespace {

TEST(CliStallTest, ADownloadSurvivesAPauseUnderASecondAndRefusesALongerOne) {
  struct Case {
    const char* pauseMs;
    int exitCode;
    std::string lastLine;
  };
  const Case cases[] = {
      {"600", 0, "[Transmisja OK.] Plik: data\nzapisany poprawnie.\nCzy otworzyć wczytane dane? -> Anuluj\n"},
      {"1600", 1, "[Uwaga !] Przerwanie transmisji pliku !!!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pauseMs);
    test::TempDir work;
    const auto sim =
        test::StartSim({"--records", "60", "--dump-pause-after", "200", "--dump-pause-ms", c.pauseMs});
    ASSERT_TRUE(sim->Ready());
    const test::CommandResult d =
        RunCommand(test::CliCommand(*sim, work.path(), {"--port", "COM1", "--even", "download", "data"}));
    EXPECT_EQ(d.exitCode, c.exitCode) << d.err;
    EXPECT_EQ(d.out, "[Nazwa pliku:] Wprowadź nazwę pliku [1..N]: data\n" + c.lastLine);
    const auto file = ReadWholeFile(work.path() / "data.DAT");
    EXPECT_EQ(file.has_value(), c.exitCode == 0);
    if (file) {
      EXPECT_EQ(DecodeDatabase(*file).RecordsRead(), 60u);
    }
  }
}

}  // namespace
}  // namespace velutron
