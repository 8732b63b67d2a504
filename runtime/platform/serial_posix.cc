#include "runtime/platform/serial_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "runtime/platform/clock.h"

namespace runtime::platform {
namespace {

bool SpeedCode(int32_t baud, speed_t* code) {
  static constexpr struct {
    int32_t baud;
    speed_t code;
  } kSpeeds[] = {
      {50, B50},           {75, B75},           {110, B110},         {134, B134},
      {150, B150},         {200, B200},         {300, B300},         {600, B600},
      {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
      {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
      {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
      {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
      {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
      {3500000, B3500000}, {4000000, B4000000},
  };
  for (const auto& speed : kSpeeds) {
    if (speed.baud == baud) {
      *code = speed.code;
      return true;
    }
  }
  return false;
}

// What a handle points to: the open line, the settings it had before and
// whether this run set its exclusive flag, all of which it gets back when
// it is closed. The records live in a fixed table so that a signal handler
// can reach them without taking a lock or allocating.
struct OpenLine {
  bool taken;
  volatile sig_atomic_t live;
  int fd;
  termios before;
  volatile sig_atomic_t clearExclusive;
};

constexpr int kMaxOpenLines = 16;
OpenLine open_lines[kMaxOpenLines];

int Descriptor(PortHandle port) { return reinterpret_cast<OpenLine*>(port)->fd; }

// The signals that end a run from outside: kill, Ctrl-C, a closed
// terminal, Ctrl-\.
constexpr int kEndingSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};
struct sigaction handlers_before[4];
bool handler_installed[4];
int lines_open = 0;

// Only calls that are safe in a signal handler, on records already filled.
void GiveLinesBackAndEnd(int signal_number) {
  const int saved_errno = errno;
  for (OpenLine& line : open_lines) {
    if (!line.live) continue;
    tcsetattr(line.fd, TCSANOW, &line.before);
    if (line.clearExclusive) ioctl(line.fd, TIOCNXCL);
  }
  // The default action ends the process as the signal would have, once
  // the handler returns and the signal is no longer blocked.
  signal(signal_number, SIG_DFL);
  raise(signal_number);
  errno = saved_errno;
}

// While any line is open, the ending signals give it back first. A signal
// that was ignored when the first line opened stays ignored (a run under
// nohup), and one that another handler took is left to it.
void WatchEndingSignals() {
  if (lines_open++ > 0) return;
  for (int i = 0; i < 4; ++i) {
    handler_installed[i] = false;
    if (sigaction(kEndingSignals[i], nullptr, &handlers_before[i]) != 0 ||
        handlers_before[i].sa_handler != SIG_DFL) {
      continue;
    }
    struct sigaction handler {};
    handler.sa_handler = GiveLinesBackAndEnd;
    sigemptyset(&handler.sa_mask);
    // One ending signal at a time: a second one waits until the first has
    // given the lines back.
    for (int other : kEndingSignals) sigaddset(&handler.sa_mask, other);
    handler_installed[i] = sigaction(kEndingSignals[i], &handler, nullptr) == 0;
  }
}

void StopWatchingEndingSignals() {
  if (--lines_open > 0) return;
  for (int i = 0; i < 4; ++i) {
    if (handler_installed[i]) sigaction(kEndingSignals[i], &handlers_before[i], nullptr);
    handler_installed[i] = false;
  }
}

// A free record of the table, or nullptr when every one is taken.
OpenLine* FreeLine() {
  for (OpenLine& line : open_lines) {
    if (!line.taken) return &line;
  }
  return nullptr;
}

}  // namespace

std::string SerialDevicePath(const char* name) {
  if (name[0] == '\0' || std::strncmp(name, "\\\\.\\", 4) == 0) return std::string();
  if (name[0] == '/') return name;
  // Device names are case-insensitive on Windows: "com1" is COM1 too.
  if ((name[0] == 'C' || name[0] == 'c') && (name[1] == 'O' || name[1] == 'o') &&
      (name[2] == 'M' || name[2] == 'm') && name[3] >= '1' && name[3] <= '9') {
    long number = 0;
    const char* digit = name + 3;
    while (*digit >= '0' && *digit <= '9' && number < 100000)
      number = number * 10 + (*digit++ - '0');
    if (*digit == '\0') return "/dev/ttyS" + std::to_string(number - 1);
  }
  return std::string("/dev/") + name;
}

bool ApplyPortSettings(const PortSettings& settings, termios* options, RtsLine* rts) {
  speed_t speed;
  if (!SpeedCode(settings.baud, &speed)) return false;
  tcflag_t size;
  switch (settings.dataBits) {
    case 5:
      size = CS5;
      break;
    case 6:
      size = CS6;
      break;
    case 7:
      size = CS7;
      break;
    case 8:
      size = CS8;
      break;
    default:
      return false;
  }
  tcflag_t parity;
  switch (settings.parity) {
    case 0:
      parity = 0;
      break;
    case 1:
      parity = PARENB | PARODD;
      break;
    case 2:
      parity = PARENB;
      break;
    case 3:
      parity = PARENB | PARODD | CMSPAR;
      break;
    case 4:
      parity = PARENB | CMSPAR;
      break;
    default:
      return false;
  }

  // Raw bytes both ways: no echo, no line editing, no signals, no CR/LF
  // translation, no case folding, no stripping. A byte with a parity error
  // is passed on as it came, which is what Windows does without an error
  // character. Every input flag a device may have been left with goes, the
  // Linux-only ones included: IUCLC turns the status "S" into "s" wherever
  // extended input processing is on.
  options->c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IXON |
                        IXOFF | IXANY | IMAXBEL | IUTF8 | INPCK | IGNPAR);
  options->c_oflag &= ~OPOST;
  options->c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  options->c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | HUPCL);
  options->c_cflag |= CLOCAL | CREAD | size | parity;
  // POSIX has no one and a half stop bits; everything but 1.0 gets two.
  if (settings.stopBits != 1.0f) options->c_cflag |= CSTOPB;
  options->c_cc[VMIN] = 0;
  options->c_cc[VTIME] = 0;
  cfsetispeed(options, speed);
  cfsetospeed(options, speed);

  *rts = RtsLine::kLeave;
  switch (settings.handshake) {
    case 0:
      options->c_cflag &= ~CRTSCTS;
      *rts = RtsLine::kClear;
      break;
    case 1:
      options->c_cflag &= ~CRTSCTS;
      *rts = RtsLine::kSet;
      break;
    case 2:
      options->c_cflag |= CRTSCTS;
      break;
    case 3:
      options->c_iflag |= IXON | IXOFF;
      options->c_cc[VSTART] = 0x11;
      options->c_cc[VSTOP] = 0x13;
      break;
    default:
      break;
  }
  return true;
}

namespace {

PortFailure FailureOfOpen(int code) {
  switch (code) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
      return PortFailure::kNotFound;
    case EBUSY:
    case EWOULDBLOCK:
      return PortFailure::kInUse;
    case EACCES:
    case EPERM:
    case EROFS:
      return PortFailure::kAccessDenied;
    default:
      return PortFailure::kOther;
  }
}

// Records why the open failed and returns 0, the handle of no port.
PortHandle Refuse(PortOpenError* error, PortFailure reason, int code) {
  if (error != nullptr) *error = PortOpenError{reason, code};
  return 0;
}

PortHandle RefuseNotAPort(PortOpenError* error, NotAPort what) {
  if (error != nullptr) *error = PortOpenError{PortFailure::kNotAPort, 0, what};
  return 0;
}

// The magic link through which the kernel shows where `fd` leads, and
// through which the very same file can be opened again.
std::string DescriptorLink(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Where the file open under `fd` (reached by `path`) really is, all links
// resolved; empty when that cannot be told.
std::string ResolvedPath(int fd, const std::string& path) {
  char target[PATH_MAX + 1];
  const ssize_t length = readlink(DescriptorLink(fd).c_str(), target, PATH_MAX);
  if (length > 0) return std::string(target, static_cast<size_t>(length));
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::string();
  std::string where = resolved;
  std::free(resolved);
  return where;
}

// The whole of a small file from /sys or /proc; empty when it cannot be read.
std::string SmallFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::string();
  std::string text;
  char buffer[512];
  ssize_t got;
  while (text.size() < 8192 &&
         ((got = read(fd, buffer, sizeof(buffer))) > 0 || (got < 0 && errno == EINTR))) {
    if (got > 0) text.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  return text;
}

// "MAJOR:MINOR" at `at` in `text`, as /sys and /proc/consoles write it.
bool ParseDeviceNumber(const std::string& text, size_t at, dev_t* device) {
  char* end = nullptr;
  const unsigned long high = std::strtoul(text.c_str() + at, &end, 10);
  if (end == text.c_str() + at || *end != ':') return false;
  const char* low_start = end + 1;
  const unsigned long low = std::strtoul(low_start, &end, 10);
  if (end == low_start) return false;
  *device = makedev(high, low);
  return true;
}

bool IsPtySlave(dev_t device) { return major(device) >= 136 && major(device) <= 143; }

// The tty class of /sys, where it has an entry for the device: 1 listed,
// 0 listed under another class, -1 no entry.
int ListedAsTerminal(dev_t device, const KernelViews& views) {
  const std::string node = views.sys + "/dev/char/" + std::to_string(major(device)) + ":" +
                           std::to_string(minor(device));
  char target[PATH_MAX + 1];
  const ssize_t length = readlink((node + "/subsystem").c_str(), target, PATH_MAX);
  if (length <= 0) return -1;
  const std::string subsystem(target, static_cast<size_t>(length));
  return subsystem.size() >= 4 && subsystem.compare(subsystem.size() - 4, 4, "/tty") == 0;
}

// Whether the kernel writes its console to `device`: the names in
// class/tty/console/active, each with its number in class/tty/NAME/dev, and
// the numbers that /proc/consoles ends its lines with.
bool IsKernelConsole(dev_t device, const KernelViews& views) {
  const std::string active = SmallFile(views.sys + "/class/tty/console/active");
  size_t start = 0;
  while (start < active.size()) {
    size_t end = active.find_first_of(" \n", start);
    if (end == std::string::npos) end = active.size();
    const std::string name = active.substr(start, end - start);
    start = end + 1;
    if (name.empty() || name.find('/') != std::string::npos || name[0] == '.') continue;
    dev_t listed;
    if (ParseDeviceNumber(SmallFile(views.sys + "/class/tty/" + name + "/dev"), 0, &listed) &&
        listed == device) {
      return true;
    }
  }
  const std::string consoles = SmallFile(views.proc + "/consoles");
  start = 0;
  while (start < consoles.size()) {
    size_t end = consoles.find('\n', start);
    if (end == std::string::npos) end = consoles.size();
    const size_t last = consoles.find_last_of(' ', end - 1);
    dev_t listed;
    if (last != std::string::npos && last >= start &&
        ParseDeviceNumber(consoles, last + 1, &listed) && listed == device) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

// The controlling terminal that the stat line `stat` of a process names;
// false for none. tty_nr is field 7, the fifth after the name in
// parentheses (which may itself hold ") "), and packs the minor's high
// bits above the major.
bool ControllingTerminal(const std::string& stat, dev_t* device) {
  size_t at = stat.rfind(')');
  if (at == std::string::npos) return false;
  at += 1;
  for (int field = 0; field < 5; ++field) {
    at = stat.find_first_not_of(' ', at);
    if (at == std::string::npos) return false;
    if (field == 4) break;
    at = stat.find(' ', at);
    if (at == std::string::npos) return false;
  }
  char* end = nullptr;
  const long long number = std::strtoll(stat.c_str() + at, &end, 10);
  if (end == stat.c_str() + at || number <= 0) return false;
  const unsigned long long tty = static_cast<unsigned long long>(number);
  *device = makedev((tty >> 8) & 0xfff, (tty & 0xff) | ((tty >> 12) & 0xfff00));
  return true;
}

// 1 when a running process has `device` as its controlling terminal, 0
// when none has, -1 when the process list cannot be read.
int HeldBySession(dev_t device, const KernelViews& views) {
  DIR* processes = opendir(views.proc.c_str());
  if (processes == nullptr) return -1;
  int held = 0;
  std::string path = views.proc + "/";
  const size_t prefix = path.size();
  char head[256];
  while (const dirent* entry = readdir(processes)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    // Field 7 lies well within the first 256 bytes: one read is enough.
    path.resize(prefix);
    path.append(entry->d_name).append("/stat");
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;  // gone meanwhile
    const ssize_t got = read(fd, head, sizeof(head));
    close(fd);
    if (got <= 0) continue;
    const std::string stat(head, static_cast<size_t>(got));
    dev_t terminal;
    if (ControllingTerminal(stat, &terminal) && terminal == device) {
      held = 1;
      break;
    }
  }
  closedir(processes);
  return held;
}

}  // namespace

bool HasParentStep(const std::string& path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0 && end - start == 2) return true;
    start = end + 1;
  }
  return false;
}

DeviceVerdict JudgeCharacterDevice(dev_t device, const KernelViews& views) {
  const unsigned int number = major(device);
  if (number == 5 || (number == 4 && minor(device) < 64)) return DeviceVerdict::kTerminal;
  const int listed = ListedAsTerminal(device, views);
  if (listed == 0) return DeviceVerdict::kOtherDevice;
  // No entry: pty slaves never have one, and a container may show no
  // devices at all. Then only what the number says is a serial line.
  if (listed < 0 && !(number == 4 || number == 188 || number == 166 || IsPtySlave(device))) {
    return DeviceVerdict::kOtherDevice;
  }
  if (IsKernelConsole(device, views)) return DeviceVerdict::kConsole;
  const int held = HeldBySession(device, views);
  if (held > 0 || (held < 0 && IsPtySlave(device))) return DeviceVerdict::kSessionTerminal;
  return DeviceVerdict::kSerialLine;
}

PortHandle OpenSerialDevice(const char* name, const PortSettings& settings, PortOpenError* error) {
  if (error != nullptr) *error = PortOpenError{};
  std::string path = SerialDevicePath(name);
  if (path.empty()) return Refuse(error, PortFailure::kNotFound, 0);
  if (HasParentStep(path)) return RefuseNotAPort(error, NotAPort::kPath);
  // O_PATH touches nothing: no FIFO wakes up, no device driver runs. What
  // the name leads to is judged on this descriptor before the real open.
  const int probe = open(path.c_str(), O_PATH | O_CLOEXEC);
  if (probe < 0) return Refuse(error, FailureOfOpen(errno), errno);
  struct stat found;
  if (fstat(probe, &found) != 0) {
    const int code = errno;
    close(probe);
    return Refuse(error, PortFailure::kOther, code);
  }
  NotAPort what = NotAPort::kPath;
  bool port = false;
  if (S_ISREG(found.st_mode)) {
    what = NotAPort::kFile;
  } else if (S_ISFIFO(found.st_mode) || S_ISSOCK(found.st_mode)) {
    what = NotAPort::kPipe;
  } else if (S_ISCHR(found.st_mode)) {
    if (ResolvedPath(probe, path).rfind("/dev/", 0) != 0) {
      what = NotAPort::kPath;
    } else {
      switch (JudgeCharacterDevice(found.st_rdev, KernelViews())) {
        case DeviceVerdict::kSerialLine:
          port = true;
          break;
        case DeviceVerdict::kTerminal:
          what = NotAPort::kTerminal;
          break;
        case DeviceVerdict::kConsole:
          what = NotAPort::kConsole;
          break;
        case DeviceVerdict::kSessionTerminal:
          what = NotAPort::kSessionTerminal;
          break;
        case DeviceVerdict::kOtherDevice:
          what = NotAPort::kDevice;
          break;
      }
    }
  }
  if (!port) {
    close(probe);
    return RefuseNotAPort(error, what);
  }
  // The device the probe found, not whatever the name leads to by now.
  // Without O_NONBLOCK a line without carrier would block the open, and
  // reads must never wait anyway.
  int fd = open(DescriptorLink(probe).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    // No /proc: the name once more, and the same device or nothing.
    fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  }
  const int open_code = errno;
  close(probe);
  if (fd < 0) return Refuse(error, FailureOfOpen(open_code), open_code);
  struct stat opened;
  if (fstat(fd, &opened) != 0 || !S_ISCHR(opened.st_mode) || opened.st_rdev != found.st_rdev) {
    close(fd);
    return RefuseNotAPort(error, NotAPort::kPath);
  }
  // Only a terminal line takes settings; anything else goes untouched.
  termios before;
  if (tcgetattr(fd, &before) != 0) {
    close(fd);
    return RefuseNotAPort(error, NotAPort::kDevice);
  }
  // A line that another program holds exclusively is in use, though root
  // could open it: its flag is not ours to take away.
  int held_exclusively = 0;
  if (ioctl(fd, TIOCGEXCL, &held_exclusively) == 0 && held_exclusively != 0) {
    close(fd);
    return Refuse(error, PortFailure::kInUse, EBUSY);
  }
  // Exclusive like share mode 0. TIOCEXCL keeps out other openers but not
  // root, so the lock is the guard that always holds.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int code = errno;
    close(fd);
    return Refuse(error, code == EWOULDBLOCK ? PortFailure::kInUse : PortFailure::kOther, code);
  }
  OpenLine* line = FreeLine();
  if (line == nullptr) {
    close(fd);
    return Refuse(error, PortFailure::kOther, EMFILE);
  }
  // Read again now that the line is this run's alone: a run that held it
  // until a moment ago has given its own settings back by now.
  tcgetattr(fd, &before);
  // From the first change on, an ending signal gives the line back.
  line->taken = true;
  line->fd = fd;
  line->before = before;
  line->clearExclusive = 1;
  WatchEndingSignals();
  std::atomic_signal_fence(std::memory_order_seq_cst);
  line->live = 1;
  if (ioctl(fd, TIOCEXCL) != 0) line->clearExclusive = 0;

  termios options = before;
  RtsLine rts;
  int code = 0;
  if (!ApplyPortSettings(settings, &options, &rts)) {
    code = EINVAL;
  } else if (tcsetattr(fd, TCSANOW, &options) != 0) {
    code = errno;
  }
  if (code != 0) {
    CloseSerial(reinterpret_cast<PortHandle>(line));
    return Refuse(error, PortFailure::kSettingsRefused, code);
  }
  // Modem lines do not exist on every device (a pty has none); that is not
  // a reason to refuse the port.
  int rts_bit = TIOCM_RTS;
  if (rts == RtsLine::kClear) ioctl(fd, TIOCMBIC, &rts_bit);
  if (rts == RtsLine::kSet) ioctl(fd, TIOCMBIS, &rts_bit);
  return reinterpret_cast<PortHandle>(line);
}

void DiscardSerialInput(PortHandle port) { tcflush(Descriptor(port), TCIFLUSH); }

int32_t WriteSerial(PortHandle port, const void* bytes, int32_t count) {
  if (count <= 0) return 0;
  int fd = Descriptor(port);
  const int64_t deadline = MonotonicMilliseconds() + 100LL * count + 10;
  const char* next = static_cast<const char*>(bytes);
  int32_t written = 0;
  while (written < count) {
    ssize_t done = write(fd, next + written, static_cast<size_t>(count - written));
    if (done > 0) {
      written += static_cast<int32_t>(done);
      continue;
    }
    if (done < 0 && errno == EINTR) continue;
    if (done < 0 && errno != EAGAIN) break;
    int64_t left = deadline - MonotonicMilliseconds();
    if (left <= 0) break;
    pollfd waiting{fd, POLLOUT, 0};
    if (poll(&waiting, 1, static_cast<int>(left)) < 0 && errno != EINTR) break;
    if (waiting.revents & (POLLERR | POLLHUP | POLLNVAL)) break;
  }
  return written;
}

int32_t SerialInputCount(PortHandle port) {
  int waiting = 0;
  if (ioctl(Descriptor(port), FIONREAD, &waiting) != 0 || waiting < 0) return 0;
  return waiting;
}

int32_t ReadSerial(PortHandle port, void* destination, int32_t count) {
  if (count <= 0) return 0;
  ssize_t got;
  do {
    got = read(Descriptor(port), destination, static_cast<size_t>(count));
  } while (got < 0 && errno == EINTR);
  return got > 0 ? static_cast<int32_t>(got) : 0;
}

void CloseSerial(PortHandle port) {
  OpenLine* line = reinterpret_cast<OpenLine*>(port);
  // The line goes back as it was found: a terminal named by mistake must
  // not stay without echo at 9600 baud. What is still queued for sending
  // went out long ago or never will; waiting for it could hang.
  tcsetattr(line->fd, TCSANOW, &line->before);
  // The exclusive flag belongs to the line, not to this descriptor, and
  // only a flag this run set is cleared.
  if (line->clearExclusive) ioctl(line->fd, TIOCNXCL);
  // Given back: from here on a signal has nothing left to restore.
  line->live = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  StopWatchingEndingSignals();
  close(line->fd);
  line->taken = false;
}

}  // namespace runtime::platform
