// The contract of the serial backend that was built, over a real line: a
// pseudo-terminal natively, a pair of COM ports under Wine.
#include "runtime/platform/serial.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "runtime/platform/clock.h"
#include "runtime/platform/process_control.h"
#include "runtime/platform/testing/serial_test_line.h"

namespace runtime::platform {
namespace {

constexpr PortSettings kScaleSettings{9600, 0, 8, 1.0f, 0, 1024, 1024};

class SerialTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string why_not;
    line_ = SerialTestLine::Create(0, &why_not);
    ASSERT_NE(line_, nullptr) << why_not;
  }

  // Waits until `count` bytes are waiting on `port`, or a second passed.
  int32_t WaitForInput(PortHandle port, int32_t count) {
    int64_t deadline = MonotonicMilliseconds() + 1000;
    int32_t waiting = SerialInputCount(port);
    while (waiting < count && MonotonicMilliseconds() < deadline) {
      SleepMilliseconds(5);
      waiting = SerialInputCount(port);
    }
    return waiting;
  }

  std::unique_ptr<SerialTestLine> line_;
};

std::vector<unsigned char> EveryByte() {
  std::vector<unsigned char> bytes(256);
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<unsigned char>(i);
  return bytes;
}

TEST_F(SerialTest, EveryByteCrossesUnchangedBothWays) {
  PortHandle port = OpenSerialDevice(line_->DeviceName().c_str(), kScaleSettings);
  ASSERT_NE(port, 0);
  const std::vector<unsigned char> sent = EveryByte();

  EXPECT_EQ(WriteSerial(port, sent.data(), 256), 256);
  std::vector<unsigned char> received(256);
  EXPECT_EQ(line_->PeerRead(received.data(), 256, 3000), 256);
  EXPECT_EQ(received, sent);

  ASSERT_EQ(line_->PeerWrite(sent.data(), 256), 256);
  ASSERT_EQ(WaitForInput(port, 256), 256);
  std::vector<unsigned char> read(256);
  EXPECT_EQ(ReadSerial(port, read.data(), 256), 256);
  EXPECT_EQ(read, sent);
  EXPECT_EQ(SerialInputCount(port), 0);
  CloseSerial(port);
}

TEST_F(SerialTest, ReadTakesOnlyWhatWasAskedAndLeavesTheRest) {
  PortHandle port = OpenSerialDevice(line_->DeviceName().c_str(), kScaleSettings);
  ASSERT_NE(port, 0);
  ASSERT_EQ(line_->PeerWrite("abcdef", 6), 6);
  ASSERT_EQ(WaitForInput(port, 6), 6);
  char first[4] = {};
  EXPECT_EQ(ReadSerial(port, first, 4), 4);
  EXPECT_EQ(std::string(first, 4), "abcd");
  EXPECT_EQ(SerialInputCount(port), 2);
  char rest[2] = {};
  EXPECT_EQ(ReadSerial(port, rest, 2), 2);
  EXPECT_EQ(std::string(rest, 2), "ef");
  CloseSerial(port);
}

TEST_F(SerialTest, DiscardDropsWhatArrivedBeforeButNotAfter) {
  // Bytes queued before the open: a reading the scale sent unasked.
  PortHandle port = OpenSerialDevice(line_->DeviceName().c_str(), kScaleSettings);
  ASSERT_NE(port, 0);
  ASSERT_EQ(line_->PeerWrite("old", 3), 3);
  ASSERT_EQ(WaitForInput(port, 3), 3);
  DiscardSerialInput(port);
  EXPECT_EQ(SerialInputCount(port), 0);

  ASSERT_EQ(line_->PeerWrite("new", 3), 3);
  ASSERT_EQ(WaitForInput(port, 3), 3);
  char read[3] = {};
  EXPECT_EQ(ReadSerial(port, read, 3), 3);
  EXPECT_EQ(std::string(read, 3), "new");
  CloseSerial(port);
}

