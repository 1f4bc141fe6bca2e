#pragma once

#include "session/Session.h"

namespace velutron {

// "Test RS-232": looks for the logger on COM1..COM10, with the configured parity and then the other.
Outcome TESTRS2321Click(Session& s);
// "Test 1-Wire": bus state and CRC conflict count.
Outcome Test1Wie1Click(Session& s);

}  // namespace velutron
