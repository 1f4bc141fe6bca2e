// Qt's own dialogs speak Polish inside the program; the program's message boxes keep their texts.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPrintDialog>
#include <QTemporaryDir>
#include <QTranslator>

#include "app/DesktopUserInterface.h"
#include "gui/Translations.h"

namespace velutron {
namespace {

std::string Plain(QString text) { return text.remove('&').toStdString(); }

void RemoveTranslators() {
  for (QTranslator* t : QCoreApplication::instance()->findChildren<QTranslator*>()) {
    QCoreApplication::removeTranslator(t);
    delete t;
  }
}

// windeployqt bundles Qt's catalogs merged into one "qt_pl.qm" beside the program.
TEST(TranslationTest, FindsTheMergedCatalogOfAWindowsBundleAndNothingInAnEmptyFolder) {
  QTemporaryDir empty, bundle;
  ASSERT_TRUE(QFile::copy(QDir(QLibraryInfo::path(QLibraryInfo::TranslationsPath)).filePath("qtbase_pl.qm"),
                          QDir(bundle.path()).filePath("qt_pl.qm")));
  EXPECT_FALSE(InstallQtTranslations(*QCoreApplication::instance(), {empty.path()}));
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
  EXPECT_TRUE(InstallQtTranslations(*QCoreApplication::instance(), {empty.path(), bundle.path()}));
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Anuluj");
  RemoveTranslators();
}

TEST(TranslationTest, StandardButtonsOfMessageBoxesFileAndPrintDialogsArePolish) {
  ASSERT_TRUE(InstallQtTranslations(*QCoreApplication::instance()));
  DesktopUserInterface ui;
  std::vector<std::string> seen;
  ui.SetDialogHook([&seen](QDialog* dialog) {
    if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
      seen.push_back(box->windowTitle().toStdString() + ": " + box->text().toStdString());
      for (QAbstractButton* b : box->buttons()) seen.push_back(Plain(b->text()));
    } else if (auto* buttons = dialog->findChild<QDialogButtonBox*>()) {
      seen.push_back(dialog->windowTitle().toStdString() + ":");
      for (QAbstractButton* b : buttons->buttons()) seen.push_back(Plain(b->text()));
    }
    dialog->reject();
  });
  EXPECT_FALSE(ui.AskOkCancel("Reset rejestratora!", "Czy napewno chcesz zresetować rejestrator?"));
  EXPECT_FALSE(
      ui.ChooseFileToOpen({"Wybierz nazwę pliku.", "Bazy danych rejestratora", "*.dat"}).has_value());
  EXPECT_FALSE(ui.PrintReportView());
  EXPECT_EQ(seen, (std::vector<std::string>{"Reset rejestratora!: Czy napewno chcesz zresetować rejestrator?",
                                            "OK", "Anuluj",                               //
                                            "Wybierz nazwę pliku.:", "Otwórz", "Anuluj",  //
                                            "Drukowanie:", "Wydrukuj", "Anuluj", "Opcje >>"}));
  RemoveTranslators();
}

}  // namespace
}  // namespace velutron
