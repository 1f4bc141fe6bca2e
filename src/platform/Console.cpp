#include "platform/Console.h"

#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

#include "platform/Utf16.h"
#else
#include <unistd.h>
#endif

namespace velutron {

std::string VisibleText(std::string_view text, bool lineBreaks) {
  std::string out;
  out.reserve(text.size());
  char code[8];
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && lineBreaks) {
      out += '\n';
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(code, sizeof code, "\\x%02x", c);
      out += code;
    } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0 &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80) {
      // U+0080..U+009F, the C1 controls: CSI among them starts a sequence on many terminals.
      std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned char>(text[++i]));
      out += code;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

#ifdef _WIN32

namespace {

UINT consoleOutputCodePage = 0;

void RestoreConsoleOutput() { SetConsoleOutputCP(consoleOutputCodePage); }

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(Utf8FromUtf16(wide[i]));
  LocalFree(wide);
  return arguments;
}

void PrepareConsoleOutput() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // The console's code page outlives the program; it is put back at exit.
  const UINT current = GetConsoleOutputCP();
  if (current != 0 && current != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
    consoleOutputCodePage = current;
    std::atexit(RestoreConsoleOutput);
  }
}

// _isatty() also says yes for the NUL device; a console has a console mode.
bool InputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool ErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

#else

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void PrepareConsoleOutput() {}

bool InputIsTerminal() { return ::isatty(STDIN_FILENO) != 0; }

bool ErrorIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

#endif

}  // namespace velutron
