#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velutron {

// The folder of the running program's own file; empty when the system does not say.
std::filesystem::path ProgramDirectory();

// Runs `program` with `args`, `input` on its standard input and this program's standard output and
// error, and waits for it. Its exit code, or nullopt when it could not be started or did not exit by
// itself. On POSIX systems an interrupt of this program (InterruptRequested) is
// passed on to it as SIGTERM; a Windows console sends Ctrl+C to both.
std::optional<int> RunWithInput(const std::filesystem::path& program, const std::vector<std::string>& args,
                                std::string_view input);
// The same with the input made by `makeInput` once the program has been started, so that its start-up
// and the making overlap. When `makeInput` gives nullopt the program is stopped, and so is the result.
std::optional<int> RunWithInput(const std::filesystem::path& program, const std::vector<std::string>& args,
                                const std::function<std::optional<std::string>()>& makeInput);

}  // namespace velutron
