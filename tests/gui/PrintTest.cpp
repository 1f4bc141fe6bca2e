// Printing the report view: to a file it gives a PDF of the whole report.

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextEdit>

#include "platform/AtomicFile.h"
#include "app/MainWindow.h"
#include "data/DatabaseCommands.h"
#include "data/DatabaseFile.h"
#include "data/Report.h"
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

TEST(PrintTest, PrintingToAFileGivesAPdfOfTheWholeReport) {
  sim::Device device;
  device.GenerateMeasurements(400);
  sim::SimBench bench;
  auto clock = std::make_unique<sim::VirtualClock>();
  auto port = std::make_unique<sim::SimSerialPort>(*clock, bench);
  TForm1 window(std::move(port), std::move(clock), std::nullopt);
  test::TempDir dir;
  Session& s = window.GetSession();
  s.workDir = dir.path();

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

}  // namespace
}  // namespace velutron
