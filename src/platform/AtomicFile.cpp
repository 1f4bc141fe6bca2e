#include "platform/AtomicFile.h"

#include <random>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace velutron {

namespace {

// Built from the native name: a narrow copy of it would not survive a Polish letter on Windows.
std::filesystem::path TemporaryBeside(const std::filesystem::path& target) {
  std::random_device rd;
  std::filesystem::path name(".");
  name += target.filename().native();
  name += "." + std::to_string(rd() & 0xFFFFFF) + ".part";
  return target.parent_path() / name;
}

// Where a write to `target` really goes: a symbolic link is followed to the file it names, so the file is
// replaced and the link kept.
std::filesystem::path FinalTarget(std::filesystem::path path) {
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(path, ec)) break;
    const std::filesystem::path link = std::filesystem::read_symlink(path, ec);
    if (ec) break;
    path = link.is_absolute() ? link : path.parent_path() / link;
  }
  return path;
}

// A file the user made read-only is refused, as writing it in place would be: a rename would replace it
// regardless of its permissions. Only a regular file (or nothing yet) can be replaced.
bool Replaceable(const std::filesystem::path& target) {
  std::error_code ec;
  const std::filesystem::file_status st = std::filesystem::status(target, ec);
  if (st.type() == std::filesystem::file_type::not_found) return true;
  if (ec || st.type() != std::filesystem::file_type::regular) return false;
  using std::filesystem::perms;
  if ((st.permissions() & (perms::owner_write | perms::group_write | perms::others_write)) == perms::none) {
    return false;
  }
#ifndef _WIN32
  if (::access(target.c_str(), W_OK) != 0) return false;
#endif
  return true;
}

// The new file takes over the permissions (and, where the platform has them, the owner) of the one it
// replaces.
void CopyAttributes([[maybe_unused]] const std::filesystem::path& from, const std::filesystem::path& to) {
  std::error_code ec;
  const auto perms = std::filesystem::status(from, ec).permissions();
  if (ec) return;
  std::filesystem::permissions(to, perms, ec);
#ifndef _WIN32
  // Only a privileged writer can give the file away; anyone else keeps it as their own.
  struct stat st {};
  if (::stat(from.c_str(), &st) == 0 && ::chown(to.c_str(), st.st_uid, st.st_gid) != 0) return;
#endif
}

void SyncFile(const std::filesystem::path& path) {
#ifdef _WIN32
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    FlushFileBuffers(file);
    CloseHandle(file);
  }
#else
  if (int fd = ::open(path.c_str(), O_RDONLY); fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
#endif
}

}  // namespace

AtomicFile::AtomicFile(std::filesystem::path target) : target_(FinalTarget(std::move(target))) {
  if (target_.filename().empty() || !Replaceable(target_)) return;
  temp_ = TemporaryBeside(target_);
  out_.open(temp_, std::ios::binary | std::ios::trunc);
  ok_ = out_.is_open();
  std::error_code ec;
  if (ok_ && std::filesystem::exists(target_, ec)) CopyAttributes(target_, temp_);
}

AtomicFile::~AtomicFile() { Discard(); }

bool AtomicFile::Write(std::span<const uint8_t> bytes) {
  if (!ok_ || done_) return false;
  out_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ok_ = static_cast<bool>(out_);
  return ok_;
}

bool AtomicFile::Commit() {
  if (!ok_ || done_) return false;
  out_.flush();
  ok_ = static_cast<bool>(out_);
  out_.close();
  if (!ok_ || out_.fail()) {
    Discard();
    return false;
  }
  SyncFile(temp_);
  std::error_code ec;
  std::filesystem::rename(temp_, target_, ec);
  if (ec) {
    Discard();
    return false;
  }
  done_ = true;
  return true;
}

void AtomicFile::Discard() {
  if (done_ || temp_.empty()) return;
  done_ = true;
  ok_ = false;
  if (out_.is_open()) out_.close();
  std::error_code ec;
  std::filesystem::remove(temp_, ec);
}

bool WriteFileAtomically(const std::filesystem::path& target, std::span<const uint8_t> bytes) {
  AtomicFile file(target);
  return file.Write(bytes) && file.Commit();
}
}  // namespace velutron
