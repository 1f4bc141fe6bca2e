// What the user sees of the main window: caption, size, menu, buttons, and the start-up's dialogs.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

#include "app/AboutBox.h"
#include "app/MainWindow.h"
#include "data/KnownDatabase.h"
#include "data/Workbook.h"
#include "platform/AtomicFile.h"
#include "sim/SimPort.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron {
namespace {

using Lines = std::vector<std::string>;

struct SimWindow {
  SimWindow() {
    bench.ports["COM1"] = {&device, false};
    auto clock = std::make_unique<sim::VirtualClock>();
    auto port = std::make_unique<sim::SimSerialPort>(*clock, bench);
    simPort = port.get();
    window = std::make_unique<TForm1>(std::move(port), std::move(clock), std::nullopt);
    window->GetSession().workDir = dir.path();
  }
  sim::Device device;
  sim::SimBench bench;
  sim::SimSerialPort* simPort = nullptr;
  test::TempDir dir;
  std::unique_ptr<TForm1> window;
  std::vector<std::string> dialogs;  // every dialog answered by RunStartUp's hook
};

std::string S(const QString& s) { return s.toStdString(); }

// Every menu as lines "Menu: caption | shortcut | enabled/disabled [| bold]", separators as "-".
Lines MenuLines(TForm1& w) {
  Lines out;
  for (QAction* top : w.menuBar()->actions()) {
    out.push_back(S(top->text()) + ":");
    for (QAction* a : top->menu()->actions()) {
      if (a->isSeparator()) {
        out.emplace_back("-");
        continue;
      }
      EXPECT_FALSE(a->icon().isNull()) << S(a->text());
      std::string line = S(a->text()) + " | " + S(a->shortcut().toString()) + " | " +
                         (a->isEnabled() ? "enabled" : "disabled");
      if (a->font().bold()) line += " | bold";
      out.push_back(line);
    }
  }
  return out;
}

TEST(MainWindowTest, CaptionSizeLimitsAndBorderIcons) {
  SimWindow sw;
  TForm1& w = *sw.window;
  EXPECT_EQ(S(w.windowTitle()), " ZENTA - Rejestrator temperatury  VELUTRON 32");
  // Client sizes that give the 650 x 427 outer frame (at most 650 x 468) around a classic frame.
  EXPECT_EQ(w.size(), QSize(642, 400));
  EXPECT_EQ(w.maximumSize(), QSize(642, 441));
  EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(w.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_EQ(w.palette().color(QPalette::Window), QColor(0xC0, 0xC0, 0xC0));
  EXPECT_FALSE(w.windowIcon().isNull());
}

TEST(MainWindowTest, MenuHasEveryItemShortcutAndStateInOrder) {
  SimWindow sw;
  EXPECT_EQ(MenuLines(*sw.window), (Lines{
                                       "System:",
                                       "O programie | Ctrl+I | enabled",
                                       "Licencja | Ctrl+L | enabled",
                                       "-",
                                       "Test RS-232 | Ctrl+T | enabled",
                                       "Test 1-Wire | Ctrl+V | enabled",
                                       "-",
                                       "Koniec pracy | Ctrl+X | enabled",
                                       "Bazy danych:",
                                       "Wyczyść bufor | Ctrl+Del | enabled",
                                       "Wydruk bufora | Ctrl+P | enabled",
                                       "Przegląd baz danych | F3 | enabled | bold",
                                       "Wykres bazy danych | Ctrl+G | enabled",
                                       "Eksport do arkusza… | Ctrl+E | enabled",
                                       "Archiwum |  | enabled",
                                       "Archiwizuj bazę danych… |  | enabled",
                                       "-",
                                       "Reset rejestratora | Ctrl+R | enabled",
                                       "-",
                                       "Wykasuj pomiary ! | Ctrl+K | enabled",
                                       "Operacje:",
                                       "Zmiana trybu pracy | F4 | enabled",
                                       "Ustaw czas z PC | F5 | enabled",
                                       "-",
                                       "Kontrola pomiaru | F6 | enabled",
                                       "Nazwa pkt. pomiaru | F7 | enabled",
                                       "-",
                                       "Wczytaj pomiary od 1 do n | F8 | enabled",
                                       "Wczytaj pomiary od n do 1 | F9 | enabled",
                                       "Parametry:",
                                       "Parametry rejestratora | F1 | enabled",
                                       "Parametry czujnika | F2 | enabled",
                                       "-",
                                       "Monitoring rejestratora | F10 | enabled | bold",
                                       "-",
                                       "Zapis obrazu pamięci | Ctrl+S | enabled",
                                       "Wczytanie obrazu pamięci | Ctrl+W | enabled",
                                       "Serwis:",
                                       "Formatowanie pamięci !!! |  | enabled",
                                       "-",
                                       "Liczba czujników |  | enabled",
                                       "Deklarowanie czujnika |  | enabled",
                                       "-",
                                       "Wpis użytkownika |  | enabled",
                                       "Wpis numeru seryjnego |  | enabled",
                                   }));
}

TEST(MainWindowTest, ButtonsViewAndProgressBarAreWhereAndAsTheUserSeesThem) {
  SimWindow sw;
  TForm1& w = *sw.window;
  struct Expected {
    QPushButton* button;
    const char* caption;
    QRect geometry;
    QColor colour;
    bool enabled;
  };
  const Expected buttons[] = {
      {w.BitBtn1, "&Baza danych", {8, 344, 97, 25}, QColor(0x80, 0, 0x80), true},
      {w.BitBtn6, "&Monitoring", {112, 344, 99, 25}, QColor(255, 34, 34), true},
      {w.BitBtn2, "&Zmień tryb", {216, 344, 97, 25}, QColor(0, 0, 0xFF), true},
      {w.BitBtn3, "&Ustaw czas", {320, 344, 97, 25}, QColor(0x80, 0, 0), true},
      {w.BitBtn4, "&Rej. -> 1...N", {424, 344, 97, 25}, QColor(0, 0x80, 0), true},
      {w.BitBtn5, "&Rej. -> N...1", {528, 344, 97, 25}, QColor(0, 0x80, 0), true},
  };
  for (const Expected& e : buttons) {
    EXPECT_EQ(S(e.button->text()), e.caption);
    EXPECT_EQ(e.button->geometry(), e.geometry) << e.caption;
    EXPECT_EQ(e.button->palette().color(QPalette::Active, QPalette::ButtonText), e.colour) << e.caption;
    // A disabled button's caption is greyed like any disabled button's, not drawn in its working colour.
    EXPECT_EQ(e.button->palette().color(QPalette::Disabled, QPalette::ButtonText),
              QApplication::palette(e.button).color(QPalette::Disabled, QPalette::ButtonText))
        << e.caption;
    EXPECT_EQ(e.button->isEnabled(), e.enabled) << e.caption;
    EXPECT_TRUE(e.button->font().bold());
    EXPECT_EQ(e.button->font().pixelSize(), 13);
  }
  EXPECT_EQ(S(w.ViewCSV->toPlainText()), "Test");
  EXPECT_EQ(w.ViewCSV->geometry(), QRect(0, 0, 641, 313));
  EXPECT_EQ(w.ViewCSV->lineWrapMode(), QTextEdit::NoWrap);
  EXPECT_EQ(w.ViewCSV->font().pixelSize(), 15);
  EXPECT_EQ(w.ViewCSV->palette().color(QPalette::Text), QColor(0, 0, 0x80));
  EXPECT_EQ(w.ProgressBar1->geometry(), QRect(8, 320, 625, 17));

  // Tab order as on screen: the view, the bar, then the buttons from left to right.
  const QWidget* order[] = {w.ViewCSV, w.ProgressBar1, w.BitBtn1, w.BitBtn6,
                            w.BitBtn2, w.BitBtn3,      w.BitBtn4, w.BitBtn5};
  std::vector<const QWidget*> chain;
  const QWidget* next = w.ViewCSV;
  do {
    if (std::find(std::begin(order), std::end(order), next) != std::end(order)) chain.push_back(next);
    next = next->nextInFocusChain();
  } while (next != w.ViewCSV && chain.size() < 8);
  EXPECT_EQ(chain, std::vector<const QWidget*>(std::begin(order), std::end(order)));
}

TEST(MainWindowTest, ProgressBarWrapsPastItsMaximumAndEmptiesAtZero) {
  SimWindow sw;
  TForm1& w = *sw.window;
  w.Ui().SetProgressMax(3);
  std::vector<int> seen;
  for (int i = 0; i < 4; ++i) {
    w.Ui().StepProgress();
    seen.push_back(w.ProgressBar1->value());
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 0}));
  w.Ui().SetProgressMax(0);
  EXPECT_EQ(w.ProgressBar1->value(), 0);
  EXPECT_GT(w.ProgressBar1->maximum(), 0);  // an empty bar, not a busy indicator
}

