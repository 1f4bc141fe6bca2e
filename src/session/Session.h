#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "link/Link.h"
#include "platform/Clock.h"
#include "platform/Locale.h"
#include "platform/SerialPort.h"
#include "platform/UserInterface.h"
#include "platform/Utf8Path.h"
#include "platform/ZeroedBytes.h"
#include "session/MonitorState.h"

namespace velutron {

// Settings from the configuration file and the command line.
struct Settings {
  uint8_t OddParity = 0;  // kept exactly as read; nonzero = odd
  bool ConfigBad = false;
  bool ServiceAccess = false;
};

inline constexpr size_t kReportBufferSize = 655361;

// The report view's state, shared by download, renderer and database commands.
struct ReportState {
  ZeroedBytes ReportBuffer = ZeroedBytes(kReportBufferSize);
  bool ReportLoaded = false;
  std::string DatabaseFileName;
  // The database file the last download saved (UTF-8 path), empty when it saved none.
  std::string LastDownload;
};

// The program's shared state, owned by the front end and handed to every operation.
struct Session {
  Session(SerialPort& port, Clock& clock, UserInterface& ui, const Locale& locale)
      : link(port, clock, ui), clock(clock), ui(ui), locale(locale) {}

  Link link;
  Clock& clock;
  UserInterface& ui;
  const Locale& locale;
  Settings settings;
  ReportState report;
  // The working text of the logger's text fields: the last one read, or the user's edit of it (UTF-8).
  std::string FieldText;
  // The live monitoring's state, kept from one run to the next.
  MonitorState monitor;
  // Where "VELUTRON.cfg", "ViewData.CSV" and relative database names live: the working directory.
  std::filesystem::path workDir = ".";

  // Device settings: set when the accept button closed the last settings dialog.
  bool DialogAccepted = false;

  Parity PortParity() const { return settings.OddParity != 0 ? Parity::Odd : Parity::Even; }
  // The file a name given by the user (UTF-8) stands for: itself when absolute, else in the working
  // directory.
  std::filesystem::path InWorkDir(std::string_view name) const {
    const std::filesystem::path path = PathFromUtf8(name);
    return path.is_absolute() ? path : workDir / path;
  }
};

// Empties ReportBuffer and the view, clears ReportLoaded.
void ClearReportView(Session& s);

namespace text {
inline constexpr std::string_view kCaptionLocked = "Blokada funkcji !!!";
inline constexpr std::string_view kNoAccess = "Użytkownik nie ma dostępu do tej funkcji !";
// A write of many bytes, one exchange each, broken off part-way.
inline constexpr std::string_view kCaptionWriteFailed = "Błąd zapisu danych.";
inline constexpr std::string_view kWriteInterrupted = "Przerwanie zapisu danych!!!";
}  // namespace text

// Service functions: without service access, shows the refusal and returns true.
bool RefusedWithoutService(Session& s);

}  // namespace velutron
