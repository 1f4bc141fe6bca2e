// The settings dialogs TForm3, TForm4 and TForm5: how they look, what goes in and what comes out.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "app/MainWindow.h"
#include "settings/ChooserDialog.h"
#include "settings/LoggerOptionsDialog.h"
#include "settings/SensorParamsDialog.h"
#include "settings/UpDown.h"
#include "sim/SimPort.h"

namespace velutron {
namespace {

std::string S(const QString& s) { return s.toStdString(); }

const QColor kBlue(0, 0, 0xFF), kRed(0xFF, 0, 0), kGreen(0, 0x80, 0), kNavy(0, 0, 0x80), kNone;

// One control as the user sees it: its place in the client area (a label only by its corner), its text
// and colour (none: not checked). Spinners, buttons and boxes take the hand cursor, edits the no-entry one
// and are read-only; texts are bold.
struct Look {
  const char* name;
  QRect place;
  const char* text;
  QColor colour;
};

// A dialog widened for its title keeps its controls centred: `client` is the size it was designed with.
void ExpectLooks(const QDialog& d, QSize client, const char* caption, std::initializer_list<Look> looks) {
  EXPECT_EQ(d.height(), client.height());
  EXPECT_GE(d.width(), client.width());
  const QPoint shift((d.width() - client.width()) / 2, 0);
  EXPECT_EQ(d.minimumSize(), d.maximumSize());
  EXPECT_TRUE(d.windowFlags() & Qt::MSWindowsFixedSizeDialogHint);
  EXPECT_EQ(S(d.windowTitle()), caption);
  for (const Look& l : looks) {
    SCOPED_TRACE(l.name);
    const auto* w = d.findChild<QWidget*>(l.name);
    ASSERT_NE(w, nullptr);
    const QRect place(w->mapTo(&d, QPoint(0, 0)) - shift, l.place.isEmpty() ? l.place.size() : w->size());
    EXPECT_EQ(place, l.place);
    QString text;
    QPalette::ColorRole role = QPalette::WindowText;
    Qt::CursorShape cursor = Qt::PointingHandCursor;
    if (auto* label = qobject_cast<const QLabel*>(w)) {
      text = label->text();
      cursor = w->cursor().shape();
    } else if (auto* edit = qobject_cast<const QLineEdit*>(w)) {
      text = edit->text();
      role = QPalette::Text;
      cursor = Qt::ForbiddenCursor;
      EXPECT_TRUE(edit->isReadOnly());
    } else if (auto* button = qobject_cast<const QAbstractButton*>(w)) {
      text = button->text();
      if (qobject_cast<const QPushButton*>(w)) role = QPalette::ButtonText;
    } else if (auto* group = qobject_cast<const QGroupBox*>(w)) {
      text = group->title();
      cursor = w->cursor().shape();
    } else if (!qobject_cast<const TUpDown*>(w)) {
      cursor = w->cursor().shape();  // a bevel
    }
    if (*l.text) {
      EXPECT_EQ(S(text), l.text);
    }
    if (l.colour.isValid()) {
      EXPECT_EQ(w->palette().color(role), l.colour);
    }
    if (*l.text && !qobject_cast<const QLineEdit*>(w)) {
      EXPECT_TRUE(w->font().bold());
    }
    EXPECT_EQ(w->cursor().shape(), cursor);
  }
}

// Shows `values` through the desktop's interface and lets `act` work the dialog; whatever is still open
// afterwards is closed with its close box.
template <typename Values, typename Show>
std::optional<Values> ShowWith(const Values& values, Show show, std::function<void(QDialog*)> act) {
  DesktopUserInterface ui;
  ui.SetDialogHook([act](QDialog* d) {
    d->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(d));
    act(d);
    if (d->isVisible()) d->close();
  });
  return (ui.*show)(values);
}

TEST(SettingsDialogsTest, EachDialogIsWideEnoughForItsWholeTitleAndReturnAcceptsIt) {
  DesktopUserInterface ui;
  std::vector<std::string> seen;
  ui.SetDialogHook([&seen](QDialog* d) {
    d->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(d));
    QFont title = QApplication::font("QMdiSubWindowTitleBar");
    title.setBold(true);
    // The title and, beside it, the window manager's icon and buttons.
    const int needed = QFontMetrics(title).horizontalAdvance(d->windowTitle()) + 120;
    seen.push_back(S(d->windowTitle()) + (d->width() >= needed ? ": fits" : ": cut"));
    QTest::keyClick(d->focusWidget() != nullptr ? d->focusWidget() : d, Qt::Key_Return);
    if (d->isVisible()) d->close();
  });
  const std::function<bool()> dialogs[] = {
      [&] {
        return ui.ShowChooser({"Wybór czujnika:", "Nr czujnika:", {1, 3, 2}}).has_value();
      },
      [&] {
        return ui.ShowChooser({"Deklaruj liczbę czujników:", "Liczba czujników:", {1, 10, 4}}).has_value();
      },
      [&] {
        return ui.ShowLoggerOptions({{1, 180, 10}, {0, 100, 20}, 0, false}).has_value();
      },
      [&] {
        return ui.ShowSensorParams({"Parametry czujnika nr 10.", {-55, 25, -5}, {-5, 125, 25}, "0,0000", ","})
            .has_value();
      },
      [&] {
        return ui.AskText("Dane osoby nadzorujacej.", "Nadzór pomiarów [max.16 znaków]:", "Jan").has_value();
      },
  };
  for (const auto& show : dialogs) EXPECT_TRUE(show());
  EXPECT_EQ(seen,
            (std::vector<std::string>{"Wybór czujnika:: fits", "Deklaruj liczbę czujników:: fits",
                                      "Opcje i parametry ogólne.: fits", "Parametry czujnika nr 10.: fits",
                                      "Dane osoby nadzorujacej.: fits"}));
}

