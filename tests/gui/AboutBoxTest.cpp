// The about box: texts, fonts, links, its timer, and the desktop's handler for shell requests.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include "app/AboutBox.h"
#include "app/DesktopUserInterface.h"
#include "support/SimSession.h"

namespace velutron {
namespace {

std::string S(const QString& s) { return s.toStdString(); }

TEST(AboutBoxTest, ShowsCaptionProductVersionAndTheProjectsTexts) {
  TForm2 box;
  EXPECT_EQ(S(box.windowTitle()), "O programie...");
  EXPECT_EQ(box.size(), QSize(358, 175));
  EXPECT_EQ(S(box.Label1->text()), "VELUTRON");
  EXPECT_EQ(box.Label1->font().pixelSize(), 27);
  EXPECT_EQ(box.Label1->palette().color(QPalette::WindowText), QColor(0x80, 0, 0));
  EXPECT_EQ(S(box.Label2->text()), "wer 1.02a 06/2009");
  EXPECT_EQ(box.Label2->palette().color(QPalette::WindowText), QColor(0, 0, 0xFF));
  EXPECT_EQ(box.Label3->text().count('\n'), 2);
  EXPECT_TRUE(box.Label3->font().bold());
  EXPECT_EQ(S(box.Label4->text()), "https://velutron.example.org");
  EXPECT_EQ(S(box.Label5->text()), "mailto:kontakt@velutron.example.org");
  EXPECT_TRUE(box.Label5->font().italic());
  EXPECT_EQ(S(box.Label6->text()), "Autorzy: zespół projektu velutron");
  EXPECT_EQ(box.Label6->palette().color(QPalette::WindowText), QColor(0, 0x80, 0));
  EXPECT_EQ(S(box.BitBtn1->text()), "&Zamknij");
  EXPECT_EQ(box.BitBtn1->geometry(), QRect(248, 128, 75, 25));
  EXPECT_FALSE(box.Image1->pixmap().isNull());
  EXPECT_LE(box.Image1->pixmap().width(), 129);
  EXPECT_LE(box.Image1->pixmap().height(), 97);
  EXPECT_FALSE(box.Image2->pixmap().isNull());
  EXPECT_EQ(box.palette().color(QPalette::Window), box.palette().color(QPalette::ToolTipBase));
}

TEST(AboutBoxTest, LinksChangeColourOnHoverAndOpenTheirTextOnClick) {
  TForm2 box;
  std::vector<std::string> opened;
  box.SetUrlOpener([&opened](const QUrl& url) { opened.push_back(S(url.toString())); });
  struct Case {
    QLabel* label;
    QColor hover;
  };
  for (const Case& c : {Case{box.Label4, QColor(255, 0, 0)}, Case{box.Label5, QColor(0, 0, 255)}}) {
    const bool italic = c.label->font().italic();
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(c.label, &enter);
    EXPECT_EQ(c.label->palette().color(QPalette::WindowText), c.hover);
    EXPECT_TRUE(c.label->font().underline());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(c.label, &leave);
    EXPECT_EQ(c.label->palette().color(QPalette::WindowText), QColor(0, 0, 0));
    EXPECT_FALSE(c.label->font().underline());
    EXPECT_EQ(c.label->font().italic(), italic);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(c.label, &release);
  }
  EXPECT_EQ(opened, (std::vector<std::string>{"https://velutron.example.org",
                                              "mailto:kontakt@velutron.example.org"}));
}

TEST(AboutBoxTest, ClosesItselfAfterEightSecondsWhenNobodyClosesIt) {
  DesktopUserInterface ui;
  QElapsedTimer elapsed;
  elapsed.start();
  ui.ShowAboutBox();  // returns only when the box has closed
  EXPECT_GE(elapsed.elapsed(), TForm2::kCloseAfterMs);
  ASSERT_EQ(ui.AboutBoxes().size(), 1u);
  EXPECT_FALSE(ui.AboutBoxes()[0]->isVisible());
  EXPECT_FALSE(ui.AboutBoxes()[0]->Timer1->isActive());
}

TEST(AboutBoxTest, EachShowingIsANewBoxWithItsOwnFreshTimerAndZamknijClosesIt) {
  DesktopUserInterface ui;
  std::vector<TForm2*> seen;
  std::vector<int> remaining;
  ui.SetDialogHook([&](QDialog* d) {
    auto* box = qobject_cast<TForm2*>(d);
    ASSERT_NE(box, nullptr);
    seen.push_back(box);
    remaining.push_back(box->Timer1->remainingTime());
    EXPECT_EQ(box->Timer1->interval(), 8000);
    box->BitBtn1->click();
  });
  ui.ShowAboutBox();
  ui.ShowAboutBox();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[0], seen[1]);
  for (int r : remaining) EXPECT_GT(r, 7000);
}

TEST(AboutBoxTest, ShellOpenHandsUrlsAndDocumentsToTheDesktop) {
  DesktopUserInterface ui;
  std::vector<QUrl> opened;
  ui.SetUrlOpener([&opened](const QUrl& url) {
    opened.push_back(url);
    return true;
  });
  test::TempDir dir;
  const QString previous = QDir::currentPath();
  QDir::setCurrent(QString::fromStdString(dir.path().string()));
  QFile report("ViewData.CSV");
  ASSERT_TRUE(report.open(QIODevice::WriteOnly));
  report.close();
  ui.ShellOpen("https://velutron.example.org");
  ui.ShellOpen("Excel", "ViewData.csv");  // the spreadsheet program gets the report, whatever its case
  QDir::setCurrent(previous);
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(S(opened[0].toString()), "https://velutron.example.org");
  EXPECT_TRUE(opened[1].isLocalFile());
  EXPECT_EQ(S(QFileInfo(opened[1].toLocalFile()).fileName()), "ViewData.CSV");
}

}  // namespace
}  // namespace velutron
