// The exports of a known database: values, times, markers and texts, exactly as other tools read them.

#include <nlohmann/json.hpp>

#include "KnownDatabase.h"
#include "ReportFixture.h"
#include "data/DatabaseCommands.h"
#include "data/Export.h"

namespace velutron::test {
namespace {

DatabaseContents KnownDatabase() { return DecodeDatabase(KnownDump().File()); }

TEST(ExportTest, CsvHasOneRowPerRecordWithIsoTimesDotDecimalsAndMarkersInTheStatus) {
  EXPECT_EQ(ExportDatabase(KnownDatabase(), ExportFormat::Csv, "RT_test.DAT"),
            "# file: RT_test.DAT\n"
            "# owner: Zakład Testowy\n"
            "# supervision: Kontrola 1\n"
            "# ch1: Suchy\n"
            "# ch2: Mokry\n"
            "# ch3: \n"
            "# ch4: \n"
            "# switch threshold: 25 °C\n"
            "record,time,switching,ch1_C,ch2_RH,ch3_C,ch4_C,ch4_RH,on_off,status\n"
            "1,2009-06-05T14:05:30,0,20.0,90.2,25.0,,91.4,ON,\n"
            "2,2009-06-05T14:15:30,0,,,25.0,,91.4,OFF,ch1_C=T_min; ch2_RH=T suchy!\n"
            "3,2009-06-05T14:25:30,25,25.0,91.4,,20.0625,,,ch3_C=T_max\n"
            "4,,0,20.0,90.2,25.0,,91.4,,time=invalid\n");
}

TEST(ExportTest, JsonCarriesTheTextsAndOneObjectPerRecordWithNullsForMarkers) {
  const std::string text = ExportDatabase(KnownDatabase(), ExportFormat::Json, "RT_test.DAT");
  const auto j = nlohmann::json::parse(text);
  EXPECT_EQ(j["owner"], "Zakład Testowy");
  EXPECT_EQ(j["supervision"], "Kontrola 1");
  EXPECT_EQ(j["switch_threshold"], 25);
  EXPECT_EQ(j["channels"][1], (nlohmann::json{{"channel", 2}, {"name", "Mokry"}}));
  ASSERT_EQ(j["records"].size(), 4u);
  // A record as other tools read it: nulls with a status, the units, the ON/OFF mark.
  const std::string second = text.substr(text.find("{\"record\":2"));
  EXPECT_EQ(second.substr(0, second.find('\n')),
            R"({"record":2,"time":"2009-06-05T14:15:30","switching":0,"on_off":"OFF","readings":[)"
            R"({"channel":1,"unit":"°C","value":null,"status":"T_min"},)"
            R"({"channel":2,"unit":"%RH","value":null,"status":"T suchy!"},)"
            R"({"channel":3,"unit":"°C","value":25.0,"status":null},)"
            R"({"channel":4,"unit":"%RH","value":91.4,"status":null}]},)");
  EXPECT_EQ(j["records"][2]["readings"][3],
            (nlohmann::json{{"channel", 4}, {"unit", "°C"}, {"value", 20.0625}, {"status", nullptr}}));
  EXPECT_EQ(j["records"][3]["time"], nullptr);
  // One record a line, for line tools and diffs.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
}

TEST_F(ReportFixture, TheChartItemReadsTheChosenDatabaseOrSaysWhyNot) {
  Store(KnownDump().File(), "known.DAT");
  Store({0xFF, 0xFE, 0x01}, "damaged.DAT");
  DumpBuilder noValue;
  noValue.Record({0}).Record({4003});
  Store(noValue.File(), "novalue.DAT");
  const std::string known = (dir.path() / "known.DAT").string();
  ui.files = {known, (dir.path() / "damaged.DAT").string(), (dir.path() / "absent.DAT").string(),
              (dir.path() / "novalue.DAT").string(), std::nullopt};
  const auto chosen = Wykresbazydanych1Click(s);
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(chosen->path, known);
  EXPECT_EQ(chosen->contents.RecordsRead(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(Wykresbazydanych1Click(s).has_value());
  EXPECT_EQ(ui.events, (std::vector<std::string>{
                           "open-file|Wybierz nazwę pliku.|" + known,
                           "open-file|Wybierz nazwę pliku.|" + (dir.path() / "damaged.DAT").string(),
                           "message|Błąd bazy danych!|Uszkodzenie struktury bazy danych !",
                           "open-file|Wybierz nazwę pliku.|" + (dir.path() / "absent.DAT").string(),
                           "message|Uwaga !|Blokada odczytu danych z dysku !",
                           "open-file|Wybierz nazwę pliku.|" + (dir.path() / "novalue.DAT").string(),
                           "message|Uwaga !|Brak pomiarów do narysowania wykresu !",
                           "open-file|Wybierz nazwę pliku.|cancel",
                       }));
}

}  // namespace
}  // namespace velutron::test
