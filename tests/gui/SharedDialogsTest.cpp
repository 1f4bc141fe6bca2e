// The message, question and input boxes every window shares: their width, the texts they show, and the
// desktop's answer when no program opens a file.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>

#include "app/DesktopUserInterface.h"
#include "support/SimSession.h"

namespace velutron {
namespace {

using namespace std::string_literals;

std::string S(const QString& s) { return s.toStdString(); }

// What a box showed: caption, text, the text offered for editing, and whether it had room for its caption.
struct Shown {
  std::string caption;
  std::string text;
  std::string offered;
  bool captionFits = false;
};

Shown Read(QDialog* d) {
  QFont title = QApplication::font("QMdiSubWindowTitleBar");
  title.setBold(true);
  // Room for the caption and at least the close, maximise and minimise buttons beside it.
  Shown shown{S(d->windowTitle()), "", "",
              d->width() >= QFontMetrics(title).horizontalAdvance(d->windowTitle()) + 100};
  if (auto* box = qobject_cast<QMessageBox*>(d)) shown.text = S(box->text());
  if (auto* input = qobject_cast<QInputDialog*>(d)) {
    shown.text = S(input->labelText());
    shown.offered = S(input->textValue());
  }
  return shown;
}

TEST(SharedDialogsTest, EachBoxIsWideEnoughForItsCaptionAndShowsTextsUpToTheirFirstZeroByte) {
  enum class Kind { Message, Error, Question, Input };
  struct Row {
    Kind kind;
    std::string caption, text, initial;
    Shown expected;
  };
  const Row rows[] = {
      {Kind::Message,
       "Kopia danych z do EEPROM do PC.",
       "Zapisano poprawnie obraz pamięci do pliku:\robraz",
       "",
       {"Kopia danych z do EEPROM do PC.", "Zapisano poprawnie obraz pamięci do pliku:\nobraz", "", true}},
      {Kind::Question,
       "Formatowanie pamięci rejestratora.",
       "Czy napewno?",
       "",
       {"Formatowanie pamięci rejestratora.", "Czy napewno?", "", true}},
      {Kind::Error, "", "Niezdefiniowany kod: 5 !!!", "", {"Error", "Niezdefiniowany kod: 5 !!!", "", true}},
      {Kind::Input,
       "Nazwa pliku:",
       "Wprowadź nazwę pliku konfiguracji:",
       "Config_EEP",
       {"Nazwa pliku:", "Wprowadź nazwę pliku konfiguracji:", "Config_EEP", true}},
      // A logger text that an image put there: nothing after its zero byte is shown or offered.
      {Kind::Message,
       "Odpowiedź",
       "Zapisano: QA\0\x1b]0;x\x07"s,
       "",
       {"Odpowiedź", "Zapisano: QA", "", true}},
      {Kind::Input,
       "Właściciel\0\x1b[2J"s,
       "Tekst:",
       "Hala B\0\x1b[2Jzzz"s,
       {"Właściciel", "Tekst:", "Hala B", true}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.caption + row.text);
    DesktopUserInterface ui;
    std::optional<Shown> shown;
    ui.SetDialogHook([&shown](QDialog* d) {
      shown = Read(d);
      d->reject();
    });
    switch (row.kind) {
      case Kind::Message:
        ui.ShowMessage(row.caption, row.text);
        break;
      case Kind::Error:
        ui.ShowError(row.text);
        break;
      case Kind::Question:
        ui.AskOkCancel(row.caption, row.text);
        break;
      case Kind::Input:
        ui.AskText(row.caption, row.text, row.initial);
        break;
    }
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->caption, row.expected.caption);
    EXPECT_EQ(shown->text, row.expected.text);
    EXPECT_EQ(shown->offered, row.expected.offered);
    EXPECT_EQ(shown->captionFits, row.expected.captionFits);
  }
}

TEST(SharedDialogsTest, AReportThatNoProgramOpensIsNamedInAMessage) {
  test::TempDir dir;
  // The desktop of this machine names no program for CSV files.
  QFile xdgMime(QString::fromStdString((dir.path() / "xdg-mime").string()));
  ASSERT_TRUE(xdgMime.open(QIODevice::WriteOnly));
  xdgMime.write("#!/bin/sh\nexit 0\n");
  xdgMime.close();
  xdgMime.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", QByteArray::fromStdString(dir.path().string()) + ":" + path);
  const std::string report = (dir.path() / "ViewData.CSV").string();
  QFile(QString::fromStdString(report)).open(QIODevice::WriteOnly);

  DesktopUserInterface ui;
  std::vector<Shown> shown;
  ui.SetDialogHook([&shown](QDialog* d) {
    shown.push_back(Read(d));
    d->accept();
  });
  ui.ShellOpen(report);
  qputenv("PATH", path);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "Uwaga !");
  EXPECT_EQ(shown[0].text, "Brak programu do otwarcia pliku:\n" + report);
}

}  // namespace
}  // namespace velutron
