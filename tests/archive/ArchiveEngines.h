#pragma once

// Every archive test runs on both engines: a fresh SQLite file, and a fresh database on the PostgreSQL
// server that VELUTRON_TEST_POSTGRESQL names (./test starts a private one). Without it the PostgreSQL
// half is skipped, and says why.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "archive/Archive.h"
#include "archive/Database.h"

namespace velutron::test {

inline constexpr const char* kPostgresVariable = "VELUTRON_TEST_POSTGRESQL";

// A new empty archive on `engine` ("sqlite" or "postgresql"); empty with `skip` set when there is none.
inline std::string FreshArchive(const std::string& engine, std::string& skip) {
  static std::atomic<int> counter{0};
  const std::string name = "velutron_" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
  if (engine == "sqlite") {
    const auto path = std::filesystem::temp_directory_path() / (name + ".db");
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path.string() + suffix);
    return path.string();
  }
  const char* server = std::getenv(kPostgresVariable);
  if (server == nullptr || *server == 0) {
    skip = std::string(kPostgresVariable) + " is not set: no PostgreSQL server for the tests";
    return {};
  }
  std::string error;
  auto admin = archive::OpenPostgres(server, error);
  if (!admin || !admin->Exec("CREATE DATABASE " + name, error)) {
    skip = "PostgreSQL server of " + std::string(kPostgresVariable) + " refused: " + error;
    return {};
  }
  const std::string url(server);
  return url + (url.find('?') == std::string::npos ? "?" : "&") + "dbname=" + name;
}

class ArchiveEngineTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    std::string skip;
    location_ = FreshArchive(GetParam(), skip);
    if (location_.empty()) GTEST_SKIP() << skip;
  }
  std::unique_ptr<archive::PeriodArchive> Open() {
    std::string error;
    auto a = archive::OpenPeriodArchive(location_, error);
    EXPECT_TRUE(a) << error;
    return a;
  }
  std::string location_;
};

inline std::string EngineName(const ::testing::TestParamInfo<std::string>& info) { return info.param; }

#define VELUTRON_ON_BOTH_ENGINES(Suite)                                               \
  INSTANTIATE_TEST_SUITE_P(Engines, Suite, ::testing::Values("sqlite", "postgresql"), \
                           ::velutron::test::EngineName)

}  // namespace velutron::test
