// The port table over real lines: pseudo-terminals natively, COM pairs
// under Wine.
#include "runtime/serial_port.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "runtime/platform/clock.h"
#include "runtime/platform/process_control.h"
#include "runtime/platform/testing/serial_test_line.h"
#include "runtime/program_heap.h"
#include "runtime/text.h"

namespace runtime {
namespace {

using platform::SerialTestLine;

class SerialPortTest : public testing::Test {
 protected:
  void SetUp() override {
    CreateProgramHeap();
    StartPorts();
    std::string why_not;
    line_ = SerialTestLine::Create(0, &why_not);
    ASSERT_NE(line_, nullptr) << why_not;
  }
  void TearDown() override {
    CloseAllPorts();
    DestroyProgramHeap();
  }

  ObjectValue OpenScalePort(ObjectValue number, const std::string& device) {
    return OpenPort(number, Text(device), 9600, 0, 8, 1.0f, 0, 1024, 1024);
  }

  // Waits until `count` bytes are waiting on `port`, or a second passed.
  int32_t WaitForInput(ObjectValue port, int32_t count) {
    int64_t deadline = platform::MonotonicMilliseconds() + 1000;
    int32_t waiting = PortInputCount(port);
    while (waiting < count && platform::MonotonicMilliseconds() < deadline) {
      Pause(5);
      waiting = PortInputCount(port);
    }
    return waiting;
  }

  // What the far end receives; a short wait where nothing should arrive.
  std::string PeerReceived(int32_t count, int32_t timeout_ms = 2000) {
    std::string bytes(static_cast<std::size_t>(count), '\0');
    bytes.resize(static_cast<std::size_t>(line_->PeerRead(bytes.data(), count, timeout_ms)));
    return bytes;
  }

  std::unique_ptr<SerialTestLine> line_;
};

TEST_F(SerialPortTest, RequestAndReplyCrossTheLine) {
  ASSERT_NE(OpenScalePort(0, line_->DeviceName()), 0);
  EXPECT_EQ(WritePortText(0, Text("\x05\x11")), 2);
  EXPECT_EQ(PeerReceived(2), "\x05\x11");

  std::string reply(256, '\0');
  for (int i = 0; i < 256; ++i) reply[i] = static_cast<char>(i);
  ASSERT_EQ(line_->PeerWrite(reply.data(), 256), 256);
  ASSERT_EQ(WaitForInput(0, 256), 256);
  std::string received(256, '\0');
  EXPECT_EQ(ReadPortData(0, received.data(), 256), 256);
  EXPECT_EQ(received, reply);
  EXPECT_EQ(PortInputCount(0), 0);
}

TEST_F(SerialPortTest, AutoNumberIssuesAnIdentity) {
  ObjectValue id = OpenScalePort(AUTO_NUMBER, line_->DeviceName());
  ASSERT_NE(id, 0);
  EXPECT_FALSE(id >= 0 && id < 16);
  EXPECT_EQ(WritePortText(id, Text("id")), 2);
  EXPECT_EQ(PeerReceived(2), "id");
  ClosePort(id);
  EXPECT_EQ(WritePortText(id == 0 ? 1 : 0, Text("x")), 0);
}

TEST_F(SerialPortTest, BusyDeviceLeavesTheOpenPortAlone) {
  if (platform::RunningUnderWine()) {
    GTEST_SKIP() << "Wine does not refuse a second open of a COM port opened with share mode 0";
  }
  ASSERT_NE(OpenScalePort(0, line_->DeviceName()), 0);
  EXPECT_EQ(OpenScalePort(1, line_->DeviceName()), 0);
  // Reopening number 0 on the device it already has fails too, and the
  // failed open must not have closed port 0.
  EXPECT_EQ(OpenScalePort(0, line_->DeviceName()), 0);
  EXPECT_EQ(WritePortText(0, Text("still")), 5);
  EXPECT_EQ(PeerReceived(5), "still");
}

TEST_F(SerialPortTest, ReopeningANumberOnAnotherDeviceClosesTheOld) {
  std::string why_not;
  std::unique_ptr<SerialTestLine> other = SerialTestLine::Create(1, &why_not);
  ASSERT_NE(other, nullptr) << why_not;
  ASSERT_NE(OpenScalePort(0, line_->DeviceName()), 0);
  ASSERT_NE(OpenScalePort(0, other->DeviceName()), 0);

  EXPECT_EQ(WritePortText(0, Text("new")), 3);
  std::string got(3, '\0');
  EXPECT_EQ(other->PeerRead(got.data(), 3, 2000), 3);
  EXPECT_EQ(got, "new");
  EXPECT_EQ(PeerReceived(1, 200), "");

  // The first device is free again.
  EXPECT_NE(OpenScalePort(1, line_->DeviceName()), 0);
}

TEST_F(SerialPortTest, ClosedAndUnusedNumbersDoNothing) {
  char buffer[8];
  for (ObjectValue number : {0, 3, 200}) {
    EXPECT_EQ(WritePortText(number, Text("x")), 0) << number;
    EXPECT_EQ(PortInputCount(number), 0) << number;
    EXPECT_EQ(ReadPortData(number, buffer, 8), 0) << number;
    ClosePort(number);
  }
  ASSERT_NE(OpenScalePort(3, line_->DeviceName()), 0);
  ClosePort(3);
  EXPECT_EQ(WritePortText(3, Text("x")), 0);
  EXPECT_EQ(PortInputCount(3), 0);
  EXPECT_EQ(ReadPortData(3, buffer, 8), 0);
  EXPECT_EQ(PeerReceived(1, 200), "");
}

TEST_F(SerialPortTest, FailedOpenAndEmptyTextSendNothing) {
  EXPECT_EQ(OpenScalePort(0, ""), 0);
  EXPECT_EQ(OpenScalePort(0, "NOSUCHPORT"), 0);
  EXPECT_EQ(WritePortText(0, Text("x")), 0);
  ASSERT_NE(OpenScalePort(0, line_->DeviceName()), 0);
  EXPECT_EQ(WritePortText(0, Text()), 0);
  EXPECT_EQ(PeerReceived(1, 200), "");
}

TEST_F(SerialPortTest, CloseAllClosesEveryPort) {
  std::string why_not;
  std::unique_ptr<SerialTestLine> other = SerialTestLine::Create(1, &why_not);
  ASSERT_NE(other, nullptr) << why_not;
  ASSERT_NE(OpenScalePort(4, line_->DeviceName()), 0);
  ObjectValue id = OpenScalePort(AUTO_NUMBER, other->DeviceName());
  ASSERT_NE(id, 0);
  CloseAllPorts();
  EXPECT_EQ(WritePortText(4, Text("x")), 0);
  // Both devices can be opened again.
  EXPECT_NE(OpenScalePort(0, line_->DeviceName()), 0);
  EXPECT_NE(OpenScalePort(1, other->DeviceName()), 0);
}

}  // namespace
}  // namespace runtime
