#ifndef WEIGH_RUNTIME_PLATFORM_CLOCK_H_
#define WEIGH_RUNTIME_PLATFORM_CLOCK_H_

#include <cstdint>

namespace runtime::platform {

// Asks the platform to wake sleepers with about 1 ms precision for the rest
// of the process (timeBeginPeriod(1) on Windows, from the system folder's
// winmm.dll).
void RaiseTimerResolution();

// Sleeps for `milliseconds` (nothing for 0 or less).
void SleepMilliseconds(int32_t milliseconds);

// Milliseconds on a clock that only moves forwards, for measuring waits.
int64_t MonotonicMilliseconds();

// The local wall clock: what the computer's clock shows, zone and daylight
// saving already applied.
struct WallClock {
  uint16_t year;
  uint16_t month;
  uint16_t day;
  uint16_t hour;
  uint16_t minute;
  uint16_t second;
};

// Reads the local wall clock now (GetLocalTime on Windows).
WallClock ReadLocalWallClock();

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_CLOCK_H_
