#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "DumpBuilder.h"
#include "platform/AtomicFile.h"
#include "session/Session.h"
#include "data/Report.h"
#include "sim/SimPort.h"
#include "sim/VirtualClock.h"
#include "support/ScriptedUi.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron::test {

// Captures the open dialog's settings, which the scripted interface does not record.
struct DialogCapturingUi : ScriptedUi {
  FileDialogSpec lastDialog;
  std::optional<std::string> ChooseFileToOpen(const FileDialogSpec& request) override {
    lastDialog = request;
    return ScriptedUi::ChooseFileToOpen(request);
  }
};

// A session that never touches the port, clock at 05-06-2009 14:05:30, in a private directory.
class ReportFixture : public ::testing::Test {
 protected:
  ReportFixture() {
    s.workDir = dir.path();
    dotSession.workDir = dir.path();
  }

  void Store(const std::vector<uint8_t>& file, const std::string& name = "RT_test.DAT") {
    ASSERT_TRUE(WriteFileAtomically(dir.path() / name, file));
  }
  Outcome Render(const std::vector<uint8_t>& file, Session& session) {
    Store(file);
    session.report.DatabaseFileName = "RT_test.DAT";
    return ViewBufor(session);
  }
  Outcome Render(const std::vector<uint8_t>& file) { return Render(file, s); }

  bool ReportExists() const { return std::filesystem::exists(dir.path() / kReportFileName); }
  std::string Report() const {
    const auto bytes = ReadWholeFile(dir.path() / kReportFileName);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
  }
  std::vector<std::string> ReportLines() const {
    std::vector<std::string> lines;
    const std::string text = Report();
    size_t from = 0;
    for (size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2) {
      lines.push_back(text.substr(from, at - from));
    }
    lines.push_back(text.substr(from));
    return lines;
  }

  sim::VirtualClock clock;
  sim::SimBench bench;
  sim::SimSerialPort port{clock, bench};
  DialogCapturingUi ui;
  FixedLocale comma{","};
  FixedLocale dot{"."};
  TempDir dir;
  Session s{port, clock, ui, comma};
  Session dotSession{port, clock, ui, dot};
};

}  // namespace velutron::test
