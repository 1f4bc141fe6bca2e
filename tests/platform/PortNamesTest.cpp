#include <gtest/gtest.h>
#include <stdlib.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/PortNames.h"

namespace velutron {
namespace {

TEST(PortNames, ComNamesNumberPortsOneTo255InAnyCase) {
  EXPECT_EQ(ComPortNumber("COM1"), 1);
  EXPECT_EQ(ComPortNumber("com3"), 3);
  EXPECT_EQ(ComPortNumber("Com255"), 255);
  for (const char* other : {"COM0", "COM256", "COM01", "COM", "COMx", "COM1 ", "/dev/ttyS0", "LPT1"}) {
    EXPECT_EQ(ComPortNumber(other), std::nullopt) << other;
  }
}

#ifdef _WIN32

TEST(PortNames, ComNamesOpenTheDeviceNamespaceSoThatTenAndAboveWork) {
  EXPECT_EQ(ResolvePortName("COM1"), "\\\\.\\COM1");
  EXPECT_EQ(ResolvePortName("com10"), "\\\\.\\COM10");
  EXPECT_EQ(ResolvePortName("\\\\.\\COM3"), "\\\\.\\COM3");
}

#else

// Sets (or unsets) VELUTRON_PORT_DIR for one test and puts the old value back.
class PortDirGuard {
 public:
  explicit PortDirGuard(const char* value) {
    if (const char* old = getenv("VELUTRON_PORT_DIR")) old_ = old;
    if (value) {
      setenv("VELUTRON_PORT_DIR", value, 1);
    } else {
      unsetenv("VELUTRON_PORT_DIR");
    }
  }
  ~PortDirGuard() {
    if (old_) {
      setenv("VELUTRON_PORT_DIR", old_->c_str(), 1);
    } else {
      unsetenv("VELUTRON_PORT_DIR");
    }
  }

 private:
  std::optional<std::string> old_;
};

TEST(PortNames, ComNamesOpenTheBuiltInUartsWithoutAPortFolder) {
  PortDirGuard guard(nullptr);
  EXPECT_EQ(ResolvePortName("COM1"), "/dev/ttyS0");
  EXPECT_EQ(ResolvePortName("com3"), "/dev/ttyS2");
  EXPECT_EQ(ResolvePortName("COM10"), "/dev/ttyS9");
  PortDirGuard empty("");
  EXPECT_EQ(ResolvePortName("COM2"), "/dev/ttyS1");
}

TEST(PortNames, ComNamesOpenEntriesOfThePortFolderWhenItIsSet) {
  PortDirGuard guard("/run/velutron");
  EXPECT_EQ(ResolvePortName("COM10"), "/run/velutron/COM10");
  EXPECT_EQ(ResolvePortName("com1"), "/run/velutron/COM1");
}

TEST(PortNames, DevicePathsAndOtherNamesAreUsedAsGiven) {
  PortDirGuard guard("/run/velutron");
  EXPECT_EQ(ResolvePortName("/dev/ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(ResolvePortName("COM0"), "COM0");
  EXPECT_EQ(ResolvePortName("COM256"), "COM256");
}

TEST(PortNames, MappingAndListingShowThePortFolderLinks) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("velutron-ports-" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::create_symlink("/dev/null", dir / "COM2");
  PortDirGuard guard(dir.c_str());

  auto mapping = ComMapping();
  ASSERT_EQ(mapping.size(), 10u);
  EXPECT_EQ(mapping[0].name, "COM1");
  EXPECT_EQ(mapping[0].path, (dir / "COM1").string());
  EXPECT_FALSE(mapping[0].exists);
  EXPECT_EQ(mapping[1].path, (dir / "COM2").string());
  EXPECT_TRUE(mapping[1].exists);
  EXPECT_EQ(mapping[9].name, "COM10");

  auto ports = ListSerialPorts();
  auto link = std::find_if(ports.begin(), ports.end(),
                           [&](const PortInfo& p) { return p.path == (dir / "COM2").string(); });
  ASSERT_NE(link, ports.end());
  EXPECT_EQ(link->target, "/dev/null");
  fs::remove_all(dir);
}

TEST(PortNames, StableNamesAreListedWithTheDeviceTheyLeadTo) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("velutron-by-id-" + std::to_string(getpid()));
  fs::create_directories(root / "serial" / "by-id");
  std::ofstream(root / "ttyUSB0").put('x');
  fs::create_symlink("../../ttyUSB0", root / "serial" / "by-id" / "usb-FTDI_FT232R_A12B-if00-port0");
  std::ofstream(root / "serial" / "by-id" / "not-a-link").put('x');

  const auto names = StablePortNames((root / "serial" / "by-id").string());
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].path, (root / "serial" / "by-id" / "usb-FTDI_FT232R_A12B-if00-port0").string());
  EXPECT_EQ(names[0].target, (root / "ttyUSB0").string());
  EXPECT_TRUE(StablePortNames((root / "absent").string()).empty());
  fs::remove_all(root);
}

#endif

}  // namespace
}  // namespace velutron