TEST(SettingsDialogsTest, ChooserLooksAsDesignedAndOnlyItsAcceptButtonAcceptsIt) {
  TForm3 d;
  d.Fill({"Wybór czujnika:", "Nr czujnika:", {1, 3, 5}});  // a number above the maximum shows as it
  ExpectLooks(d, {202, 114}, "Wybór czujnika:",
              {{"Bevel1", {8, 8, 185, 97}, "", kNone},
               {"Label1", {56, 8, 0, 0}, "Nr czujnika:", kBlue},
               {"Edit1", {64, 32, 57, 32}, "3", kRed},
               {"UpDown1", {121, 32, 16, 32}, "", kNone},
               {"Button1", {64, 72, 73, 25}, "&Wybierz", kRed}});
  EXPECT_EQ(std::make_pair(d.Label1->font().pixelSize(), d.Edit1->font().pixelSize()),
            std::make_pair(13, 19));
  // The arrows stop at the ends; only a move counts as the user's, from an arrow or the edit's keys.
  d.UpDown1->UpButton->click();
  EXPECT_FALSE(d.Values().number.touched);
  QTest::keyClick(d.Edit1, Qt::Key_Down);
  EXPECT_EQ(S(d.Edit1->text()), "2");
  EXPECT_TRUE(d.Values().number.touched);

  const ChooserValues shown{"Deklaruj liczbę czujników:", "Liczba czujników:", {1, 10, 4}};
  const auto show = &DesktopUserInterface::ShowChooser;
  const auto chosen = ShowWith(shown, show, [](QDialog* dialog) {
    auto* f = qobject_cast<TForm3*>(dialog);
    f->UpDown1->UpButton->click();
    f->Button1->click();
  });
  ASSERT_TRUE(chosen);
  EXPECT_EQ(std::make_pair(chosen->number.position, chosen->number.touched), std::make_pair(5, true));
  // The access letter presses the button (which shows itself pressed a moment first).
  EXPECT_TRUE(ShowWith(shown, show, [](QDialog* dialog) {
    QTest::keyClick(dialog, Qt::Key_W, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([dialog] { return !dialog->isVisible(); }, 2000));
  }));
  EXPECT_FALSE(ShowWith(shown, show, [](QDialog* dialog) { dialog->close(); }));
  EXPECT_FALSE(ShowWith(shown, show, [](QDialog* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); }));
  EXPECT_TRUE(
      ShowWith(shown, show, [](QDialog* dialog) { QTest::keyClick(dialog->focusWidget(), Qt::Key_Return); }));
}

TEST(SettingsDialogsTest, GeneralOptionsLookAsDesignedAndGiveBackTheBoxesAndSpinners) {
  TForm4 d;
  d.Fill({{1, 180, 10}, {0, 100, 20}, 0x25, true});
  ExpectLooks(d, {408, 249}, "Opcje i parametry ogólne.",
              {{"Bevel1", {8, 8, 137, 81}, "", kNone},
               {"Label1", {16, 16, 0, 0}, "Czas rejestracji:", kBlue},
               {"Edit1", {16, 32, 97, 28}, "10", kNone},
               {"UpDown1", {113, 32, 15, 28}, "", kNone},
               {"Label3", {16, 64, 0, 0}, "[1..180 min]", kNavy},
               {"Bevel2", {8, 96, 137, 81}, "", kNone},
               {"Label2", {16, 104, 0, 0}, "Próg przeł. ON/OFF:", kBlue},
               {"Edit2", {16, 120, 97, 28}, "20", kNone},
               {"UpDown2", {113, 120, 15, 28}, "", kNone},
               {"Label4", {16, 152, 0, 0}, "[0...100°C]", kNavy},
               {"BitBtn1", {40, 192, 75, 25}, "&Aktualizuj", kRed},
               {"RadioGroup1", {160, 0, 241, 241}, "Opcje robocze", kBlue},
               {"CheckBox1", {168, 24, 225, 17}, "Uśrednianie pomiarów dTn/n.", kNone},
               {"CheckBox2", {168, 48, 225, 17}, "Alarm progu do skasowania.", kNone},
               {"CheckBox3", {168, 72, 225, 17}, "Buzer podczas alarmu aktywny.", kNone},
               {"CheckBox4", {168, 96, 225, 17}, "Alarm wart. skrajnych dla HIGRO.", kNone},
               {"CheckBox5", {168, 120, 225, 17}, "Rejestracja wej. ON/OFF.", kNone},
               {"CheckBox6", {168, 144, 225, 17}, "Maskowanie pomiarów błędnych.", kNone},
               {"CheckBox7", {168, 168, 225, 17}, "Zatrzymaj po przepełnieniu bufora.", kNone},
               {"CheckBox8", {168, 192, 225, 17}, "Sygnał akus.po zapełnieniu bufora", kNone},
               {"CheckBox9", {168, 216, 225, 17}, "Rejestruj temp. oraz wilgotność.", kNone}});
  EXPECT_EQ(d.Edit1->font().pixelSize(), 16);
  std::string ticked;
  for (const QCheckBox* box : d.CheckBox) ticked += box->isChecked() ? '1' : '0';
  EXPECT_EQ(ticked, "101001001");

  d.Fill({{1, 180, 180}, {0, 100, 100}, 0x25, true});
  d.UpDown1->UpButton->click();  // at its end already: no move
  d.UpDown2->DownButton->click();
  d.CheckBox[0]->click();
  d.CheckBox[8]->click();
  const LoggerOptionsValues out = d.Values();
  EXPECT_EQ(std::make_tuple(out.intervalMinutes.position, out.intervalMinutes.touched, out.threshold.position,
                            out.threshold.touched, out.options, out.humidity),
            std::make_tuple(180, false, 99, true, uint8_t{0x24}, false));
}

