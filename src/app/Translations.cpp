#include "app/Translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace velutron {

bool InstallQtTranslations(QCoreApplication& app) {
  const QStringList folders = {QDir(QCoreApplication::applicationDirPath()).filePath("translations"),
                               QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
  for (const QString& folder : folders) {
    auto* translator = new QTranslator(&app);
    if (translator->load(QStringLiteral("qtbase_pl"), folder)) {
      QCoreApplication::installTranslator(translator);
      return true;
    }
    delete translator;
  }
  return false;
}

}  // namespace velutron
