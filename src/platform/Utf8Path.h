#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace velutron {

// A file name as the user gave it (typed, chosen in a dialog or on the command line: UTF-8) as a path of
// the file system, and back. On Windows a path built from a narrow string reads it in the ANSI code
// page, which turns "Pomiary_żółć.DAT" into another name; these go through UTF-16 instead.
std::filesystem::path PathFromUtf8(std::string_view name);
std::string Utf8FromPath(const std::filesystem::path& path);

}  // namespace velutron
