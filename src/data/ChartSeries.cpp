#include "data/ChartSeries.h"

#include <algorithm>
#include <chrono>

namespace velutron {

namespace {

double Seconds(const CivilTime& t) {
  using namespace std::chrono;
  const sys_days day{year{t.year} / month{static_cast<unsigned>(t.month)} / static_cast<unsigned>(t.day)};
  return static_cast<double>(day.time_since_epoch().count()) * 86400.0 + t.hour * 3600.0 + t.minute * 60.0 +
         t.second;
}

// x of every record: its time, or between its neighbours with a time; nullopt when none has one.
std::optional<std::vector<double>> RecordTimes(const std::vector<Measurement>& rows) {
  std::vector<size_t> timed;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].time) timed.push_back(i);
  }
  if (timed.empty()) return std::nullopt;
  // Beyond the first or last stamp the records go on at the file's average spacing (a minute when
  // only one record has a stamp).
  const double step = timed.size() > 1
                          ? (Seconds(*rows[timed.back()].time) - Seconds(*rows[timed.front()].time)) /
                                static_cast<double>(timed.back() - timed.front())
                          : 60.0;
  std::vector<double> x(rows.size());
  size_t next = 0;  // index into `timed` of the first stamp at or after i
  for (size_t i = 0; i < rows.size(); ++i) {
    while (next < timed.size() && timed[next] < i) ++next;
    if (next < timed.size() && timed[next] == i) {
      x[i] = Seconds(*rows[i].time);
    } else if (next == 0) {
      x[i] = Seconds(*rows[timed[0]].time) - step * static_cast<double>(timed[0] - i);
    } else if (next == timed.size()) {
      x[i] = Seconds(*rows[timed.back()].time) + step * static_cast<double>(i - timed.back());
    } else {
      const size_t p = timed[next - 1];
      const size_t n = timed[next];
      const double tp = Seconds(*rows[p].time);
      x[i] = tp + (Seconds(*rows[n].time) - tp) * static_cast<double>(i - p) / static_cast<double>(n - p);
    }
  }
  return x;
}

std::string LineName(const DatabaseContents& db, const ChannelColumn& c) {
  std::string name = std::to_string(c.channel) + ".";
  const std::string point = LoggerText(db.PointName(c.channel));
  if (!point.empty()) name += " " + point;
  return name + (c.quantity == Quantity::Humidity ? " [%RH]" : " [°C]");
}

}  // namespace

ChartData ChartOfDatabase(const DatabaseContents& db, std::string title) {
  ChartData chart;
  chart.title = std::move(title);
  const auto rows = Measurements(db);
  const auto times = RecordTimes(rows);
  std::vector<double> x(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) x[i] = times ? (*times)[i] : static_cast<double>(rows[i].number);
  chart.axis = times ? ChartAxis::Time : ChartAxis::RecordNumber;

  for (const ChannelColumn& c : ChannelColumns(db.channels, rows)) {
    ChartLine line{c.quantity, LineName(db, c), {}};
    for (size_t i = 0; i < rows.size(); ++i) {
      const Reading& r = rows[i].readings[static_cast<size_t>(c.channel - 1)];
      if (r.quantity == c.quantity && r.value) line.points.push_back({x[i], *r.value});
    }
    chart.lines.push_back(std::move(line));
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    const Measurement& m = rows[i];
    // ON/OFF marks sit on channel 1, the channel the switching threshold is compared with.
    if (m.on && !m.readings.empty() && m.readings.front().value) {
      (*m.on ? chart.on : chart.off).push_back({x[i], *m.readings.front().value});
    }
    if (std::any_of(m.readings.begin(), m.readings.end(), [](const Reading& r) { return !r.value; })) {
      chart.missing.push_back(x[i]);
    }
  }
  return chart;
}

}  // namespace velutron
