#include "runtime/platform/serial_posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
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
  // A listening socket: connecting to it would hand the server a client.
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = folder + "/socket";
  ASSERT_LT(socket_path.size(), sizeof(address.sun_path));
  std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size() + 1);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  const std::string terminal_name = std::string(terminal).substr(std::string(terminal).rfind('/'));

  const struct {
    std::string name;
    PortFailure reason;
    NotAPort what;
  } kCases[] = {
      {folder + "/file", PortFailure::kNotAPort, NotAPort::kFile},
      {folder + "/pipe", PortFailure::kNotAPort, NotAPort::kPipe},
      {socket_path, PortFailure::kNotAPort, NotAPort::kPipe},
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

  pollfd caller{listener, POLLIN, 0};
  ASSERT_GE(poll(&caller, 1, 0), 0);
  EXPECT_EQ(caller.revents & POLLIN, 0) << "the socket was connected to";

  // The terminal's own device node, made outside /dev, also where its path
  // only has "/dev/" inside it.
  struct stat device;
  ASSERT_EQ(fstat(slave, &device), 0);
  ASSERT_EQ(mkdir((folder + "/dev").c_str(), 0700), 0);
  for (const std::string& node : {folder + "/node", folder + "/dev/node"}) {
    if (mknod(node.c_str(), S_IFCHR | 0600, device.st_rdev) != 0) continue;
    PortOpenError error;
    EXPECT_EQ(OpenSerialDevice(node.c_str(), Scale(), &error), 0) << node;
    EXPECT_EQ(error.reason, PortFailure::kNotAPort) << node;
    EXPECT_EQ(error.what, NotAPort::kPath) << node;
  }
  close(listener);
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

TEST(SerialPosixTest, ParentStepsAnywhereInThePath) {
  const struct {
    const char* path;
    bool parent;
  } kCases[] = {
      {"/dev/pts/..", true},   {"..", true},          {"/dev/../dev/ttyS0", true},
      {"/dev/pts/../", true},  {"/dev/..x", false},   {"/dev/x..", false},
      {"/dev/./ttyS0", false}, {"/dev/ttyS0", false}, {"/dev/.../ttyS0", false},
  };
  for (const auto& c : kCases) EXPECT_EQ(HasParentStep(c.path), c.parent) << c.path;
  PortOpenError error;
  EXPECT_EQ(OpenSerialDevice("/dev/pts/..", Scale(), &error), 0);
  EXPECT_EQ(error.reason, PortFailure::kNotAPort);
  EXPECT_EQ(error.what, NotAPort::kPath);
}

// A tree shaped like /sys and /proc, written by the test.
class KernelViewsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    views_.sys = scratch_.path() + "/sys";
    views_.proc = scratch_.path() + "/proc";
    ASSERT_EQ(mkdir(views_.proc.c_str(), 0700), 0);
  }

  void Put(const std::string& path, const std::string& text) {
    std::string folder = path.substr(0, path.rfind('/'));
    for (size_t slash = scratch_.path().size() + 1; slash != std::string::npos;
         slash = folder.find('/', slash + 1)) {
      mkdir(folder.substr(0, slash).c_str(), 0700);
    }
    mkdir(folder.c_str(), 0700);
    std::ofstream(path) << text;
  }

  // /sys/dev/char/MAJOR:MINOR with its subsystem link to class `name`.
  void ListDevice(int high, int low, const std::string& name) {
    const std::string node =
        views_.sys + "/dev/char/" + std::to_string(high) + ":" + std::to_string(low);
    Put(node + "/dev", std::to_string(high) + ":" + std::to_string(low) + "\n");
    ASSERT_EQ(symlink(("../../../class/" + name).c_str(), (node + "/subsystem").c_str()), 0);
  }

  ScratchDirectory scratch_;
  KernelViews views_;
};

