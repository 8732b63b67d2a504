#include "runtime/platform/clock_posix.h"

#include <sys/prctl.h>
#include <time.h>

#include <cerrno>

namespace runtime::platform {

void RaiseTimerResolution() {
  // Timer slack is inherited from the parent and may be large; 50 us is the
  // kernel's default and keeps a 25 ms sleep close to 25 ms.
  prctl(PR_SET_TIMERSLACK, 50000UL, 0, 0, 0);
}

void SleepMilliseconds(int32_t milliseconds) {
  if (milliseconds <= 0) return;
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += milliseconds / 1000;
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  // An absolute deadline makes a sleep interrupted by a signal resume for
  // the time left, not start again.
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

int64_t MonotonicMilliseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

WallClock WallClockFromLocalTime(const tm& local) {
  return WallClock{static_cast<uint16_t>(local.tm_year + 1900),
                   static_cast<uint16_t>(local.tm_mon + 1),
                   static_cast<uint16_t>(local.tm_mday),
                   static_cast<uint16_t>(local.tm_hour),
                   static_cast<uint16_t>(local.tm_min),
                   static_cast<uint16_t>(local.tm_sec)};
}

WallClock ReadLocalWallClock() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return WallClockFromLocalTime(local);
}

}  // namespace runtime::platform
