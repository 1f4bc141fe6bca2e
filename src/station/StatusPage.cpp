#include "station/StatusPage.h"

#include <charconv>
#include <cmath>

#include "session/Format.h"
#include "station/JsonApi.h"

namespace velutron::station {

namespace {

// The monitoring window's colours: pure red, pure blue, dark green.
constexpr std::string_view kRed = "#ff0000";
constexpr std::string_view kBlue = "#0000ff";
constexpr std::string_view kGreen = "#008000";

// One decimal with a decimal comma, halves away from zero, as the monitoring window shows a value.
std::string ValueText(double value) {
  return FormatTenths(static_cast<int32_t>(std::lround(value * 10)), ",");
}

// A limit as short as it is exact: -25 or -25,5.
std::string LimitText(double value) {
  char text[32];
  std::string s(text, std::to_chars(text, text + sizeof text, value).ptr);
  for (char& c : s) {
    if (c == '.') c = ',';
  }
  return s;
}

// A number for the script: with a decimal point.
std::string Attribute(double value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string AgeText(int64_t ms) {
  const int64_t s = std::max<int64_t>(0, ms / 1000);
  if (s < 120) return std::to_string(s) + " s temu";
  if (s < 2 * 3600) return std::to_string(s / 60) + " min temu";
  if (s < 2 * 86400) return std::to_string(s / 3600) + " h temu";
  return std::to_string(s / 86400) + " dni temu";
}

std::string AlarmText(std::string_view kind) {
  if (kind == "high") return "Przekroczona górna granica";
  if (kind == "low") return "Przekroczona dolna granica";
  if (kind == "sensor") return "Błąd czujnika";
  if (kind == "link") return "Brak połączenia rejestratora z komputerem!";
  if (kind == "bus") return "Brak komunikacji magistralą 1-WIRE z czujnikami!";
  if (kind == "clock") return "Zegar rejestratora odbiega od zegara komputera";
  return std::string(kind);
}

std::string_view ShadeClass(Shade shade) {
  switch (shade) {
    case Shade::Inside:
      return "inside";
    case Shade::Above:
      return "above";
    case Shade::Below:
      return "below";
    case Shade::Unknown:
      break;
  }
  return "unknown";
}

std::string_view ShadeColour(Shade shade) {
  switch (shade) {
    case Shade::Inside:
      return kGreen;
    case Shade::Above:
      return kRed;
    case Shade::Below:
      return kBlue;
    case Shade::Unknown:
      break;
  }
  return "#606060";
}

void Channel(std::string& out, const ChannelSnapshot& c) {
  const bool humidity = c.unit == archive::Unit::RelativeHumidity;
  const std::string unit(UnitText(c.unit));
  const Shade shade = ShadeOf(c);
  out += "<div class=\"channel\" data-channel=\"" + std::to_string(c.channel) + "\"";
  if (c.low) out += " data-low=\"" + Attribute(*c.low) + "\"";
  if (c.high) out += " data-high=\"" + Attribute(*c.high) + "\"";
  out += ">\n<div class=\"point\">" + std::to_string(c.channel) + ". " + EscapeHtml(c.point) + "</div>\n";
  std::string value = "—";
  if (c.value) {
    value = ValueText(*c.value) + unit;
  } else if (!c.status.empty()) {
    value = c.status;
  }
  out += "<div class=\"value " + std::string(ShadeClass(shade)) +
         "\" style=\"color:" + std::string(ShadeColour(shade)) + "\">" + EscapeHtml(value) + "</div>\n";
  // The window's band label; a humidity channel's band is the table's whole range.
  std::string band;
  if (humidity && !c.low && !c.high) {
    band = "0%RH<AL>100%RH";
  } else if (c.low || c.high) {
    band = (c.low ? LimitText(*c.low) + unit : std::string()) + "<AL>" +
           (c.high ? LimitText(*c.high) + unit : std::string());
  }
  out += "<div class=\"band\">" + EscapeHtml(band) + "</div>\n";
  for (const std::string& kind : c.open_alarms) {
    out += "<div class=\"alarm\" data-kind=\"" + EscapeHtml(kind) + "\">" + EscapeHtml(AlarmText(kind)) +
           "</div>\n";
  }
  out +=
      "<svg class=\"chart\" viewBox=\"0 0 300 80\" preserveAspectRatio=\"none\" role=\"img\" "
      "aria-label=\"Ostatnie 24 godziny\"></svg>\n</div>\n";
}

void Logger(std::string& out, const LoggerSnapshot& l, int64_t now_ms) {
  out += "<section class=\"logger" + std::string(l.up ? "" : " down") + "\" data-logger=\"" +
         EscapeHtml(l.name) + "\">\n<h2>" + EscapeHtml(l.name);
  if (!l.serial.empty()) out += " <small>" + EscapeHtml(l.serial) + "</small>";
  out += "</h2>\n<p class=\"reading\">";
  if (l.last_reading_utc_ms) {
    out += "Odczyt <span class=\"age\" data-time=\"" + UtcText(*l.last_reading_utc_ms) + "\">" +
           AgeText(now_ms - *l.last_reading_utc_ms) + "</span>";
  } else {
    out += "Brak odczytu";
  }
  out += "</p>\n";
  bool linkShown = false;
  out += "<ul class=\"alarms\">";
  for (const std::string& kind : l.open_alarms) {
    linkShown = linkShown || kind == "link";
    out +=
        "<li class=\"alarm\" data-kind=\"" + EscapeHtml(kind) + "\">" + EscapeHtml(AlarmText(kind)) + "</li>";
  }
  // Lost only a moment ago: no alarm yet, but the values shown are no longer current.
  if (!l.up && !linkShown) out += "<li class=\"notice\">" + AlarmText("link") + "</li>";
  out += "</ul>\n<div class=\"channels\">\n";
  for (const ChannelSnapshot& c : l.channels) Channel(out, c);
  out += "</div>\n</section>\n";
}

}  // namespace

Shade ShadeOf(const ChannelSnapshot& c) {
  if (!c.value) {
    if (c.status.empty()) return Shade::Unknown;
    return c.status == "MIN tab." ? Shade::Below : Shade::Above;
  }
  const bool humidity = c.unit == archive::Unit::RelativeHumidity;
  const std::optional<double> low = humidity && !c.low ? 0.0 : c.low;
  const std::optional<double> high = humidity && !c.high ? 100.0 : c.high;
  // The low test wins when both hold, as in the window.
  if (low && *c.value <= *low) return Shade::Below;
  if (high && *c.value >= *high) return Shade::Above;
  return Shade::Inside;
}

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string RenderStatusPage(const std::vector<LoggerSnapshot>& loggers, int64_t now_ms,
                             const std::optional<ArchiveSnapshot>& archive) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"pl\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>Velutron — stan rejestratorów</title>\n"
      "<link rel=\"stylesheet\" href=\"/status.css\">\n<script src=\"/status.js\" defer></script>\n"
      "</head>\n<body>\n<main id=\"status\" data-now=\"" +
      UtcText(now_ms) + "\">\n<h1>Stan rejestratorów</h1>\n";
  if (archive && archive->failing) {
    out += "<p class=\"archive-failing\" role=\"alert\">";
    out += "Błąd zapisu do archiwum: odczyty czekają w pamięci i nie są zapisywane";
    if (archive->failing_since_utc_ms) {
      out += " (pierwszy błąd <span class=\"age\" data-time=\"" + UtcText(*archive->failing_since_utc_ms) +
             "\">" + AgeText(now_ms - *archive->failing_since_utc_ms) + "</span>)";
    }
    out += ".</p>\n";
  }
  if (loggers.empty()) out += "<p>Brak rejestratorów.</p>\n";
  for (const LoggerSnapshot& l : loggers) Logger(out, l, now_ms);
  out += "<noscript><p>Bez JavaScriptu strona nie odświeża się sama i nie rysuje wykresów.</p></noscript>\n";
  out += "</main>\n</body>\n</html>\n";
  return out;
}

}  // namespace velutron::station