TEST(SettingsDialogsTest, SensorParametersLookAsDesignedAndTheOffsetSpinnerWritesItsField) {
  TForm5 d;
  d.Fill({"Parametry czujnika nr 4.", {-55, 30, -10}, {-10, 125, 30}, "0,0625", ","});
  ExpectLooks(d, {422, 193}, "Parametry czujnika nr 4.",
              {{"Bevel1", {8, 8, 409, 177}, "", kNone},
               {"Edit1", {24, 24, 65, 24}, "-10", kBlue},
               {"UpDown1", {89, 24, 16, 24}, "", kNone},
               {"Label1", {112, 24, 0, 0}, "Alarm niskiej temp. [ALL] -55°C..ALH [°C]", kBlue},
               {"Edit2", {24, 64, 65, 24}, "30", kRed},
               {"UpDown2", {89, 64, 16, 24}, "", kNone},
               {"Label2", {112, 64, 0, 0}, "Alarm wysokiej temp.[ALH]: ALL..125°C [°C]", kRed},
               {"Edit3", {24, 104, 65, 24}, "0,0625", kGreen},
               {"UpDown3", {89, 104, 16, 24}, "", kNone},
               {"Label3", {112, 104, 0, 0}, "Offset pomiaru czujnika: +/- 3°C ", kGreen},
               {"BitBtn1", {184, 144, 83, 25}, "&Akceptuj", kRed}});
  // The offset spinner counts from 0 whatever the field showed; the high limit read bounds the low one.
  d.UpDown3->DownButton->click();
  EXPECT_EQ(S(d.Edit3->text()), "-0,0625");
  d.UpDown1->UpButton->click();
  EXPECT_EQ(d.Values().low.position, -9);

  d.Fill({"x", {-55, 30, 30}, {30, 125, 30}, "0,0000", ","});
  d.UpDown1->UpButton->click();
  d.UpDown2->UpButton->click();
  for (int i = 0; i < 60; ++i) d.UpDown3->UpButton->click();
  const SensorParamsValues out = d.Values();
  EXPECT_EQ(
      std::make_tuple(out.low.position, out.low.touched, out.high.position, out.high.touched, out.offset),
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
  EXPECT_EQ(device.registers[79], 49);  // sensor 2's offset, one sixteenth up
  EXPECT_TRUE(window.GetSession().DialogAccepted);

  // Each limit moved as far as the other one as read: crossed, refused, and nothing written.
  shown.clear();
  window.Ui().SetDialogHook([&shown](QDialog* d) {
    if (auto* chooser = qobject_cast<TForm3*>(d)) {
      chooser->Button1->click();
    } else if (auto* params = qobject_cast<TForm5*>(d)) {
      for (int i = 0; i < 30; ++i) params->UpDown1->UpButton->click();
      for (int i = 0; i < 30; ++i) params->UpDown2->DownButton->click();
      params->BitBtn1->click();
    } else {
      shown.push_back(S(d->windowTitle()) + ": " + S(qobject_cast<QMessageBox*>(d)->text()));
      d->close();
    }
  });
  simPort->sent.clear();
  window.findChild<QAction*>("Parametryczujnika1")->trigger();
  EXPECT_EQ(shown, (std::vector<std::string>{
                       "Uwaga !: Alarm niskiej temp. 25°C jest wyższy niż alarm wysokiej temp. "
                       "-5°C !\nParametry czujnika nie zostały zapisane."}));
  // The probe, the recording state, the sensor count and the three parameters: reads only.
  EXPECT_EQ(simPort->SentBytes(), (std::vector<uint8_t>{30, 62, 30, 14, 30, 75, 30, 109, 30, 119, 30, 79}));
}

}  // namespace
}  // namespace velutron
