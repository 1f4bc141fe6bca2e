#pragma once

#include <optional>
#include <string>

class QWidget;

namespace velutron {

// Where to save a database's workbook: a save dialog that proposes `proposed`; nullopt when cancelled.
std::optional<std::string> AskWorkbookFile(QWidget* parent, const std::string& proposed);

}  // namespace velutron