TEST_F(SerialTest, DeviceIsExclusiveWhileOpen) {
  if (RunningUnderWine()) {
    GTEST_SKIP() << "Wine does not refuse a second open of a COM port opened with share mode 0";
  }
  PortHandle port = OpenSerialDevice(line_->DeviceName().c_str(), kScaleSettings);
  ASSERT_NE(port, 0);
  PortOpenError error;
  EXPECT_EQ(OpenSerialDevice(line_->DeviceName().c_str(), kScaleSettings, &error), 0);
  EXPECT_EQ(error.reason, PortFailure::kInUse);
  EXPECT_NE(error.systemCode, 0);

  // The first opener keeps a working port.
  EXPECT_EQ(WriteSerial(port, "ok", 2), 2);
  char echo[2];
  EXPECT_EQ(line_->PeerRead(echo, 2, 1000), 2);
  CloseSerial(port);

  // Closing frees the device for the next opener.
  port = OpenSerialDevice(line_->DeviceName().c_str(), kScaleSettings);
  EXPECT_NE(port, 0);
  CloseSerial(port);
}

TEST_F(SerialTest, NamesThatCannotBeOpened) {
  PortOpenError error;
  EXPECT_EQ(OpenSerialDevice("", kScaleSettings, &error), 0);
  EXPECT_EQ(error.reason, PortFailure::kNotFound) << error.systemCode;
  EXPECT_EQ(OpenSerialDevice("NOSUCHPORT", kScaleSettings, &error), 0);
  EXPECT_EQ(error.reason, PortFailure::kNotFound) << error.systemCode;
  EXPECT_NE(error.systemCode, 0);
  // A successful open clears what a failed one reported.
  PortHandle port = OpenSerialDevice(line_->DeviceName().c_str(), kScaleSettings, &error);
  ASSERT_NE(port, 0);
  EXPECT_EQ(error.reason, PortFailure::kNone);
  CloseSerial(port);
  // The device prefix written out: Windows takes "\\.\COM10" for COM10; on
  // POSIX, where a port is named by its path, it names nothing.
  const bool named_by_path = line_->DeviceName()[0] == '/';
  port = OpenSerialDevice(("\\\\.\\" + line_->DeviceName()).c_str(), kScaleSettings, &error);
  EXPECT_EQ(port != 0, !named_by_path) << error.systemCode;
  if (port != 0) CloseSerial(port);
}

// Devices of the system that are no serial line: the bit bucket, the
// console and its input and output, the own terminal, virtual consoles,
// the pty maker. None of them is a port, and none is worth a second try.
TEST_F(SerialTest, SystemDevicesAreNoPorts) {
  struct Case {
    const char* name;
    NotAPort what;
  };
  const bool posix = line_->DeviceName()[0] == '/';
  const std::vector<Case> cases =
      posix
          ? std::vector<Case>{{"null", NotAPort::kDevice},   {"zero", NotAPort::kDevice},
                              {"tty", NotAPort::kTerminal},  {"console", NotAPort::kTerminal},
                              {"ptmx", NotAPort::kTerminal}, {"tty0", NotAPort::kTerminal},
                              {"tty1", NotAPort::kTerminal}, {"tty63", NotAPort::kTerminal}}
          : std::vector<Case>{{"NUL", NotAPort::kDevice},       {"CON", NotAPort::kTerminal},
                              {"con", NotAPort::kTerminal},     {"CONIN$", NotAPort::kTerminal},
                              {"CONOUT$", NotAPort::kTerminal}, {"\\\\.\\NUL", NotAPort::kDevice}};
  int judged = 0;
  for (const Case& c : cases) {
    PortOpenError error;
    const PortHandle port = OpenSerialDevice(c.name, kScaleSettings, &error);
    if (port != 0) CloseSerial(port);
    // Not every system has every one of these (a container has no tty1).
    if (error.reason == PortFailure::kNotFound) continue;
    ++judged;
    EXPECT_EQ(port, 0) << c.name;
    EXPECT_EQ(error.reason, PortFailure::kNotAPort) << c.name << " " << error.systemCode;
    EXPECT_EQ(error.what, c.what) << c.name;
  }
  EXPECT_GE(judged, 2);
}

}  // namespace
}  // namespace runtime::platform
