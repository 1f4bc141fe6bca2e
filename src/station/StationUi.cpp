#include "station/StationUi.h"

namespace velutron::station {

// The watcher logs the link's changes once; the operations' own messages repeat every interval of an
// outage, so they are for debugging.
// Their texts are the program's own Polish ones, so the log quotes them.
void StationUi::ShowMessage(std::string_view caption, std::string_view text) {
  log_.Debug(source_, "the operation says \"" + std::string(caption) + " " + std::string(text) + "\"");
}

void StationUi::ShowError(std::string_view text) {
  log_.Warn(source_, "the operation failed: \"" + std::string(text) + "\"");
}

void StationUi::RunMonitorWindow(const MonitorView&, const MonitorRefresh& refresh) {
  if (window) window(refresh);
}

}  // namespace velutron::station
