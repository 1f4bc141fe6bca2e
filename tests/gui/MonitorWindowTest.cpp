// The monitoring window: what the user sees, how it closes, and that no refresh runs after it closed or
// inside another one.

#include <gtest/gtest.h>

#include <QAction>
#include <QFileDialog>
#include <QFontInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include "app/DesktopUserInterface.h"
#include "app/MainWindow.h"
#include "monitor/MonitorWindow.h"
#include "platform/AtomicFile.h"
#include "sim/SimPort.h"
#include "support/SimSession.h"

namespace velutron {
namespace {

std::string S(const QString& s) { return s.toStdString(); }

MonitorView FourChannels() {
  MonitorView v;
  v.channelCount = 4;
  v.header = "Liczba kanałów: 4\r- rej. temperatury.";
  v.time = "14:05:30";
  v.date = " 5-06-2009";
  const ValueColour colours[] = {ValueColour::Green, ValueColour::Blue, ValueColour::Red, ValueColour::Red};
  for (int j = 0; j < 4; ++j) {
    v.rows[j] = {std::to_string(j + 1) + ". Hala", "-5°C<AL>25°C", "21,4°C", "Min:20,5°C Max:23,1°C",
                 colours[j]};
  }
  return v;
}

void Click(QLabel* label) {
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(label, &release);
}

TEST(MonitorWindowTest, CaptionSizeLabelsFontsAndColoursAreAsTheFormGivesThem) {
  const MonitorView view = FourChannels();
  TForm6 w(view, [] { return true; });
  EXPECT_EQ(S(w.windowTitle()), "Monitoring pracy rejestratora");
  // Client width 519; outer height 25 * 4 + 100 around the classic frame.
  EXPECT_EQ(w.size(), QSize(519, 200 - 27));
  EXPECT_EQ(w.minimumSize(), w.maximumSize());
  EXPECT_TRUE(w.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(w.palette().color(QPalette::Window), QColor(255, 255, 255));
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_LE((w.geometry().center() - screen.center()).manhattanLength(), 2);

  struct Expected {
    int label, x, y, pixels;
    QColor colour;
    std::string text;
  };
  const QColor blue(0, 0, 255), maroon(128, 0, 0), fuchsia(255, 0, 255), purple(128, 0, 128);
  const Expected labels[] = {
      {1, 56, 24, 19, blue, "14:05:30"},
      {3, 136, 24, 19, blue, " 5-06-2009"},
      {2, 312, 16, 15, blue, "Liczba kanałów: 4\n- rej. temperatury."},
      {4, 8, 64, 13, maroon, "1. Hala"},
      {27, 160, 136, 13, fuchsia, "-5°C<AL>25°C"},
      {14, 272, 64, 15, QColor(0, 128, 0), "21,4°C"},
      {15, 272, 88, 15, blue, "21,4°C"},
      {16, 272, 112, 15, QColor(255, 0, 0), "21,4°C"},
      {43, 336, 280, 13, purple, ""},
      {37, 336, 136, 13, purple, "Min:20,5°C Max:23,1°C"},
  };
  for (const Expected& e : labels) {
    const QLabel* l = w.Label(e.label);
    EXPECT_EQ(l->pos(), QPoint(e.x, e.y)) << e.label;
    EXPECT_EQ(l->font().pixelSize(), e.pixels) << e.label;
    EXPECT_TRUE(l->font().bold()) << e.label;
    EXPECT_EQ(l->palette().color(QPalette::WindowText), e.colour) << e.label;
    EXPECT_EQ(S(l->text()), e.text) << e.label;
  }
  EXPECT_EQ(w.Label(1)->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(w.Label(3)->cursor().shape(), Qt::PointingHandCursor);
  // The seven-segment face when installed, a monospace one otherwise; the time fits before the date.
  EXPECT_TRUE(QFontInfo(w.Label(1)->font()).family().startsWith("DSEG7") ||
              QFontInfo(w.Label(1)->font()).fixedPitch());
  EXPECT_LE(w.Label(1)->geometry().right(), w.Label(3)->x());
  EXPECT_LE(w.Label(3)->geometry().right(), w.Bevel1->geometry().right());
  EXPECT_EQ(w.Bevel1->geometry(), QRect(8, 8, 249, 49));
  EXPECT_EQ(w.Bevel2->geometry(), QRect(264, 8, 249, 49));
  EXPECT_EQ(w.Image1->pixmap().size(), QSize(32, 32));
  EXPECT_EQ(w.Image2->pixmap().size(), QSize(16, 48));
  EXPECT_EQ(w.Timer1->interval(), 1000);
  EXPECT_TRUE(w.Timer1->isActive());
}

TEST(MonitorWindowTest, RefreshesShowTheNewViewNeverNestAndNoneRunsAfterAClickOnTheDateClosedTheWindow) {
  MonitorView view = FourChannels();
  int refreshes = 0;
  TForm6* window = nullptr;
  TForm6 w(view, [&] {
    ++refreshes;
    view.rows[0].value = "ERROR!";
    view.rows[0].colour = ValueColour::Red;
    window->Timer1Timer();  // a tick delivered while this refresh shows a message box
    return true;
  });
  window = &w;
  QTimer::singleShot(0, &w, [&] {
    w.Timer1Timer();
    EXPECT_EQ(refreshes, 1);
    EXPECT_EQ(S(w.ValueLabel(1)->text()), "ERROR!");
    EXPECT_EQ(w.ValueLabel(1)->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    Click(w.Label(1));  // the time does nothing
    EXPECT_TRUE(w.isVisible());
    Click(w.Label(3));
  });
  w.exec();
  EXPECT_FALSE(w.isVisible());
  EXPECT_FALSE(w.Timer1->isActive());
  w.Timer1Timer();
  EXPECT_EQ(refreshes, 1);
}

TEST(MonitorWindowTest, ARefreshThatFindsTheLinkLostClosesTheWindowAfterShowingTheView) {
  MonitorView view = FourChannels();
  int refreshes = 0;
  // The window's own 1000 ms timer drives the refresh, which asks to close.
  TForm6 w(view, [&] {
    view.time = "14:05:31";
    return ++refreshes > 1;
  });
  w.exec();
  EXPECT_EQ(S(w.Label(1)->text()), "14:05:31");
  w.Timer1Timer();
  EXPECT_EQ(refreshes, 1);
}

TEST(MonitorWindowTest, TheMonitoringButtonRunsTheMonitoringOfTheLoggerOnThePort) {
  sim::Device device;
  // A zero byte that an image put into a point name ends the name, as the original labels took it.
  const std::string bay = "Loading bay";
  const auto name = std::search(device.names.begin(), device.names.end(), bay.begin(), bay.end());
  ASSERT_NE(name, device.names.end());
  std::copy_n("Load\0\x1b[2J", 9, name);
  sim::SimBench bench;
  bench.ports["COM1"] = {&device, false};
  auto clock = std::make_unique<sim::VirtualClock>();
  auto port = std::make_unique<sim::SimSerialPort>(*clock, bench);
  sim::SimSerialPort* wire = port.get();
  TForm1 main(std::move(port), std::move(clock), std::nullopt);
  ASSERT_TRUE(main.GetSession().link.OpenPort("COM1", Parity::Even));
  for (const char* item : {"Monitoringrejestratora1", "Zapisobrazurej1", "Wczytanieobrazurej1"}) {
    EXPECT_TRUE(main.findChild<QAction*>(item)->isEnabled()) << item;
  }
  int shownHeight = 0;
  main.Ui().SetDialogHook([&](QDialog* d) {
    auto* w = qobject_cast<TForm6*>(d);
    ASSERT_NE(w, nullptr);
    shownHeight = w->frameGeometry().height();
    EXPECT_EQ(S(w->NameLabel(4)->text()), "4. Load");
    w->close();
  });
  main.BitBtn6->click();
  EXPECT_EQ(shownHeight, 25 * 4 + 100);
  EXPECT_EQ(wire->SentBytes().back(), 75);
}

// "Wczytanie obrazu pamięci" asks, once the file is read, before it overwrites the logger's whole
// configuration: No, the default, sends nothing after the checks; Yes writes the image.
TEST(MonitorWindowTest, TheImageRestoreAsksFirstAndOnlyYesWritesTheImage) {
  sim::Device device;
  device.params.fill(7);
  sim::SimBench bench;
  bench.ports["COM1"] = {&device, false};
  auto clock = std::make_unique<sim::VirtualClock>();
  auto port = std::make_unique<sim::SimSerialPort>(*clock, bench);
  sim::SimSerialPort* wire = port.get();
  TForm1 main(std::move(port), std::move(clock), std::nullopt);
  ASSERT_TRUE(main.GetSession().link.OpenPort("COM1", Parity::Even));
  test::TempDir dir;
  main.GetSession().workDir = dir.path();
  main.GetSession().settings.ServiceAccess = true;
  const std::string image = (dir.path() / "obraz.eep").string();
  ASSERT_TRUE(WriteFileAtomically(image, std::vector<uint8_t>(514, 0)));
  bool yes = false;
  std::vector<std::string> questions;
  main.Ui().SetDialogHook([&](QDialog* d) {
    if (auto* files = qobject_cast<QFileDialog*>(d)) {
      files->selectFile(QString::fromStdString(image));
      static_cast<QDialog*>(files)->accept();
      return;
    }
    auto* box = qobject_cast<QMessageBox*>(d);
    ASSERT_NE(box, nullptr);
    if (box->button(QMessageBox::Yes) == nullptr) {
      box->close();
      return;
    }
    questions.push_back(S(box->windowTitle() + "|" + box->text()));
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
    box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
  });
  QAction* restore = main.findChild<QAction*>("Wczytanieobrazurej1");
  restore->trigger();
  EXPECT_EQ(wire->SentBytes(), (std::vector<uint8_t>{30, 62, 30, 14}));  // the checks alone
  EXPECT_EQ(device.params[0], 7);
  yes = true;
  restore->trigger();
  EXPECT_EQ(device.params[0], 0);
  EXPECT_EQ(wire->SentBytes().size(), 2 * 4 + 1 + 511 * 3u);
  ASSERT_EQ(questions.size(), 2u);
  EXPECT_EQ(questions[0],
            "Wczytanie obrazu pamięci|Wczytanie obrazu zastąpi całą konfigurację rejestratora (parametry pracy, "
            "liczbę i parametry czujników, progi alarmowe, wpisy użytkownika i numer seryjny, nazwy punktów "
            "pomiaru) zawartością pliku:\n" +
                image + "\nKontynuować?");
}

}  // namespace
}  // namespace velutron
