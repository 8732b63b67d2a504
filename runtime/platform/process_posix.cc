#include "runtime/platform/process.h"

#include <fcntl.h>
#include <signal.h>
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
}

void EndProcess(int code) { _exit(code); }

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

bool RunningUnderWine() { return false; }

}  // namespace runtime::platform
