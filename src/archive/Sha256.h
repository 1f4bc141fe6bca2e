#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace velutron::archive {

// SHA-256 (FIPS 180-4), fed piece by piece; the hash a printed report carries.
class Sha256 {
 public:
  void Add(std::string_view bytes);
  // Lowercase hexadecimal; the object is spent after it.
  std::string Hex();

 private:
  void Block(const uint8_t* p);
  std::array<uint32_t, 8> h_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::array<uint8_t, 64> buffer_{};
  size_t used_ = 0;
  uint64_t length_ = 0;
};

}  // namespace velutron::archive
