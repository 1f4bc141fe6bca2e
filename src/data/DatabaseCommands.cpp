#include "data/DatabaseCommands.h"

#include "data/ChartSeries.h"
#include "data/Measurements.h"
#include "data/Report.h"

namespace velutron {

Outcome BitBtn1Click(Session& s) {
  ClearReportView(s);
  s.ui.SetProgressMax(0);
  const FileDialogSpec OpenDialog1{"Wybierz nazwę pliku.", "Bazy danych rejestratora", "*.dat"};
  const auto chosen = s.ui.ChooseFileToOpen(OpenDialog1);
  if (!chosen) {
    s.ui.ShowMessage("Nie wybrany plik *.DAT", "Nie wybrano bazy danych do konwersji !");
    return Outcome::Cancelled;
  }
  s.report.DatabaseFileName = *chosen;
  return ViewBufor(s);
}

void Wyczy1Click(Session& s) { ClearReportView(s); }

Outcome Wydrukbufora1Click(Session& s) {
  if (!s.report.ReportLoaded) {
    s.ui.ShowMessage(text::kCaptionWarning, "Pusty bufor - brak danych do wydruku !!!");
    return Outcome::Failed;
  }
  return s.ui.PrintReportView() ? Outcome::Completed : Outcome::Cancelled;
}

std::optional<ChosenDatabase> Wykresbazydanych1Click(Session& s) {
  const FileDialogSpec OpenDialog1{"Wybierz nazwę pliku.", "Bazy danych rejestratora", "*.dat"};
  const auto chosen = s.ui.ChooseFileToOpen(OpenDialog1);
  if (!chosen) return std::nullopt;
  auto db = LoadDatabase(s, *chosen);
  if (!db) return std::nullopt;
  if (!ChartOfDatabase(*db, {}).HasValues()) {
    s.ui.ShowMessage(text::kCaptionWarning, kNothingToDraw);
    return std::nullopt;
  }
  return ChosenDatabase{*chosen, std::move(*db)};
}

}  // namespace velutron
