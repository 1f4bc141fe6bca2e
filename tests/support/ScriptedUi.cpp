#include "support/ScriptedUi.h"

namespace velutron::test {

namespace {
template <typename T>
std::optional<T> Next(std::deque<std::optional<T>>& script) {
  if (script.empty()) return std::nullopt;
  std::optional<T> answer = script.front();
  script.pop_front();
  return answer;
}

std::string Range(const Spinner& s) { return std::to_string(s.minimum) + ".." + std::to_string(s.maximum); }

std::string Join(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (auto p : parts) {
    if (!out.empty()) out += '|';
    out += p;
  }
  return out;
}
}  // namespace

void ScriptedUi::ShowMessage(std::string_view caption, std::string_view text) {
  events.push_back(Join({"message", caption, text}));
}

void ScriptedUi::ShowError(std::string_view text) { events.push_back(Join({"error", text})); }

bool ScriptedUi::AskOkCancel(std::string_view caption, std::string_view text) {
  bool ok = false;
  if (!answers.empty()) {
    ok = answers.front();
    answers.pop_front();
  }
  events.push_back(Join({"question", caption, text, ok ? "ok" : "cancel"}));
  return ok;
}

std::optional<std::string> ScriptedUi::AskText(std::string_view caption, std::string_view prompt,
                                               std::string_view initial) {
  std::optional<std::string> answer{std::string(initial)};
  if (!inputs.empty()) {
    answer = inputs.front();
    inputs.pop_front();
  }
  events.push_back(Join({"input", caption, prompt, initial, answer ? *answer : "cancel"}));
  return answer;
}

void ScriptedUi::Beep() { events.emplace_back("beep"); }

void ScriptedUi::SetProgressMax(int max) {
  progressMax = max;
  progressPos = 0;
  progress.push_back(-max - 1);
}

void ScriptedUi::StepProgress() {
  progressPos = progressPos + 1 > progressMax ? 0 : progressPos + 1;
  progress.push_back(progressPos);
}

void ScriptedUi::SetReportText(std::string_view text) {
  reportText = text;
  ++reportTextSets;
}

std::optional<std::string> ScriptedUi::ChooseFileToOpen(const FileDialogSpec& request) {
  std::optional<std::string> file;
  if (!files.empty()) {
    file = files.front();
    files.pop_front();
  }
  events.push_back(Join({"open-file", request.title, file ? *file : "cancel"}));
  return file;
}

bool ScriptedUi::PrintReportView() {
  bool ok = false;
  if (!prints.empty()) {
    ok = prints.front();
    prints.pop_front();
  }
  events.push_back(Join({"print", ok ? "ok" : "cancel"}));
  return ok;
}

void ScriptedUi::ShellOpen(std::string_view target, std::string_view parameters) {
  events.push_back(Join({"shell", target, parameters}));
}

void ScriptedUi::ShowAboutBox() { events.emplace_back("about"); }

std::optional<ChooserValues> ScriptedUi::ShowChooser(const ChooserValues& shown) {
  std::optional<ChooserValues> result;
  if (const std::optional<ChooserAnswer> answer = Next(choosers)) {
    result = shown;
    Answer(*result, *answer);
  }
  events.push_back(
      Join({"chooser", shown.caption, shown.label, Range(shown.number), std::to_string(shown.number.position),
            result ? std::to_string(result->number.position) : "close"}));
  return result;
}

std::optional<LoggerOptionsValues> ScriptedUi::ShowLoggerOptions(const LoggerOptionsValues& shown) {
  std::optional<LoggerOptionsValues> result;
  if (const std::optional<LoggerOptionsAnswer> answer = Next(optionDialogs)) {
    result = shown;
    Answer(*result, *answer);
    result->givenValues = optionsGiven;
  }
  events.push_back(Join({"options", std::to_string(shown.intervalMinutes.position),
                         std::to_string(shown.threshold.position), std::to_string(shown.options),
                         shown.humidity ? "1" : "0", result ? "accept" : "close"}));
  return result;
}

std::optional<SensorParamsValues> ScriptedUi::ShowSensorParams(const SensorParamsValues& shown) {
  std::optional<SensorParamsValues> result;
  if (const std::optional<SensorParamsAnswer> answer = Next(sensorDialogs)) {
    result = shown;
    Answer(*result, *answer);
  }
  events.push_back(Join({"sensor-params", shown.caption, Range(shown.low), std::to_string(shown.low.position),
                         Range(shown.high), std::to_string(shown.high.position), shown.offset,
                         result ? "accept" : "close"}));
  return result;
}

void ScriptedUi::ShowValue(std::string_view name, std::string_view text) {
  events.push_back(Join({"value", name, text}));
}

void ScriptedUi::ShowValue(std::string_view name, long long number) {
  events.push_back(Join({"value", name, std::to_string(number)}));
}

void ScriptedUi::RunMonitorWindow(const MonitorView& view, const MonitorRefresh& refresh) {
  events.emplace_back("monitor-window");
  monitorViews.push_back(view);
  for (int i = 0; i < monitorRefreshes; ++i) {
    if (beforeRefresh) beforeRefresh();
    const bool keepOpen = refresh();
    monitorViews.push_back(view);
    if (!keepOpen) break;
  }
}

}  // namespace velutron::test
