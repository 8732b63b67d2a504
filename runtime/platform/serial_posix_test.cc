#include "runtime/platform/serial_posix.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <string>

#include "runtime/platform/clock.h"

namespace runtime::platform {
namespace {

TEST(SerialPosixTest, PortNamesMapOntoDevices) {
  EXPECT_EQ(SerialDevicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(SerialDevicePath("com12"), "/dev/ttyS11");
  EXPECT_EQ(SerialDevicePath("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(SerialDevicePath("COM0"), "/dev/COM0");
  EXPECT_EQ(SerialDevicePath("COM1 "), "/dev/COM1 ");
  // By-id links are long; the Windows 59-character cut does not apply here.
  const std::string by_id =
      "/dev/serial/by-id/usb-Prolific_Technology_Inc._USB-Serial_Controller_D-if00-port0";
  EXPECT_EQ(SerialDevicePath(by_id.c_str()), by_id);
  EXPECT_EQ(SerialDevicePath("\\\\.\\COM1"), "");
  EXPECT_EQ(SerialDevicePath(""), "");
}

termios Cooked() {
  termios options{};
  options.c_iflag = ICRNL | IXON | IXOFF | INPCK | ISTRIP | IUCLC | INLCR | IGNCR | IUTF8;
  options.c_oflag = OPOST | ONLCR;
  options.c_lflag = ECHO | ICANON | ISIG | IEXTEN;
  options.c_cflag = CS7 | PARENB | HUPCL | CRTSCTS;
  return options;
}

PortSettings Scale() { return PortSettings{9600, 0, 8, 1.0f, 0, 1024, 1024}; }

TEST(SerialPosixTest, ScaleSettingsGiveRawEightNoneOne) {
  termios options = Cooked();
  RtsLine rts;
  ASSERT_TRUE(ApplyPortSettings(Scale(), &options, &rts));
  EXPECT_EQ(options.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(options.c_cflag & (PARENB | CSTOPB | HUPCL | CRTSCTS), 0u);
  EXPECT_EQ(options.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(
      options.c_iflag & (ICRNL | IXON | IXOFF | INPCK | ISTRIP | IUCLC | INLCR | IGNCR | IUTF8),
      0u);
  EXPECT_EQ(options.c_oflag & OPOST, 0u);
  EXPECT_EQ(options.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
  EXPECT_EQ(options.c_cc[VMIN], 0);
  EXPECT_EQ(options.c_cc[VTIME], 0);
  EXPECT_EQ(cfgetospeed(&options), static_cast<speed_t>(B9600));
  EXPECT_EQ(cfgetispeed(&options), static_cast<speed_t>(B9600));
  EXPECT_EQ(rts, RtsLine::kClear);
}

TEST(SerialPosixTest, ParityAndStopBits) {
  const struct {
    int parity;
    tcflag_t flags;
  } kParities[] = {{0, 0},
                   {1, PARENB | PARODD},
                   {2, PARENB},
                   {3, PARENB | PARODD | CMSPAR},
                   {4, PARENB | CMSPAR}};
  for (const auto& parity : kParities) {
    termios options = Cooked();
    RtsLine rts;
    PortSettings settings = Scale();
    settings.parity = static_cast<uint8_t>(parity.parity);
    ASSERT_TRUE(ApplyPortSettings(settings, &options, &rts)) << parity.parity;
    EXPECT_EQ(options.c_cflag & (PARENB | PARODD | CMSPAR), parity.flags) << parity.parity;
  }
  for (float stop : {1.0f, 1.5f, 2.0f, 0.0f}) {
    termios options = Cooked();
    RtsLine rts;
    PortSettings settings = Scale();
    settings.stopBits = stop;
    ASSERT_TRUE(ApplyPortSettings(settings, &options, &rts));
    EXPECT_EQ((options.c_cflag & CSTOPB) != 0, stop != 1.0f) << stop;
  }
}

TEST(SerialPosixTest, HandshakeModes) {
  RtsLine rts;
  PortSettings settings = Scale();

  settings.handshake = 1;
  termios options = Cooked();
  ASSERT_TRUE(ApplyPortSettings(settings, &options, &rts));
  EXPECT_EQ(options.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(rts, RtsLine::kSet);

  settings.handshake = 2;
  options = Cooked();
  options.c_cflag &= ~CRTSCTS;
  ASSERT_TRUE(ApplyPortSettings(settings, &options, &rts));
  EXPECT_NE(options.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(rts, RtsLine::kLeave);

  // Software flow control only in mode 3, which leaves CTS/RTS as they were.
  settings.handshake = 3;
  options = Cooked();
  ASSERT_TRUE(ApplyPortSettings(settings, &options, &rts));
  EXPECT_EQ(options.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  EXPECT_EQ(options.c_cc[VSTART], 0x11);
  EXPECT_EQ(options.c_cc[VSTOP], 0x13);
  EXPECT_NE(options.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(rts, RtsLine::kLeave);

  settings.handshake = 7;
  options = Cooked();
  ASSERT_TRUE(ApplyPortSettings(settings, &options, &rts));
  EXPECT_EQ(options.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_NE(options.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(rts, RtsLine::kLeave);
}

TEST(SerialPosixTest, SettingsTheLineCannotTake) {
  RtsLine rts;
  termios options = Cooked();
  PortSettings settings = Scale();
  settings.baud = 9601;
  EXPECT_FALSE(ApplyPortSettings(settings, &options, &rts));
  settings = Scale();
  settings.dataBits = 9;
  EXPECT_FALSE(ApplyPortSettings(settings, &options, &rts));
  settings = Scale();
  settings.parity = 5;
  EXPECT_FALSE(ApplyPortSettings(settings, &options, &rts));
}

// A device left with input translations switched on by whoever had it
// before: over a real tty line discipline, the bytes must still come through
// as sent.
TEST(SerialPosixTest, TranslationsTheDeviceWasLeftWithAreUndone) {
  int master, slave;
  char name[256];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  termios left;
  ASSERT_EQ(tcgetattr(slave, &left), 0);
  left.c_iflag |= IUCLC | ICRNL | INLCR | ISTRIP | IGNCR;
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &left), 0);

  PortHandle port = OpenSerialDevice(name, Scale());
  ASSERT_NE(port, 0);
  std::string sent = "S\r\n";
  for (int byte = 0x80; byte <= 0xFF; ++byte) sent += static_cast<char>(byte);
  ASSERT_EQ(write(master, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));

  std::string received;
  const int64_t deadline = MonotonicMilliseconds() + 3000;
  while (received.size() < sent.size() && MonotonicMilliseconds() < deadline) {
    char buffer[256];
    int32_t got = ReadSerial(port, buffer, sizeof(buffer));
    if (got == 0) SleepMilliseconds(5);
    received.append(buffer, static_cast<size_t>(got));
  }
  EXPECT_EQ(received, sent);
  CloseSerial(port);
  close(slave);
  close(master);
}

}  // namespace
}  // namespace runtime::platform
