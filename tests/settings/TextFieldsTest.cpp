// The four text editors and the licence viewer: what they read, ask, write and show.

#include "settings/SettingsFixture.h"
#include "settings/TextFields.h"

namespace velutron {
namespace {

using test::Events;

// One command per byte of a field: "35-16 35-17 ..." or, with a value, "25-16-78 ...".
std::string Each(int command, int address, int length, const std::string& values = "") {
  std::string out;
  for (int k = 0; k < length; ++k) {
    out += " " + std::to_string(command) + "-" + std::to_string((address + k) & 0xFF);
    if (!values.empty()) out += "-" + std::to_string(k < static_cast<int>(values.size()) ? values[k] : ' ');
  }
  return out;
}

class TextFieldsTest : public test::SettingsTest {};

TEST_F(TextFieldsTest, EachEditorReadsItsFieldOffersItAndWritesTheEntryBack) {
  struct Case {
    Outcome (*editor)(Session&);
    std::string chooser;  // the exchange of the sensor chooser, if any
    int read, write, address, length;
    std::string value;  // as reported and offered
    std::string input;  // caption|prompt
    std::string saved;
  };
  const Case cases[] = {
      {Nadzrpomiaru1Click, "", 35, 25, 16, 16, "supervisor|QA dept. room 12",
       "Dane osoby nadzorujacej.|Nadzór pomiarów [max.16 znaków]:", "osobę do nadzoru pomiarów."},
      {Nazwapktpomiar1Click, " 30-75", 37, 27, 144, 16, "point_name|Roof space      ",
       "Nazwa punktu pomiarowego.|Nazwa pkt. pomiarowego [max.16 znaków]:", "nazwę punktu pomiarowego."},
      {Wpislicencji1Click, "", 35, 25, 32, 35, "owner|Northfield Cold Store, Hall B      ",
       "Licencja użytkownika.|Wpisz nazwę firmy [max. 35 znaków]:", "licencję użytkownika."},
      {Wpisnrserii1Click, "", 35, 25, 88, 16, "serial|VT-2009-000417  ",
       "Numer seryjny rejestratora.|Wpisz numer seryjny [max.16 znaków]:", "numer seryjny."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.saved);
    test::SimSession sim;
    ASSERT_TRUE(sim.OpenPort());
    sim.s.settings.ServiceAccess = true;
    sim.device.registers[75] = 10;
    sim.ui.choosers = {ChooserAnswer{10}};
    sim.ui.inputs = {"NEW"};
    EXPECT_EQ(c.editor(sim.s), Outcome::Completed);
    EXPECT_EQ(sim.TakeWire(), "30-62 30-14" + c.chooser + " 75" + Each(c.read, c.address, c.length) +
                                  Each(c.write, c.address, c.length, "NEW"));
    Events expected;
    if (!c.chooser.empty()) {
      expected = {"value|sensor_count|10", "chooser|Wybór czujnika:|Nr czujnika:|1..10|1|10"};
    }
    const std::string offered = c.value.substr(c.value.find('|') + 1);
    expected.insert(expected.end(), {"value|" + c.value, "input|" + c.input + "|" + offered + "|NEW",
                                     "message|Zapis danych.|Zapisano " + c.saved});
    EXPECT_EQ(sim.ui.events, expected);
  }
}

TEST_F(TextFieldsTest, OwnerAndSerialNeedServiceAccessAndReadNothingWithoutIt) {
  for (auto editor : {Wpislicencji1Click, Wpisnrserii1Click}) {
    sim.ui.events.clear();
    EXPECT_EQ(editor(sim.s), Outcome::Failed);
    EXPECT_EQ(sim.ui.events, Events{test::kLocked});
    EXPECT_EQ(sim.TakeWire(), "30-62 30-14");
  }
}

TEST_F(TextFieldsTest, CancelWritesNothingAndAClosedChooserEditsTheSensorChosenLast) {
  sim.ui.inputs = {std::nullopt};
  EXPECT_EQ(Nadzrpomiaru1Click(sim.s), Outcome::Cancelled);
  EXPECT_EQ(sim.TakeWire(), "30-62 30-14 75" + Each(35, 16, 16));

  sim.s.link.state.SensorNumber = 2;
  sim.ui.inputs = {"Hala B"};
  EXPECT_EQ(Nazwapktpomiar1Click(sim.s), Outcome::Completed);
  EXPECT_EQ(sim.TakeWire(), "30-62 30-14 30-75 75" + Each(37, 16, 16) + Each(27, 16, 16, "Hala B"));
}

TEST_F(TextFieldsTest, LicenceShowsOwnerAndSerialWithoutTheRecordingCheck) {
  sim.device.SetRecording(true);
  sim.device.SetText(35, 88, 16, "");
  EXPECT_EQ(Licencja1Click(sim.s), Outcome::Completed);
  EXPECT_EQ(sim.TakeWire(), "30-62 75" + Each(35, 32, 35) + " 75" + Each(35, 88, 16));
  EXPECT_EQ(Shown(), Events{"message|Licencja.|Licencja użytkownika:\rNorthfield Cold Store, Hall B      \r"
                            "Numer seryjny:\rBRAK WPISU !!!"});
}

TEST_F(TextFieldsTest, AFieldReadOnlyInPartIsNeitherShownNorOffered) {
  const std::pair<Outcome (*)(Session&), uint32_t> cases[] = {
      {Nadzrpomiaru1Click, 2 + 8}, {Licencja1Click, 1 + 20}, {Licencja1Click, 1 + 35 + 8}};
  for (const auto& [operation, answers] : cases) {
    SCOPED_TRACE(answers);
    test::SimSession sim;
    ASSERT_TRUE(sim.OpenPort());
    sim.device.faults.silentAfter = answers;
    EXPECT_EQ(operation(sim.s), Outcome::Failed);
    EXPECT_EQ(sim.ui.events, Events{test::kTimeoutMessage});
  }
}

}  // namespace
}  // namespace velutron
