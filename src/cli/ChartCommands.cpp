// chart: the chart of a database as a picture, drawn without a display by velutron-draw.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "cli/Runner.h"
#include "data/ChartSeries.h"
#include "data/Measurements.h"
#include "link/Link.h"
#include "platform/Process.h"
#include "platform/Spawn.h"
#include "platform/Utf8Path.h"

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
  Session& s = r.session();
  const auto program = DrawingProgram();
  if (!program) return Outcome::Failed;
  std::vector<std::string> args = {"--out",    Utf8FromPath(s.InWorkDir(a.out)),
                                   "--width",  std::to_string(a.width),
                                   "--height", std::to_string(a.height)};
  if (!r.options().locale.empty()) args.insert(args.end(), {"--locale", r.options().locale});
  // The drawing program starts Qt and its fonts while the database is read, on a second core where
  // there is one.
  bool started = false;
  bool drawn = false;
  const auto status = RunWithInput(*program, args, [&]() -> std::optional<std::string> {
    started = true;
    const auto db = LoadDatabase(s, a.file);
    if (!db) return std::nullopt;
    const ChartData chart = ChartOfDatabase(*db, Utf8FromPath(PathFromUtf8(a.file).filename()));
    if (!chart.HasValues()) {
      s.ui.ShowMessage(text::kCaptionWarning, kNothingToDraw);
      return std::nullopt;
    }
    drawn = true;
    // A picture cannot show more than its width in pixel columns, so no more goes to the drawing program.
    return WriteChartData(ReducedForWidth(chart, a.width));
  });
  if (started && !drawn) return Outcome::Failed;
  if (status == 0) return Outcome::Completed;
  if (InterruptRequested()) return Outcome::Cancelled;
  s.ui.ShowMessage(text::kCaptionWarning, "Blokada zapisu pliku na dysku !");
  return Outcome::Failed;
}

}  // namespace

// Beside the running velutron-cli, where the build and the installation both put it.
std::optional<std::filesystem::path> DrawingProgram() {
#ifdef _WIN32
  const std::filesystem::path program = ProgramDirectory() / "velutron-draw.exe";
#else
  const std::filesystem::path program = ProgramDirectory() / "velutron-draw";
#endif
  std::error_code error;
  if (program.parent_path().empty() || !std::filesystem::is_regular_file(program, error)) {
    std::fputs("velutron-cli: velutron-draw, which draws the charts, is not installed beside velutron-cli\n",
               stderr);
    return std::nullopt;
  }
  return program;
}

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