// A container shows no devices under /sys: the number alone decides, and
// only serial lines and pty slaves pass.
TEST_F(KernelViewsTest, WithoutSysOnlySerialNumbersPass) {
  const struct {
    int high, low;
    DeviceVerdict verdict;
  } kCases[] = {
      {4, 0, DeviceVerdict::kTerminal},       {4, 63, DeviceVerdict::kTerminal},
      {4, 64, DeviceVerdict::kSerialLine},    {4, 65, DeviceVerdict::kSerialLine},
      {5, 0, DeviceVerdict::kTerminal},       {5, 1, DeviceVerdict::kTerminal},
      {5, 2, DeviceVerdict::kTerminal},       {188, 0, DeviceVerdict::kSerialLine},
      {166, 1, DeviceVerdict::kSerialLine},   {136, 4, DeviceVerdict::kSerialLine},
      {143, 300, DeviceVerdict::kSerialLine}, {1, 3, DeviceVerdict::kOtherDevice},
      {1, 11, DeviceVerdict::kOtherDevice},   {10, 130, DeviceVerdict::kOtherDevice},
      {135, 0, DeviceVerdict::kOtherDevice},  {144, 0, DeviceVerdict::kOtherDevice},
      {204, 64, DeviceVerdict::kOtherDevice},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(JudgeCharacterDevice(makedev(c.high, c.low), views_), c.verdict)
        << c.high << ":" << c.low;
  }
}

// Where /sys lists a device, its class decides (a board's own UART has a
// major of its own), but never for a virtual console or major 5; the
// kernel's consoles are named in /sys and in /proc/consoles.
TEST_F(KernelViewsTest, SysClassAndKernelConsoles) {
  ListDevice(204, 64, "tty");
  ListDevice(4, 1, "tty");
  ListDevice(5, 1, "tty");
  ListDevice(1, 3, "mem");
  ListDevice(4, 64, "tty");
  ListDevice(4, 66, "tty");
  ListDevice(4, 67, "tty");
  EXPECT_EQ(JudgeCharacterDevice(makedev(204, 64), views_), DeviceVerdict::kSerialLine);
  EXPECT_EQ(JudgeCharacterDevice(makedev(4, 1), views_), DeviceVerdict::kTerminal);
  EXPECT_EQ(JudgeCharacterDevice(makedev(5, 1), views_), DeviceVerdict::kTerminal);
  EXPECT_EQ(JudgeCharacterDevice(makedev(1, 3), views_), DeviceVerdict::kOtherDevice);

  Put(views_.sys + "/class/tty/console/active", "tty0 ttyS0\n");
  Put(views_.sys + "/class/tty/ttyS0/dev", "4:64\n");
  Put(views_.sys + "/class/tty/tty0/dev", "4:0\n");
  Put(views_.proc + "/consoles",
      "ttyS2                -W- (E  p  )    4:66\nnetcon0              -W- (E     )\n");
  EXPECT_EQ(JudgeCharacterDevice(makedev(4, 64), views_), DeviceVerdict::kConsole);
  EXPECT_EQ(JudgeCharacterDevice(makedev(4, 66), views_), DeviceVerdict::kConsole);
  EXPECT_EQ(JudgeCharacterDevice(makedev(4, 67), views_), DeviceVerdict::kSerialLine);
  EXPECT_EQ(JudgeCharacterDevice(makedev(136, 0), views_), DeviceVerdict::kSerialLine);
}

