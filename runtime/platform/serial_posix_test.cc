#include "runtime/platform/serial_posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "runtime/platform/clock.h"
#include "runtime/platform/testing/scratch_directory.h"

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

// Whoever may write Kavrin.inf must not get the program to open files,
// pipes or devices that are no serial line. Nothing of these is opened for
// reading or writing, and each says what it is; a link that leads to a
// terminal under /dev still opens.
TEST(SerialPosixTest, OnlyTerminalsUnderDevAreOpened) {
  ScratchDirectory scratch;
  ASSERT_TRUE(scratch.ok());
  int master, slave;
  char terminal[256];
  ASSERT_EQ(openpty(&master, &slave, terminal, nullptr, nullptr), 0);
  const std::string folder = scratch.path();

  std::ofstream(folder + "/file") << "first line\n";
  ASSERT_EQ(mkfifo((folder + "/pipe").c_str(), 0600), 0);
  // A reader sees a hang-up once a writer has come and gone.
  const int reader = open((folder + "/pipe").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(symlink(terminal, (folder + "/link").c_str()), 0);
  const std::string terminal_name = std::string(terminal).substr(std::string(terminal).rfind('/'));

  const struct {
    std::string name;
    PortFailure reason;
    NotAPort what;
  } kCases[] = {
      {folder + "/file", PortFailure::kNotAPort, NotAPort::kFile},
      {folder + "/pipe", PortFailure::kNotAPort, NotAPort::kPipe},
      {folder, PortFailure::kNotAPort, NotAPort::kPath},
      {"/dev/pts/.." + std::string("/pts") + terminal_name, PortFailure::kNotAPort,
       NotAPort::kPath},
      {"null", PortFailure::kNotAPort, NotAPort::kDevice},
      {folder + "/link", PortFailure::kNone, NotAPort::kPath},
  };
  for (const auto& c : kCases) {
    PortOpenError error;
    const PortHandle port = OpenSerialDevice(c.name.c_str(), Scale(), &error);
    EXPECT_EQ(error.reason, c.reason) << c.name << " " << error.systemCode;
    if (c.reason == PortFailure::kNotAPort) {
      EXPECT_EQ(port, 0) << c.name;
      EXPECT_EQ(error.what, c.what) << c.name;
    }
    if (port != 0) CloseSerial(port);
  }
  pollfd waiting{reader, POLLIN, 0};
  ASSERT_GE(poll(&waiting, 1, 0), 0);
  EXPECT_EQ(waiting.revents & POLLHUP, 0) << "the pipe was opened for writing";

  // The terminal's own device node, made outside /dev.
  struct stat device;
  ASSERT_EQ(fstat(slave, &device), 0);
  if (mknod((folder + "/node").c_str(), S_IFCHR | 0600, device.st_rdev) == 0) {
    PortOpenError error;
    EXPECT_EQ(OpenSerialDevice((folder + "/node").c_str(), Scale(), &error), 0);
    EXPECT_EQ(error.reason, PortFailure::kNotAPort);
    EXPECT_EQ(error.what, NotAPort::kPath);
  }
  close(reader);
  close(slave);
  close(master);
}

bool SameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && cfgetispeed(&a) == cfgetispeed(&b) &&
         cfgetospeed(&a) == cfgetospeed(&b) && std::equal(a.c_cc, a.c_cc + NCCS, b.c_cc);
}

// A terminal named in Kavrin.inf (a console, a modem line) gets back the
// settings it had, after a weighing as after a refused open.
TEST(SerialPosixTest, TheLineGetsItsSettingsBack) {
  int master, slave;
  char name[256];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  termios before;
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  before.c_lflag |= ECHO | ICANON | ISIG;
  before.c_iflag |= ICRNL;
  cfsetispeed(&before, B1200);
  cfsetospeed(&before, B1200);
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);
  ASSERT_EQ(tcgetattr(slave, &before), 0);

  PortHandle port = OpenSerialDevice(name, Scale());
  ASSERT_NE(port, 0);
  termios during;
  ASSERT_EQ(tcgetattr(slave, &during), 0);
  EXPECT_EQ(during.c_lflag & (ECHO | ICANON), 0u);
  EXPECT_EQ(cfgetospeed(&during), static_cast<speed_t>(B9600));
  CloseSerial(port);
  termios after;
  ASSERT_EQ(tcgetattr(slave, &after), 0);
  EXPECT_TRUE(SameSettings(before, after));

  PortSettings refused = Scale();
  refused.baud = 9601;
  EXPECT_EQ(OpenSerialDevice(name, refused), 0);
  ASSERT_EQ(tcgetattr(slave, &after), 0);
  EXPECT_TRUE(SameSettings(before, after));
  close(slave);
  close(master);
}

}  // namespace
}  // namespace runtime::platform
