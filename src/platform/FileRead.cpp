#include "platform/FileRead.h"

#ifdef _WIN32
#include <fstream>
#include <system_error>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace velutron {

#ifdef _WIN32

std::optional<std::vector<uint8_t>> ReadFileAtMost(const std::filesystem::path& path, size_t limit,
                                                   FileAccess access) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  std::ios::openmode mode = std::ios::in | std::ios::binary;
  if (access == FileAccess::ReadWrite) mode |= std::ios::out;
  std::fstream in(path, mode);
  if (!in) return std::nullopt;
  std::vector<uint8_t> data(limit + 1);
  in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (in.bad()) return std::nullopt;
  data.resize(static_cast<size_t>(in.gcount()));
  return data;
}

#else

std::optional<std::vector<uint8_t>> ReadFileAtMost(const std::filesystem::path& path, size_t limit,
                                                   FileAccess access) {
  // Non-blocking, so that opening a FIFO does not wait for a writer; it is refused right after.
  const int flags = (access == FileAccess::ReadWrite ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  const int fd = ::open(path.c_str(), flags);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::optional<std::vector<uint8_t>> result;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    std::vector<uint8_t> data(limit + 1);
    size_t got = 0;
    bool failed = false;
    while (got < data.size()) {
      const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) failed = true;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    if (!failed) {
      data.resize(got);
      result = std::move(data);
    }
  }
  ::close(fd);
  return result;
}

#endif

}  // namespace velutron
