// Feeds arbitrary bytes to the zone-file reader (the files come from outside the program) and asks the
// rules it accepts for offsets at moments from the far past to the far future: every answer must be an
// offset RFC 8536 allows, whatever the bytes claimed.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "archive/TimeZone.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto rules = velutron::archive::ParseZoneFile(std::span<const uint8_t>(data, size));
  if (!rules) return 0;
  for (int64_t at : {INT64_MIN, int64_t{-1} << 40, int64_t{-2'840'140'800}, int64_t{-1}, int64_t{0},
                     int64_t{1'796'083'200}, int64_t{2'147'483'648}, int64_t{4'733'510'400}, int64_t{1} << 40,
                     INT64_MAX}) {
    for (int64_t step = 0; step < 366 * 86400; step += 86400 * 7 + 3607) {
      const int64_t offset = velutron::archive::ZoneOffsetAt(*rules, at > 0 ? at - step : at + step);
      if (offset < -89999 || offset > 93599) std::abort();
    }
  }
  return 0;
}
