#include "gui/Translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace velutron {

QStringList QtTranslationFolders() {
  return {QDir(QCoreApplication::applicationDirPath()).filePath("translations"),
          QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
}

bool InstallQtTranslations(QCoreApplication& app, const QStringList& folders) {
  for (const QString& folder : folders) {
    for (const QString& name : {QStringLiteral("qtbase_pl"), QStringLiteral("qt_pl")}) {
      auto* translator = new QTranslator(&app);
      if (translator->load(name, folder)) {
        QCoreApplication::installTranslator(translator);
        return true;
      }
      delete translator;
    }
  }
  return false;
}

}  // namespace velutron
