#pragma once

#include "session/Session.h"

namespace velutron {

// The four editors of the logger's text fields: read the field, offer it in an input box, write back
// what the user entered. The owner and the serial number need service access.
Outcome Nadzrpomiaru1Click(Session& s);    // "Kontrola pomiaru": the supervision text
Outcome Nazwapktpomiar1Click(Session& s);  // "Nazwa pkt. pomiaru": the name of the chosen point
Outcome Wpislicencji1Click(Session& s);    // "Wpis użytkownika": the owner
Outcome Wpisnrserii1Click(Session& s);     // "Wpis numeru seryjnego": the serial number

// "Licencja": shows the owner and the serial number.
Outcome Licencja1Click(Session& s);

}  // namespace velutron
