#include "runtime/platform/clock.h"

#include <windows.h>
// After windows.h: timeBeginPeriod.
#include <mmsystem.h>

#include "runtime/platform/system_library_win32.h"

namespace runtime::platform {

void RaiseTimerResolution() {
  // WINMM is no DLL that Windows always takes from the system folder, so it
  // is not imported (the loader would look beside the program first).
  // Without it Windows wakes a sleeper only every 15.6 ms, and a 25 ms poll
  // takes 31 ms.
  SYSTEM_CALL(timeBeginPeriod, static_cast<UINT>(TIMERR_NOCANDO), 1u);
}

void SleepMilliseconds(int32_t milliseconds) {
  if (milliseconds > 0) Sleep(static_cast<DWORD>(milliseconds));
}

int64_t MonotonicMilliseconds() {
  // The performance counter runs from boot without wrapping and exists on
  // every Windows the program supports (GetTickCount64 starts with Vista).
  // Whole seconds and the rest apart, so that counter * 1000 cannot
  // overflow however long the machine has been up.
  static const int64_t frequency = [] {
    LARGE_INTEGER per_second;
    QueryPerformanceFrequency(&per_second);
    return per_second.QuadPart;
  }();
  // Windows XP and later never fail here; a zero would only divide.
  if (frequency <= 0) return static_cast<int64_t>(GetTickCount());
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart / frequency * 1000 + now.QuadPart % frequency * 1000 / frequency;
}

WallClock ReadLocalWallClock() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return WallClock{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace runtime::platform
