// info, toggle, set-clock, reset, erase, format, text, options, sensors: the logger's settings.

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <string>

#include "cli/Runner.h"
#include "settings/LoggerOptions.h"
#include "settings/Maintenance.h"
#include "settings/Sensors.h"
#include "settings/TextFields.h"

namespace velutron::cli {

namespace {

using Operation = Outcome (*)(Session&);

void AddPlain(CLI::App& app, Command& chosen, const char* name, const char* help, Operation operation) {
  app.add_subcommand(name, help)->callback([&chosen, operation] {
    chosen = [operation](Runner& r) {
      r.Connect();
      return operation(r.session());
    };
  });
}

// A text field: read it, or with --set write TEXT. Without --set the input box is left with Cancel,
// which for a read is the end of a completed command.
void AddTextField(CLI::App& text, Command& chosen, const char* name, const char* help, Operation operation,
                  bool pointName) {
  struct Args {
    std::optional<std::string> set;
    int sensor = 0;
  };
  auto args = std::make_shared<Args>();
  CLI::App* sub = text.add_subcommand(name, help);
  if (pointName)
    sub->add_option("N", args->sensor, "the sensor (1 .. the logger's sensor count)")
        ->required()
        ->transform(Decimal());
  sub->add_option("--set", args->set,
                  "write TEXT into the field (printable ASCII and €: the logger holds no Polish letters)");
  sub->callback([&chosen, args, operation, pointName] {
    chosen = [args, operation, pointName](Runner& r) {
      r.Connect();
      if (pointName) {
        r.ui().expectedSensor = args->sensor;
        r.ui().chooserAnswer.number = args->sensor;
      }
      if (args->set) {
        r.ui().inputAnswer = *args->set;
      } else {
        r.ui().leaveInputBox = true;
      }
      const Outcome outcome = operation(r.session());
      return !args->set && outcome == Outcome::Cancelled ? Outcome::Completed : outcome;
    };
  });
}

void AddOptions(CLI::App& app, Command& chosen) {
  struct Args {
    std::optional<int> interval;
    std::optional<int> threshold;
    std::optional<int> bits;
    std::optional<std::string> humidity;
  };
  auto args = std::make_shared<Args>();
  CLI::App* options = app.add_subcommand(
      "options",
      "Parametry rejestratora: print the recording interval, switching threshold, working options and "
      "humidity flag; with any option, write those values (changing the humidity flag needs --service)");
  options->add_option("--interval", args->interval, "recording interval in minutes")
      ->transform(Decimal())
      ->check(CLI::Range(1, 180));
  options->add_option("--threshold", args->threshold, "ON/OFF switching threshold in degrees C")
      ->transform(Decimal())
      ->check(CLI::Range(0, 100));
  options->add_option("--bits", args->bits, "the eight working options as one byte, bit 0 first (e.g. 0x25)")
      ->transform(Decimal(true))
      ->check(CLI::Range(0, 255));
  options->add_option("--humidity", args->humidity, "record humidity as well: on or off")
      ->check(CLI::IsMember({"on", "off"}));
  options->callback([&chosen, args] {
    chosen = [args](Runner& r) {
      r.Connect();
      LoggerOptionsAnswer& answer = r.ui().optionsAnswer;
      answer.intervalMinutes = args->interval;
      answer.threshold = args->threshold;
      answer.options = args->bits;
      if (args->humidity) answer.humidity = *args->humidity == "on";
      return Parametryrejestratora1Click(r.session());
    };
  });
}

void AddSensors(CLI::App& app, Command& chosen) {
  CLI::App* sensors =
      app.add_subcommand("sensors", "the sensors: their count, declaration, limits and offset");
  sensors->require_subcommand(1);

  auto count = std::make_shared<std::optional<int>>();
  CLI::App* countCommand = sensors->add_subcommand(
      "count", "Liczba czujników (needs --service): print the sensor count; with --set, write N");
  countCommand->add_option("--set", *count, "the new sensor count")
      ->transform(Decimal())
      ->check(CLI::Range(1, proto::kMaxSensors));
  countCommand->callback([&chosen, count] {
    chosen = [count](Runner& r) {
      r.Connect();
      r.ui().chooserAnswer.number = *count;
      return Liczbaczujnikw1Click(r.session());
    };
  });

  auto declared = std::make_shared<int>(0);
  CLI::App* declare = sensors->add_subcommand(
      "declare",
      "Deklarowanie czujnika (needs --service): the logger records the signature of sensor N, "
      "the one sensor on its bus (asks first)");
  declare->add_option("N", *declared, "the sensor (1 .. the logger's sensor count)")
      ->required()
      ->transform(Decimal());
  declare->callback([&chosen, declared] {
    chosen = [declared](Runner& r) {
      r.Connect();
      r.ui().expectedSensor = *declared;
      r.ui().chooserAnswer.number = *declared;
      return Deklarowanieczujnika1Click(r.session());
    };
  });

  struct ParamsArgs {
    int sensor = 0;
    SensorParamsAnswer answer;
  };
  auto params = std::make_shared<ParamsArgs>();
  CLI::App* paramsCommand = sensors->add_subcommand(
      "params",
      "Parametry czujnika: print the alarm limits and offset of sensor N; with any option, write "
      "those values");
  paramsCommand->add_option("N", params->sensor, "the sensor (1 .. the logger's sensor count)")
      ->required()
      ->transform(Decimal());
  paramsCommand->add_option("--low", params->answer.low, "low alarm limit in degrees C, up to the high limit")
      ->transform(Decimal())
      ->check(CLI::Range(-55, 125));
  paramsCommand
      ->add_option("--high", params->answer.high, "high alarm limit in degrees C, from the low limit up")
      ->transform(Decimal())
      ->check(CLI::Range(-55, 125));
  paramsCommand->add_option("--offset", params->answer.offset,
                            "measurement offset in degrees C, -3..3, with '.' or the locale's decimal "
                            "separator; rounded to 1/16 (halves to even)");
  paramsCommand->callback([&chosen, params] {
    chosen = [params](Runner& r) {
      r.Connect();
      r.ui().expectedSensor = params->sensor;
      r.ui().chooserAnswer.number = params->sensor;
      r.ui().sensorAnswer = params->answer;
      return Parametryczujnika1Click(r.session());
    };
  });
}

}  // namespace

void AddSettingsCommands(CLI::App& app, Command& chosen) {
  AddPlain(app, chosen, "info", "Licencja: show the logger's owner and serial number", Licencja1Click);
  AddPlain(app, chosen, "toggle", "Zmiana trybu pracy: switch recording on or off (asks first)",
           BitBtn2Click);
  AddPlain(app, chosen, "set-clock",
           "Ustaw czas z PC: set the logger's clock from this machine's (asks first)", BitBtn3Click);
  AddPlain(app, chosen, "reset", "Reset rejestratora: reset the logger (asks first)", Resetuk1Click);
  AddPlain(app, chosen, "erase", "Wykasuj pomiary !: erase the recorded measurements (asks first)",
           Wykasujpomiary1Click);
  AddPlain(
      app, chosen, "format",
      "Formatowanie pamięci !!! (needs --service): format the memory, erasing every parameter (asks first)",
      Formatowanieukadu1Click);

  CLI::App* text = app.add_subcommand("text", "the logger's text fields: print one, or write it with --set");
  text->require_subcommand(1);
  AddTextField(*text, chosen, "supervisor", "Kontrola pomiaru: the person supervising the measurements",
               Nadzrpomiaru1Click, false);
  AddTextField(*text, chosen, "owner", "Wpis użytkownika (needs --service): the owner's company name",
               Wpislicencji1Click, false);
  AddTextField(*text, chosen, "serial", "Wpis numeru seryjnego (needs --service): the logger's serial number",
               Wpisnrserii1Click, false);
  AddTextField(*text, chosen, "point", "Nazwa pkt. pomiaru: the name of measuring point N",
               Nazwapktpomiar1Click, true);

  AddOptions(app, chosen);
  AddSensors(app, chosen);
}

}  // namespace velutron::cli
