#ifndef WEIGH_RUNTIME_PLATFORM_SYSTEM_LIBRARY_WIN32_H_
#define WEIGH_RUNTIME_PLATFORM_SYSTEM_LIBRARY_WIN32_H_

// Shared by the Win32 backends only.
//
// weigh.exe imports KERNEL32 and msvcrt alone: the loader binds imports
// before main, through a search that begins in the program's folder for any
// DLL that is not a KnownDLL, and resolves forwarded exports the same way.
// Every other system function is reached through the one table below, after
// PrepareProcess has narrowed the search, from DLLs loaded by their full
// system-folder path.

#include <cstdint>
#include <string>
#include <utility>

namespace runtime::platform {

// The system functions taken after start, as X(library, function): the
// library is a SystemLibrary below, the function its export's name.
#define WEIGH_SYSTEM_FUNCTIONS(X)          \
  X(kAdvapi32, ConvertSidToStringSidA)     \
  X(kAdvapi32, CryptAcquireContextA)       \
  X(kAdvapi32, CryptCreateHash)            \
  X(kAdvapi32, CryptDestroyHash)           \
  X(kAdvapi32, CryptGetHashParam)          \
  X(kAdvapi32, CryptHashData)              \
  X(kAdvapi32, CryptReleaseContext)        \
  X(kAdvapi32, EqualSid)                   \
  X(kAdvapi32, GetAce)                     \
  X(kAdvapi32, GetFileSecurityW)           \
  X(kAdvapi32, GetKernelObjectSecurity)    \
  X(kAdvapi32, GetSecurityDescriptorDacl)  \
  X(kAdvapi32, GetSecurityDescriptorOwner) \
  X(kAdvapi32, GetTokenInformation)        \
  X(kAdvapi32, IsWellKnownSid)             \
  X(kAdvapi32, LookupAccountSidA)          \
  X(kAdvapi32, OpenProcessToken)           \
  X(kAdvapi32, RegCloseKey)                \
  X(kAdvapi32, RegEnumValueA)              \
  X(kAdvapi32, RegOpenKeyExA)              \
  X(kAdvapi32, SystemFunction036)          \
  X(kComctl32, InitCommonControlsEx)       \
  X(kOle32, CoInitialize)                  \
  X(kUser32, EnableWindow)                 \
  X(kUser32, EnumWindows)                  \
  X(kUser32, GetForegroundWindow)          \
  X(kUser32, GetWindowLongA)               \
  X(kUser32, GetWindowThreadProcessId)     \
  X(kUser32, IsWindowEnabled)              \
  X(kUser32, IsWindowVisible)              \
  X(kUser32, MessageBoxA)                  \
  X(kUser32, MessageBoxW)                  \
  X(kUser32, SetWindowPos)                 \
  X(kWinmm, timeBeginPeriod)

// The DLLs of the table. Each but COMCTL32 is loaded from the system folder
// by its full path; COMCTL32 comes through the program's own manifest (see
// ControlsLibrary in window_win32.cc).
enum class SystemLibrary { kAdvapi32, kComctl32, kOle32, kUser32, kWinmm, kCount };

#define WEIGH_SYSTEM_FUNCTION_ID(library, function) k##function,
enum class SystemFunction { WEIGH_SYSTEM_FUNCTIONS(WEIGH_SYSTEM_FUNCTION_ID) kCount };
#undef WEIGH_SYSTEM_FUNCTION_ID

// One row of the table.
struct SystemFunctionEntry {
  SystemLibrary library;
  const char* name;
};

// The table, indexed by SystemFunction.
extern const SystemFunctionEntry kSystemFunctions[static_cast<int>(SystemFunction::kCount)];

// The file name of `library` ("user32.dll").
const wchar_t* SystemLibraryFileName(SystemLibrary library);

// Loads the DLL `file_name` ("winmm.dll") from the system folder by its full
// path, the DLLs it needs searched from there too, never from the program's
// or the current folder: LOAD_LIBRARY_SEARCH_SYSTEM32 where Windows takes it
// (8, and Vista and 7 with KB2533623), else LOAD_WITH_ALTERED_SEARCH_PATH.
// Returns its module handle, or nullptr. It stays loaded for the rest of
// the process.
void* LoadSystemLibrary(const wchar_t* file_name);

// The address of `function` exported by `module`, after every DLL its export
// is forwarded to (a chain of "CRYPTSP.CryptAcquireContextA" entries) has
// been loaded from the system folder, so that the loader finds the forward
// already loaded instead of searching for it. nullptr when `module` has no
// such export or a forward cannot be loaded.
void* SystemLibraryFunction(void* module, const char* function);

// Where an export is forwarded: the DLL's file name as the loader looks
// for it ("cryptsp.dll", or an API set's "api-ms-win-....dll") and the
// export's name there ("#12" for an ordinal).
struct ExportForward {
  std::wstring library;
  std::string function;
};

// True when `module`'s export `function` is forwarded to another DLL, which
// `forward` then names; false for the DLL's own exports and missing ones.
bool FindExportForward(void* module, const char* function, ExportForward* forward);

// Activates the program's own application manifest (resource 1 of the
// program file) on the calling thread for the scope's lifetime, so that
// side-by-side lookups (COMCTL32 version 6) follow it and neither a
// manifest file beside the program nor a ".local" redirection. Does nothing
// when the program has no such resource.
class OwnManifestScope {
 public:
  OwnManifestScope();
  ~OwnManifestScope();
  OwnManifestScope(const OwnManifestScope&) = delete;
  OwnManifestScope& operator=(const OwnManifestScope&) = delete;

 private:
  uintptr_t cookie_ = 0;
  bool active_ = false;
};

// The address of `which`, its library loaded on first use; nullptr when the
// library or the function cannot be had.
void* SystemFunctionAddress(SystemFunction which);

// Sets the calling thread's last error to what a call that is missing gives
// (ERROR_PROC_NOT_FOUND), as a failed call would set its own.
void NoteMissingSystemFunction();

// Calls the table's function at `address` as a `Function`, or, when
// `address` is nullptr, returns `failure` (the value the call returns when
// it fails) with the last error set: a system DLL that cannot be loaded
// behaves as a call that failed.
template <typename Function, typename Failure, typename... Args>
auto CallSystemFunctionAt(void* address, Failure failure, Args... args)
    -> decltype(std::declval<Function>()(args...)) {
  if (address == nullptr) {
    NoteMissingSystemFunction();
    return failure;
  }
  return reinterpret_cast<Function>(address)(args...);
}

}  // namespace runtime::platform

// Calls the system function `function` (declared by windows.h in the file
// that uses this) through the table: SYSTEM_CALL(MessageBoxA, 0, owner,
// text, title, style). `failure` is what the call returns when it fails.
#define SYSTEM_CALL(function, failure, ...)                         \
  ::runtime::platform::CallSystemFunctionAt<decltype(&::function)>( \
      ::runtime::platform::SystemFunctionAddress(                   \
          ::runtime::platform::SystemFunction::k##function),        \
      failure, ##__VA_ARGS__)

#endif  // WEIGH_RUNTIME_PLATFORM_SYSTEM_LIBRARY_WIN32_H_
