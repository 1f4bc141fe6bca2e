// The archive in the desktop program: "Archiwizuj bazę danych…" shows what each file added, and the
// "Archiwum" window shows a chosen period's chart and statistics and prints its report.

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "app/MainWindow.h"
#include "archive/ArchiveWindow.h"
#include "archive/Database.h"
#include "archive/Import.h"
#include "archive/Summary.h"
#include "data/ChartWindow.h"
#include "data/KnownDatabase.h"
#include "platform/AtomicFile.h"
#include "platform/FileRead.h"
#include "sim/SimPort.h"
#include "support/ScriptedUi.h"
#include "support/SimSession.h"

namespace velutron {
namespace {

std::string S(const QString& s) { return s.toStdString(); }

TEST(ArchiveWindowTest, ArchivingADatabaseShowsItsCountsAndTwiceShowsThemAlreadyPresent) {
  sim::Device device;
  sim::SimBench bench;
  bench.ports["COM1"] = {&device, false};
  auto clock = std::make_unique<sim::VirtualClock>();
  auto port = std::make_unique<sim::SimSerialPort>(*clock, bench);
  TForm1 window(std::move(port), std::move(clock), std::nullopt);
  test::TempDir dir;
  window.GetSession().workDir = dir.path();
  ASSERT_TRUE(WriteFileAtomically(dir.path() / "known.DAT", test::KnownDump().File()));
  ASSERT_TRUE(WriteFileAtomically(dir.path() / "notes.DAT", std::vector<uint8_t>{'H', 'a', 'l', 'a'}));
  std::string chosen = "notes.DAT";
  std::vector<std::string> messages;
  window.Ui().SetDialogHook([&](QDialog* d) {
    if (auto* files = qobject_cast<QFileDialog*>(d)) {
      files->selectFile(QString::fromStdString((dir.path() / chosen).string()));
      static_cast<QDialog*>(files)->accept();
    } else if (auto* box = qobject_cast<QMessageBox*>(d)) {
      messages.push_back(S(box->windowTitle()) + ": " + S(box->text()));
      box->buttons().first()->click();
    }
  });
  // A file that is no database leaves no archive behind.
  window.ArchiwizujClick();
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "velutron.db"));
  chosen = "known.DAT";
  window.ArchiwizujClick();
  window.ArchiwizujClick();
  EXPECT_EQ(messages, (std::vector<std::string>{
                          "Błąd bazy danych!: Uszkodzenie struktury bazy danych !",
                          "Archiwizacja: known.DAT (Zakład Testowy): dodane 12, już obecne 0, w konflikcie "
                          "0, bez poprawnej daty 1",
                          "Archiwizacja: known.DAT (Zakład Testowy): dodane 0, już obecne 12, w konflikcie "
                          "0, bez poprawnej daty 1",
                      }));
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "velutron.db"));
}

TEST(ArchiveWindowTest, ADownloadOffersTheArchiveAfterItsOwnQuestionsAndAnsweredOkArchivesTheFile) {
  sim::Device device;
  device.GenerateMeasurements(5);
  sim::SimBench bench;
  bench.ports["COM1"] = {&device, false};
  auto clock = std::make_unique<sim::VirtualClock>();
  auto port = std::make_unique<sim::SimSerialPort>(*clock, bench);
  TForm1 window(std::move(port), std::move(clock), std::nullopt);
  test::TempDir dir;
  window.GetSession().workDir = dir.path();
  std::vector<std::string> dialogs;
  // Five records of four channels. The input box takes "pomiary"; the download's question is answered
  // Cancel, the archive's OK.
  window.Ui().SetDialogHook([&](QDialog* d) {
    if (auto* input = qobject_cast<QInputDialog*>(d)) {
      dialogs.push_back("input: " + S(input->windowTitle()));
      input->setTextValue("pomiary");
      input->accept();
    } else if (auto* box = qobject_cast<QMessageBox*>(d)) {
      dialogs.push_back(S(box->windowTitle()) + ": " + S(box->text()));
      QAbstractButton* cancel = box->button(QMessageBox::Cancel);
      (cancel != nullptr && S(box->windowTitle()) != "Archiwizacja" ? cancel : box->buttons().first())
          ->click();
    } else {
      dialogs.push_back(S(d->windowTitle()));
      d->close();
    }
  });
  window.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.empty() && dialogs.back() == "O programie..."; }, 5000));
  dialogs.clear();
  window.findChild<QAction*>("Wczytajpomiaryod1don1")->trigger();
  EXPECT_EQ(dialogs, (std::vector<std::string>{
                         "input: Nazwa pliku:",
                         "Transmisja OK.: Plik: pomiary\nzapisany poprawnie.\nCzy otworzyć wczytane dane?",
                         "Archiwizacja: Czy dodać pobrane pomiary do archiwum?",
                         "Archiwizacja: pomiary.DAT (Northfield Cold Store, Hall B): dodane 20, już obecne "
                         "0, w konflikcie 0",
                     }));
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "velutron.db"));
}

