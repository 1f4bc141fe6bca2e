#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace velutron {

// Writes `bytes` beside `target` and renames the copy over it only when it is complete, so `target`
// is either the old file or the whole new one. False when anything failed; nothing is left behind.
bool WriteFileAtomically(const std::filesystem::path& target, std::span<const uint8_t> bytes);

// Whole file, or nullopt when it cannot be opened or read.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::filesystem::path& path);

}  // namespace velutron
