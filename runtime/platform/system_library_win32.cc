#include "runtime/platform/system_library_win32.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>

namespace runtime::platform {

#define WEIGH_SYSTEM_FUNCTION_ENTRY(library, function) {SystemLibrary::library, #function},
const SystemFunctionEntry kSystemFunctions[static_cast<int>(SystemFunction::kCount)] = {
    WEIGH_SYSTEM_FUNCTIONS(WEIGH_SYSTEM_FUNCTION_ENTRY)};
#undef WEIGH_SYSTEM_FUNCTION_ENTRY

namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32, which the XP headers do not have.
constexpr DWORD kSearchSystemFolder = 0x00000800;

// A forward to a forward... ends here; Windows' own chains are one or two
// long.
constexpr int kLongestForwardChain = 4;

std::atomic<HMODULE> libraries[static_cast<int>(SystemLibrary::kCount)];
std::atomic<void*> functions[static_cast<int>(SystemFunction::kCount)];

// The module's export directory, or nullptr; `size` its extent, inside
// which an export's address is a forward's "DLL.function" text.
const IMAGE_EXPORT_DIRECTORY* ExportDirectory(HMODULE module, DWORD* start, DWORD* size) {
  const BYTE* base = reinterpret_cast<const BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE ||
      nt->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_EXPORT) {
    return nullptr;
  }
  const IMAGE_DATA_DIRECTORY& entry =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (entry.VirtualAddress == 0 || entry.Size == 0) return nullptr;
  *start = entry.VirtualAddress;
  *size = entry.Size;
  return reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
}

// An API set is no file: the loader maps it to a system DLL by its schema.
bool IsApiSet(const std::wstring& library) {
  return _wcsnicmp(library.c_str(), L"api-", 4) == 0 || _wcsnicmp(library.c_str(), L"ext-", 4) == 0;
}

HMODULE LoadLibraryOf(SystemLibrary library) {
  std::atomic<HMODULE>& slot = libraries[static_cast<int>(library)];
  HMODULE module = slot.load();
  if (module != nullptr) return module;
  if (library == SystemLibrary::kComctl32) {
    // Version 6 lives in the side-by-side store, which the program's own
    // manifest names; the full path makes the system folder's version 5
    // the only other answer.
    OwnManifestScope manifest;
    module = static_cast<HMODULE>(LoadSystemLibrary(SystemLibraryFileName(library)));
  } else {
    module = static_cast<HMODULE>(LoadSystemLibrary(SystemLibraryFileName(library)));
  }
  // Two threads may both load it; the second load only counts up.
  if (module != nullptr) slot.store(module);
  return module;
}

}  // namespace

const wchar_t* SystemLibraryFileName(SystemLibrary library) {
  switch (library) {
    case SystemLibrary::kAdvapi32:
      return L"advapi32.dll";
    case SystemLibrary::kComctl32:
      return L"comctl32.dll";
    case SystemLibrary::kOle32:
      return L"ole32.dll";
    case SystemLibrary::kUser32:
      return L"user32.dll";
    case SystemLibrary::kWinmm:
      return L"winmm.dll";
    case SystemLibrary::kCount:
      break;
  }
  return L"";
}

void* LoadSystemLibrary(const wchar_t* file_name) {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(folder, length) + L"\\" + file_name;
  // The DLL's own imports from the system folder only. Windows without
  // KB2533623 (XP, Vista, 7) refuses the flag as an invalid parameter.
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, kSearchSystemFolder);
  if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) return module;
  // With a full path, LOAD_WITH_ALTERED_SEARCH_PATH looks for the DLLs that
  // this one imports in its own folder first, not in the program's.
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool FindExportForward(void* module, const char* function, ExportForward* forward) {
  HMODULE handle = static_cast<HMODULE>(module);
  DWORD start = 0;
  DWORD size = 0;
  const IMAGE_EXPORT_DIRECTORY* exports = ExportDirectory(handle, &start, &size);
  if (exports == nullptr) return false;
  const BYTE* base = reinterpret_cast<const BYTE*>(handle);
  const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  const auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
  const auto* addresses = reinterpret_cast<const DWORD*>(base + exports->AddressOfFunctions);
  for (DWORD index = 0; index < exports->NumberOfNames; ++index) {
    if (std::strcmp(reinterpret_cast<const char*>(base + names[index]), function) != 0) continue;
    if (ordinals[index] >= exports->NumberOfFunctions) return false;
    const DWORD address = addresses[ordinals[index]];
    if (address < start || address >= start + size) return false;
    // "CRYPTSP.CryptAcquireContextA": the DLL's name without ".dll".
    const std::string text(reinterpret_cast<const char*>(base + address));
    const size_t dot = text.rfind('.');
    if (dot == std::string::npos || dot == 0) return false;
    forward->library.assign(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(dot));
    forward->library += L".dll";
    forward->function = text.substr(dot + 1);
    return true;
  }
  return false;
}

void* SystemLibraryFunction(void* module, const char* function) {
  // The loader resolves a forward by the DLL's bare name through the
  // ordinary search, which on Windows without KB2533623 starts in the
  // program's folder; a DLL of that name already loaded is taken as it is.
  void* at = module;
  std::string name = function;
  for (int hop = 0; hop < kLongestForwardChain; ++hop) {
    ExportForward forward;
    if (!FindExportForward(at, name.c_str(), &forward) || IsApiSet(forward.library)) break;
    at = LoadSystemLibrary(forward.library.c_str());
    if (at == nullptr) return nullptr;
    if (forward.function.empty() || forward.function[0] == '#') break;
    name = forward.function;
  }
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), function));
}

void* SystemFunctionAddress(SystemFunction which) {
  std::atomic<void*>& slot = functions[static_cast<int>(which)];
  void* address = slot.load();
  if (address != nullptr) return address;
  const SystemFunctionEntry& entry = kSystemFunctions[static_cast<int>(which)];
  HMODULE module = LoadLibraryOf(entry.library);
  if (module == nullptr) return nullptr;
  if (entry.library == SystemLibrary::kComctl32) {
    OwnManifestScope manifest;
    address = SystemLibraryFunction(module, entry.name);
  } else {
    address = SystemLibraryFunction(module, entry.name);
  }
  if (address != nullptr) slot.store(address);
  return address;
}

void NoteMissingSystemFunction() { SetLastError(ERROR_PROC_NOT_FOUND); }

OwnManifestScope::OwnManifestScope() {
  // Made once: the context lives as long as the process.
  static const HANDLE context = [] {
    ACTCTXW request{};
    request.cbSize = sizeof(request);
    request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.hModule = GetModuleHandleW(nullptr);
    request.lpResourceName = MAKEINTRESOURCEW(1);
    return CreateActCtxW(&request);
  }();
  if (context == INVALID_HANDLE_VALUE) return;
  ULONG_PTR cookie = 0;
  if (!ActivateActCtx(context, &cookie)) return;
  cookie_ = cookie;
  active_ = true;
}

OwnManifestScope::~OwnManifestScope() {
  if (active_) DeactivateActCtx(0, cookie_);
}

}  // namespace runtime::platform