// Field 7 of each process's stat line names its controlling terminal, after
// a program name that may hold ") " itself; pty minors above 255 keep their
// high bits above the major.
TEST_F(KernelViewsTest, ControllingTerminalsOfProcesses) {
  const int high_minor_tty = (136 << 8) | (300 & 0xff) | ((300 & ~0xff) << 12);
  Put(views_.proc + "/1/stat", "1 (init) S 0 1 1 0 -1 4194560 0 0\n");
  Put(views_.proc + "/70/stat", "70 (a) 1 2 3 34820 b) S 1 70 70 34817 70 4194560\n");
  Put(views_.proc + "/71/stat",
      "71 (shell) S 1 71 71 " + std::to_string(high_minor_tty) + " 71 4194560\n");
  Put(views_.proc + "/self", "not a process\n");
  const struct {
    int low;
    DeviceVerdict verdict;
  } kCases[] = {
      {1, DeviceVerdict::kSessionTerminal}, {300, DeviceVerdict::kSessionTerminal},
      {4, DeviceVerdict::kSerialLine},      {44, DeviceVerdict::kSerialLine},
      {0, DeviceVerdict::kSerialLine},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(JudgeCharacterDevice(makedev(136, c.low), views_), c.verdict) << c.low;
  }
  // Without a process list nobody can tell whose a pty is.
  views_.proc = scratch_.path() + "/none";
  EXPECT_EQ(JudgeCharacterDevice(makedev(136, 4), views_), DeviceVerdict::kSessionTerminal);
  EXPECT_EQ(JudgeCharacterDevice(makedev(188, 0), views_), DeviceVerdict::kSerialLine);
}

// A pty opened by the test, with the far end to watch.
struct TestPty {
  TestPty() { ok = openpty(&master, &slave, name, nullptr, nullptr) == 0; }
  ~TestPty() {
    if (ok) {
      close(slave);
      close(master);
    }
  }
  int Waiting() const {
    int count = -1;
    ioctl(master, FIONREAD, &count);
    return count;
  }
  bool ok;
  int master = -1, slave = -1;
  char name[256] = {};
};

// Starts a child that runs `body` and then waits to be ended; returns its
// process id once it says it is ready.
template <typename Body>
pid_t StartChild(Body body) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    close(ready[0]);
    // Ending signals as a plain start would have them, whatever ran the test.
    for (int number : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) signal(number, SIG_DFL);
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    const char answer = body() ? 'y' : 'n';
    if (write(ready[1], &answer, 1) != 1) _exit(2);
    for (;;) pause();
  }
  close(ready[1]);
  char answer = 0;
  const bool said_yes = read(ready[0], &answer, 1) == 1 && answer == 'y';
  close(ready[0]);
  if (child > 0 && !said_yes) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return -1;
  }
  return child;
}

// Somebody's session runs on the pty (as a login's shell has its terminal):
// the port is refused before anything is set, read or written there, and
// is a port again once the session has ended.
TEST(SerialPosixTest, ASessionsTerminalIsRefusedUntouched) {
  TestPty pty;
  ASSERT_TRUE(pty.ok);
  termios before;
  ASSERT_EQ(tcgetattr(pty.slave, &before), 0);
  const int slave = pty.slave;
  const pid_t session =
      StartChild([slave] { return setsid() > 0 && ioctl(slave, TIOCSCTTY, 0) == 0; });
  ASSERT_GT(session, 0);

  PortOpenError error;
  const PortHandle port = OpenSerialDevice(pty.name, Scale(), &error);
  EXPECT_EQ(port, 0);
  EXPECT_EQ(error.reason, PortFailure::kNotAPort);
  EXPECT_EQ(error.what, NotAPort::kSessionTerminal);
  if (port != 0) {
    WriteSerial(port, "\x05\x11", 2);
    CloseSerial(port);
  }
  termios after;
  ASSERT_EQ(tcgetattr(pty.slave, &after), 0);
  EXPECT_TRUE(SameSettings(before, after));
  EXPECT_EQ(pty.Waiting(), 0) << "bytes were written to the session's terminal";

  kill(session, SIGKILL);
  ASSERT_EQ(waitpid(session, nullptr, 0), session);
  const PortHandle free_again = OpenSerialDevice(pty.name, Scale(), &error);
  EXPECT_NE(free_again, 0) << static_cast<int>(error.what);
  if (free_again != 0) CloseSerial(free_again);
}

