#include "runtime/platform/system_inspection_posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <pwd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "runtime/platform/testing/scratch_directory.h"

namespace runtime::platform {
namespace {

namespace fs = std::filesystem;

class DiagnosisPosixTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scratch_.ok()); }
  ScratchDirectory scratch_;
};

// This process's program name as the kernel keeps it.
std::string FirstLineOfComm() {
  std::string comm = FileContents("/proc/self/comm");
  return comm.substr(0, comm.find('\n'));
}

std::string Listing(const std::vector<SerialPortEntry>& ports) {
  std::string text;
  for (const SerialPortEntry& port : ports) text += port.name + " | " + port.detail + "\n";
  return text;
}

TEST_F(DiagnosisPosixTest, PortsAreListedFromDevicesAndTheirDrivers) {
  fs::create_directories("dev/serial/by-id");
  for (const char* name :
       {"ttyUSB0", "ttyACM1", "ttyS0", "ttyS1", "ttyS10", "ttyS2", "tty0", "null"}) {
    PutFile(std::string("dev/") + name, "");
  }
  fs::create_symlink("../../ttyUSB0", "dev/serial/by-id/usb-Maker_Adapter_A1-if00-port0");
  // The kernel's view: ttyS1 has no UART behind it, ttyS2 says nothing.
  for (const char* name : {"ttyS0", "ttyS1", "ttyS10", "ttyUSB0"}) {
    fs::create_directories(std::string("sys/") + name + "/device");
  }
  PutFile("sys/ttyS0/type", "4\n");
  PutFile("sys/ttyS1/type", "0\n");
  PutFile("sys/ttyS10/type", "4\n");
  fs::create_directories("sys/drivers/ftdi_sio");
  fs::create_symlink(fs::absolute("sys/drivers/ftdi_sio"), "sys/ttyUSB0/device/driver");

  const std::string dev = fs::absolute("dev").string();
  EXPECT_EQ(Listing(ListSerialPortsUnder(dev, fs::absolute("sys").string())),
            dev + "/serial/by-id/usb-Maker_Adapter_A1-if00-port0 | stable name of " + dev +
                "/ttyUSB0\n" + dev + "/ttyS0 | on-board serial port, UART type 4\n" + dev +
                "/ttyS10 | on-board serial port, UART type 4\n" + dev +
                "/ttyACM1 | USB modem-class device\n" + dev +
                "/ttyUSB0 | USB serial adapter, driver ftdi_sio\n");
  EXPECT_EQ(Listing(ListSerialPortsUnder("missing/dev", "missing/sys")), "");
}

TEST_F(DiagnosisPosixTest, HoldersOfADeviceAreFoundWithTheirProgram) {
  int controller, device;
  char name[256];
  ASSERT_EQ(openpty(&controller, &device, name, nullptr, nullptr), 0);
  const std::vector<DeviceHolder> holders = FindDeviceHolders(name);
  bool found = false;
  for (const DeviceHolder& holder : holders) {
    if (holder.processId == static_cast<uint32_t>(getpid())) {
      found = true;
      EXPECT_EQ(holder.program, FirstLineOfComm());
    }
  }
  EXPECT_TRUE(found) << name;
  close(device);
  for (const DeviceHolder& holder : FindDeviceHolders(name)) {
    EXPECT_NE(holder.processId, static_cast<uint32_t>(getpid()));
  }
  close(controller);
}

TEST_F(DiagnosisPosixTest, OwnerAndGroupOfADevice) {
  PutFile("device", "");
  ASSERT_EQ(chmod("device", 0640), 0);
  DeviceAccess access;
  ASSERT_TRUE(DescribeDeviceAccess("device", &access));
  EXPECT_EQ(access.mode, 0640u);
  EXPECT_EQ(access.owner, access.user);
  // A new file takes this process's group, which it has.
  EXPECT_TRUE(access.inGroup);
  EXPECT_FALSE(access.group.empty());
  EXPECT_FALSE(DescribeDeviceAccess("missing", &access));
}

TEST_F(DiagnosisPosixTest, OwnersAreTakenFromTheNameItselfAndNamedOrNumbered) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give files to other users";
  const passwd* nobody = getpwuid(65534);
  ASSERT_NE(nobody, nullptr);
  const std::string nobodyName = nobody->pw_name;
  PutFile("theirs", "x");
  ASSERT_EQ(chown("theirs", 65534, 65534), 0);
  PathOwner owner;
  ASSERT_TRUE(QueryEntryOwnerIn(0, "theirs", &owner));
  EXPECT_TRUE(owner.otherUser);
  EXPECT_EQ(owner.name, nobodyName);
  EXPECT_EQ(owner.links, 1u);
  // A user the user database does not know is shown by number.
  ASSERT_EQ(getpwuid(54321), nullptr);
  ASSERT_EQ(chown("theirs", 54321, 54321), 0);
  ASSERT_TRUE(QueryEntryOwnerIn(0, "theirs", &owner));
  EXPECT_EQ(owner.name, "54321");
  // This user's link to another user's file is this user's, and the other
  // user's link to this user's file is theirs.
  ASSERT_EQ(symlink("theirs", "my_link"), 0);
  ASSERT_TRUE(QueryEntryOwnerIn(0, "my_link", &owner));
  EXPECT_FALSE(owner.otherUser);
  PutFile("mine", "x");
  ASSERT_EQ(symlink("mine", "their_link"), 0);
  ASSERT_EQ(lchown("their_link", 65534, 65534), 0);
  ASSERT_TRUE(QueryEntryOwnerIn(0, "their_link", &owner));
  EXPECT_TRUE(owner.otherUser);
  EXPECT_EQ(owner.name, nobodyName);
  fs::create_directory("shared");
  ASSERT_EQ(chmod("shared", 01777), 0);
  ASSERT_TRUE(QueryEntryOwnerIn(0, "shared", &owner));
  EXPECT_TRUE(owner.isDirectory);
  EXPECT_EQ(owner.mode, 01777u);
  EXPECT_EQ(QueryProgramFolderWriters(), ProgramFolderWriters::kNotAsked);
}

}  // namespace
}  // namespace runtime::platform
