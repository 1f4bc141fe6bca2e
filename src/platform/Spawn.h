#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velutron {

// The folder of the running program's own file; empty when the system does not say.
std::filesystem::path ProgramDirectory();

// Runs `program` with `args`, `input` on its standard input and this program's standard output and
// error, and waits for it. Its exit code, or nullopt when it could not be started or did not exit by
// itself. An interrupt of this program (InterruptRequested) is passed on to it as SIGTERM.
std::optional<int> RunWithInput(const std::filesystem::path& program, const std::vector<std::string>& args,
                                std::string_view input);

}  // namespace velutron
