#pragma once

class QCoreApplication;

namespace velutron {

// Loads Qt's own Polish translations into `app`, so that Qt's standard dialogs and buttons speak the
// program's language ("Anuluj", "Otwórz", "Drukuj"); the program's own texts are Polish already. Looked
// for in "translations" beside the program first (the Windows bundle), then where Qt keeps them. False
// when none was found: Qt's English texts stay.
bool InstallQtTranslations(QCoreApplication& app);

}  // namespace velutron
