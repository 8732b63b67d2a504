#include "runtime/platform/planted_files.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/platform/owner_rule_win32.h"
#include "runtime/platform/wide_text_win32.h"

namespace runtime::platform {
namespace {

// Adds every "*.dll" in `folder` (ending in '\') not listed yet.
void AddLibraries(const std::wstring& folder, std::vector<std::wstring>* seen,
                  std::vector<PlantedFile>* found) {
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((folder + L"*.dll").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring path = folder + entry.cFileName;
    // The same folder twice (the program started in its own folder) under
    // another letter case.
    const auto same = [&path](const std::wstring& other) {
      return _wcsicmp(other.c_str(), path.c_str()) == 0;
    };
    if (std::find_if(seen->begin(), seen->end(), same) != seen->end()) continue;
    seen->push_back(path);
    found->push_back({Utf8FromWide(path.data(), static_cast<int>(path.size())),
                      (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                          ? "a folder named as a DLL"
                          : "a DLL"});
  } while (FindNextFileW(search, &entry));
  FindClose(search);
}

}  // namespace

std::vector<PlantedFile> FindPlantableFiles() {
  std::vector<PlantedFile> found;
  std::vector<wchar_t> name(32768);
  const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
  std::wstring program_folder;
  if (length > 0 && length < name.size()) {
    const std::wstring program(name.data(), length);
    program_folder = program.substr(0, program.find_last_of(L"\\/") + 1);
    for (const auto& [suffix, kind] :
         {std::pair<const wchar_t*, const char*>{L".manifest", "a manifest for this program"},
          {L".local", "a DLL redirection for this program"}}) {
      const std::wstring path = program + suffix;
      if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        found.push_back({Utf8FromWide(path.data(), static_cast<int>(path.size())), kind});
      }
    }
  }
  std::vector<std::wstring> seen;
  if (!program_folder.empty()) AddLibraries(program_folder, &seen, &found);
  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  if (size > 0) {
    std::wstring current(size, L'\0');
    const DWORD got = GetCurrentDirectoryW(size, current.data());
    if (got > 0 && got < size) {
      current.resize(got);
      if (current.back() != L'\\') current += L'\\';
      AddLibraries(current, &seen, &found);
    }
  }
  return found;
}

std::string DescribeLinkOwner(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return std::string();
  }
  HANDLE link = CreateFileA(
      path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  OwnerClass owner = OwnerClass::kOtherAccount;
  const bool known = link != INVALID_HANDLE_VALUE && QueryHandleOwner(link, &owner);
  if (link != INVALID_HANDLE_VALUE) CloseHandle(link);
  if (!known)
    return "a junction or symbolic link whose owner cannot be read, which a weighing refuses";
  return std::string("a junction or symbolic link of ") + OwnerClassWords(owner) +
         (IsTrustedOwner(owner) ? ", which a weighing follows" : ", which a weighing refuses");
}

}  // namespace runtime::platform