// Shows the window and answers every dialog of the start-up with its first button, recording each.
Lines RunStartUp(SimWindow& sw) {
  Lines& dialogs = sw.dialogs;
  sw.window->Ui().SetDialogHook([&dialogs](QDialog* d) {
    if (auto* box = qobject_cast<QMessageBox*>(d)) {
      const bool error = box->icon() == QMessageBox::Critical;
      dialogs.push_back(S(box->windowTitle()) + (error ? " (error icon)" : "") + ": " + S(box->text()));
      box->buttons().first()->click();
    } else {
      dialogs.push_back(S(d->windowTitle()));
      d->close();
    }
  });
  sw.window->show();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !dialogs.empty() && dialogs.back() == "O programie..."; }, 5000));
  return dialogs;
}

TEST(MainWindowTest, TheViewTakesTheHeightTheWindowGainsAndTakesNoTyping) {
  SimWindow sw;
  TForm1& w = *sw.window;
  EXPECT_EQ(w.minimumSize(), QSize(642, 400));  // never smaller than the form
  RunStartUp(sw);
  w.resize(w.maximumSize());
  QTest::qWait(20);
  EXPECT_EQ(w.ViewCSV->geometry(), QRect(0, 0, 641, 313 + 41));
  EXPECT_EQ(w.ProgressBar1->geometry(), QRect(8, 320 + 41, 625, 17));
  EXPECT_EQ(w.BitBtn5->geometry(), QRect(528, 344 + 41, 97, 25));
  w.resize(w.minimumSize());
  QTest::qWait(20);
  EXPECT_EQ(w.BitBtn5->geometry(), QRect(528, 344, 97, 25));

  // What is printed is what was rendered: typing into the view changes nothing.
  w.Ui().SetReportText("   1; 05-06-2009; 14:05:30; 20,0");
  w.ViewCSV->setFocus();
  QTest::keyClicks(w.ViewCSV, "123");
  QTest::keyClick(w.ViewCSV, Qt::Key_Backspace);
  EXPECT_EQ(S(w.ViewCSV->toPlainText()), "   1; 05-06-2009; 14:05:30; 20,0");
}

