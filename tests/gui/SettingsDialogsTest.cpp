// The settings dialogs TForm3, TForm4 and TForm5: how they look, what goes in and what comes out.

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "app/MainWindow.h"
#include "app/QtUserInterface.h"
#include "settings/ChooserDialog.h"
#include "settings/LoggerOptionsDialog.h"
#include "settings/SensorParamsDialog.h"
#include "settings/UpDown.h"
#include "sim/SimPort.h"
#include "support/SimSession.h"

namespace velutron {
namespace {

std::string S(const QString& s) { return s.toStdString(); }

// A control's place in its dialog's client area.
QRect Place(const QWidget* w) { return QRect(w->mapTo(w->window(), QPoint(0, 0)), w->size()); }
QColor Colour(const QWidget* w, QPalette::ColorRole role) { return w->palette().color(role); }

void ExpectFixedDialog(const QDialog& d, QSize client) {
  EXPECT_EQ(d.size(), client);
  EXPECT_EQ(d.minimumSize(), d.maximumSize());
  EXPECT_TRUE(d.windowFlags() & Qt::MSWindowsFixedSizeDialogHint);
  EXPECT_FALSE(d.windowFlags() & Qt::WindowMaximizeButtonHint);
}

void ExpectSpinner(const TUpDown* upDown, const QLineEdit* edit, QRect place, QRect editPlace) {
  EXPECT_EQ(Place(upDown), place);
  EXPECT_EQ(upDown->cursor().shape(), Qt::PointingHandCursor);
  if (edit == nullptr) return;
  EXPECT_EQ(Place(edit), editPlace);
  EXPECT_TRUE(edit->isReadOnly());
  EXPECT_EQ(edit->cursor().shape(), Qt::ForbiddenCursor);
}

void ExpectButton(const QPushButton* b, const char* caption, QRect place, QColor colour) {
  EXPECT_EQ(S(b->text()), caption);
  EXPECT_EQ(Place(b), place);
  EXPECT_EQ(Colour(b, QPalette::ButtonText), colour);
  EXPECT_TRUE(b->font().bold());
  EXPECT_EQ(b->cursor().shape(), Qt::PointingHandCursor);
}

TEST(SettingsDialogsTest, ChooserLooksAsDesignedAndShowsANumberAboveItsMaximumAtTheMaximum) {
  TForm3 d;
  d.Fill({"Wybór czujnika:", "Nr czujnika:", {1, 3, 5}});
  ExpectFixedDialog(d, {202, 114});
  EXPECT_EQ(S(d.windowTitle()), "Wybór czujnika:");
  EXPECT_EQ(Place(d.Bevel1), QRect(8, 8, 185, 97));
  EXPECT_EQ(S(d.Label1->text()), "Nr czujnika:");
  EXPECT_EQ(d.Label1->pos(), QPoint(56, 8));
  EXPECT_EQ(Colour(d.Label1, QPalette::WindowText), QColor(0, 0, 0xFF));
  EXPECT_TRUE(d.Label1->font().bold());
  EXPECT_EQ(d.Label1->font().pixelSize(), 13);
  ExpectSpinner(d.UpDown1, d.Edit1, {121, 32, 16, 32}, {64, 32, 57, 32});
  EXPECT_EQ(Colour(d.Edit1, QPalette::Text), QColor(0xFF, 0, 0));
  EXPECT_EQ(d.Edit1->font().pixelSize(), 19);
  EXPECT_EQ(S(d.Edit1->text()), "3");
  ExpectButton(d.Button1, "&Wybierz", {64, 72, 73, 25}, QColor(0xFF, 0, 0));
  // The arrows stop at the ends; only a move counts as the user's.
  d.UpDown1->UpButton->click();
  EXPECT_EQ(d.Values().number.position, 3);
  EXPECT_FALSE(d.Values().number.touched);
  QTest::keyClick(d.Edit1, Qt::Key_Down);
  EXPECT_EQ(S(d.Edit1->text()), "2");
  EXPECT_TRUE(d.Values().number.touched);
}

// Shows `values` through the desktop's interface and lets `act` work the dialog; whatever is still open
// afterwards is closed with its close box.
template <typename Values, typename Show>
std::optional<Values> ShowWith(const Values& values, Show show, std::function<void(QDialog*)> act) {
  QtUserInterface ui;
  ui.SetDialogHook([act](QDialog* d) {
    d->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(d));
    act(d);
    if (d->isVisible()) d->close();
  });
  return (ui.*show)(values);
}

TEST(SettingsDialogsTest, OnlyTheAcceptButtonAcceptsTheChooser) {
  const ChooserValues shown{"Deklaruj liczbę czujników:", "Liczba czujników:", {1, 10, 4}};
  auto show = &QtUserInterface::ShowChooser;
  auto accepted = ShowWith(shown, show, [](QDialog* d) {
    auto* f = qobject_cast<TForm3*>(d);
    f->UpDown1->UpButton->click();
    f->Button1->click();
  });
  ASSERT_TRUE(accepted);
  EXPECT_EQ(accepted->number.position, 5);
  EXPECT_TRUE(accepted->number.touched);
  // The access letter presses the button (which shows itself pressed a moment first).
  EXPECT_TRUE(ShowWith(shown, show, [](QDialog* d) {
    QTest::keyClick(d, Qt::Key_W, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([d] { return !d->isVisible(); }, 2000));
  }));
  EXPECT_FALSE(ShowWith(shown, show, [](QDialog* d) { d->close(); }));
  EXPECT_FALSE(ShowWith(shown, show, [](QDialog* d) { QTest::keyClick(d, Qt::Key_Escape); }));
  EXPECT_FALSE(ShowWith(shown, show, [](QDialog* d) { QTest::keyClick(d, Qt::Key_Return); }));
}

TEST(SettingsDialogsTest, GeneralOptionsLookAsDesignedAndGiveBackTheBoxesAndSpinners) {
  TForm4 d;
  d.Fill({{1, 180, 10}, {0, 100, 20}, 0x25, true});
  ExpectFixedDialog(d, {408, 249});
  EXPECT_EQ(S(d.windowTitle()), "Opcje i parametry ogólne.");
  EXPECT_EQ(Place(d.Bevel1), QRect(8, 8, 137, 81));
  EXPECT_EQ(Place(d.Bevel2), QRect(8, 96, 137, 81));
  const std::tuple<QLabel*, const char*, QPoint, QColor> labels[] = {
      {d.Label1, "Czas rejestracji:", {16, 16}, QColor(0, 0, 0xFF)},
      {d.Label2, "Próg przeł. ON/OFF:", {16, 104}, QColor(0, 0, 0xFF)},
      {d.Label3, "[1..180 min]", {16, 64}, QColor(0, 0, 0x80)},
      {d.Label4, "[0...100°C]", {16, 152}, QColor(0, 0, 0x80)},
  };
  for (const auto& [label, text, at, colour] : labels) {
    EXPECT_EQ(S(label->text()), text);
    EXPECT_EQ(label->pos(), at) << text;
    EXPECT_EQ(Colour(label, QPalette::WindowText), colour) << text;
    EXPECT_TRUE(label->font().bold());
  }
  ExpectSpinner(d.UpDown1, d.Edit1, {113, 32, 15, 28}, {16, 32, 97, 28});
  ExpectSpinner(d.UpDown2, d.Edit2, {113, 120, 15, 28}, {16, 120, 97, 28});
  EXPECT_EQ(d.Edit1->font().pixelSize(), 16);
  EXPECT_EQ(std::make_pair(S(d.Edit1->text()), S(d.Edit2->text())),
            std::make_pair(std::string("10"), std::string("20")));
  ExpectButton(d.BitBtn1, "&Aktualizuj", {40, 192, 75, 25}, QColor(0xFF, 0, 0));
  EXPECT_EQ(S(d.RadioGroup1->title()), "Opcje robocze");
  EXPECT_EQ(Place(d.RadioGroup1), QRect(160, 0, 241, 241));
  EXPECT_EQ(Colour(d.RadioGroup1, QPalette::WindowText), QColor(0, 0, 0xFF));
  const char* captions[] = {"Uśrednianie pomiarów dTn/n.",        "Alarm progu do skasowania.",
                            "Buzer podczas alarmu aktywny.",      "Alarm wart. skrajnych dla HIGRO.",
                            "Rejestracja wej. ON/OFF.",           "Maskowanie pomiarów błędnych.",
                            "Zatrzymaj po przepełnieniu bufora.", "Sygnał akus.po zapełnieniu bufora",
                            "Rejestruj temp. oraz wilgotność."};
  std::string ticked;
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(S(d.CheckBox[i]->text()), captions[i]);
    EXPECT_EQ(Place(d.CheckBox[i]).topLeft(), QPoint(168, 24 + 24 * i));
    EXPECT_EQ(d.CheckBox[i]->height(), 17);
    EXPECT_EQ(d.CheckBox[i]->cursor().shape(), Qt::PointingHandCursor);
    ticked += d.CheckBox[i]->isChecked() ? '1' : '0';
  }
  EXPECT_EQ(ticked, "101001001");

