#include "runtime/platform/testing/serial_test_line.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/platform/clock.h"

namespace runtime::platform {
namespace {

class PtyLine : public SerialTestLine {
 public:
  PtyLine(int master, int slave, std::string name)
      : master_(master), slave_(slave), name_(std::move(name)) {}
  ~PtyLine() override {
    close(master_);
    close(slave_);
  }

  const std::string& DeviceName() const override { return name_; }

  int32_t PeerWrite(const void* bytes, int32_t count) override {
    ssize_t written = write(master_, bytes, static_cast<size_t>(count));
    return written > 0 ? static_cast<int32_t>(written) : 0;
  }

  int32_t PeerRead(void* destination, int32_t count, int32_t timeout_ms) override {
    const int64_t deadline = MonotonicMilliseconds() + timeout_ms;
    int32_t got = 0;
    while (got < count) {
      int64_t left = deadline - MonotonicMilliseconds();
      if (left <= 0) break;
      pollfd readable{master_, POLLIN, 0};
      if (poll(&readable, 1, static_cast<int>(left)) <= 0) continue;
      ssize_t n = read(master_, static_cast<char*>(destination) + got,
                       static_cast<size_t>(count - got));
      if (n > 0) got += static_cast<int32_t>(n);
    }
    return got;
  }

 private:
  int master_;
  int slave_;  // kept open so that the line stays up between opens of the device
  std::string name_;
};

}  // namespace

std::unique_ptr<SerialTestLine> SerialTestLine::Create(int /*index*/, std::string* why_not) {
  int master, slave;
  char name[256];
  termios raw{};
  cfmakeraw(&raw);
  if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
    *why_not = "openpty failed";
    return nullptr;
  }
  tcsetattr(master, TCSANOW, &raw);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  return std::make_unique<PtyLine>(master, slave, name);
}

}  // namespace runtime::platform
