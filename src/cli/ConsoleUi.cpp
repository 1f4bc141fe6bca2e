#include "cli/ConsoleUi.h"

#ifdef _WIN32
#include <algorithm>
#include <thread>
#else
#include <poll.h>
#endif

#include <algorithm>
#include <chrono>
#include <iostream>
#include <nlohmann/json.hpp>
#include <span>

#include "platform/Console.h"
#include "platform/Process.h"
#include "settings/Sensors.h"

namespace velutron::cli {

namespace {

// The spreadsheet hand-off is a desktop matter; the command line leaves the report in its file.
constexpr std::string_view kSpreadsheetQuestion = "Czy otworzyć dane w arkuszu Excel?";

// Text for a terminal: a carriage return starts a new line, and every other control character (an ESC
// sequence or a zero byte a restored image put into the logger) is shown as its code, never obeyed.
std::string Human(std::string_view text) { return VisibleText(text, true); }

// Texts typed by the user may not be valid UTF-8; they must not take the program down.
std::string Dump(const nlohmann::ordered_json& j) {
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// `text` followed by spaces up to `width` characters (UTF-8 letters count once).
std::string Padded(const std::string& text, size_t width) {
  size_t letters = 0;
  for (unsigned char c : text) letters += (c & 0xC0) != 0x80;
  return letters >= width ? text + " " : text + std::string(width - letters, ' ');
}

// Blocks until `due` or an interrupt, whichever comes first; false on an interrupt.
bool WaitUntil(std::chrono::steady_clock::time_point due) {
  using namespace std::chrono;
  for (;;) {
    if (InterruptRequested()) return false;
    const auto left = duration_cast<milliseconds>(due - steady_clock::now() + microseconds(999));
    if (left.count() <= 0) return true;
#ifdef _WIN32
    std::this_thread::sleep_for(std::min(left, milliseconds(50)));
#else
    // The interrupt handler writes to this pipe, so the wait ends at once on Ctrl+C.
    pollfd pfd{InterruptNotifierFd(), POLLIN, 0};
    ::poll(&pfd, pfd.fd >= 0 ? 1 : 0, static_cast<int>(left.count()));
#endif
  }
}

}  // namespace

void ConsoleUi::Line(const std::string& line) {
  std::fputs(line.c_str(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void ConsoleUi::ShowMessage(std::string_view caption, std::string_view text) {
  if (json_) {
    Line(Dump(nlohmann::ordered_json{{"type", "message"}, {"caption", caption}, {"text", text}}));
  } else {
    Line("[" + std::string(caption) + "] " + Human(text));
  }
}

void ConsoleUi::ShowError(std::string_view text) {
  if (json_) {
    Line(Dump(nlohmann::ordered_json{{"type", "error"}, {"text", text}}));
  } else {
    Line("[Error] " + Human(text));
  }
}

bool ConsoleUi::AnswerFromTerminal(std::string_view caption, std::string_view text) {
  if (InterruptRequested() || !InputIsTerminal()) return false;
  std::fprintf(stderr, "[%s] %s\nOK? [t/N] ", std::string(caption).c_str(), Human(text).c_str());
  std::fflush(stderr);
  std::string reply;
  if (!std::getline(std::cin, reply)) return false;
  return reply == "t" || reply == "T" || reply == "tak" || reply == "y" || reply == "yes" || reply == "ok" ||
         reply == "OK";
}

bool ConsoleUi::AskOkCancel(std::string_view caption, std::string_view text) {
  if (!refusal_.empty()) return false;
  bool ok = false;
  if (text != kSpreadsheetQuestion) ok = yes_ || AnswerFromTerminal(caption, text);
  if (json_) {
    Line(Dump(nlohmann::ordered_json{
        {"type", "question"}, {"caption", caption}, {"text", text}, {"answer", ok ? "ok" : "cancel"}}));
  } else {
    Line("[" + std::string(caption) + "] " + Human(text) + (ok ? " -> OK" : " -> Anuluj"));
  }
  return ok;
}

std::optional<std::string> ConsoleUi::AskText(std::string_view caption, std::string_view prompt,
                                              std::string_view initial) {
  if (!refusal_.empty()) return std::nullopt;
  std::optional<std::string> answer = inputAnswer.value_or(std::string(initial));
  if (leaveInputBox) answer.reset();
  inputAnswer.reset();
  leaveInputBox = false;
  if (json_) {
    nlohmann::ordered_json j{
        {"type", "input"}, {"caption", caption}, {"prompt", prompt}, {"default", initial}};
    j["answer"] = answer ? nlohmann::ordered_json(*answer) : nlohmann::ordered_json(nullptr);
    Line(Dump(j));
  } else {
    // A prompt that ends in its own colon is not given a second one.
    const char* colon = prompt.ends_with(':') ? " " : ": ";
    Line("[" + std::string(caption) + "] " + std::string(prompt) + colon +
         (answer ? Human(*answer) : "-> Anuluj"));
  }
  return answer;
}

void ConsoleUi::Beep() {
  if (json_) {
    Line(R"({"type":"beep"})");
  } else {
    std::fputc('\a', stderr);
  }
}

std::optional<std::string> ConsoleUi::ChooseFileToOpen(const FileDialogSpec&) {
  std::optional<std::string> file = std::move(fileAnswer);
  fileAnswer.reset();
  return file;
}

std::string ProgressLine(uint32_t done, uint32_t total, uint32_t doneAtStart, double seconds) {
  constexpr int kBarWidth = 24;
  char text[160];
  const double rate = seconds > 0 && done > doneAtStart ? (done - doneAtStart) / seconds : 0;
  int n = 0;
  if (total > 0) {
    const uint32_t shown = std::min(done, total);
    const int filled = static_cast<int>(uint64_t{shown} * kBarWidth / total);
    n = std::snprintf(text, sizeof text, "%3d%% [%s%s] %u/%u B",
                      static_cast<int>(uint64_t{shown} * 100 / total),
                      std::string(static_cast<size_t>(filled), '#').c_str(),
                      std::string(static_cast<size_t>(kBarWidth - filled), ' ').c_str(), done, total);
  } else {
    n = std::snprintf(text, sizeof text, "%u B", done);
  }
  std::string line(text, static_cast<size_t>(std::max(n, 0)));
  if (rate > 0) {
    std::snprintf(text, sizeof text, "  %.1f kB/s", rate / 1000);
    line += text;
    if (total > done) {
      const auto left = static_cast<long>((total - done) / rate + 0.5);
      std::snprintf(text, sizeof text, "  ETA %ld:%02ld", left / 60, left % 60);
      line += text;
    }
  }
  return line;
}

void ConsoleUi::TransferProgress(uint32_t done, uint32_t total) {
  if (!barWanted_) barWanted_ = !json_ && ErrorIsTerminal();
  if (!*barWanted_) return;
  const auto now = std::chrono::steady_clock::now();
  barDone_ = done;
  barTotal_ = total;
  if (!barShown_) {
    barShown_ = true;
    barStart_ = now;
    barStartDone_ = done;
  } else if (now - barDrawn_ < std::chrono::milliseconds(100)) {
    return;  // a few redraws a second are enough for the eye; the last one comes at the end
  }
  DrawBar(now);
}

void ConsoleUi::DrawBar(std::chrono::steady_clock::time_point now) {
  barDrawn_ = now;
  const std::string line = ProgressLine(barDone_, barTotal_, barStartDone_,
                                        std::chrono::duration<double>(now - barStart_).count());
  // Shorter than the last one: blanks wipe what would stay of it.
  const size_t wipe = barLine_.size() > line.size() ? barLine_.size() - line.size() : 0;
  std::fprintf(stderr, "\r%s%s", line.c_str(), std::string(wipe, ' ').c_str());
  std::fflush(stderr);
  barLine_ = line;
}

void ConsoleUi::SetProgressMax(int max) {
  if (max != 0 || !barShown_) return;
  DrawBar(std::chrono::steady_clock::now());
  std::fputc('\n', stderr);
  std::fflush(stderr);
  barShown_ = false;
  barLine_.clear();
}

void ConsoleUi::Value(std::string_view name, std::string_view value) {
  if (json_) {
    Line(Dump(nlohmann::ordered_json{{"type", "value"}, {"name", name}, {"value", value}}));
  } else {
    Line(std::string(name) + ": " + Human(value));
  }
}

void ConsoleUi::Value(std::string_view name, long long value) {
  if (json_) {
    Line(Dump(nlohmann::ordered_json{{"type", "value"}, {"name", name}, {"value", value}}));
  } else {
    Line(std::string(name) + ": " + std::to_string(value));
  }
}

void ConsoleUi::Refuse(const std::string& why) {
  if (why.empty() || !refusal_.empty()) return;
  refusal_ = why;
  std::fprintf(stderr, "velutron-cli: %s\n", why.c_str());
  std::fflush(stderr);
}

void ConsoleUi::ShowValue(std::string_view name, std::string_view text) {
  if (refusal_.empty()) Value(name, text);
}

void ConsoleUi::ShowValue(std::string_view name, long long number) {
  if (!refusal_.empty()) return;
  Value(name, number);
  if (name != kSensorCountValue || !expectedSensor) return;
  // Below two sensors the chooser is not shown and sensor 1 is taken.
  const long long highest = std::clamp<long long>(number, 1, proto::kMaxSensors);
  if (*expectedSensor < 1 || *expectedSensor > highest) {
    Refuse("sensor " + std::to_string(*expectedSensor) + " refused: the logger has " +
           std::to_string(number) + (number == 1 ? " sensor" : " sensors") + ", so N must lie in 1.." +
           std::to_string(highest));
  }
}

template <typename Values, typename Given>
std::optional<Values> ConsoleUi::AnswerDialog(const Values& shown, const Given& given) {
  if (!refusal_.empty()) return std::nullopt;
  Values values = shown;
  Refuse(Answer(values, given));
  if (!refusal_.empty()) return std::nullopt;
  return values;
}

std::optional<ChooserValues> ConsoleUi::ShowChooser(const ChooserValues& shown) {
  return AnswerDialog(shown, chooserAnswer);
}

std::optional<LoggerOptionsValues> ConsoleUi::ShowLoggerOptions(const LoggerOptionsValues& shown) {
  std::optional<LoggerOptionsValues> values = AnswerDialog(shown, optionsAnswer);
  if (values) values->givenValues = true;
  return values;
}

std::optional<SensorParamsValues> ConsoleUi::ShowSensorParams(const SensorParamsValues& shown) {
  return AnswerDialog(shown, sensorAnswer);
}

void ConsoleUi::Result(Outcome outcome) {
  if (!json_) return;
  const char* word = outcome == Outcome::Completed   ? "completed"
                     : outcome == Outcome::Cancelled ? "cancelled"
                                                     : "failed";
  Line(Dump(nlohmann::ordered_json{{"type", "result"}, {"outcome", word}}));
}

void ConsoleUi::RunMonitorWindow(const MonitorView& view, const MonitorRefresh& refresh) {
  if (!json_) Line(Human(view.header));
  PrintMonitor(view);
  auto due = std::chrono::steady_clock::now();
  for (int shown = 1; !monitorReadings || shown < *monitorReadings; ++shown) {
    due += std::chrono::milliseconds(1000);
    if (!WaitUntil(due)) return;
    const bool keepOpen = refresh();
    PrintMonitor(view);
    if (!keepOpen) return;
  }
}

void ConsoleUi::PrintMonitor(const MonitorView& view) {
  const auto rows = std::span(view.rows).first(static_cast<size_t>(view.channelCount));
  if (json_) {
    auto channels = nlohmann::ordered_json::array();
    for (const MonitorRow& row : rows) {
      channels.push_back(nlohmann::ordered_json{{"name", row.name},
                                                {"band", row.band},
                                                {"value", row.value},
                                                {"alarm", row.alarm},
                                                {"extremes", row.extremes}});
    }
    Line(Dump(nlohmann::ordered_json{
        {"type", "monitor"}, {"time", view.time}, {"date", view.date}, {"channels", channels}}));
    return;
  }
  std::string block = "\n" + view.time + "  " + view.date;
  for (const MonitorRow& row : rows) {
    const char* alarm = row.alarm == 1 ? "  alarm niski" : row.alarm == 2 ? "  alarm wysoki" : "";
    block += "\n" + Padded(Human(row.name), 22) + Padded(row.band, 16) + Padded(row.value, 10) +
             row.extremes + alarm;
  }
  Line(block);
}

}  // namespace velutron::cli
