#include "runtime/platform/console.h"

#include <unistd.h>

#include <cerrno>

namespace runtime::platform {

bool OpenReportOutput() { return true; }

bool WriteReportOutput(const char* bytes, int32_t count) {
  while (count > 0) {
    const ssize_t done = write(STDOUT_FILENO, bytes, static_cast<size_t>(count));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    bytes += done;
    count -= static_cast<int32_t>(done);
  }
  return true;
}

}  // namespace runtime::platform
