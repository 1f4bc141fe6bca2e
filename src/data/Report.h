#pragma once

#include <cstdint>
#include <string>

#include "app/Session.h"

namespace velutron {

inline constexpr const char* kReportFileName = "ViewData.CSV";

// Packed BCD to binary, unchecked: 0x1F gives 25.
constexpr uint8_t BcdToByte(uint8_t b) { return static_cast<uint8_t>(b - 6 * (b / 16)); }

// Renders the database file named by DatabaseFileName into "ViewData.CSV" and the report view.
Outcome ViewBufor(Session& s);

}  // namespace velutron
