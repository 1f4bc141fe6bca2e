// chart: the chart of a database as a picture, drawn without a display.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

#include "cli/Runner.h"
#include "data/Measurements.h"
#include "platform/Utf8Path.h"

#ifdef VELUTRON_CHARTS
#include <QApplication>

#include "data/Chart.h"
#include "platform/AtomicFile.h"
#endif

namespace velutron::cli {

namespace {

struct ChartArgs {
  std::string file;
  std::string out;
  int width = 1200;
  int height = 700;
};

bool EndsWithNoCase(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         std::equal(suffix.rbegin(), suffix.rend(), text.rbegin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
         });
}

Outcome Chart(Runner& r, const ChartArgs& a) {
  if (OutputIsInput(r, a.file, a.out)) return Outcome::Failed;
#ifdef VELUTRON_CHARTS
  Session& s = r.session();
  const auto db = LoadDatabase(s, a.file);
  if (!db) return Outcome::Failed;
  // Drawn offscreen whatever display there is, so cron jobs and servers get the same picture.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "velutron-cli";
  static char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  const QString title = QString::fromStdString(Utf8FromPath(PathFromUtf8(a.file).filename()));
  const PictureFormat format = EndsWithNoCase(a.out, ".svg") ? PictureFormat::Svg : PictureFormat::Png;
  const QByteArray picture = DrawChart(*db, title, QSize(a.width, a.height), format);
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(picture.constData()),
                                       static_cast<size_t>(picture.size()));
  if (picture.isEmpty() || !WriteFileAtomically(s.InWorkDir(a.out), bytes)) {
    s.ui.ShowMessage(text::kCaptionWarning, "Blokada zapisu pliku na dysku !");
    return Outcome::Failed;
  }
  return Outcome::Completed;
#else
  (void)r;
  (void)a;
  std::fputs("velutron-cli: this build draws no charts (it was built without Qt Charts)\n", stderr);
  return Outcome::Failed;
#endif
}

}  // namespace

void AddChartCommands(CLI::App& app, Command& chosen) {
  auto args = std::make_shared<ChartArgs>();
  auto* chart =
      app.add_subcommand("chart", "the chart of a database as a PNG or SVG picture, without a display");
  chart->add_option("FILE", args->file, "database file (*.DAT)")->required();
  chart->add_option("--out", args->out, "the picture: NAME.png or NAME.svg")
      ->required()
      ->check([](const std::string& name) {
        return EndsWithNoCase(name, ".png") || EndsWithNoCase(name, ".svg")
                   ? std::string()
                   : std::string("must end in .png or .svg");
      });
  chart->add_option("--width", args->width, "width in pixels (default 1200)")
      ->transform(Decimal())
      ->check(CLI::Range(100, 10000));
  chart->add_option("--height", args->height, "height in pixels (default 700)")
      ->transform(Decimal())
      ->check(CLI::Range(100, 10000));
  chart->callback([&chosen, args] { chosen = [args](Runner& r) { return Chart(r, *args); }; });
}

}  // namespace velutron::cli
