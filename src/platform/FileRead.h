#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace velutron {

enum class FileAccess { ReadOnly, ReadWrite };

// Reads a file of outside bytes: at most `limit` + 1 bytes, so that a caller sees a file longer than any
// valid one without holding all of it. Nothing but a regular file is read: a folder, a FIFO or a device
// gives nullopt at once, without blocking. nullopt also when the file cannot be opened with `access`
// (absent, no permission, locked) or a read fails.
std::optional<std::vector<uint8_t>> ReadFileAtMost(const std::filesystem::path& path, size_t limit,
                                                   FileAccess access = FileAccess::ReadOnly);

}  // namespace velutron
