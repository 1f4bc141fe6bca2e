#pragma once

#include <QStringList>

class QCoreApplication;

namespace velutron {

// Where Qt's Polish translations are looked for: "translations" beside the program first (the Windows
// bundle), then where Qt keeps them.
QStringList QtTranslationFolders();

// Loads Qt's own Polish translations into `app`, so that Qt's standard dialogs and buttons speak the
// program's language ("Anuluj", "Otwórz", "Drukuj"); the program's own texts are Polish already. A
// folder may hold Qt's own catalog (qtbase_pl.qm) or the merged one windeployqt makes (qt_pl.qm). False
// when none was found: Qt's English texts stay.
bool InstallQtTranslations(QCoreApplication& app, const QStringList& folders = QtTranslationFolders());

}  // namespace velutron
