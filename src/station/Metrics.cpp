#include "station/Metrics.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

namespace velutron::station {

namespace {

using Labels = std::vector<std::pair<std::string_view, std::string>>;

// Go's float formatting as Prometheus reads it back: shortest exact text, and its spelling of the
// non-finite values.
std::string SampleValue(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

class Family {
 public:
  Family(std::string& out, std::string_view name, std::string_view type, std::string_view help)
      : out_(out), name_(name), type_(type), help_(help) {}

  void Sample(const Labels& labels, double value) { Line(name_, labels, SampleValue(value)); }
  void Sample(const Labels& labels, uint64_t value) { Line(name_, labels, std::to_string(value)); }
  void Sample(std::string_view suffix, const Labels& labels, double value) {
    Line(std::string(name_) + std::string(suffix), labels, SampleValue(value));
  }
  void Sample(std::string_view suffix, const Labels& labels, uint64_t value) {
    Line(std::string(name_) + std::string(suffix), labels, std::to_string(value));
  }

 private:
  // The header goes out with the first sample: a family without samples is left out whole.
  void Line(std::string_view name, const Labels& labels, const std::string& value) {
    if (!headerWritten_) {
      out_ += "# HELP ";
      out_ += name_;
      out_ += ' ';
      out_ += help_;
      out_ += "\n# TYPE ";
      out_ += name_;
      out_ += ' ';
      out_ += type_;
      out_ += '\n';
      headerWritten_ = true;
    }
    out_ += name;
    if (!labels.empty()) {
      out_ += '{';
      for (size_t i = 0; i < labels.size(); ++i) {
        if (i > 0) out_ += ',';
        out_ += labels[i].first;
        out_ += "=\"";
        out_ += EscapeLabelValue(labels[i].second);
        out_ += '"';
      }
      out_ += '}';
    }
    out_ += ' ';
    out_ += value;
    out_ += '\n';
  }

  std::string& out_;
  std::string_view name_;
  std::string_view type_;
  std::string_view help_;
  bool headerWritten_ = false;
};

Labels LoggerLabels(const LoggerSnapshot& logger) {
  return {{"logger", logger.name}, {"serial", logger.serial}};
}

Labels ChannelLabels(const LoggerSnapshot& logger, const ChannelSnapshot& channel) {
  Labels labels = LoggerLabels(logger);
  labels.emplace_back("channel", std::to_string(channel.channel));
  labels.emplace_back("point", channel.point);
  return labels;
}

Labels With(Labels labels, std::string_view name, std::string value) {
  labels.emplace_back(name, std::move(value));
  return labels;
}

bool IsOpen(const std::vector<std::string>& open, std::string_view kind) {
  for (const std::string& k : open) {
    if (k == kind) return true;
  }
  return false;
}

// Every kind an alarm can have is listed, closed ones as 0, so that a rule can tell closed from unknown;
// a kind the station may add later shows while it is open.
std::vector<std::string> Kinds(std::vector<std::string> kinds, const std::vector<std::string>& open) {
  for (const std::string& k : open) {
    if (!IsOpen(kinds, k)) kinds.push_back(k);
  }
  return kinds;
}

}  // namespace

std::string EscapeLabelValue(std::string_view value) {
  std::string escaped;
  escaped.reserve(value.size());
  for (char c : value) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '"') {
      escaped += "\\\"";
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string RenderMetrics(const std::vector<LoggerSnapshot>& loggers,
                          const std::optional<ArchiveSnapshot>& archive) {
  std::string out;
  {
    Family f(out, "velutron_up", "gauge", "1 while the logger answers.");
    for (const auto& l : loggers) f.Sample(LoggerLabels(l), l.up ? 1.0 : 0.0);
  }
  {
    Family f(out, "velutron_temperature_celsius", "gauge", "The last valid temperature of a channel.");
    for (const auto& l : loggers) {
      for (const auto& c : l.channels) {
        if (c.unit == archive::Unit::Celsius && c.value) f.Sample(ChannelLabels(l, c), *c.value);
      }
    }
  }
  {
    Family f(out, "velutron_relative_humidity_percent", "gauge",
             "The last valid relative humidity of a channel.");
    for (const auto& l : loggers) {
      for (const auto& c : l.channels) {
        if (c.unit == archive::Unit::RelativeHumidity && c.value) f.Sample(ChannelLabels(l, c), *c.value);
      }
    }
  }
  {
    Family f(out, "velutron_reading_valid", "gauge", "1 when the channel's last reading was valid.");
    for (const auto& l : loggers) {
      for (const auto& c : l.channels) {
        // A channel not read yet has neither a value nor a marker: unknown, so no sample.
        if (c.value || !c.status.empty()) f.Sample(ChannelLabels(l, c), c.value ? 1.0 : 0.0);
      }
    }
  }
  {
    Family f(out, "velutron_limit_celsius", "gauge", "The alarm limits in force.");
    for (const auto& l : loggers) {
      for (const auto& c : l.channels) {
        if (c.unit != archive::Unit::Celsius) continue;
        if (c.low) f.Sample(With(ChannelLabels(l, c), "bound", "low"), *c.low);
        if (c.high) f.Sample(With(ChannelLabels(l, c), "bound", "high"), *c.high);
      }
    }
  }
  {
    Family f(out, "velutron_alarm", "gauge", "1 while that alarm is open.");
    for (const auto& l : loggers) {
      for (const std::string& kind : Kinds({"link", "bus", "clock"}, l.open_alarms)) {
        f.Sample(With(LoggerLabels(l), "kind", kind), IsOpen(l.open_alarms, kind) ? 1.0 : 0.0);
      }
      for (const auto& c : l.channels) {
        for (const std::string& kind : Kinds({"high", "low", "sensor"}, c.open_alarms)) {
          f.Sample(With(ChannelLabels(l, c), "kind", kind), IsOpen(c.open_alarms, kind) ? 1.0 : 0.0);
        }
      }
    }
  }
  {
    Family f(out, "velutron_last_reading_timestamp_seconds", "gauge",
             "Unix time of the logger's last answered reading.");
    for (const auto& l : loggers) {
      if (l.last_reading_utc_ms)
        f.Sample(LoggerLabels(l), static_cast<double>(*l.last_reading_utc_ms) / 1000.0);
    }
  }
  {
    Family f(out, "velutron_clock_offset_seconds", "gauge", "The logger's clock minus the PC's.");
    for (const auto& l : loggers) {
      if (l.clock_offset_s) f.Sample(LoggerLabels(l), *l.clock_offset_s);
    }
  }
  {
    Family f(out, "velutron_poll_duration_seconds", "histogram", "How long one reading's exchanges took.");
    for (const auto& l : loggers) {
      const size_t buckets = std::min(l.poll_bucket_bounds_s.size(), l.poll_bucket_counts.size());
      for (size_t i = 0; i < buckets; ++i) {
        if (std::isinf(l.poll_bucket_bounds_s[i])) continue;  // the +Inf bucket is the count
        f.Sample("_bucket", With(LoggerLabels(l), "le", SampleValue(l.poll_bucket_bounds_s[i])),
                 l.poll_bucket_counts[i]);
      }
      f.Sample("_bucket", With(LoggerLabels(l), "le", "+Inf"), l.poll_count);
      f.Sample("_sum", LoggerLabels(l), l.poll_sum_s);
      f.Sample("_count", LoggerLabels(l), l.poll_count);
    }
  }
  {
    Family f(out, "velutron_archive_readings_total", "counter", "Readings written to the archive.");
    for (const auto& l : loggers) f.Sample(LoggerLabels(l), l.archive_readings_total);
  }
  if (archive) {
    Family f(out, "velutron_archive_failing", "gauge",
             "1 while writes to the archive fail and readings wait in memory.");
    f.Sample({}, archive->failing ? 1.0 : 0.0);
  }
  if (archive && archive->failing_since_utc_ms) {
    Family f(out, "velutron_archive_failing_since_timestamp_seconds", "gauge",
             "Unix time of the first failed write while the archive fails.");
    f.Sample({}, static_cast<double>(*archive->failing_since_utc_ms) / 1000.0);
  }
  if (archive) {
    Family f(out, "velutron_archive_dropped_total", "counter",
             "Records the full memory queue dropped while the archive failed, the oldest readings first.");
    f.Sample({}, archive->dropped);
  }
  return out;
}

}  // namespace velutron::station
