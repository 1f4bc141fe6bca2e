#pragma once

#include "session/Session.h"

namespace velutron {

// "Przegląd baz danych" / "&Baza danych": choose a database file and render it.
Outcome BitBtn1Click(Session& s);
// "Wyczyść bufor": empty the report view.
void Wyczy1Click(Session& s);
// "Wydruk bufora": print the report view.
Outcome Wydrukbufora1Click(Session& s);

}  // namespace velutron