TEST(MainWindowTest, FirstShowRunsTheStartUpOnceWithItsDialogsInOrder) {
  SimWindow sw;
  EXPECT_EQ(RunStartUp(sw),
            (Lines{"Uwaga !: Prawdopodobnie brak zbioru konfiguracyjnego.", "O programie..."}));
  EXPECT_EQ(S(sw.window->ViewCSV->toPlainText()), "");
  EXPECT_TRUE(sw.simPort->IsOpen());
  EXPECT_EQ(sw.simPort->SentBytes(), (std::vector<uint8_t>{30, 62}));
  // Hiding and showing again is not a new activation.
  sw.window->hide();
  sw.window->show();
  QTest::qWait(50);
  EXPECT_EQ(sw.window->Ui().AboutBoxes().size(), 1u);
}

TEST(MainWindowTest, PortInUseShowsTheErrorDialogNamingItsHolderBeforeTheAboutBox) {
  SimWindow sw;
  sw.bench.ports["COM1"].inUse = true;
  sw.bench.ports["COM1"].holder = PortHolder{"velutron-station", 4321};
  EXPECT_EQ(RunStartUp(sw),
            (Lines{"Uwaga !: Prawdopodobnie brak zbioru konfiguracyjnego.",
                   "Error (error icon): Niewłaściwa nazwa portu COM1\n lub jest on aktywny !!!\n"
                   "Port zajmuje: velutron-station, pid 4321",
                   "O programie..."}));
}

