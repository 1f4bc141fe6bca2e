#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <vector>

namespace velutron {

// A file written beside its target and renamed over it only when complete: the target is either its
// old self or the whole new file, never something in between. Dropped without Commit(), the partial
// copy is removed and the target is untouched.
class AtomicFile {
 public:
  explicit AtomicFile(std::filesystem::path target);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // A symbolic link is followed: the file it names is replaced and the link kept. False when the target
  // cannot be replaced (a folder, a FIFO or device, a read-only file) or the partial copy could not be
  // created (bad name, no such folder, no permission).
  bool Ok() const { return ok_; }
  bool Write(std::span<const uint8_t> bytes);
  // Flushes, syncs and renames over the target; false (and nothing changed) when any step failed.
  bool Commit();
  // Drops the partial copy now.
  void Discard();

 private:
  std::filesystem::path target_;
  std::filesystem::path temp_;
  std::ofstream out_;
  bool ok_ = false;
  bool done_ = false;
};

bool WriteFileAtomically(const std::filesystem::path& target, std::span<const uint8_t> bytes);

}  // namespace velutron
