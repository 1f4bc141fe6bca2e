// Feeds arbitrary bytes to the image-file check and verifies what it claims against the bytes it was
// given: only a file of exactly 514 bytes is an image, and it is intact exactly when writing its memory
// back gives the same file.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "monitor/MemoryImage.h"

using namespace velutron;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> file(data, size);
  const ImageFileContents image = ParseImageFile(file);
  if (size != kImageFileSize) {
    if (image.check != ImageFileCheck::NotAnImage) std::abort();
    return 0;
  }
  MemoryImage memory{};
  std::copy_n(file.begin(), kImageMemorySize, memory.begin());
  const bool same = std::ranges::equal(ImageFileBytes(memory), file);
  if (same != (image.check == ImageFileCheck::Intact)) std::abort();
  if (image.check == ImageFileCheck::Intact && image.memory != memory) std::abort();
  if (image.check == ImageFileCheck::Damaged && image.memory != MemoryImage{}) std::abort();
  return 0;
}
