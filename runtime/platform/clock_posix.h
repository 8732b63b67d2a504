#ifndef WEIGH_RUNTIME_PLATFORM_CLOCK_POSIX_H_
#define WEIGH_RUNTIME_PLATFORM_CLOCK_POSIX_H_

// Pieces of the POSIX clock backend that are worth testing on their own.

#include <time.h>

#include "runtime/platform/clock.h"

namespace runtime::platform {

// The wall clock fields of a broken-down local time, each as the C library
// gives it: a leap second stays second 60, which is no valid time of day.
WallClock WallClockFromLocalTime(const tm& local);

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_CLOCK_POSIX_H_
