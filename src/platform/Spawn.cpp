#include "platform/Spawn.h"

#include <algorithm>

#include "platform/Process.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/Utf16.h"
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

namespace {

// One argument as the C runtime of the started program splits its command line again.
std::wstring Quoted(const std::wstring& arg) {
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, L'\\');
  return out + L"\"";
}

}  // namespace

std::optional<int> RunWithInput(const std::filesystem::path& program, const std::vector<std::string>& args,
                                const std::function<std::optional<std::string>()>& makeInput) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return std::nullopt;
  SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = readEnd;
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  std::wstring commandLine = Quoted(program.wstring());
  for (const std::string& a : args) commandLine += L" " + Quoted(Utf16FromUtf8(a));
  PROCESS_INFORMATION child{};
  const BOOL started = CreateProcessW(program.wstring().c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                      0, nullptr, nullptr, &startup, &child);
  CloseHandle(readEnd);
  if (!started) {
    CloseHandle(writeEnd);
    return std::nullopt;
  }
  const std::optional<std::string> made = makeInput();
  if (!made) {
    TerminateProcess(child.hProcess, 1);
    WaitForSingleObject(child.hProcess, INFINITE);
    CloseHandle(writeEnd);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return std::nullopt;
  }
  std::string_view input = *made;
  while (!input.empty()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min<size_t>(input.size(), 1 << 20));
    if (!WriteFile(writeEnd, input.data(), chunk, &written, nullptr) || written == 0) break;
    input.remove_prefix(written);
  }
  CloseHandle(writeEnd);
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD code = 0;
  const bool exited = GetExitCodeProcess(child.hProcess, &code);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  if (!exited) return std::nullopt;
  return static_cast<int>(code);
}

#else

std::filesystem::path ProgramDirectory() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : self.parent_path();
}

std::optional<int> RunWithInput(const std::filesystem::path& program, const std::vector<std::string>& args,
                                const std::function<std::optional<std::string>()>& makeInput) {
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
  const std::optional<std::string> made = makeInput();
  if (!made) {
    kill(child, SIGTERM);
    close(pipeFds[1]);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return std::nullopt;
  }
  std::string_view input = *made;
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

std::optional<int> RunWithInput(const std::filesystem::path& program, const std::vector<std::string>& args,
                                std::string_view input) {
  return RunWithInput(program, args, [input] { return std::optional<std::string>(input); });
}

}  // namespace velutron
