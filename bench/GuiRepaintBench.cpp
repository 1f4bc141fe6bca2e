// The desktop program's repaints while it saves and restores a memory image, against velutron-sim over a
// pseudo-terminal on real time. The main window runs the menu items itself; a watcher asks its report view
// to repaint at every chance the program gives to handle events, and counts the paints that follow.
// Counters per run: s (wall time), chances_per_s (moments events were handled), paints_per_s (paints of
// the report view), longest_gap_ms (the longest time without a chance, from the operation's start to its
// end).
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
  explicit RepaintWatcher(QWidget& widget) : widget_(widget) {
    widget.installEventFilter(this);
    clock_.start();
    Post();
  }
  ~RepaintWatcher() override { widget_.removeEventFilter(this); }
  std::vector<qint64> chancesNs;
  int paints = 0;

 protected:
  bool event(QEvent* event) override {
    if (event->type() != QEvent::User) return QObject::event(event);
    chancesNs.push_back(clock_.nsecsElapsed());
    widget_.update();
    Post();
    return true;
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }

 private:
  void Post() { QCoreApplication::postEvent(this, new QEvent(QEvent::User)); }
  QWidget& widget_;
  QElapsedTimer clock_;
};

// The main window on velutron-sim, started up, with service access.
struct Bench {
  Bench() {
    setenv("VELUTRON_PORT_DIR", sim.PortDir().c_str(), 1);
    std::ofstream((dir.path() / "VELUTRON.cfg").string(), std::ios::binary).write("\x01\0\0\0\0\0\x01\0", 8);
    window.GetSession().workDir = dir.path();
    window.Ui().SetDialogHook([this](QDialog* d) {
      if (auto* input = qobject_cast<QInputDialog*>(d)) {
        input->setTextValue("bench");
        input->accept();
      } else if (auto* files = qobject_cast<QFileDialog*>(d)) {
        files->selectFile(QString::fromStdString((dir.path() / "bench.eep").string()));
        static_cast<QDialog*>(files)->accept();
      } else {
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
};

// Made once the application exists, and gone before it goes.
Bench* theBench = nullptr;
Bench& TheBench() { return *theBench; }

void Measure(benchmark::State& state, const char* item) {
  Bench& b = TheBench();
  double seconds = 0, chances = 0, paints = 0, longestMs = 0;
  for (auto _ : state) {
    b.shown.clear();
    RepaintWatcher watcher(*b.window.ViewCSV->viewport());
    QElapsedTimer t;
    t.start();
    const qint64 startNs = 0;
    b.window.findChild<QAction*>(item)->trigger();
    const qint64 endNs = t.nsecsElapsed();
    std::vector<qint64> moments{startNs};
    for (qint64 at : watcher.chancesNs) {
      if (at < endNs) moments.push_back(at);
    }
    moments.push_back(endNs);
    for (size_t i = 1; i < moments.size(); ++i) {
      longestMs = std::max(longestMs, (moments[i] - moments[i - 1]) / 1e6);
    }
    seconds += endNs / 1e9;
    chances += static_cast<double>(moments.size() - 2);
    paints += watcher.paints;
    if (b.shown.size() != 1) state.SkipWithError("the operation did not end with its one message");
  }
  state.counters["s"] = seconds / static_cast<double>(state.iterations());
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
