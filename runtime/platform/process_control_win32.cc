#include "runtime/platform/process_control.h"

#include <windows.h>
// After windows.h: RtlGenRandom, which advapi32 exports as SystemFunction036.
#include <ntsecapi.h>

namespace runtime::platform {

void PrepareProcess() {}

void EndProcess(int code) { ExitProcess(static_cast<UINT>(code)); }

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

uint64_t UnpredictableNumber() {
  uint64_t number = 0;
  if (RtlGenRandom(&number, sizeof(number))) return number;
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  return (static_cast<uint64_t>(now.QuadPart) << 16) ^
         (static_cast<uint64_t>(GetCurrentProcessId()) << 48) ^ GetTickCount();
}

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace runtime::platform
