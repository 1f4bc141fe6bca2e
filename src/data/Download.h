#pragma once

#include <cstdint>

#include "session/Session.h"

namespace velutron {

// Downloads the logger's measurement memory with `command` (ascending or descending), stores it as a
// database file and offers to render it.
Outcome Load_Dat(Session& s, uint8_t command);
inline Outcome BitBtn4Click(Session& s) { return Load_Dat(s, proto::kDownloadAscending); }
inline Outcome BitBtn5Click(Session& s) { return Load_Dat(s, proto::kDownloadDescending); }

}  // namespace velutron
