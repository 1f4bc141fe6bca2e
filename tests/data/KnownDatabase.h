#pragma once

#include "DumpBuilder.h"

namespace velutron::test {

// Four channels in humidity mode, threshold 25: an ordinary record with ON, out-of-range readings with
// OFF, a single-pair record, and a stamp that is no real date. The exports and the chart are checked
// against it.
inline DumpBuilder KnownDump() {
  DumpBuilder dump;
  dump.channelByte = 0x84;
  dump.threshold = 25;
  dump.owner =
      "Zak\xB3"
      "ad Testowy";
  dump.supervision = "Kontrola 1";
  dump.pointNames = {"Suchy", "Mokry"};
  dump.Record({1200, 1184, 1280, 1264}, 0x05, 0x06, 9, 0x80 | 0x40 | 0x14, 0x05, 0x30)
      .Record({0, 1184, 1280, 1264}, 0x05, 0x06, 9, 0x80 | 0x14, 0x15, 0x30)
      .Record({1280, 1264, 4003, 1201}, 0x05, 0x06, 9 | 0x80, 0x14, 0x25, 0x30)
      .Record({1200, 1184, 1280, 1264}, 0x05, 0x13, 9, 0x14, 0x35, 0x30);
  return dump;
}

}  // namespace velutron::test
