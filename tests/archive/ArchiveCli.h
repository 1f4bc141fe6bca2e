#pragma once

// velutron-cli run on the archive under test, in a folder of the test's own.

#include <string>
#include <vector>

#include "ArchiveEngines.h"
#include "support/SimProcess.h"
#include "support/SimSession.h"

namespace velutron::test {

class ArchiveCliTest : public ArchiveEngineTest {
 protected:
  CommandResult Cli(std::vector<std::string> args) {
    Command c;
    c.argv = {VELUTRON_CLI_PATH, "--archive", location_};
    c.argv.insert(c.argv.end(), args.begin(), args.end());
    c.workDir = work.path().string();
    return RunCommand(c);
  }
  TempDir work;
};

}  // namespace velutron::test