TEST(MainWindowTest, TheDownloadsBarCountsTheBytesOfTheTotalTheHeaderDeclares) {
  SimWindow sw;
  sw.device.GenerateMeasurements(3000);
  RunStartUp(sw);
  sw.window->Ui().SetDialogHook([](QDialog* d) {
    if (auto* box = qobject_cast<QMessageBox*>(d)) {
      box->button(QMessageBox::Cancel)->click();
    } else {
      qobject_cast<QInputDialog*>(d)->accept();
    }
  });
  QProgressBar* bar = sw.window->ProgressBar1;
  std::vector<std::pair<int, int>> seen;  // maximum, value
  QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) { seen.emplace_back(bar->maximum(), v); });
  sw.window->BitBtn4->click();
  // From the start until the file is written the bar counts the dump's bytes, never going back.
  const int total = static_cast<int>(sw.device.Dump(false).size());
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front().first, total);
  std::vector<int> bytes;
  for (size_t i = 0; i < seen.size() && seen[i].first == total; ++i) bytes.push_back(seen[i].second);
  EXPECT_GT(bytes.size(), 100u);
  EXPECT_TRUE(std::is_sorted(bytes.begin(), bytes.end()));
  EXPECT_EQ(bytes.back(), total);
}

TEST(MainWindowTest, QuitAnsweredCancelKeepsRunningWithThePortOpen) {
  SimWindow sw;
  RunStartUp(sw);
  Lines asked;
  sw.window->Ui().SetDialogHook([&asked](QDialog* d) {
    auto* box = qobject_cast<QMessageBox*>(d);
    asked.push_back(S(box->windowTitle()) + ": " + S(box->text()));
    box->button(QMessageBox::Cancel)->click();
  });
  sw.window->findChild<QAction*>("Koniecpracy1")->trigger();
  EXPECT_EQ(asked, (Lines{"Koniec pracy...: Czy zakończyć program?"}));
  EXPECT_TRUE(sw.simPort->IsOpen());
  EXPECT_TRUE(sw.window->isVisible());
}

TEST(MainWindowTest, AboutItemShowsANewAboutBox) {
  SimWindow sw;
  RunStartUp(sw);
  sw.window->findChild<QAction*>("Oprogramie1")->trigger();
  ASSERT_EQ(sw.window->Ui().AboutBoxes().size(), 2u);
  EXPECT_NE(sw.window->Ui().AboutBoxes()[0].get(), sw.window->Ui().AboutBoxes()[1].get());
}

TEST(MainWindowTest, TheSpreadsheetItemSavesTheChosenDatabaseAsAWorkbookWhereTheUserSays) {
  if (!WorkbookAvailable()) GTEST_SKIP() << "built without libxlsxwriter";
  SimWindow sw;
  const auto folder = QString::fromStdString(sw.dir.path().string());
  ASSERT_TRUE(WriteFileAtomically(sw.dir.path() / "known.DAT", test::KnownDump().File()));
  Lines asked;
  sw.window->Ui().SetDialogHook([&](QDialog* d) {
    auto* files = qobject_cast<QFileDialog*>(d);
    ASSERT_NE(files, nullptr);
    const bool save = files->acceptMode() == QFileDialog::AcceptSave;
    asked.push_back(S(d->windowTitle()) + (save ? ": " + S(files->selectedFiles().value(0)) : ""));
    files->selectFile(folder + (save ? "/out.xlsx" : "/known.DAT"));
    d->accept();  // QFileDialog::accept, as the dialog's button calls it
  });
  sw.window->findChild<QAction*>("Eksportdoarkusza1")->trigger();
  EXPECT_EQ(asked, (Lines{"Wybierz nazwę pliku.", "Eksport do arkusza: " + S(folder) + "/known.xlsx"}));
  const auto workbook = ReadWholeFile(sw.dir.path() / "out.xlsx");
  ASSERT_TRUE(workbook.has_value());
  EXPECT_EQ(std::string(workbook->begin(), workbook->begin() + 2), "PK");
}

}  // namespace
}  // namespace velutron
