#pragma once

#include "session/Session.h"

namespace velutron {

// "Zmiana trybu pracy" / "&Zmień tryb": switches recording on or off and shows the new state.
Outcome BitBtn2Click(Session& s);
// "Ustaw czas z PC" / "&Ustaw czas": sets the logger's clock from the PC's.
Outcome BitBtn3Click(Session& s);
// "Reset rejestratora", "Wykasuj pomiary !", "Formatowanie pamięci !!!" (service access).
Outcome Resetuk1Click(Session& s);
Outcome Wykasujpomiary1Click(Session& s);
Outcome Formatowanieukadu1Click(Session& s);

}  // namespace velutron
