#include "session/Session.h"

namespace velutron {

void ClearReportView(Session& s) {
  s.report.ReportBuffer.assign(kReportBufferSize, 0);
  s.ui.SetReportText("");
  s.report.ReportLoaded = false;
}

}  // namespace velutron