  auto out = ShowWith(LoggerOptionsValues{{1, 180, 180}, {0, 100, 100}, 0x25, true},
                      &QtUserInterface::ShowLoggerOptions, [](QDialog* dialog) {
                        auto* f = qobject_cast<TForm4*>(dialog);
                        f->UpDown1->UpButton->click();  // at the end already: no move
                        f->UpDown2->DownButton->click();
                        f->CheckBox[0]->click();
                        f->CheckBox[8]->click();
                        f->BitBtn1->click();
                      });
  ASSERT_TRUE(out);
  EXPECT_EQ(std::make_tuple(out->intervalMinutes.position, out->intervalMinutes.touched,
                            out->threshold.position, out->threshold.touched, out->options, out->humidity),
            std::make_tuple(180, false, 99, true, uint8_t{0x24}, false));
}

TEST(SettingsDialogsTest, SensorParametersLookAsDesignedAndTheOffsetSpinnerWritesItsField) {
  TForm5 d;
  d.Fill({"Parametry czujnika nr 4.", {-55, 30, -10}, {-10, 125, 30}, "0,0625", ","});
  ExpectFixedDialog(d, {422, 193});
  EXPECT_EQ(S(d.windowTitle()), "Parametry czujnika nr 4.");
  EXPECT_EQ(Place(d.Bevel1), QRect(8, 8, 409, 177));
  const std::tuple<QLabel*, QLineEdit*, TUpDown*, const char*, int, QColor> rows[] = {
      {d.Label1, d.Edit1, d.UpDown1, "Alarm niskiej temp. [ALL] -55°C..ALH [°C]", 24, QColor(0, 0, 0xFF)},
      {d.Label2, d.Edit2, d.UpDown2, "Alarm wysokiej temp.[ALH]: ALL..125°C [°C]", 64, QColor(0xFF, 0, 0)},
      {d.Label3, d.Edit3, d.UpDown3, "Offset pomiaru czujnika: +/- 3°C ", 104, QColor(0, 0x80, 0)},
  };
  for (const auto& [label, edit, upDown, text, top, colour] : rows) {
    EXPECT_EQ(S(label->text()), text);
    EXPECT_EQ(label->pos(), QPoint(112, top));
    EXPECT_EQ(Colour(label, QPalette::WindowText), colour);
    EXPECT_EQ(Colour(edit, QPalette::Text), colour);
    EXPECT_TRUE(label->font().bold());
    ExpectSpinner(upDown, edit, {89, top, 16, 24}, {24, top, 65, 24});
  }
  ExpectButton(d.BitBtn1, "&Akceptuj", {184, 144, 83, 25}, QColor(0xFF, 0, 0));
  EXPECT_EQ(std::make_tuple(S(d.Edit1->text()), S(d.Edit2->text()), S(d.Edit3->text())),
            std::make_tuple(std::string("-10"), std::string("30"), std::string("0,0625")));
  // The offset spinner counts from 0 whatever the field showed.
  d.UpDown3->DownButton->click();
  EXPECT_EQ(S(d.Edit3->text()), "-0,0625");
  d.UpDown3->UpButton->click();
  d.UpDown3->UpButton->click();
  EXPECT_EQ(S(d.Edit3->text()), "0,0625");
  d.UpDown1->UpButton->click();  // the high limit read bounds the low one
  EXPECT_EQ(d.Values().low.position, -10 + 1);

  auto out = ShowWith(SensorParamsValues{"x", {-55, 30, 30}, {30, 125, 30}, "0,0000", ","},
                      &QtUserInterface::ShowSensorParams, [](QDialog* dialog) {
                        auto* f = qobject_cast<TForm5*>(dialog);
                        f->UpDown1->UpButton->click();
                        f->UpDown2->UpButton->click();
                        for (int i = 0; i < 60; ++i) f->UpDown3->UpButton->click();
                        f->BitBtn1->click();
                      });
  ASSERT_TRUE(out);
  EXPECT_EQ(std::make_tuple(out->low.position, out->low.touched, out->high.position, out->high.touched,
                            out->offset),
            std::make_tuple(30, false, 31, true, std::string("3,0000")));
}

