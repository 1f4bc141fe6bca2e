#include "data/Download.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "data/DatabaseFile.h"
#include "data/Report.h"
#include "platform/AtomicFile.h"
#include "session/FileName.h"

namespace velutron {

namespace {

constexpr std::string_view kEmptyLogger = "Brak danych do transmisji !!!\r[bufor VELUTRON pusty]";
constexpr std::string_view kCaptionStopped = "Zatrzymanie opcji !";
constexpr std::string_view kTransferCut = "Przerwanie transmisji pliku !!!";

std::string TwoDigits(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

// Reception: the burst is over at the first 50 ms window in which nothing more arrived, or when the
// user interrupts it. The dump's header is taken as soon as it is there, so the progress can name the
// total the header declares; while that total has not arrived, quiet windows are waited through up to
// a second of silence, so that a stall on the PC's side does not cut a whole download.
uint32_t ReceiveBurst(Session& s) {
  Link& link = s.link;
  uint8_t* const rx = link.state.RxBuffer.data();
  s.ui.SetProgressMax(30);
  uint32_t taken = 0;
  uint32_t expected = 0;
  auto received = [&] { return taken + link.Port().InputCount(); };
  uint32_t after = 0;
  uint32_t silentMs = 0;
  while (!link.Interrupted()) {
    const uint32_t before = received();
    link.DelayMs(proto::kDownloadWindowMs);
    after = received();
    if (taken == 0 && after >= kDumpHeaderSize) {
      taken = link.Port().Read(std::span<uint8_t>(rx, kDumpHeaderSize));
      if (taken == kDumpHeaderSize) {
        const size_t declared = DumpView::Of(std::span<const uint8_t>(rx, kDumpHeaderSize)).DeclaredSize();
        expected = static_cast<uint32_t>(std::min<size_t>(declared, UINT32_MAX));
      }
    }
    // The bytes first: a front end that shows them leaves the steps alone from then on.
    s.ui.TransferProgress(after, expected);
    s.ui.StepProgress();
    if (before != after) {
      silentMs = 0;
      continue;
    }
    silentMs += proto::kDownloadWindowMs;
    if (after >= expected || silentMs >= proto::kDownloadStallMs) break;
  }
  link.state.InputCount = after - taken;
  link.state.BytesRead = 0;
  if (after >= 1 && after <= proto::kRxBufferSize) {
    link.state.BytesRead = taken + link.Port().Read(std::span<uint8_t>(rx + taken, after - taken));
  }
  s.ui.SetProgressMax(0);
  return link.state.BytesRead;
}

// Writes the encoded database record by record so the progress bar follows the file.
bool WriteWithProgress(Session& s, AtomicFile& file, std::span<const uint8_t> bytes, int channels,
                       int records) {
  const size_t recordSize = dbfile::RecordSize(channels) + 2;
  if (!file.Write(bytes.first(dbfile::kHeaderSize))) return false;
  s.ui.SetProgressMax(records);
  size_t at = dbfile::kHeaderSize;
  for (int j = 0; j < records; ++j, at += recordSize) {
    if (!file.Write(bytes.subspan(at, recordSize))) return false;
    s.ui.StepProgress();
  }
  const bool ok = file.Write(bytes.subspan(at));
  s.ui.SetProgressMax(0);
  return ok;
}

}  // namespace

Outcome Load_Dat(Session& s, uint8_t command) {
  s.report.LastDownload.clear();
  Link& link = s.link;
  link.Test_COM_OK();
  link.Test_Job_Rej();
  if (!link.state.LinkOk) return Outcome::Failed;

  s.ui.SetProgressMax(0);
  const CivilTime now = s.clock.Now();
  const std::string proposed =
      FileNameSafe("RT_" + s.locale.ShortDate(now) + "_" + TwoDigits(now.hour) + "`" + TwoDigits(now.minute));
  const std::string_view prompt =
      command == proto::kDownloadDescending ? "Wprowadź nazwę pliku [N..1]" : "Wprowadź nazwę pliku [1..N]";
  const std::optional<std::string> typed = s.ui.AskText(text::kCaptionFileName, prompt, proposed);
  if (!typed) return Outcome::Cancelled;

  const std::string fileName = *typed + ".DAT";
  AtomicFile file(s.InWorkDir(fileName));
  if (!file.Ok()) {
    s.ui.ShowMessage(text::kCaptionWarning, text::kBadFileName);
    return Outcome::Failed;
  }

  link.SendCommand({command});
  link.DelayMs(proto::kDownloadLeadMs);
  const uint32_t received = ReceiveBurst(s);
  if (link.Interrupted()) {
    s.ui.SetProgressMax(0);
    return Outcome::Cancelled;
  }

  // Only the bytes of this burst count: a short or empty dump never borrows from an earlier exchange.
  const std::span<const uint8_t> dump(link.state.RxBuffer.data(), received);
  std::vector<uint8_t> encoded;
  const DatabaseWriteResult result = EncodeDatabase(dump, encoded);
  if (result == DatabaseWriteResult::NoRecords) {
    file.Discard();
    s.ui.ShowMessage(kCaptionStopped, kEmptyLogger);
    return Outcome::Failed;
  }
  if (result != DatabaseWriteResult::Ok) {
    file.Discard();
    s.ui.ShowMessage(text::kCaptionWarning, kTransferCut);
    return Outcome::Failed;
  }
  const int channels = dump[0] & 0x7F;
  const int records = dump[4] | dump[5] << 8;
  if (!WriteWithProgress(s, file, encoded, channels, records) || !file.Commit()) {
    s.ui.ShowMessage(text::kCaptionWarning, std::string(text::kFileWriteFailed) + fileName);
    return Outcome::Failed;
  }
  s.report.LastDownload = Utf8FromPath(s.InWorkDir(fileName));

  if (!s.ui.AskOkCancel("Transmisja OK.",
                        "Plik: " + *typed + "\rzapisany poprawnie.\rCzy otworzyć wczytane dane?")) {
    return Outcome::Completed;
  }
  ClearReportView(s);
  s.ui.SetProgressMax(0);
  s.report.DatabaseFileName = fileName;
  return ViewBufor(s);
}

}  // namespace velutron
