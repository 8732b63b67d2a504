#ifndef WEIGH_RUNTIME_PLATFORM_SYSTEM_LIBRARY_WIN32_H_
#define WEIGH_RUNTIME_PLATFORM_SYSTEM_LIBRARY_WIN32_H_

// Shared by the Win32 backends only.

namespace runtime::platform {

// Loads the DLL `file_name` ("winmm.dll") from the system folder by its full
// path, the DLLs it needs searched from there too, never from the program's
// or the current folder. Returns its module handle, or nullptr. It stays
// loaded for the rest of the process.
void* LoadSystemLibrary(const wchar_t* file_name);

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_SYSTEM_LIBRARY_WIN32_H_