TEST(SettingsDialogsTest, ParametryCzujnikaFromTheMenuWritesWhatTheDialogsGaveBack) {
  sim::Device device;
  sim::SimBench bench;
  bench.ports["COM1"] = {&device, false};
  auto clock = std::make_unique<sim::VirtualClock>();
  auto port = std::make_unique<sim::SimSerialPort>(*clock, bench);
  sim::SimSerialPort* simPort = port.get();
  TForm1 window(std::move(port), std::move(clock), std::nullopt);
  ASSERT_TRUE(window.GetSession().link.OpenPort("COM1", Parity::Even));
  std::vector<std::string> shown;
  window.Ui().SetDialogHook([&shown](QDialog* d) {
    shown.push_back(S(d->windowTitle()));
    if (auto* chooser = qobject_cast<TForm3*>(d)) {
      chooser->UpDown1->UpButton->click();
      chooser->Button1->click();
    } else if (auto* params = qobject_cast<TForm5*>(d)) {
      params->UpDown3->UpButton->click();
      params->BitBtn1->click();
    } else {
      d->close();
    }
  });
  window.findChild<QAction*>("Parametryczujnika1")->trigger();
  EXPECT_EQ(shown, (std::vector<std::string>{"Wybór czujnika:", "Parametry czujnika nr 2."}));
  EXPECT_EQ(device.registers[79], 49);
  EXPECT_TRUE(window.GetSession().DialogAccepted);
  EXPECT_EQ(simPort->SentBytes().back(), 49);
}

}  // namespace
}  // namespace velutron
