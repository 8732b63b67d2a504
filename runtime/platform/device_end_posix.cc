#include "runtime/platform/device_end.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "runtime/platform/clock.h"

namespace runtime::platform {
namespace {

// `fd` is ours to read and write; `far_end` is the device end of our own
// pseudo-terminal (-1 for a device), kept open so that the line stays up.
struct Line {
  int fd = -1;
  int far_end = -1;
};

Line* LineOf(DeviceEnd end) { return reinterpret_cast<Line*>(end); }

void MakeRaw(int fd) {
  termios settings;
  if (tcgetattr(fd, &settings) != 0) return;
  cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD;
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
  cfsetispeed(&settings, B9600);
  cfsetospeed(&settings, B9600);
  tcsetattr(fd, TCSANOW, &settings);
}

std::string Reason(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

DeviceEnd OpenDeviceEnd(const std::string& name, std::string* why_not) {
  // A reader that goes away must not end the program.
  signal(SIGPIPE, SIG_IGN);
  const int fd = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *why_not = Reason("cannot open " + name);
    return 0;
  }
  MakeRaw(fd);
  // A scale just switched on has not heard what was sent before it: bytes
  // left waiting on a line that others held open are not requests to it.
  tcflush(fd, TCIFLUSH);
  return reinterpret_cast<DeviceEnd>(new Line{fd, -1});
}

DeviceEnd OpenNewTerminal(std::string* path, std::string* why_not) {
  signal(SIGPIPE, SIG_IGN);
  const int fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0) {
    *why_not = Reason("cannot make a pseudo-terminal");
    if (fd >= 0) close(fd);
    return 0;
  }
  const char* name = ptsname(fd);
  if (name == nullptr) {
    *why_not = "cannot name the pseudo-terminal";
    close(fd);
    return 0;
  }
  *path = name;
  const int far_end = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (far_end < 0) {
    *why_not = Reason("cannot open " + *path);
    close(fd);
    return 0;
  }
  MakeRaw(far_end);
  MakeRaw(fd);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  return reinterpret_cast<DeviceEnd>(new Line{fd, far_end});
}

int WaitForInput(DeviceEnd end, int32_t milliseconds) {
  pollfd readable{LineOf(end)->fd, POLLIN, 0};
  const int ready = poll(&readable, 1, milliseconds);
  if (ready < 0) return errno == EINTR ? 0 : -1;
  if (ready == 0) return 0;
  if ((readable.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(readable.revents & POLLIN)) {
    return -1;
  }
  return 1;
}

int32_t ReadDeviceEnd(DeviceEnd end, void* destination, int32_t count) {
  const ssize_t got = read(LineOf(end)->fd, destination, static_cast<std::size_t>(count));
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  if (got <= 0) return -1;
  return static_cast<int32_t>(got);
}

int32_t WriteDeviceEnd(DeviceEnd end, const void* bytes, int32_t count) {
  const char* from = static_cast<const char*>(bytes);
  int32_t sent = 0;
  while (sent < count) {
    const ssize_t done =
        write(LineOf(end)->fd, from + sent, static_cast<std::size_t>(count - sent));
    if (done > 0) {
      sent += static_cast<int32_t>(done);
      continue;
    }
    if (done < 0 && errno == EINTR) continue;
    break;  // full (nobody reads) or gone
  }
  return sent;
}

void DrainDeviceEnd(DeviceEnd end) {
  const Line* line = LineOf(end);
  if (line->far_end < 0) {
    tcdrain(line->fd);
    return;
  }
  // What was just written reaches the far end's queue a moment later, so
  // first wait for it to show up there, then for it to be read.
  const int64_t arrival = MonotonicMilliseconds() + 200;
  const int64_t deadline = MonotonicMilliseconds() + 5000;
  int waiting = 0;
  while (MonotonicMilliseconds() < arrival && ioctl(line->far_end, FIONREAD, &waiting) == 0 &&
         waiting == 0) {
    SleepMilliseconds(1);
  }
  while (MonotonicMilliseconds() < deadline && ioctl(line->far_end, FIONREAD, &waiting) == 0 &&
         waiting > 0) {
    SleepMilliseconds(10);
  }
}

void CloseDeviceEnd(DeviceEnd end) {
  Line* line = LineOf(end);
  close(line->fd);
  if (line->far_end >= 0) close(line->far_end);
  delete line;
}

}  // namespace runtime::platform