// The window reads the archive: one that is not there is said so, and not made.
TEST(ArchiveWindowTest, AMissingArchiveIsSaidSoAndNotMade) {
  test::TempDir dir;
  test::ScriptedUi ui;
  const std::string missing = (dir.path() / "velutron.db").string();
  ArchiveWindow window(missing, "Europe/Warsaw", ui);
  EXPECT_FALSE(window.Opened());
  EXPECT_EQ(ui.events, (std::vector<std::string>{"message|Uwaga !|Nie można otworzyć archiwum " + missing +
                                                 " !\rno such file"}));
  EXPECT_FALSE(std::filesystem::exists(missing));
}

// An archive without readings says so as the window opens, which proposes today, in the archive's zone.
TEST(ArchiveWindowTest, AnEmptyArchiveIsSaidSoAtOnceAndTodayIsProposed) {
  test::TempDir dir;
  test::ScriptedUi ui;
  const std::string location = (dir.path() / "velutron.db").string();
  std::string error;
  ASSERT_TRUE(archive::OpenPeriodArchive(location, error)) << error;
  auto zone = archive::TimeZone::Named("Asia/Tokyo", error);
  auto today = [&zone] {
    return QDateTime::currentDateTimeUtc().addSecs(zone->OffsetAt(QDateTime::currentSecsSinceEpoch())).date();
  };
  const QDate before = today();
  ArchiveWindow window(location, "Asia/Tokyo", ui);
  const QDate after = today();
  EXPECT_TRUE(window.Opened());
  EXPECT_EQ(S(window.Status()->text()), "Archiwum nie zawiera jeszcze pomiarów !");
  EXPECT_TRUE(ui.events.empty());
  const QDate from = window.From()->dateTime().date();
  EXPECT_TRUE(from == before || from == after) << S(from.toString());
  EXPECT_EQ(window.From()->time(), QTime(0, 0));
  EXPECT_EQ(window.To()->dateTime(), window.From()->dateTime().addDays(1));
}

uint8_t Bcd(int v) { return static_cast<uint8_t>(v / 10 * 16 + v % 10); }

class ArchiveWindowPeriodTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Hala B late on 1 December 2026 and at midnight: channel 1 20, 22.5, 25, 21.5; channel 2 21 °C.
    test::DumpBuilder dump;
    dump.channelByte = 2;
    dump.owner = "Hala B";
    dump.pointNames = {"Komora", "Rampa"};
    const std::vector<std::tuple<int, int, int, uint16_t>> records = {
        {1, 23, 20, 1200}, {1, 23, 30, 1240}, {1, 23, 40, 1280}, {2, 0, 0, 1224}};
    for (auto [day, hour, minute, raw] : records)
      dump.Record({raw, 1216}, Bcd(day), 0x12, 26, Bcd(hour), Bcd(minute), 0);
    std::string error;
    auto archive = archive::OpenPeriodArchive(location_, error);
    auto zone = archive::TimeZone::Named("Europe/Warsaw", error);
    archive::ImportResult result;
    ASSERT_TRUE(archive && zone) << error;
    ASSERT_TRUE(archive::ImportDatabase(*archive, DecodeDatabase(dump.File()), "", *zone, result, error))
        << error;
  }
  test::TempDir dir;
  std::string location_ = (dir.path() / "velutron.db").string();
  test::ScriptedUi ui;
};

QDateTime Wall(int day, int hour) { return QDateTime(QDate(2026, 12, day), QTime(hour, 0), Qt::UTC); }

