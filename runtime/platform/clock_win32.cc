#include "runtime/platform/clock.h"

#include <windows.h>
#include <mmsystem.h>

namespace runtime::platform {

void RaiseTimerResolution() { timeBeginPeriod(1); }

void SleepMilliseconds(int32_t milliseconds) {
  if (milliseconds > 0) Sleep(static_cast<DWORD>(milliseconds));
}

int64_t MonotonicMilliseconds() { return static_cast<int64_t>(GetTickCount64()); }

WallClock ReadLocalWallClock() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return WallClock{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace runtime::platform
