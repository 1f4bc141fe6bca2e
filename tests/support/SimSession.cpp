#include "support/SimSession.h"

#include <cstdlib>
#include <random>
#include <system_error>

namespace velutron::test {

TempDir::TempDir() {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    path_ = std::filesystem::temp_directory_path() / ("velutron-test-" + std::to_string(random()));
    std::error_code ec;
    if (std::filesystem::create_directory(path_, ec)) return;
  }
  std::abort();
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

SimSession::SimSession(uint32_t tickBase) : clock(tickBase) {
  bench.ports["COM1"] = {&device, false};
  s.workDir = dir.path();
  ui.beforeRefresh = [this] { clock.SleepMs(1000); };
}

bool SimSession::OpenPort() { return s.link.OpenPort("COM1", s.PortParity()); }

std::vector<uint8_t> SimSession::TakeSent() {
  std::vector<uint8_t> out;
  for (; sentSeen_ < port.sent.size(); ++sentSeen_) out.push_back(port.sent[sentSeen_].byte);
  return out;
}

std::string SimSession::TakeWire() {
  std::string out;
  for (; sentSeen_ < port.sent.size(); ++sentSeen_) {
    if (!out.empty()) {
      const bool sameCommand = port.sent[sentSeen_].atUs - port.sent[sentSeen_ - 1].atUs == 3000;
      out += sameCommand ? "-" : " ";
    }
    out += std::to_string(port.sent[sentSeen_].byte);
  }
  return out;
}

}  // namespace velutron::test
