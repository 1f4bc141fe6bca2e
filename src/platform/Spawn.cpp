#include "platform/Spawn.h"

#include "platform/Process.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;
#endif

namespace velutron {

#ifdef _WIN32

std::filesystem::path ProgramDirectory() {
  wchar_t buffer[32768];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(std::size(buffer)));
  if (length == 0 || length >= std::size(buffer)) return {};
  return std::filesystem::path(std::wstring(buffer, length)).parent_path();
}

// The Windows builds have no drawing program yet (it needs Qt), so nothing is run there.
std::optional<int> RunWithInput(const std::filesystem::path&, const std::vector<std::string>&,
                                std::string_view) {
  return std::nullopt;
}

#else

std::filesystem::path ProgramDirectory() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : self.parent_path();
}

std::optional<int> RunWithInput(const std::filesystem::path& program, const std::vector<std::string>& args,
                                std::string_view input) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[0], STDIN_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
  std::string path = program.string();
  std::vector<std::string> words = args;
  std::vector<char*> argv{path.data()};
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[0]);
  if (spawned != 0) {
    close(pipeFds[1]);
    return std::nullopt;
  }
  // A program that stops reading must not end this one with SIGPIPE.
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);
  while (!input.empty()) {
    const ssize_t n = write(pipeFds[1], input.data(), input.size());
    if (n < 0 && errno == EINTR && !InterruptRequested()) continue;
    if (n <= 0) break;
    input.remove_prefix(static_cast<size_t>(n));
  }
  close(pipeFds[1]);
  sigaction(SIGPIPE, &previous, nullptr);

  bool passedOn = false;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return std::nullopt;
    if (InterruptRequested() && !passedOn) {
      kill(child, SIGTERM);
      passedOn = true;
    }
  }
  return WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt;
}

#endif

}  // namespace velutron
