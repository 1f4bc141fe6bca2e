#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "session/Session.h"

namespace velutron {

// The logger's configuration memory as an image: the parameter space, then the point-name space.
inline constexpr size_t kImageMemorySize = 512;
// An image file: the memory, then the sum of its bytes modulo 65536, high byte first.
inline constexpr size_t kImageFileSize = kImageMemorySize + 2;
using MemoryImage = std::array<uint8_t, kImageMemorySize>;

uint16_t ImageChecksum(const MemoryImage& memory);
std::array<uint8_t, kImageFileSize> ImageFileBytes(const MemoryImage& memory);

enum class ImageFileCheck { Intact, NotAnImage, Damaged };
struct ImageFileContents {
  ImageFileCheck check = ImageFileCheck::NotAnImage;
  MemoryImage memory{};  // the file's memory bytes when it is intact, zeros otherwise
};
// Checks a file's bytes, whatever they are: an image when exactly 514 bytes long, intact when the stored
// checksum matches.
ImageFileContents ParseImageFile(std::span<const uint8_t> file);

// "Zapis obrazu pamięci": the logger's memory into "<typed name>.eep". Service access.
Outcome Zapisobrazurej1Click(Session& s);
// "Wczytanie obrazu pamięci": an image file chosen in OpenDialog2 back into the logger, every byte but
// parameter address 128 (the sensor-declaration trigger). Service access.
Outcome Wczytanieobrazurej1Click(Session& s);

}  // namespace velutron
