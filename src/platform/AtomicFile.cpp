#include "platform/AtomicFile.h"

#include <random>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
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

void SyncFile([[maybe_unused]] const std::filesystem::path& path) {
#ifndef _WIN32
  if (int fd = ::open(path.c_str(), O_RDONLY); fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
#endif
}

}  // namespace

AtomicFile::AtomicFile(std::filesystem::path target) : target_(std::move(target)) {
  // A target that is a folder can never be replaced by a file.
  std::error_code ec;
  if (target_.filename().empty() || std::filesystem::is_directory(target_, ec)) return;
  temp_ = TemporaryBeside(target_);
  out_.open(temp_, std::ios::binary | std::ios::trunc);
  ok_ = out_.is_open();
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

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::filesystem::path& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return data;
}

}  // namespace velutron
