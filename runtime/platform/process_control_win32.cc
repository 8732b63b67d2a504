#include "runtime/platform/process_control.h"

#include <windows.h>
// After windows.h: RtlGenRandom, which advapi32 exports as SystemFunction036.
#include <ntsecapi.h>

#include "runtime/platform/system_library_win32.h"

namespace runtime::platform {

void PrepareProcess() {
  // DLLs come from the system folder only. The current folder leaves the
  // search (SetDllDirectoryA with "", Windows XP SP1), and where Windows
  // has it (Windows 8, and 7 and Vista with KB2533623) every later load,
  // the system's own loads for this process included, looks nowhere but
  // the system folder. Neither is declared for Windows XP: both are looked
  // up by name.
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return;
  using SetDllDirectoryFunction = BOOL(WINAPI*)(LPCSTR);
  auto set_dll_directory = reinterpret_cast<SetDllDirectoryFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")));
  if (set_dll_directory != nullptr) set_dll_directory("");
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  auto set_default_dll_directories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  // LOAD_LIBRARY_SEARCH_SYSTEM32, which the XP headers do not have.
  constexpr DWORD kSearchSystemFolder = 0x00000800;
  if (set_default_dll_directories != nullptr) set_default_dll_directories(kSearchSystemFolder);
}

void EndProcess(int code) { ExitProcess(static_cast<UINT>(code)); }

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

uint64_t UnpredictableNumber() {
  uint64_t number = 0;
  if (SYSTEM_CALL(SystemFunction036, FALSE, &number, static_cast<ULONG>(sizeof(number)))) {
    return number;
  }
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
