#pragma once

#include <cstdint>

#include "session/Session.h"

namespace velutron {

// A recording interval in seconds as whole minutes, halves to the even neighbour: 90 s -> 2, 150 s -> 2.
int MinutesFromSeconds(uint32_t seconds);

// "Parametry rejestratora": recording interval, switching threshold, working options and the humidity
// flag, read into the dialog and written back where the user changed them (the humidity flag only
// with service access).
Outcome Parametryrejestratora1Click(Session& s);

}  // namespace velutron
