#include "runtime/platform/process.h"

#include <windows.h>

namespace runtime::platform {

void PrepareProcess() {}

void EndProcess(int code) { ExitProcess(static_cast<UINT>(code)); }

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace runtime::platform
