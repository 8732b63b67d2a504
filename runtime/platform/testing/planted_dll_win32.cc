// A DLL that someone who may write the station's folder could leave there
// under the name of a system DLL. When Windows loads it, its entry point
// leaves a mark beside it: "<its own path>.ran". It exports what a program
// that imports WINMM needs to start, so that a load is seen, not a failed
// start.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID /*reserved*/) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH + 8];
  const DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcpyA(path + length, ".ran");
  HANDLE mark = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
  return TRUE;
}

extern "C" __declspec(dllexport) UINT WINAPI timeBeginPeriod(UINT /*period*/) { return 0; }
