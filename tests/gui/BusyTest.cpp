// While an operation waits for the logger the windows repaint, and nothing the user does is taken.

#include <gtest/gtest.h>

#include <QAction>
#include <QCloseEvent>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <algorithm>

#include "app/MainWindow.h"
#include "sim/SimPort.h"
#include "support/SimSession.h"

namespace velutron {
namespace {

// Counts the paints of one widget, with the virtual time each came at.
class PaintWatcher final : public QObject {
 public:
  explicit PaintWatcher(const sim::VirtualClock& clock) : clock_(clock) {}
  std::vector<uint64_t> atUs;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) atUs.push_back(clock_.NowUs());
    return false;
  }

 private:
  const sim::VirtualClock& clock_;
};

TEST(BusyTest, AWaitRepaintsTheWindowButTakesNoClickCloseOrTimerAndStartsNoSecondOperation) {
  sim::SimBench bench;
  bench.ports["COM1"] = {nullptr, false};  // nothing answers: the probe waits its whole 250 ms
  auto clock = std::make_unique<sim::VirtualClock>();
  const sim::VirtualClock& time = *clock;
  auto port = std::make_unique<sim::SimSerialPort>(*clock, bench);
  TForm1 window(std::move(port), std::move(clock), std::nullopt);
  test::TempDir dir;
  window.GetSession().workDir = dir.path();
  std::vector<std::string> dialogs;
  int ticks = 0;
  std::vector<int> ticksAtDialogs;  // a message box's own loop delivers timers, as it always did
  window.Ui().SetDialogHook([&](QDialog* d) {
    auto* box = qobject_cast<QMessageBox*>(d);
    dialogs.push_back(box ? box->text().toStdString() : d->windowTitle().toStdString());
    ticksAtDialogs.push_back(ticks);
    d->close();
  });
  window.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.empty() && dialogs.back() == "O programie..."; }, 5000));
  QTest::qWait(20);
  dialogs.clear();
  ticksAtDialogs.clear();

  PaintWatcher paints(time);
  window.ViewCSV->viewport()->installEventFilter(&paints);
  QTimer timer;  // as the monitoring window's refresh timer would be
  QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
  timer.start(0);
  // Waiting as the operation starts: a repaint, a click on "&Baza danych", the close box, and a queued
  // "Przegląd baz danych" that would be a second operation.
  window.ViewCSV->viewport()->update();
  const QPoint centre = window.BitBtn1->rect().center();
  QCoreApplication::postEvent(
      window.BitBtn1, new QMouseEvent(QEvent::MouseButtonPress, centre, window.BitBtn1->mapToGlobal(centre),
                                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
  QCoreApplication::postEvent(
      window.BitBtn1, new QMouseEvent(QEvent::MouseButtonRelease, centre, window.BitBtn1->mapToGlobal(centre),
                                      Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
  QCoreApplication::postEvent(&window, new QCloseEvent);
  QMetaObject::invokeMethod(window.findChild<QAction*>("Przegldbazdanych1"), "trigger", Qt::QueuedConnection);

  const uint64_t start = time.NowUs();
  window.findChild<QAction*>("Test1Wie1")->trigger();  // its probe waits in vain
  const uint64_t end = time.NowUs();
  EXPECT_FALSE(window.Busy());

  ASSERT_GE(end - start, 250'000u);
  EXPECT_TRUE(std::any_of(paints.atUs.begin(), paints.atUs.end(),
                          [&](uint64_t at) { return at > start && at < start + 250'000; }));
  EXPECT_EQ(ticksAtDialogs, std::vector<int>{0});  // none during the wait before the probe's message
  // Nothing was kept for later either: only the probe's own message, the window still open.
  QTest::qWait(50);
  EXPECT_EQ(dialogs, std::vector<std::string>{"Brak połączenia z VELUTRON !"});
  EXPECT_TRUE(window.isVisible());
  EXPECT_GT(ticks, 0);  // the timer goes on after the wait
  EXPECT_TRUE(window.close());
}

// Notes every moment the program handles events, as it does a window's paint: one posted event is
// taken at each chance and posts the next.
class EventWatcher final : public QObject {
 public:
  explicit EventWatcher(const sim::VirtualClock& clock) : clock_(clock) { Post(); }
  std::vector<uint64_t> atUs;

 protected:
  bool event(QEvent* event) override {
    if (event->type() != QEvent::User) return QObject::event(event);
    atUs.push_back(clock_.NowUs());
    Post();
    return true;
  }

 private:
  void Post() { QCoreApplication::postEvent(this, new QEvent(QEvent::User)); }
  const sim::VirtualClock& clock_;
};

TEST(BusyTest, EventsAreHandledEvery25MsThroughAnImageSaveAndRestoreOfManyShortWaits) {
  sim::Device device;
  sim::SimBench bench;
  bench.ports["COM1"] = {&device, false};
  auto clock = std::make_unique<sim::VirtualClock>();
  const sim::VirtualClock& time = *clock;
  auto port = std::make_unique<sim::SimSerialPort>(*clock, bench);
  TForm1 window(std::move(port), std::move(clock), std::nullopt);
  test::TempDir dir;
  window.GetSession().workDir = dir.path();
  std::vector<std::string> messages;
  window.Ui().SetDialogHook([&](QDialog* d) {
    if (auto* input = qobject_cast<QInputDialog*>(d)) {
      input->setTextValue("obraz");
      input->accept();
    } else if (auto* files = qobject_cast<QFileDialog*>(d)) {
      files->selectFile(QString::fromStdString((dir.path() / "obraz.eep").string()));
      static_cast<QDialog*>(files)->accept();
    } else if (auto* box = qobject_cast<QMessageBox*>(d); box && box->button(QMessageBox::Yes)) {
      box->button(QMessageBox::Yes)->click();  // the restore's question
    } else {
      messages.push_back(box ? box->text().toStdString() : d->windowTitle().toStdString());
      d->close();
    }
  });
  window.show();
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return !messages.empty() && messages.back() == "O programie..."; }, 5000));
  messages.clear();
  window.GetSession().settings.ServiceAccess = true;

  struct Row {
    const char* item;
    uint64_t leastUs;  // the operation takes at least this long
  };
  for (const Row& row : {Row{"Zapisobrazurej1", 1'900'000}, Row{"Wczytanieobrazurej1", 5'000'000}}) {
    SCOPED_TRACE(row.item);
    EventWatcher watcher(time);
    const uint64_t start = time.NowUs();
    window.findChild<QAction*>(row.item)->trigger();
    const uint64_t end = time.NowUs();
    ASSERT_GE(end - start, row.leastUs);
    std::vector<uint64_t> moments{start};
    for (uint64_t at : watcher.atUs) {
      if (at > start && at < end) moments.push_back(at);
    }
    moments.push_back(end);
    uint64_t longestGapUs = 0;
    for (size_t i = 1; i < moments.size(); ++i) {
      longestGapUs = std::max(longestGapUs, moments[i] - moments[i - 1]);
    }
    EXPECT_LE(longestGapUs, 25'000u);
  }
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "Zapisano poprawnie obraz pamięci do pliku:\nobraz");
  EXPECT_EQ(messages[1], "Wczytano poprawnie konfigurację z pliku:\n" + (dir.path() / "obraz.eep").string());
}

}  // namespace
}  // namespace velutron
