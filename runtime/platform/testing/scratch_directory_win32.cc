#include "runtime/platform/testing/scratch_directory.h"

#include <windows.h>

#include <filesystem>
#include <system_error>

namespace runtime::platform {

ScratchDirectory::ScratchDirectory() {
  char current[MAX_PATH];
  DWORD length = GetCurrentDirectoryA(MAX_PATH, current);
  if (length == 0 || length >= MAX_PATH) return;
  previous_ = current;
  char temporary[MAX_PATH];
  length = GetTempPathA(MAX_PATH, temporary);
  if (length == 0 || length >= MAX_PATH) return;
  // Tests run in parallel processes: the process id and a counter keep
  // their directories apart.
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    std::string candidate = std::string(temporary) + "weigh-" +
                            std::to_string(GetCurrentProcessId()) + "-" +
                            std::to_string(GetTickCount()) + "-" + std::to_string(counter++);
    if (CreateDirectoryA(candidate.c_str(), nullptr)) path_ = candidate;
  }
  ok_ = !path_.empty() && SetCurrentDirectoryA(path_.c_str());
}

ScratchDirectory::~ScratchDirectory() {
  if (path_.empty()) return;
  if (!SetCurrentDirectoryA(previous_.c_str())) return;
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

// Windows has no per-process file size limit.
FileSizeLimit::FileSizeLimit(long) {}

FileSizeLimit::~FileSizeLimit() {}

bool GiveLinkToOtherUser(const std::string& path, std::string* why_not) {
  *why_not = "Windows keeps no owner rule for links (" + path + ")";
  return false;
}

}  // namespace runtime::platform
