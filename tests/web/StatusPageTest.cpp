// The status page: values coloured as the monitoring window colours them, every text escaped.

#include <gtest/gtest.h>

#include "station/StatusPage.h"

namespace velutron::station {
namespace {

using archive::Unit;

TEST(StatusPageTest, ValuesAreShadedAsTheMonitoringWindowShadesThem) {
  struct Case {
    Unit unit;
    std::optional<double> value;
    std::string status;
    std::optional<double> low, high;
    Shade shade;
  };
  const Case cases[] = {
      {Unit::Celsius, -20, "", -25, -15, Shade::Inside},
      {Unit::Celsius, -15, "", -25, -15, Shade::Above},  // on the high limit: high alarm
      {Unit::Celsius, -25, "", -25, -15, Shade::Below},
      {Unit::Celsius, 5, "", 5, 5, Shade::Below},  // both hold: the low test wins
      {Unit::Celsius, 120, "", std::nullopt, std::nullopt, Shade::Inside},
      {Unit::Celsius, std::nullopt, "ERROR!", -25, -15, Shade::Above},
      {Unit::Celsius, std::nullopt, "", -25, -15, Shade::Unknown},  // not read yet
      {Unit::RelativeHumidity, 61.7, "", std::nullopt, std::nullopt, Shade::Inside},
      {Unit::RelativeHumidity, 100, "", std::nullopt, std::nullopt, Shade::Above},
      {Unit::RelativeHumidity, std::nullopt, "T suchy!", std::nullopt, std::nullopt, Shade::Above},
      {Unit::RelativeHumidity, std::nullopt, "Brak tab.", std::nullopt, std::nullopt, Shade::Above},
      {Unit::RelativeHumidity, std::nullopt, "MIN tab.", std::nullopt, std::nullopt, Shade::Below},
      {Unit::RelativeHumidity, 35, "", 40, 80, Shade::Below},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.value ? std::to_string(*c.value) : c.status));
    EXPECT_EQ(ShadeOf({1, "", c.unit, c.value, c.status, c.low, c.high, {}}), c.shade);
  }
}

TEST(StatusPageTest, ShowsEachChannelWithItsValueBandAgeAndAlarms) {
  const int64_t now = 1796709970000;  // 2026-12-08T06:06:10Z
  LoggerSnapshot l;
  l.name = "Chłodnia <A> & \"B\"";
  l.serial = "VT-2031";
  l.up = true;
  l.last_reading_utc_ms = now - 12'000;
  l.channels = {{1, "Mroźnia", Unit::Celsius, -12.5, "", -25, -15, {"high"}},
                {2, "</div><script>x()</script>", Unit::RelativeHumidity, 90.25, "", {}, {}, {}},
                {3, "Drzwi", Unit::Celsius, std::nullopt, "ERROR!", -5, 30, {}}};
  l.open_alarms = {"clock"};
  LoggerSnapshot down;
  down.name = "Hala";
  down.last_reading_utc_ms = now - 3 * 3600 * 1000;
  const std::string page = RenderStatusPage({l, down}, now);
  const std::string expected[] = {
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">",
      "<main id=\"status\" data-now=\"2026-12-08T06:06:10Z\">",
      "<section class=\"logger\" data-logger=\"Chłodnia &lt;A&gt; &amp; &quot;B&quot;\">\n"
      "<h2>Chłodnia &lt;A&gt; &amp; &quot;B&quot; <small>VT-2031</small></h2>\n"
      "<p class=\"reading\">Odczyt <span class=\"age\" data-time=\"2026-12-08T06:05:58Z\">12 s "
      "temu</span></p>\n"
      "<ul class=\"alarms\"><li class=\"alarm\" data-kind=\"clock\">"
      "Zegar rejestratora odbiega od zegara komputera</li></ul>",
      "<div class=\"channel\" data-channel=\"1\" data-low=\"-25\" data-high=\"-15\">\n"
      "<div class=\"point\">1. Mroźnia</div>\n"
      "<div class=\"value above\" style=\"color:#ff0000\">-12,5°C</div>\n"
      "<div class=\"band\">-25°C&lt;AL&gt;-15°C</div>\n"
      "<div class=\"alarm\" data-kind=\"high\">Przekroczona górna granica</div>\n<svg class=\"chart\"",
      "<div class=\"point\">2. &lt;/div&gt;&lt;script&gt;x()&lt;/script&gt;</div>\n"
      "<div class=\"value inside\" style=\"color:#008000\">90,3%RH</div>\n"
      "<div class=\"band\">0%RH&lt;AL&gt;100%RH</div>",
      "<div class=\"value above\" style=\"color:#ff0000\">ERROR!</div>\n<div "
      "class=\"band\">-5°C&lt;AL&gt;30°C</div>",
      "<section class=\"logger down\" data-logger=\"Hala\">\n<h2>Hala</h2>\n"
      "<p class=\"reading\">Odczyt <span class=\"age\" data-time=\"2026-12-08T03:06:10Z\">3 h "
      "temu</span></p>\n"
      "<ul class=\"alarms\"><li class=\"notice\">Brak połączenia rejestratora z komputerem!</li></ul>",
  };
  for (const std::string& part : expected)
    EXPECT_NE(page.find(part), std::string::npos) << part << "\n" << page;
  EXPECT_EQ(page.find("<script>x()"), std::string::npos);
}

}  // namespace
}  // namespace velutron::station
