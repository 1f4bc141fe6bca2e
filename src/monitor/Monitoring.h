#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "session/Session.h"

namespace velutron {

// A reading is valid in 1..2879 except 2239 (0 is a lost sensor, 2239 and 2880 up are the sensor's
// error values).
constexpr bool ValidReading(uint16_t raw) { return raw >= 1 && raw <= 2879 && raw != 2239; }

// numerator / denominator in fixed notation with one decimal, rounded once to whichever is coarser of
// `digits` significant digits and one decimal, halves away from zero: (-4, 16, 4) gives "-0,3".
std::string FixedOneDecimal(int64_t numerator, int64_t denominator, int digits, std::string_view separator);

// A monitoring run: the start sequence, the window with its refreshes, the closing sequence. Completed
// when the user closed the window; failed when the probe failed or the link or the 1-Wire bus was lost.
Outcome BitBtn6Click(Session& s);

// The clock registers into ClockRegs, TimeText and DateText; with `refresh` the date is read only
// during minute 00.
void Read_Clock(Session& s, bool refresh);
// The readings of every channel and the bus state, with values, extremes and alarm states.
void Read_Sensors(Session& s);
// The clock, the values with their colours and the extremes into the window's view.
void View_Monitor(const MonitorState& m, MonitorView& view);
// One refresh of the window; false when it must close (bus failure or link lost).
bool Timer1Timer(Session& s, MonitorView& view);

}  // namespace velutron
