#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "session/Session.h"

namespace velutron {

inline constexpr std::string_view kConfigFileName = "VELUTRON.cfg";
inline constexpr size_t kConfigRecordSize = 8;
// The letter that, as the first command-line argument, grants service access.
inline constexpr char kServiceLetter = 'S';

using ConfigRecord = std::array<uint8_t, kConfigRecordSize>;

uint16_t ConfigChecksum(std::span<const uint8_t> record);
ConfigRecord MakeConfigRecord(uint8_t portNumber, uint8_t oddParity);

// True when `arg` is the service letter in either case.
bool IsServiceArgument(std::string_view arg);

// Reads the configuration file and the service switch into the session; sets SensorNumber to 1.
// `firstArgument` is the first command-line argument, if any.
void LoadConfig(Session& s, std::optional<std::string_view> firstArgument);
// Writes PortNumber and OddParity to the configuration file, whole or not at all.
bool SaveConfig(Session& s);

}  // namespace velutron
