#pragma once

#include <optional>
#include <string>

#include "data/DatabaseFile.h"
#include "session/Session.h"

namespace velutron {

// "Przegląd baz danych" / "&Baza danych": choose a database file and render it.
Outcome BitBtn1Click(Session& s);
// "Wyczyść bufor": empty the report view.
void Wyczy1Click(Session& s);
// "Wydruk bufora": print the report view.
Outcome Wydrukbufora1Click(Session& s);

// "Wykres bazy danych": choose a database file and read it for the chart. nullopt when the dialog was
// cancelled, or when the file could not be read or is damaged (after the report's message).
struct ChosenDatabase {
  std::string path;
  DatabaseContents contents;
};
std::optional<ChosenDatabase> Wykresbazydanych1Click(Session& s);

}  // namespace velutron
