#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/SimSession.h"

namespace velutron::test {

using Events = std::vector<std::string>;

inline const std::string kTimeoutMessage = "message|Uwaga !|Przekroczenie czasu na odpowiedź !!!";
inline const std::string kLocked = "message|Blokada funkcji !!!|Użytkownik nie ma dostępu do tej funkcji !";
inline const std::string kRecordingRefused =
    "message|Zmień tryb pracy!|Wybrana opcja wymaga wyłączenia rejestracji pomiarów!";

// A settings operation against the simulated logger on COM1, on virtual time.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sim.OpenPort()); }
  // The events without the values reported for the command line.
  Events Shown() const {
    Events out;
    for (const std::string& e : sim.ui.events) {
      if (e.rfind("value|", 0) != 0) out.push_back(e);
    }
    return out;
  }
  SimSession sim;
};

}  // namespace velutron::test
