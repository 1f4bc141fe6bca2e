// The desktop program's repaints while it saves and restores a memory image, against velutron-sim over a
// pseudo-terminal on real time. The main window runs the menu items itself; a watcher asks its report view
// to repaint at every chance the program gives to handle events, and counts the paints that follow.
// Counters, over the transfer (from the answer to the name or file dialog to the closing message):
// transfer_s, chances_per_s (moments events were handled), paints_per_s (paints of the report view),
// longest_gap_ms (the longest time without a chance).
//   QT_QPA_PLATFORM=offscreen build/dev/bench/velutron_gui_bench
//   xvfb-run -a build/dev/bench/velutron_gui_bench            (a real X server)
#include <benchmark/benchmark.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QTextEdit>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <vector>

#include "app/MainWindow.h"
#include "platform/SystemSerialPort.h"
#include "support/SimProcess.h"
#include "support/SimSession.h"

namespace velutron {

// Notes every moment events are handled (one posted event is taken at each chance and posts the next),
// asks the widget to repaint there, and counts its paints.
class RepaintWatcher final : public QObject {
 public:
  RepaintWatcher(QWidget& widget, const QElapsedTimer& clock) : widget_(widget), clock_(clock) {
    widget.installEventFilter(this);
    Post();
  }
  ~RepaintWatcher() override { widget_.removeEventFilter(this); }
  std::vector<qint64> chancesNs;
  std::vector<qint64> paintsNs;

 protected:
  bool event(QEvent* event) override {
    if (event->type() != QEvent::User) return QObject::event(event);
    chancesNs.push_back(clock_.nsecsElapsed());
    widget_.update();
    Post();
    return true;
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) paintsNs.push_back(clock_.nsecsElapsed());
    return false;
  }

 private:
  void Post() { QCoreApplication::postEvent(this, new QEvent(QEvent::User)); }
  QWidget& widget_;
  const QElapsedTimer& clock_;
};

// The main window on velutron-sim, started up, with service access.
struct Bench {
  Bench() {
    sinceStart.start();
    setenv("VELUTRON_PORT_DIR", sim.PortDir().c_str(), 1);
    std::ofstream((dir.path() / "VELUTRON.cfg").string(), std::ios::binary).write("\x01\0\0\0\0\0\x01\0", 8);
    window.GetSession().workDir = dir.path();
    window.Ui().SetDialogHook([this](QDialog* d) {
      if (auto* input = qobject_cast<QInputDialog*>(d)) {
        input->setTextValue("bench");
        input->accept();
        transferStartNs = sinceStart.nsecsElapsed();
      } else if (auto* files = qobject_cast<QFileDialog*>(d)) {
        files->selectFile(QString::fromStdString((dir.path() / "bench.eep").string()));
        static_cast<QDialog*>(files)->accept();
        transferStartNs = sinceStart.nsecsElapsed();
      } else {
        messageNs = sinceStart.nsecsElapsed();
        shown.push_back(d->windowTitle().toStdString());
        d->close();
      }
    });
    window.show();
    QElapsedTimer waited;
    waited.start();
    while (std::find(shown.begin(), shown.end(), "O programie...") == shown.end() &&
           waited.elapsed() < 20000) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    window.GetSession().settings.ServiceAccess = true;
  }
  test::SimProcess sim;
  test::TempDir dir;
  TForm1 window{MakeSystemSerialPort(), std::make_unique<SystemClock>(), std::nullopt};
  std::vector<std::string> shown;
  QElapsedTimer sinceStart;
  // On sinceStart: when the name or the file was given, and when the latest message came.
  qint64 transferStartNs = 0;
  qint64 messageNs = 0;
};

// Made once the application exists, and gone before it goes.
Bench* theBench = nullptr;
Bench& TheBench() { return *theBench; }

// The transfer runs from the answer to the file's dialog to the closing message; the dialogs' own
// making is not a wait and is left out.
void Measure(benchmark::State& state, const char* item) {
  Bench& b = TheBench();
  double seconds = 0, chances = 0, paints = 0, longestMs = 0;
  for (auto _ : state) {
    b.shown.clear();
    RepaintWatcher watcher(*b.window.ViewCSV->viewport(), b.sinceStart);
    b.window.findChild<QAction*>(item)->trigger();
    const qint64 endNs = b.messageNs;
    const qint64 fromNs = b.transferStartNs;
    std::vector<qint64> moments{fromNs};
    for (qint64 at : watcher.chancesNs) {
      if (at > fromNs && at < endNs) moments.push_back(at);
    }
    moments.push_back(endNs);
    for (size_t i = 1; i < moments.size(); ++i) {
      longestMs = std::max(longestMs, (moments[i] - moments[i - 1]) / 1e6);
    }
    seconds += (endNs - fromNs) / 1e9;
    chances += static_cast<double>(moments.size() - 2);
    paints += static_cast<double>(std::count_if(watcher.paintsNs.begin(), watcher.paintsNs.end(),
                                                [&](qint64 at) { return at > fromNs && at < endNs; }));
    if (b.shown.size() != 1) state.SkipWithError("the operation did not end with its one message");
  }
  state.counters["transfer_s"] = seconds / static_cast<double>(state.iterations());
  state.counters["chances_per_s"] = chances / seconds;
  state.counters["paints_per_s"] = paints / seconds;
  state.counters["longest_gap_ms"] = longestMs;
}

void BM_ImageSaveInTheWindow(benchmark::State& state) { Measure(state, "Zapisobrazurej1"); }
void BM_ImageRestoreInTheWindow(benchmark::State& state) { Measure(state, "Wczytanieobrazurej1"); }

BENCHMARK(BM_ImageSaveInTheWindow)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImageRestoreInTheWindow)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace velutron

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  auto bench = std::make_unique<velutron::Bench>();
  velutron::theBench = bench.get();
  benchmark::RunSpecifiedBenchmarks();
  bench.reset();
  benchmark::Shutdown();
  return 0;
}