// Another program holds the line with TIOCEXCL. Root passes that flag, so
// only asking for it keeps the line out of this run, and its holder keeps
// the flag; a flag this run set goes with it.
TEST(SerialPosixTest, AnotherHoldersExclusiveFlagStays) {
  TestPty pty;
  ASSERT_TRUE(pty.ok);
  ASSERT_EQ(ioctl(pty.slave, TIOCEXCL), 0);
  PortOpenError error;
  const PortHandle port = OpenSerialDevice(pty.name, Scale(), &error);
  EXPECT_EQ(port, 0);
  EXPECT_EQ(error.reason, PortFailure::kInUse);
  if (port != 0) CloseSerial(port);
  int exclusive = 0;
  ASSERT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
  EXPECT_NE(exclusive, 0) << "the holder's exclusive flag was cleared";

  ASSERT_EQ(ioctl(pty.slave, TIOCNXCL), 0);
  const PortHandle own = OpenSerialDevice(pty.name, Scale(), &error);
  ASSERT_NE(own, 0);
  ASSERT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
  EXPECT_NE(exclusive, 0) << "the run did not hold the line exclusively";
  CloseSerial(own);
  ASSERT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
}

// A run ended from outside while it holds the line (kill, Ctrl-C, a closed
// terminal, Ctrl-\) gives the line back as it found it, and still ends as
// that signal ends a process.
TEST(SerialPosixTest, EndingSignalsGiveTheLineBack) {
  for (int number : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
    TestPty pty;
    ASSERT_TRUE(pty.ok);
    termios before;
    ASSERT_EQ(tcgetattr(pty.slave, &before), 0);
    before.c_lflag |= ECHO | ICANON;
    cfsetispeed(&before, B2400);
    cfsetospeed(&before, B2400);
    ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &before), 0);
    ASSERT_EQ(tcgetattr(pty.slave, &before), 0);
    const std::string name = pty.name;
    const pid_t run = StartChild([&name] { return OpenSerialDevice(name.c_str(), Scale()) != 0; });
    ASSERT_GT(run, 0) << strsignal(number);
    termios during;
    ASSERT_EQ(tcgetattr(pty.slave, &during), 0);
    EXPECT_EQ(cfgetospeed(&during), static_cast<speed_t>(B9600));

    ASSERT_EQ(kill(run, number), 0);
    int status = 0;
    pid_t ended = 0;
    for (int waited = 0; ended == 0 && waited < 500; ++waited) {
      ended = waitpid(run, &status, WNOHANG);
      if (ended == 0) SleepMilliseconds(10);
    }
    if (ended == 0) {
      kill(run, SIGKILL);
      waitpid(run, &status, 0);
    }
    EXPECT_EQ(ended, run) << strsignal(number) << " did not end the run";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == number)
        << strsignal(number) << ": status " << status;
    termios after;
    ASSERT_EQ(tcgetattr(pty.slave, &after), 0);
    EXPECT_TRUE(SameSettings(before, after)) << strsignal(number);
    int exclusive = -1;
    ASSERT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << strsignal(number);
  }
}

// A device that is no terminal line is judged by its number and class and
// never opened for reading or writing, not even to find out that it takes
// no line settings.
TEST(SerialPosixTest, ADeviceThatIsNoTerminalIsNeverOpened) {
  const std::string node = "/dev/weigh-test-null-" + std::to_string(getpid());
  unlink(node.c_str());
  if (mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 3)) != 0) {
    GTEST_SKIP() << "cannot make a device node in /dev: " << std::strerror(errno);
  }
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, node.c_str(), IN_OPEN | IN_ACCESS | IN_MODIFY), 0);
  PortOpenError error;
  EXPECT_EQ(OpenSerialDevice(node.c_str(), Scale(), &error), 0);
  EXPECT_EQ(error.reason, PortFailure::kNotAPort);
  EXPECT_EQ(error.what, NotAPort::kDevice);
  char events[4096];
  EXPECT_LE(read(watch, events, sizeof(events)), 0) << "the device was opened";
  close(watch);
  unlink(node.c_str());
}

}  // namespace
}  // namespace runtime::platform
