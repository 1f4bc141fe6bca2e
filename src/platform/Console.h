#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velutron {

// The command line's arguments in UTF-8. Windows hands a program its narrow arguments in the ANSI code
// page, so there they are taken from the system's UTF-16 command line instead.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Standard output and error pass the program's UTF-8 bytes on unchanged: on Windows without the
// CR LF translation of text mode, and a console window shows them as UTF-8 until the program ends.
void PrepareConsoleOutput();

// A text of the logger or the archive as a terminal or a picture shows it: every control character (an ESC
// sequence, a zero byte a restored image put into the logger) as its code, "\x1b", and the C1 controls
// as "\u009b", never obeyed. With `lineBreaks` a carriage return starts a new line instead (a message).
std::string VisibleText(std::string_view text, bool lineBreaks = false);

// Whether standard input is a terminal that a person can answer questions on.
bool InputIsTerminal();
// Whether standard error is a terminal a person watches (for a progress bar).
bool ErrorIsTerminal();

}  // namespace velutron
