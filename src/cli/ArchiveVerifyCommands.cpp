// archive verify: whether the readings of a report still hash the same and give its figures.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <map>

#include "archive/ReportVerification.h"
#include "cli/ArchiveCommands.h"
#include "platform/FileRead.h"
#include "platform/Utf8Path.h"

namespace velutron::cli {

using namespace archive;

namespace {

// Each channel of a report checked against the archive as it is now, with the very computation the
// report made: its hash, then each of its figures worked out again with its own limits and ΔH.
Outcome VerifyReport(Runner& r, const ReportArgs& a, const std::string& file) {
  const auto bytes = ReadFileAtMost(PathFromUtf8(ChosenFile(file)), kLargestReport);
  std::string why = !bytes                           ? "cannot be read"
                    : bytes->size() > kLargestReport ? "too large for a report"
                                                     : "";
  std::string error;
  const auto zone = TimeZone::Named(a.period.zone, error);
  std::vector<ReportedChannel> reported;
  if (why.empty())
    reported = ReadReport({reinterpret_cast<const char*>(bytes->data()), bytes->size()}, *zone, why);
  if (!why.empty()) {
    r.ui().Refuse(file + ": " + why);
    return Outcome::Failed;
  }
  // Each logger, period, limits and ΔH worked out once, for all the lines that share them.
  struct Computed {
    bool ok = false;
    std::vector<ChannelStats> stats;
    std::vector<Json> lines;  // StatsJson of each
  };
  std::map<std::string, Computed> computed;
  using Limits = std::optional<std::pair<std::optional<double>, std::optional<double>>>;
  auto compute = [&](const ReportedChannel& c, const Limits& given, double dh) -> const Computed& {
    std::string key = c.logger + "\n" + c.from + "\n" + c.to + "\n" + Json(dh).dump();
    if (given)
      key += (c.unit == Unit::RelativeHumidity ? "\nrh\n" : "\n") +
             Json(given->first ? Json(*given->first) : Json()).dump() + "\n" +
             Json(given->second ? Json(*given->second) : Json()).dump();
    auto [it, fresh] = computed.try_emplace(key);
    if (!fresh) return it->second;
    ReportArgs same = a;
    same.period = {c.from, c.to, c.logger, {}, a.period.zone};
    // Only the channels the report has for that logger and period.
    for (const ReportedChannel& other : reported) {
      if (other.logger == c.logger && other.from == c.from && other.to == c.to)
        same.period.channels.push_back(other.channel);
    }
    // Given limits are those of the line's unit: --low/--high or --low-rh/--high-rh.
    const bool humidity = c.unit == Unit::RelativeHumidity;
    same.low = given && !humidity ? given->first : std::nullopt;
    same.high = given && !humidity ? given->second : std::nullopt;
    same.lowRh = given && humidity ? given->first : std::nullopt;
    same.highRh = given && humidity ? given->second : std::nullopt;
    same.mktDh = dh;
    Period p;
    StatsOptions options;
    if (auto stats = Compute(r, same, p, options)) {
      it->second.ok = true;
      for (const ChannelStats& s : *stats)
        it->second.lines.push_back(Json::parse(StatsJson(s, p.logger.id.name, options, *p.zone)));
      it->second.stats = std::move(*stats);
    }
    return it->second;
  };
  Outcome outcome = Outcome::Completed;
  for (const ReportedChannel& c : reported) {
    const Json& line = c.line;
    const double dh = NumberIn(line, "mkt_dh").value_or(kDefaultMktDh);
    const Limits own{{NumberIn(line, "low"), NumberIn(line, "high")}};
    const auto limits = line.find("limits");
    const Computed* now = &compute(c, limits != line.end() && *limits == "given" ? own : Limits(), dh);
    auto find = [&c](const Computed& done) {
      for (size_t k = 0; k < done.stats.size(); ++k) {
        if (done.stats[k].channel == c.channel && done.stats[k].unit == c.unit) return k;
      }
      return done.stats.size();
    };
    size_t k = find(*now);
    // A report from before its lines said which limits they took: the recorded ones, unless its limits
    // are not those.
    if (limits == line.end() && k < now->stats.size() &&
        (now->stats[k].low != own->first || now->stats[k].high != own->second)) {
      now = &compute(c, own, dh);
      k = find(*now);
    }
    if (!now->ok) {
      outcome = Outcome::Failed;
      continue;
    }
    const std::string what =
        "ch" + std::to_string(c.channel) + " (" + c.logger + ", " + c.from + " .. " + c.to + "): ";
    if (k == now->stats.size()) {
      Failed(r, what + "the readings no longer hash to " + c.sha256);
      outcome = Outcome::Failed;
      continue;
    }
    const ChannelStats& s = now->stats[k];
    const Json& figures = now->lines[k];
    bool same = true;
    if (s.sha256 != c.sha256) {
      Failed(r, what + "the readings no longer hash to " + c.sha256);
      same = false;
    }
    for (const char* name : kFigures) {
      const auto mine = figures.find(name);
      if (mine == figures.end()) continue;
      const auto theirs = line.find(name);
      if (theirs != line.end() && SameFigure(*theirs, *mine, *zone)) continue;
      Failed(r, what + name + " is " + (theirs == line.end() ? std::string("absent") : Dump(*theirs)) +
                    " in the report, " + Dump(*mine) + " from the readings");
      same = false;
    }
    for (const std::string& run : ChangedRuns(s, *zone)) {
      Failed(r, what + "the readings of " + run + " changed since that hour was summarised");
      same = false;
    }
    if (!same) {
      outcome = Outcome::Failed;
      continue;
    }
    r.ui().Print(what + "the readings still hash to " + c.sha256 + " and give every figure of the report",
                 Dump(Json{{"type", "verified"},
                           {"logger", c.logger},
                           {"channel", c.channel},
                           {"unit", c.unit == Unit::RelativeHumidity ? "%RH" : "°C"},
                           {"from", c.from},
                           {"to", c.to},
                           {"sha256", c.sha256}}));
  }
  return outcome;
}

Outcome Verify(Runner& r, const ReportArgs& a) {
  Period p;
  StatsOptions options;
  const auto stats = Compute(r, a, p, options);
  if (!stats) return Outcome::Failed;
  // The same readings may still have changed under the archive since their hours were summarized.
  auto changed = [&r, &p](const ChannelStats& s) {
    for (const std::string& run : ChangedRuns(s, *p.zone))
      Failed(r, "ch" + std::to_string(s.channel) + ": the readings of " + run +
                    " changed since that hour was summarised");
    return !s.changed_ms.empty();
  };
  for (const ChannelStats& s : *stats) {
    if (s.sha256 == a.hash) {
      if (changed(s)) return Outcome::Failed;
      r.ui().Print("ch" + std::to_string(s.channel) + ": the readings still hash to " + a.hash,
                   Dump(Json{{"type", "verified"}, {"channel", s.channel}, {"sha256", s.sha256}}));
      return Outcome::Completed;
    }
  }
  // The footer of a printed report of several channels carries one hash over all of them.
  if (stats->size() > 1 && CombinedHash(*stats) == a.hash) {
    bool any = false;
    for (const ChannelStats& s : *stats) any = changed(s) || any;
    if (any) return Outcome::Failed;
    r.ui().Print("all channels: the readings still hash to " + a.hash,
                 Dump(Json{{"type", "verified"}, {"channel", nullptr}, {"sha256", a.hash}}));
    return Outcome::Completed;
  }
  return Failed(r, "the readings of that period no longer hash to " + a.hash);
}

}  // namespace

void AddArchiveVerifyCommands(CLI::App* archive, Command& chosen) {
  auto verify = std::make_shared<ReportArgs>();
  auto* ve = archive->add_subcommand(
      "verify",
      "exit 0 when the readings of a report (REPORT.json, or a period and --hash H) still hash the same");
  ve->add_option("REPORT", verify->report, "what archive report --json printed, saved in a file");
  ve->add_option("--hash", verify->hash, "the sha256 of a report");
  AddPeriodOptions(ve, verify->period, false);
  ve->callback([&chosen, verify] {
    const ReportArgs& v = *verify;
    CheckPeriod(v.period);
    if (v.report.empty() == v.hash.empty())
      throw CLI::ValidationError("verify", "give either a REPORT.json or --hash H with --from and --to");
    if (!v.report.empty() && (!v.period.from.empty() || !v.period.to.empty() || !v.period.logger.empty() ||
                              !v.period.channels.empty()))
      throw CLI::ValidationError("REPORT", "the report names its logger, period and channels itself");
    if (!v.hash.empty() && (v.period.from.empty() || v.period.to.empty()))
      throw CLI::ValidationError("--hash", "needs --from and --to");
    chosen = [verify](Runner& r) {
      return verify->report.empty() ? Verify(r, *verify) : VerifyReport(r, *verify, verify->report);
    };
  });
}

}  // namespace velutron::cli
