// velutron-draw: draws a chart that velutron-cli hands it on standard input, as a PNG or SVG file. Kept
// apart so that the command line loads Qt's drawing libraries only for the commands that draw.
//
//   velutron-draw --out PICTURE.png|svg [--width W] [--height H] [--locale NAME]  < chart
//   velutron-draw --out REPORT.pdf [--locale NAME]  < period report document
//
// Exit code 0 when the picture was written, 1 when it could not be drawn or written (nothing is left
// behind), 2 for a wrong command line or input that is not a chart.

#include <CLI/CLI.hpp>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "gui/Chart.h"
#include "platform/AtomicFile.h"
#include "platform/Console.h"
#include "platform/TableLocale.h"
#include "platform/Utf8Path.h"
#include "session/ChartData.h"

#ifdef VELUTRON_REPORT
#include "archive/ReportPdf.h"
#endif

namespace {

// Qt's notes about the offscreen platform (no runtime folder, no fonts cache) are not the user's concern.
void Quiet(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtFatalMsg) std::fprintf(stderr, "velutron-draw: %s\n", qPrintable(message));
}

}  // namespace

int main(int argc, char** argv) {
  std::string out;
  std::string localeName;
  int width = 1200;
  int height = 700;
  CLI::App cli{"velutron-draw: draws a chart from velutron-cli as a PNG or SVG picture", "velutron-draw"};
  cli.add_option("--out", out, "the picture: NAME.png or NAME.svg")->required();
  cli.add_option("--width", width, "width in pixels")->check(CLI::Range(1, 10000));
  cli.add_option("--height", height, "height in pixels")->check(CLI::Range(1, 10000));
  cli.add_option("--locale", localeName, "regional settings (default: the environment's)");
  std::vector<std::string> arguments = velutron::Utf8Arguments(argc, argv);
  std::vector<char*> words;
  for (std::string& a : arguments) words.push_back(a.data());
  try {
    cli.parse(static_cast<int>(words.size()), words.data());
  } catch (const CLI::ParseError& e) {
    return cli.exit(e) == 0 ? 0 : 2;
  }
  const auto format = velutron::PictureFormatOf(QString::fromStdString(out));
  const QString lower = QString::fromStdString(out).toLower();
  const bool report = lower.endsWith(QStringLiteral(".pdf"));
  // A chart's text is a few points a pixel column: far below this for any picture.
  constexpr size_t kLargestInput = 256u << 20;
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);  // the chart's text as it was written, without CR LF translation
#endif
  qInstallMessageHandler(Quiet);
  // Drawn offscreen whatever display there is, so cron jobs and servers get the same picture.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Qt and its fonts are ready before the input is read: velutron-cli makes the input meanwhile.
  QGuiApplication app(argc, argv);
  QFontMetricsF(QGuiApplication::font()).height();
  std::string input;
  char buffer[65536];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0 && input.size() < kLargestInput)
    input.append(buffer, n);
  QByteArray picture;
  const velutron::TableLocale locale =
      localeName.empty() ? velutron::TableLocale::FromEnvironment() : velutron::TableLocale(localeName);
  if (report) {
#ifdef VELUTRON_REPORT
    const auto document = velutron::archive::ReadReportDocument(input);
    if (!document) {
      std::fputs("velutron-draw: the input is not a period report\n", stderr);
      return 2;
    }
    picture = velutron::archive::ReportPdf(*document, locale);
#else
    std::fputs("velutron-draw: built without the archive, it prints no reports\n", stderr);
    return 2;
#endif
  } else {
    const auto chart = velutron::ReadChartData(input);
    if (!format || !chart) {
      std::fputs("velutron-draw: the input is not a chart or the picture is neither .png nor .svg\n", stderr);
      return 2;
    }
    picture =
        velutron::DrawPicture(*chart, velutron::WholeChart(*chart), QSize(width, height), *format, locale);
  }
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(picture.constData()),
                                       static_cast<size_t>(picture.size()));
  if (picture.isEmpty() || !velutron::WriteFileAtomically(velutron::PathFromUtf8(out), bytes)) return 1;
  return 0;
}