TEST_F(ArchiveWindowPeriodTest, AChosenPeriodAndChannelShowTheirStatisticsAndChart) {
  ArchiveWindow window(location_, "Europe/Warsaw", ui);
  ASSERT_TRUE(window.Opened());
  ASSERT_EQ(window.Loggers()->count(), 1);
  EXPECT_EQ(S(window.Loggers()->currentText()), "Hala B");
  ASSERT_EQ(window.Channels()->count(), 2);
  EXPECT_EQ(S(window.Channels()->item(0)->text()), "1. Komora [°C]");
  EXPECT_EQ(S(window.Channels()->item(1)->text()), "2. Rampa [°C]");
  // The last week up to the midnight after the last reading, no earlier than the first reading's day.
  EXPECT_EQ(window.From()->dateTime(), Wall(1, 0));
  EXPECT_EQ(window.To()->dateTime(), Wall(3, 0));

  struct Row {
    std::string name;
    QDateTime from, to;
    bool second;  // channel 2 checked
    std::vector<std::string> messages;
    std::vector<std::string> header;  // the statistics table's channels
    std::string minimum, mean;        // the first channel's
    bool first = true;                // channel 1 checked
  };
  const std::vector<Row> rows = {
      {"the whole period",
       Wall(1, 0),
       Wall(3, 0),
       true,
       {},
       {"", "1. Komora [°C]", "2. Rampa [°C]"},
       "20,0 °C",
       "22,25 °C"},
      {"the first day, channel 1",
       Wall(1, 0),
       Wall(2, 0),
       false,
       {},
       {"", "1. Komora [°C]"},
       "20,0 °C",
       "22,50 °C"},
      {"the first day, channel 2",
       Wall(1, 0),
       Wall(2, 0),
       true,
       {},
       {"", "2. Rampa [°C]"},
       "21,0 °C",
       "21,00 °C",
       false},
      {"no channel",
       Wall(1, 0),
       Wall(2, 0),
       false,
       {"message|Uwaga !|Wybierz co najmniej jeden kanał !"},
       {},
       "",
       ""},
      {"the end before the start",
       Wall(2, 0),
       Wall(1, 0),
       true,
       {"message|Uwaga !|Początek okresu musi poprzedzać jego koniec !"},
       {},
       "",
       ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ui.events.clear();
    window.From()->setDateTime(row.from);
    window.To()->setDateTime(row.to);
    window.Channels()->item(0)->setCheckState(row.first && row.name != "no channel" ? Qt::Checked : Qt::Unchecked);
    window.Channels()->item(1)->setCheckState(row.second ? Qt::Checked : Qt::Unchecked);
    EXPECT_EQ(window.ShowPeriod(), row.messages.empty());
    EXPECT_EQ(ui.events, row.messages);
    if (!row.messages.empty()) continue;
    QTableWidget* t = window.Statistics();
    std::vector<std::string> header;
    for (int c = 0; c < t->columnCount(); ++c) header.push_back(S(t->horizontalHeaderItem(c)->text()));
    EXPECT_EQ(header, row.header);
    EXPECT_EQ(S(t->item(3, 0)->text()), "Minimum");
    EXPECT_EQ(S(t->item(3, 1)->text()), row.minimum);
    EXPECT_EQ(S(t->item(7, 0)->text()), "Średnia");
    EXPECT_EQ(S(t->item(7, 1)->text()), row.mean);
    ASSERT_NE(window.Chart(), nullptr);
    EXPECT_EQ(window.Chart()->Data().lines.size(), row.header.size() - 1);
    // Each channel keeps its colour whichever others are shown.
    for (const ChartLine& line : window.Chart()->Data().lines)
      EXPECT_EQ(line.colour, line.name.starts_with("1.") ? 0 : 1) << line.name;
  }

  // A reading changed under the archive (by SQL) after the station summarized its hour: the figures are
  // those of the readings as they are now, and the window names the hour.
  {
    constexpr int64_t kHour = 1'796'162'400;  // 2026-12-01T22:00:00Z, 23:00 in Warsaw
    std::string error;
    auto archive = archive::OpenPeriodArchive(location_, error);
    const auto logger = archive ? archive->FindLogger("Hala B", error) : std::nullopt;
    ASSERT_TRUE(logger) << error;
    archive::PeriodSummaries kept;
    ASSERT_TRUE(archive->Summaries(*logger, kHour / 3600, kHour / 3600 + 2, kept, error)) << error;
    auto db = archive::OpenSqlite(location_, error);
    ASSERT_TRUE(db && db->Exec("UPDATE readings SET v = v + 32 WHERE t = " + std::to_string(kHour + 1800) +
                                   " AND series = (SELECT id FROM series WHERE channel = 1)",
                               error))
        << error;
  }
  ui.events.clear();
  window.From()->setDateTime(Wall(1, 0));
  window.To()->setDateTime(Wall(3, 0));
  EXPECT_TRUE(window.ShowPeriod());
  EXPECT_EQ(ui.events, (std::vector<std::string>{"message|Uwaga !|Godziny zmienione od ich podsumowania:\r1: "
                                                 "2026-12-01T23:00:00+01:00 .. 2026-12-02T00:00:00+01:00"}));
  EXPECT_EQ(S(window.Statistics()->item(7, 1)->text()), "22,50 °C");

  // "Raport PDF…" writes the document where the user chose.
  window.From()->setDateTime(Wall(1, 0));
  window.To()->setDateTime(Wall(3, 0));
  window.SetPdfChooser([&](QWidget*, const QString& proposed) -> std::optional<QString> {
    EXPECT_EQ(S(proposed), "Raport_Hala_B_2026-12-01.pdf");
    return QString::fromStdString((dir.path() / "raport.pdf").string());
  });
  window.findChild<QPushButton*>("ReportPdf")->click();
  const auto pdf = ReadFileAtMost(dir.path() / "raport.pdf", 1 << 24);
  ASSERT_TRUE(pdf);
  EXPECT_EQ(std::string(pdf->begin(), pdf->begin() + 5), "%PDF-");
}

}  // namespace
}  // namespace velutron
