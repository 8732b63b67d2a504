// The watch takes FlushFileBuffers over in the test program's own import
// table: the platform layer's call goes through that table, so it reaches
// the watch, which hands it on to kernel32's unless a failure is asked for.
// Nothing in the platform layer knows about it.
#include "runtime/platform/testing/flush_watch.h"

#include <windows.h>

#include <cstring>

#include "runtime/platform/mutex.h"

namespace runtime::platform {
namespace {

using FlushFunction = BOOL(WINAPI*)(HANDLE);

Mutex watch_lock;
bool failing = false;
std::vector<SeenFlush>* seen_flushes = nullptr;
FlushFunction system_flush = nullptr;

BOOL WINAPI WatchedFlush(HANDLE file) {
  {
    MutexLock hold(&watch_lock);
    if (seen_flushes != nullptr) {
      SeenFlush flush;
      BY_HANDLE_FILE_INFORMATION info;
      if (GetFileInformationByHandle(file, &info)) {
        flush.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        flush.size = flush.directory ? -1
                                     : static_cast<int64_t>(
                                           (static_cast<uint64_t>(info.nFileSizeHigh) << 32) |
                                           info.nFileSizeLow);
      }
      seen_flushes->push_back(flush);
      if (failing) {
        SetLastError(ERROR_IO_DEVICE);
        return FALSE;
      }
    }
  }
  return system_flush(file);
}

// The slot of kernel32's `function` in this program's import table;
// nullptr when the program does not import it by name.
void** ImportSlot(const char* function) {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return nullptr;
  for (auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       module->Name != 0; ++module) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + module->Name), "kernel32.dll") != 0) {
      continue;
    }
    if (module->OriginalFirstThunk == 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* by_name =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function) == 0) {
        return reinterpret_cast<void**>(&slots->u1.Function);
      }
    }
  }
  return nullptr;
}

bool Redirect(void** slot, void* to) {
  DWORD protection;
  if (!VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection)) return false;
  *slot = to;
  VirtualProtect(slot, sizeof(*slot), protection, &protection);
  return true;
}

}  // namespace

FlushWatch::FlushWatch(bool fail) {
  MutexLock hold(&watch_lock);
  if (seen_flushes != nullptr) return;
  void** slot = ImportSlot("FlushFileBuffers");
  if (slot == nullptr) return;
  system_flush = reinterpret_cast<FlushFunction>(*slot);
  if (!Redirect(slot, reinterpret_cast<void*>(&WatchedFlush))) return;
  failing = fail;
  seen_flushes = new std::vector<SeenFlush>();
  ok_ = true;
}

FlushWatch::~FlushWatch() {
  if (!ok_) return;
  MutexLock hold(&watch_lock);
  Redirect(ImportSlot("FlushFileBuffers"), reinterpret_cast<void*>(system_flush));
  failing = false;
  delete seen_flushes;
  seen_flushes = nullptr;
}

std::vector<SeenFlush> FlushWatch::seen() const {
  MutexLock hold(&watch_lock);
  return seen_flushes != nullptr ? *seen_flushes : std::vector<SeenFlush>();
}

}  // namespace runtime::platform
