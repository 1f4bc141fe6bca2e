#include "session/Session.h"

namespace velutron {

void ClearReportView(Session& s) {
  s.report.ReportBuffer.assign(kReportBufferSize, 0);
  s.ui.SetReportText("");
  s.report.ReportLoaded = false;
}

bool RefusedWithoutService(Session& s) {
  if (s.settings.ServiceAccess) return false;
  s.ui.ShowMessage(text::kCaptionLocked, text::kNoAccess);
  return true;
}

}  // namespace velutron
