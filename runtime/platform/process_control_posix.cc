#include "runtime/platform/process_control.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

namespace runtime::platform {

void PrepareProcess() {
  // open() returns the lowest free descriptor, so this fills 0, 1 and 2 in
  // turn and stops at the first one that already existed.
  for (;;) {
    const int fd = open("/dev/null", O_RDWR);
    if (fd < 0) break;
    if (fd > 2) {
      close(fd);
      break;
    }
  }
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

void EndProcess(int code) { _exit(code); }

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

uint64_t UnpredictableNumber() {
  uint64_t number = 0;
  if (getrandom(&number, sizeof(number), GRND_NONBLOCK) == sizeof(number)) return number;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (static_cast<uint64_t>(now.tv_nsec) << 20) ^ static_cast<uint64_t>(now.tv_sec) ^
         (static_cast<uint64_t>(getpid()) << 44);
}

bool RunningUnderWine() { return false; }

}  // namespace runtime::platform
