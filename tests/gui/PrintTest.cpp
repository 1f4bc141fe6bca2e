// Printing the report view: to a file it gives a PDF of the whole report.

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextEdit>
#include <cstdio>

#include "app/MainWindow.h"
#include "data/DatabaseCommands.h"
#include "data/DatabaseFile.h"
#include "data/DumpBuilder.h"
#include "data/Report.h"
#include "platform/AtomicFile.h"
#include "sim/SimPort.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron {
namespace {

int CountPages(const std::vector<uint8_t>& pdf) {
  const std::string text(pdf.begin(), pdf.end());
  int pages = 0;
  for (size_t at = text.find("/Type /Page"); at != std::string::npos; at = text.find("/Type /Page", at + 1)) {
    if (text.compare(at, 12, "/Type /Pages") != 0) ++pages;
  }
  return pages;
}

// The main window on a simulated machine, working in a private folder.
struct PrintTest : ::testing::Test {
  static std::unique_ptr<TForm1> MakeWindow(sim::SimBench& bench) {
    auto clock = std::make_unique<sim::VirtualClock>();
    auto port = std::make_unique<sim::SimSerialPort>(*clock, bench);
    return std::make_unique<TForm1>(std::move(port), std::move(clock), std::nullopt);
  }
  PrintTest() { s.workDir = dir.path(); }
  sim::SimBench bench;
  std::unique_ptr<TForm1> owned = MakeWindow(bench);
  TForm1& window = *owned;
  test::TempDir dir;
  Session& s = window.GetSession();
};

TEST_F(PrintTest, PrintingToAFileGivesAPdfOfTheWholeReport) {
  sim::Device device;
  device.GenerateMeasurements(400);

  std::vector<uint8_t> database;
  ASSERT_EQ(EncodeDatabase(device.Dump(false), database), DatabaseWriteResult::Ok);
  ASSERT_TRUE(WriteFileAtomically(dir.path() / "data.DAT", database));

  const std::string pdf = (dir.path() / "report.pdf").string();
  std::vector<std::string> dialogs;
  window.Ui().SetDialogHook([&](QDialog* dialog) {
    if (auto* print = qobject_cast<QPrintDialog*>(dialog)) {
      dialogs.push_back("print");
      // A page range chosen in the dialog does not narrow the printout.
      print->printer()->setPrintRange(QPrinter::PageRange);
      print->printer()->setFromTo(1, 1);
      print->printer()->setOutputFileName(QString::fromStdString(pdf));
      print->done(QDialog::Accepted);  // as if confirmed, keeping the settings made here
    } else if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
      dialogs.push_back(box->text().toStdString());
      box->reject();
    }
  });

  // Nothing to print yet.
  EXPECT_EQ(Wydrukbufora1Click(s), Outcome::Failed);
  EXPECT_FALSE(std::filesystem::exists(pdf));

  s.report.DatabaseFileName = (dir.path() / "data.DAT").string();
  ASSERT_EQ(ViewBufor(s), Outcome::Completed);
  EXPECT_EQ(Wydrukbufora1Click(s), Outcome::Completed);

  EXPECT_EQ(dialogs, (std::vector<std::string>{"Pusty bufor - brak danych do wydruku !!!",
                                               "Czy otworzyć dane w arkuszu Excel?", "print"}));
  const auto bytes = ReadWholeFile(pdf);
  ASSERT_TRUE(bytes.has_value());
  ASSERT_GT(bytes->size(), 4u);
  EXPECT_EQ(std::string(bytes->begin(), bytes->begin() + 4), "%PDF");
  // 400 record lines and the summary do not fit one page; every page is there.
  const int lines = window.ViewCSV->document()->blockCount();
  EXPECT_GT(lines, 400);
  EXPECT_GE(CountPages(*bytes), 5);
}

// What a program prints on its standard output; empty when it cannot run.
std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

// Runs of spaces as one, none at the ends: how a line reads whatever the text extraction's spacing.
std::string Words(std::string_view line) {
  std::string out;
  for (char c : line) {
    if (c == '\f' || (c == ' ' && (out.empty() || out.back() == ' '))) continue;  // \f: a new page
    out += c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

TEST_F(PrintTest, EveryColumnOfATenChannelHumidityReportIsOnThePrintedPage) {
  if (Output("command -v pdftotext pdfinfo").empty()) GTEST_SKIP() << "poppler-utils is not installed";

  // The widest lines: ten cells of the longest texts with the switching column and ON, and the
  // closing line with the database's whole path.
  test::DumpBuilder dump;
  dump.channelByte = 0x8A;
  dump.threshold = 25;
  dump.pointNames = {"Hala A", "Hala A mokry"};
  dump.Record({1200, 1184, 0xFFF0, 1000, 1200, 1184, 1200, 1184, 1200, 1184}, 0x05, 0x06, 9,
              0x80 | 0x40 | 0x14)
      .Record({1300, 1184, 1300, 1190, 1300, 1200, 1300, 1210, 1300, 1220})
      .Record({1000, 0, 1016, 900, 1100, 1099, 1110, 1100, 1120, 1100});
  const auto database = dir.path() / "RT_05-06-2009_14`05_Hala_A_i_Hala_B.DAT";
  ASSERT_TRUE(WriteFileAtomically(database, dump.File()));
  s.report.DatabaseFileName = database.string();
  const std::string pdf = (dir.path() / "report.pdf").string();
  window.Ui().SetDialogHook([&](QDialog* dialog) {
    if (auto* print = qobject_cast<QPrintDialog*>(dialog)) {
      print->printer()->setOutputFileName(QString::fromStdString(pdf));
      print->done(QDialog::Accepted);
    } else if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
      box->reject();
    }
  });
  ASSERT_EQ(ViewBufor(s), Outcome::Completed);
  ASSERT_EQ(Wydrukbufora1Click(s), Outcome::Completed);

  const std::string printed = Output("pdftotext -layout '" + pdf + "' -");
  std::vector<std::string> pageLines;
  for (size_t from = 0, at; (at = printed.find('\n', from)) != std::string::npos; from = at + 1) {
    pageLines.push_back(Words(std::string_view(printed).substr(from, at - from)));
  }
  const QStringList lines = window.ViewCSV->toPlainText().split('\n');
  size_t widest = 0;
  for (const QString& line : lines) widest = std::max(widest, static_cast<size_t>(line.size()));
  EXPECT_GT(widest, 110u);  // at the view's size a portrait page holds about 70 characters
  for (const QString& line : lines) {
    const std::string words = Words(line.toStdString());
    if (words.empty()) continue;
    EXPECT_NE(std::find(pageLines.begin(), pageLines.end(), words), pageLines.end()) << words;
  }
  // Landscape keeps such a report larger.
  int width = 0, height = 0;
  const std::string info = Output("pdfinfo '" + pdf + "'");
  const size_t size = info.find("Page size:");
  ASSERT_NE(size, std::string::npos) << info;
  ASSERT_EQ(std::sscanf(info.c_str() + size, "Page size: %d x %d", &width, &height), 2) << info;
  EXPECT_GT(width, height);
}

}  // namespace
}  // namespace velutron
