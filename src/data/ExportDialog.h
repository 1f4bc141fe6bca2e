#pragma once

#include <functional>
#include <optional>
#include <string>

class QDialog;
class QWidget;

namespace velutron {

// Where to save a database's workbook: a save dialog that proposes `proposed`, run modally by `exec`
// (the program's own dialog loop); nullopt when cancelled.
std::optional<std::string> AskWorkbookFile(QWidget* parent, const std::string& proposed,
                                           const std::function<int(QDialog&)>& exec);

}  // namespace velutron
